// Replays a fuzz target's seed corpus without libFuzzer, so that the default
// test suite (any compiler) checks the targets' invariants on every seed:
//
//   replay_fuzz_NAME DIRECTORY_OR_FILE...
//
// Each file is fed to LLVMFuzzerTestOneInput whole and cut short after every
// byte (a seed cut short is an input the fuzzer would try first). A broken
// invariant aborts, as it does under libFuzzer. Exit 0 when every input ran;
// 2 when an argument cannot be read or names no file at all, since a replay
// of nothing would check nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The regular files named by `argument`: itself, or the files of that
// directory in name order (so that a failure repeats in the same order).
bool CollectFiles(const fs::path& argument, std::vector<fs::path>* files) {
  std::error_code error;
  if (fs::is_regular_file(argument, error)) {
    files->push_back(argument);
    return true;
  }
  if (!fs::is_directory(argument, error)) return false;
  std::vector<fs::path> found;
  for (fs::directory_iterator it(argument, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) found.push_back(it->path());
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
  return true;
}

bool ReadFile(const fs::path& path, std::vector<std::uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!CollectFiles(argv[i], &files)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
      return 2;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "%s: no seed files given\n", argv[0]);
    return 2;
  }
  std::size_t inputs = 0;
  for (const fs::path& path : files) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFile(path, &bytes)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.string().c_str());
      return 2;
    }
    std::printf("%s (%zu bytes)\n", path.string().c_str(), bytes.size());
    std::fflush(stdout);  // names the seed that an abort interrupts
    // A copy of exactly `length` bytes, so that a read past the end is one
    // the sanitizers see; never a null pointer, as under libFuzzer.
    for (std::size_t length = bytes.size() + 1; length-- > 0;) {
      std::unique_ptr<std::uint8_t[]> input(new std::uint8_t[length]);
      std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length), input.get());
      LLVMFuzzerTestOneInput(input.get(), length);
      ++inputs;
    }
  }
  std::printf("%zu seed files, %zu inputs: every invariant held\n", files.size(), inputs);
  return 0;
}
