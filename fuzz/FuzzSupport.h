#pragma once
// Shared by the fuzz targets: runs a codec over the input whole and in
// chunks and stops the fuzzer when the results differ.
//
// Input layout of every target: byte 0 chooses the filter's mode, bytes 1
// and 2 two chunk sizes, the rest is the data.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/Settings.h"
#include "core/Filter.h"
#include "core/MessageLog.h"

namespace ordana::fuzz {

// Stops the fuzzer, naming the invariant, when `condition` does not hold.
inline void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Keeps everything that reaches the end of the chain.
class Sink : public CFilter {
 public:
  Sink() : CFilter(kCategoryPersistence) { name_ = u"Sink"; }
  std::int32_t Filter() override {
    data.append(reinterpret_cast<const char*>(pending_.base()), pending_.length());
    pending_.Clear();
    return 1;
  }
  std::string data;
};

// Keeps the messages.
class LogSink : public CFile {
 public:
  explicit LogSink(std::u16string* text) : text_(text) {}
  void Print(const char16_t* format, const FormatArg* args, std::size_t count) override {
    FormatTo(*text_, format, args, count);
  }

 private:
  std::u16string* text_;
};

struct Result {
  std::string output;
  std::u16string messages;
  std::uint32_t errors = 0;  // the first filter's count
};

// One conversion of `data` through a chain of `filter` and a sink, in chunks
// of `chunk` bytes (0: one piece). The chain is reset afterwards.
inline Result Convert(CFilterChain& chain, Sink& sink, const std::uint8_t* data, std::size_t size,
                      std::size_t chunk) {
  Result result;
  GetMessageLog()->SetSink(std::make_unique<LogSink>(&result.messages));
  GetMessageLog()->SetMaximumLevel(kLevelDetails);
  CBuffer buffer;
  if (chunk == 0) chunk = size;
  for (std::size_t start = 0; start < size; start += chunk) {
    const std::size_t n = size - start < chunk ? size - start : chunk;
    buffer.Clear();
    // A chunk fits an empty buffer, and the chain takes every input whole.
    if (!buffer.Append(data + start, static_cast<std::uint32_t>(n))) std::abort();
    if (!chain.Process(buffer, start)) std::abort();
    if (!buffer.empty()) std::abort();  // Process must take all of its input
  }
  if (!chain.Flush() || !chain.Finish()) std::abort();
  result.output.swap(sink.data);
  result.errors = chain.First()->errorCount();
  chain.Reset();
  GetMessageLog()->SetSink(nullptr);
  return result;
}

// Builds a chain with `make()` and checks that the output and the messages do
// not depend on how the input was cut. Returns the whole-piece result.
template <class Make>
Result CheckSplitInvariance(Make make, const std::uint8_t* data, std::size_t size) {
  if (size < 3) return {};
  const std::size_t chunkA = data[1] % 64 + 1;
  const std::size_t chunkB = data[2] + 1;
  data += 3;
  size -= 3;
  CFilterChain chain;
  chain.Append(make());
  auto* sink = new Sink();
  chain.Append(sink);
  Result whole = Convert(chain, *sink, data, size, 0);
  for (std::size_t chunk : {chunkA, chunkB, std::size_t{1}}) {
    Result split = Convert(chain, *sink, data, size, chunk);
    if (split.output != whole.output || split.messages != whole.messages ||
        split.errors != whole.errors) {
      std::fprintf(stderr, "chunks of %zu bytes change the result\n", chunk);
      std::abort();
    }
  }
  return whole;
}

// Checks a filter with its fast paths (`makeFast`) against the same filter
// with its plain loops (`makePlain`): each split-invariant, and the same
// output, messages and count whole.
template <class MakeFast, class MakePlain>
void CheckSameAsPlain(MakeFast makeFast, MakePlain makePlain, const std::uint8_t* data,
                      std::size_t size) {
  const Result fast = CheckSplitInvariance(makeFast, data, size);
  const Result plain = CheckSplitInvariance(makePlain, data, size);
  Require(fast.output == plain.output, "the fast paths' output is the plain loop's");
  Require(fast.messages == plain.messages, "the fast paths' messages are the plain loop's");
  Require(fast.errors == plain.errors, "the fast paths' error count is the plain loop's");
}

}  // namespace ordana::fuzz
