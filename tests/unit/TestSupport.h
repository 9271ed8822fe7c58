#pragma once
// Helpers shared by the unit tests.

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "app/ChainAssembly.h"
#include "app/RunReporting.h"
#include "core/ConversionRun.h"
#include "core/Filter.h"
#include "core/MessageLog.h"
#include "platform/Platform.h"

namespace ordana::test {

// The bytes given, as a string.
inline std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// Appends one UTF-16LE code unit.
inline void PutUtf16(std::string& s, std::uint32_t unit) {
  s += static_cast<char>(unit & 0xFF);
  s += static_cast<char>(unit >> 8 & 0xFF);
}

// Appends the UTF-8 bytes of code point `cp` (any value up to 0x1FFFFF, so
// that tests can make encoded surrogates too).
inline void PutUtf8(std::string& s, std::uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE bytes of `units`.
inline std::string U16(std::initializer_list<std::uint32_t> units) {
  std::string s;
  for (std::uint32_t u : units) PutUtf16(s, u);
  return s;
}

// A log sink that keeps what is printed.
class CaptureSink : public CFile {
 public:
  explicit CaptureSink(std::u16string* text) : text_(text) {}
  void Print(const char16_t* format, const FormatArg* args, std::size_t count) override {
    FormatTo(*text_, format, args, count);
  }

 private:
  std::u16string* text_;
};

// Sends the process log into a string for the life of the object.
class LogCapture {
 public:
  explicit LogCapture(std::uint32_t level = 1) {
    ResetMessageLog();
    GetMessageLog()->SetSink(std::make_unique<CaptureSink>(&text_));
    GetMessageLog()->SetMaximumLevel(level);
  }
  ~LogCapture() { ResetMessageLog(); }
  const std::u16string& text() const { return text_; }
  std::string narrow() const { return platform::ToNative(text_.c_str(), text_.size()); }

 private:
  std::u16string text_;
};

// A filter at the end of a test chain that keeps everything it receives,
// with the size of every Process call.
class RecordingFilter : public CFilter {
 public:
  RecordingFilter() : CFilter(kCategoryPersistence) { name_ = u"Recorder"; }
  std::int32_t Filter() override {
    received.append(reinterpret_cast<const char*>(pending_.base()), pending_.length());
    calls.push_back(pending_.length());
    offsets.push_back(streamOffset_);
    pending_.Clear();
    return 1;
  }
  std::string received;
  std::vector<std::uint32_t> calls;
  std::vector<std::uint64_t> offsets;
};

// ---- The split harness ----------------------------------------------------
// A filter's output, messages and error count must not depend on where the
// chunks of its input end. Every filter test converts its cases through
// ConvertEveryWay (or ConvertAllSplits), which tries the whole input and
// every way of EverySplit.

// Feeds `input` through `chain` (whose last filter is `sink`) as one
// conversion: chunks split at `splits` (ascending offsets), then flush,
// finish and reset. Returns what reached the sink.
std::string ConvertThrough(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                           const std::vector<std::size_t>& splits = {});
// ConvertThrough up to and including Finish, without the Reset: the
// filters' counts can still be read.
void Feed(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
          const std::vector<std::size_t>& splits = {});

// The ways of cutting an input of `size` bytes that the harness tries: once
// at every offset, then into chunks of every size from 1 to 7 bytes.
std::vector<std::vector<std::size_t>> EverySplit(std::size_t size);

// Ascending random cut points in [1, size), at most `most` of them.
std::vector<std::size_t> RandomSplits(std::mt19937& random, std::size_t size, std::size_t most = 8);

struct Outcome {
  std::string output;
  std::u16string log;  // the level-2 messages
  std::uint32_t errors = 0;
  std::string narrowLog() const { return platform::ToNative(log.c_str(), log.size()); }
};

// One conversion as ConvertThrough, with the level-2 messages (captured here:
// the caller must not hold a LogCapture) and `codec`'s error count after
// Finish (0 without a codec).
Outcome RunOnce(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                const std::vector<std::size_t>& splits = {}, const CFilter* codec = nullptr);

// Adds a failure naming `what` when `split` differs from `whole`.
void ExpectSame(const Outcome& whole, const Outcome& split, const std::string& what);

// Converts `input` whole and in every way of EverySplit; each way must give
// the same output, messages and error count. Returns the whole result.
Outcome ConvertEveryWay(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                        const std::string& what, const CFilter* codec = nullptr);

// The same comparison of the output alone, without capturing the messages
// (the caller may hold a LogCapture). Returns the whole output.
std::string ConvertAllSplits(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                             const std::string& what = std::string());

// A scratch directory removed at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::u16string File16(const std::string& name) const {
    return platform::FromNative(File(name).c_str());
  }

 private:
  std::string path_;
};

void WriteWholeFile(const std::string& path, const std::string& bytes);
std::string ReadWholeFile(const std::string& path);
// The text of a log file (/log): UTF-8 without a byte order mark on POSIX,
// UTF-16LE after its byte order mark on Windows. A missing or unexpected
// byte order mark is a test failure.
std::u16string ReadLogFile(const std::string& path);

// Converts `input` through the program's chain as the program does, with
// the status record and the CSV report told.
inline bool RunReported(CFile& input, ConversionOutcome* outcome = nullptr) {
  StatusReportingObserver reporting;
  return RunConversion(GetFilterChain(), input, &reporting, outcome);
}

}  // namespace ordana::test
