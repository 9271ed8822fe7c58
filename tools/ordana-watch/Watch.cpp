// ordana-watch: the other side of Ordana's status channel.
//
//   ordana-watch PID          follows the conversions of the running converter PID
//   ordana-watch --collect    collects the records of converters started with /ssb
//
// It reuses the converter's own channel code (app/StatusChannel), so both
// sides agree on the layout, the names and the protocol by construction.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "WatchPlatform.h"
#include "app/CsvReport.h"
#include "app/StatusChannel.h"
#include "codecs/CharsetRegistry.h"
#include "core/Format.h"
#include "core/StringTable.h"
#include "core/TextEscaping.h"
#include "platform/Platform.h"

namespace ordana::watch {
namespace {

constexpr const char kUsage[] =
    "Usage:\n"
    "  ordana-watch PID [--interval MS]\n"
    "      Follows the running converter PID: the input it converts, how far it\n"
    "      has come and how fast. Ends when the converter ends.\n"
    "  ordana-watch --collect [--count N] [--csv FILE]\n"
    "      Creates a status channel for converters started with /ssb and prints\n"
    "      one line per finished conversion (and, with --csv, writes the same\n"
    "      tab-separated line as the converter's /csv). Stops after N records,\n"
    "      or on Ctrl+C.\n";

void Out(const std::u16string& text) { WriteOutput(platform::ToNative(text.c_str(), text.size())); }
void Err(const std::u16string& text) { WriteError(platform::ToNative(text.c_str(), text.size())); }

bool ParseNumber(const char* text, std::uint64_t maximum, std::uint64_t* value) {
  if (!*text) return false;
  std::uint64_t result = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
    result = result * 10 + static_cast<std::uint64_t>(*text - '0');
    if (result > maximum) return false;
  }
  *value = result;
  return true;
}

std::u16string Name(CharsetId id) {
  char16_t buffer[64];
  CharsetName(id, buffer);
  return buffer[0] ? std::u16string(buffer) : std::u16string(u"?");
}

std::u16string Rate(double bytesPerSecond) {
  if (bytesPerSecond >= 1048576.0) return Format(u"%.1f MiB/s", bytesPerSecond / 1048576.0);
  if (bytesPerSecond >= 1024.0) return Format(u"%.1f KiB/s", bytesPerSecond / 1024.0);
  return Format(u"%.0f B/s", bytesPerSecond);
}

// ---- Following a converter ------------------------------------------------------

// A path from a record, as it is shown: another process wrote it, so its
// control characters are escaped and what is not well-formed is U+FFFD.
std::u16string ShownPath(const StatusRecord& record) {
  return EscapeForDisplay(StatusRecordPath(record));
}

std::u16string Describe(const StatusRecord& record, std::uint64_t now) {
  const std::u16string path = ShownPath(record);
  const std::uint64_t total = record.totalSize;
  const std::uint32_t decoderErrors = record.decoderErrors;
  const std::uint32_t encoderErrors = record.encoderErrors;
  if (record.state == kStatusDone) {
    const std::uint64_t ms = RecordDurationMilliseconds(record);
    return Format(u"%s: done, %I64u bytes in %I64u ms, errors %u/%u", path, total, ms,
                  decoderErrors, encoderErrors);
  }
  const std::uint64_t processed = record.processedOffset;
  const std::uint64_t start = record.startTime;
  const double seconds = now > start ? static_cast<double>(now - start) / 1e7 : 0.0;
  const std::u16string rate = Rate(seconds > 0 ? static_cast<double>(processed) / seconds : 0.0);
  if (total == 0) return Format(u"%s: %I64u bytes, %s", path, processed, rate);
  const std::uint64_t percent = processed >= total ? 100 : processed * 100 / total;
  return Format(u"%s: %I64u of %I64u bytes (%I64u%%), %s", path, processed, total, percent, rate);
}

// What following has shown so far, and how it shows the next record.
struct FollowedLines {
  bool terminal = false;
  std::u16string shown;    // what the terminal line shows
  StatusRecord printed{};  // the record last printed as a plain line
  bool printedAny = false;

  void Show(const StatusRecord& record, bool final) {
    const std::u16string line = Describe(record, platform::GetSystemTimeAsFileTime());
    if (terminal) {
      // Rewrite the one line in place; ESC [K clears what a longer line left.
      if (line != shown || final) Out(u"\r" + line + u"\x1b[K");
      shown = line;
      return;
    }
    // Plain lines: one per change of input, state or position.
    const bool changed = !printedAny || record.startTime != printed.startTime ||
                         record.state != printed.state ||
                         record.processedOffset != printed.processedOffset ||
                         StatusRecordPath(record) != StatusRecordPath(printed);
    if (!changed) return;
    Out(line + u"\n");
    printed = record;
    printedAny = true;
  }
};

// Shows the record at the head of the channel's free list; false when the
// area is no longer whole (or its list is broken): nothing in it can be
// followed any more.
bool ShowHeadRecord(StatusChannel& channel, FollowedLines& lines, bool final) {
  StatusRecord record;
  if (!channel.ReadFreeHeadRecord(&record)) return false;
  if (record.startTime == 0) return true;              // no conversion has begun yet
  if (!IsWellFormedStatusRecord(record)) return true;  // being written, or forged
  lines.Show(record, final);
  return true;
}

int Follow(std::uint32_t processId, std::uint32_t intervalMs) {
  if (!platform::ProcessExists(processId)) {
    Err(Format(u"ordana-watch: there is no process %u\n", processId));
    return 2;
  }
  FollowedLines lines;
  lines.terminal = OutputIsTerminal();
  StatusChannel channel(processId);
  bool cutShort = false;
  for (;;) {
    // The converter creates its channel with its first conversion.
    if (!channel.mapped() && !channel.OpenToRead() && channel.untrusted()) {
      Err(
          Format(u"ordana-watch: the status channel %s belongs to another user or can be opened "
                 u"by others; it is not read\n",
                 channel.names().mapping));
      return 2;
    }
    const bool alive = platform::ProcessExists(processId);
    if (channel.mapped() && !ShowHeadRecord(channel, lines, !alive)) {
      cutShort = true;
      break;
    }
    if (!alive || StopRequested()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
  }
  if (lines.terminal && !lines.shown.empty()) Out(u"\n");
  if (cutShort) {
    Err(
        Format(u"ordana-watch: the status channel %s was cut short or damaged while it was "
               u"read; stopping\n",
               channel.names().mapping));
    return 2;
  }
  if (!channel.mapped() && !StopRequested()) {
    Err(Format(u"ordana-watch: process %u ended without publishing a conversion\n", processId));
  }
  return 0;
}

// ---- Collecting records ---------------------------------------------------------

// Opens the channel of this process for collecting and the CSV report when
// one is asked for; false after saying why not.
bool OpenCollecting(StatusChannel& channel, const char* csvPath, std::unique_ptr<CsvReport>* csv) {
  if (!channel.Open()) {
    Err(Format(channel.untrusted()
                   ? u"ordana-watch: the status channel %s is taken by another user or can be "
                     u"opened by others; it is not used\n"
                   : u"ordana-watch: the status channel %s can not be created\n",
               channel.names().mapping));
    return false;
  }
  if (csvPath) {
    *csv = std::make_unique<CsvReport>(platform::FromNative(csvPath).c_str());
    if (!(*csv)->IsOpen()) {
      Err(Format(u"ordana-watch: %s can not be created\n", platform::FromNative(csvPath)));
      return false;
    }
    if ((*csv)->error() != 0) {
      Err(Format(u"ordana-watch: %s can not be written: %s\n", platform::FromNative(csvPath),
                 DescribeError((*csv)->error())));
      return false;
    }
  }
  return true;
}

// One line per collected record, and a line of the CSV report if there is one.
// The first line the report cannot take is said and sets `*csvFailed`; the
// collection goes on (the converters wait for the records it frees).
void PrintCollected(const std::vector<CollectedRecord>& records, CsvReport* csv, bool* csvFailed) {
  for (const CollectedRecord& item : records) {
    const StatusRecord& r = item.record;
    const std::uint64_t size = r.totalSize;
    const std::uint32_t decoderErrors = r.decoderErrors;
    const std::uint32_t encoderErrors = r.encoderErrors;
    Out(Format(u"#%u %s: %I64u bytes, %s => %s, errors %u/%u, %I64u ms\n", item.index, ShownPath(r),
               size, Name(r.decoderCharset), Name(r.encoderCharset), decoderErrors, encoderErrors,
               RecordDurationMilliseconds(r)));
    if (csv && !csv->WriteLine(r) && !*csvFailed) {
      Err(Format(u"ordana-watch: %s can not be written: %s\n", csv->path(),
                 DescribeError(csv->error())));
      *csvFailed = true;
    }
  }
}

int Collect(std::uint64_t count, const char* csvPath) {
  const std::uint32_t self = platform::GetCurrentProcessId();
  StatusChannel channel(self);
  std::unique_ptr<CsvReport> csv;
  if (!OpenCollecting(channel, csvPath, &csv)) return 2;
  Out(Format(u"Collecting conversions: give ordana the option /ssb %u\n", self));

  // Every acquired record is announced on "Full"; counting them tells when
  // finished records may be waiting, so the list is looked at often only then.
  std::int64_t announced = 0;
  std::uint64_t collected = 0;
  bool warned = false;
  bool csvFailed = false;
  for (;;) {
    const bool last = StopRequested();
    if (!last) {
      platform::WaitResult waited = channel.WaitForHandedOver(announced > 0 ? 10 : 200);
      while (waited == platform::WaitResult::kSignaled) {
        ++announced;
        waited = channel.WaitForHandedOver(0);
      }
    }
    std::vector<CollectedRecord> records;
    const std::size_t room =
        count == 0 ? kStatusChannelCapacity : static_cast<std::size_t>(count - collected);
    const CollectResult result = channel.CollectFinished(&records, room);
    if (result == CollectResult::kFailed) {
      Err(u"ordana-watch: the status channel is not usable any more (its area was cut short)\n");
      return 2;
    }
    if (channel.rejected() > 0) {
      Err(Format(u"ordana-watch: %u malformed records skipped\n",
                 static_cast<std::uint32_t>(channel.rejected())));
    }
    if (result == CollectResult::kMutexTakenOver && !warned) {
      Err(u"ordana-watch: the channel's mutex was not released in time; taking it over\n");
      warned = true;
    }
    PrintCollected(records, csv.get(), &csvFailed);
    collected += records.size();
    announced -= static_cast<std::int64_t>(records.size() + channel.rejected());
    if (last || (count != 0 && collected >= count)) break;
  }
  return csvFailed ? 2 : 0;
}

int Main(int argc, char** argv) {
  bool collect = false;
  std::uint64_t count = 0;
  std::uint64_t interval = 200;
  const char* csvPath = nullptr;
  std::uint64_t processId = 0;
  bool havePid = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      WriteOutput(kUsage);
      return 0;
    } else if (arg == "--collect") {
      collect = true;
    } else if (arg == "--count" && hasValue && ParseNumber(argv[i + 1], 0xFFFFFFFFu, &count)) {
      ++i;
    } else if (arg == "--csv" && hasValue) {
      csvPath = argv[++i];
    } else if (arg == "--interval" && hasValue && ParseNumber(argv[i + 1], 60000, &interval) &&
               interval > 0) {
      ++i;
    } else if (!havePid && ParseNumber(argv[i], 0xFFFFFFFFu, &processId)) {
      havePid = true;
    } else {
      WriteError("ordana-watch: unexpected argument '" + arg + "'\n" + kUsage);
      return 1;
    }
  }
  if (collect == havePid) {
    WriteError(kUsage);
    return 1;
  }
  InstallStopHandler();
  if (collect) return Collect(count, csvPath);
  return Follow(static_cast<std::uint32_t>(processId), static_cast<std::uint32_t>(interval));
}

}  // namespace
}  // namespace ordana::watch

int main(int argc, char** argv) { return ordana::watch::Main(argc, argv); }
