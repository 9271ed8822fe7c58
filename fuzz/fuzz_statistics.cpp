// Statistics file loading and scoring over arbitrary file bytes: byte 0
// splits the input into the file and a sample to score.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "detection/AutoDetectionInputFilter.h"
#include "platform/Platform.h"

namespace {

std::string ScratchPath() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/ordana-fuzz-" + std::to_string(::getpid()) +
         ".dat";
}

// The file each input is written to; removed when the process ends (the
// handler is registered after the name exists, so it runs before the name is
// destroyed).
const std::string& Scratch() {
  static const std::string path = ScratchPath();
  static const bool removeAtExit = [] { return std::atexit([] { std::remove(path.c_str()); }) == 0; }();
  (void)removeAtExit;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const std::string& path = Scratch();
  static CAutoDetectionInputFilter* filter = [] {
    GetMessageLog()->SetSink(nullptr);
    return new CAutoDetectionInputFilter(u"/nonexistent", CodecOptions{});
  }();
  const std::size_t sampleSize = (size - 1) < data[0] ? (size - 1) : data[0];
  const std::uint8_t* sample = data + 1;
  const std::uint8_t* file = data + 1 + sampleSize;
  const std::size_t fileSize = size - 1 - sampleSize;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(file, 1, fileSize, f);
    std::fclose(f);
  }
  filter->LoadStatisticsFile(platform::FromNative(path.c_str()).c_str());
  if (sampleSize >= 4) {
    volatile double score = filter->ScoreSample(sample, static_cast<std::uint32_t>(sampleSize));
    (void)score;
  }
  return 0;
}
