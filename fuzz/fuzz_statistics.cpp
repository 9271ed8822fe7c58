// Statistics file loading and scoring over arbitrary file bytes: byte 0
// splits the input into the file and a sample to score. A file that loads
// must score the sample bit for bit alike one file at a time and through
// the scoring layout of all files of its directory (which passes positions
// over).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "detection/AutoDetectionInputFilter.h"
#include "platform/Platform.h"

namespace {

std::string ScratchDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path =
      std::string(dir && *dir ? dir : "/tmp") + "/ordana-fuzz-" + std::to_string(::getpid());
  ::mkdir(path.c_str(), 0700);
  return path;
}

// The directory whose one file x.dat each input is written to; both are
// removed when the process ends (the handler is registered after the names
// exist, so it runs before they are destroyed).
const std::string& ScratchDir() {
  static const std::string path = ScratchDirectory();
  return path;
}
const std::string& Scratch() {
  static const std::string path = ScratchDir() + "/x.dat";
  static const bool removeAtExit = [] {
    return std::atexit([] {
             std::remove(path.c_str());
             ::rmdir(ScratchDir().c_str());
           }) == 0;
  }();
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
  static CStatisticsSet set;
  set.Load(platform::FromNative(ScratchDir().c_str()));
  if (sampleSize >= 4) {
    const auto n = static_cast<std::uint32_t>(sampleSize);
    const double score = filter->ScoreSample(sample, n);
    if (set.Count() == 1) {
      std::vector<double> all;
      set.ScoreAll(sample, n, &all);
      if (all.size() != 1 || std::memcmp(&all[0], &score, sizeof score) != 0) std::abort();
    }
  }
  return 0;
}
