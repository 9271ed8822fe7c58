// The conversion work alone: the program's own chain for two character sets,
// assembled as the program assembles it, fed a file that is already in
// memory in the chunks the program reads (2 MiB), writing to /dev/null. The
// CPU time of that part, printed in seconds, is what the converter adds to
// the cost of moving the bytes through the kernel (bench/rwloop.cpp).
//
// Usage: ordana-codectime IN SOURCE DESTINATION
// Prints the CPU seconds of the conversion; exit 0, or 1 on any failure.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/ChainAssembly.h"
#include "app/Settings.h"
#include "codecs/CharsetRegistry.h"
#include "core/Buffer.h"
#include "core/FilePersistenceFilter.h"
#include "core/Filter.h"
#include "platform/Platform.h"

namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::u16string Widen(const char* text) {
  std::u16string wide;
  for (; *text; ++text) wide.push_back(static_cast<unsigned char>(*text));
  return wide;
}

bool LookUp(const char* name, ordana::CharsetId* id) {
  std::u16string wide = Widen(name);
  const ordana::CharsetLookup lookup = ordana::LookUpCharset(&wide[0]);
  *id = lookup.id;
  return lookup.known;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ordana;
  if (argc != 4) {
    std::fprintf(stderr, "usage: ordana-codectime IN SOURCE DESTINATION\n");
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  CharsetId source = 0;
  CharsetId destination = 0;
  if (!in.good() && !in.eof()) return 1;
  if (!LookUp(argv[2], &source) || !LookUp(argv[3], &destination)) {
    std::fprintf(stderr, "ordana-codectime: unknown character set\n");
    return 1;
  }
  GetSettings().writeBom = false;
  if (AssembleChain(source, destination) != kExitOk) return 1;
  CFile& output = PersistenceFilter()->stream();
  if (!output.Create(u"/dev/null", platform::kGenericWrite, platform::kFileShareRead)) return 1;

  // The chunks are filled before the clock starts: reading is the floor's
  // part, not the converter's.
  constexpr std::size_t kChunk = 2u << 20;
  std::vector<std::unique_ptr<CBuffer>> chunks;
  for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
    const std::size_t size = bytes.size() - at < kChunk ? bytes.size() - at : kChunk;
    chunks.push_back(std::make_unique<CBuffer>());
    if (!chunks.back()->Append(bytes.data() + at, static_cast<std::uint32_t>(size))) return 1;
  }
  CFilterChain& chain = GetFilterChain();
  const double start = CpuSeconds();
  bool ok = true;
  std::uint64_t offset = 0;
  for (const auto& chunk : chunks) {
    const std::uint32_t length = chunk->length();
    ok = chain.Process(*chunk, offset) && ok;
    offset += length;
  }
  ok = chain.Flush() && ok;
  ok = chain.Finish() && ok;
  const double seconds = CpuSeconds() - start;
  ok = PersistenceFilter()->writeError() == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "ordana-codectime: the conversion failed\n");
    return 1;
  }
  std::printf("%.6f\n", seconds);
  return 0;
}
