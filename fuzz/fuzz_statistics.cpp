// Statistics file loading and scoring over arbitrary file bytes: byte 0
// splits the input into the file and a sample to score. A file that loads
// must score the sample bit for bit alike one file at a time and through
// the scoring layout of all files of its directory (which passes positions
// over). The tables read must be those a plain reading of the bytes gives:
// the later of two entries for a key, keys a sample can form, in order.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "detection/AutoDetectionInputFilter.h"
#include "detection/StatisticsFiles.h"
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

std::uint32_t U32At(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The tables of a statistics file read entry by entry into maps.
void ReadPlainly(const std::uint8_t* file, std::size_t size,
                 std::map<std::uint32_t, double> (&tables)[3]) {
  const std::uint32_t limits[3] = {256, 65536, 1u << 24};
  std::size_t pos = size < 16 ? size : 16;
  for (int t = 0; t < 3; ++t) {
    if (size - pos < 12 || std::memcmp(file + pos, "STBL", 4) != 0) return;
    const std::uint32_t count = U32At(file + pos + 8);
    pos += 12;
    std::uint32_t e = 0;
    for (; e < count && size - pos >= 12; ++e, pos += 12) {
      double weight;
      std::uint64_t bits = U32At(file + pos + 4) | (std::uint64_t{U32At(file + pos + 8)} << 32);
      std::memcpy(&weight, &bits, sizeof weight);
      if (U32At(file + pos) < limits[t]) tables[t][U32At(file + pos)] = weight;
    }
    if (e < count) return;
  }
}

void CheckTables(const std::string& path, const std::uint8_t* file, std::size_t size) {
  using namespace ordana;
  CStatisticsModel model;
  if (LoadStatisticsModel(platform::FromNative(path.c_str()).c_str(), &model) ==
      StatisticsLoad::kNotStatistics) {
    return;
  }
  std::map<std::uint32_t, double> tables[3];
  ReadPlainly(file, size, tables);
  const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
  for (std::uint32_t b = 0; b < 256; ++b) {
    const auto it = tables[0].find(b);
    if (!same(model.SingleWeight(static_cast<std::uint8_t>(b)),
              it == tables[0].end() ? 0.0 : it->second)) {
      std::abort();
    }
  }
  for (int t = 1; t < 3; ++t) {
    auto it = tables[t].begin();
    const auto check = [&](std::uint32_t key, double weight) {
      if (it == tables[t].end() || it->first != key || !same(it->second, weight)) std::abort();
      ++it;
    };
    if (t == 1) model.ForEachPair(check);
    if (t == 2) model.ForEachTriple(check);
    if (it != tables[t].end()) std::abort();
  }
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
  bool written = false;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    written = std::fwrite(file, 1, fileSize, f) == fileSize;
    written = std::fclose(f) == 0 && written;
  }
  if (written) CheckTables(path, file, fileSize);
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
