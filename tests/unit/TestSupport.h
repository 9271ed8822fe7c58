#pragma once
// Helpers shared by the unit tests.

#include <cstdint>
#include <initializer_list>
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

// Feeds `input` through `chain` (whose last filter is `sink`) as one
// conversion: chunks split at `splits` (ascending offsets), then flush,
// finish and reset. Returns what reached the sink.
std::string ConvertThrough(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                           const std::vector<std::size_t>& splits = {});

// Checks that every way of splitting `input` into two chunks, and into
// chunks of every size from 1 to 7, gives the same output as one chunk, and
// returns that output.
std::string ConvertAllSplits(CFilterChain& chain, RecordingFilter& sink, const std::string& input);

struct Converted {
  std::string output;
  std::string log;  // the level-2 messages, UTF-8
};
// Like ConvertAllSplits, and the messages (level 2, captured here; the
// caller must not hold a LogCapture) must not depend on the split either.
Converted ConvertAllSplitsWithLog(CFilterChain& chain, RecordingFilter& sink,
                                  const std::string& input);

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

// Converts `input` through the program's chain as the program does, with
// the status record and the CSV report told.
inline bool RunReported(CFile& input, ConversionOutcome* outcome = nullptr) {
  StatusReportingObserver reporting;
  return RunConversion(GetFilterChain(), input, &reporting, outcome);
}

}  // namespace ordana::test
