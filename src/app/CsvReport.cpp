#include "app/CsvReport.h"

#include <memory>

#include "codecs/CharsetRegistry.h"
#include "core/Format.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "core/TextEscaping.h"
#include "platform/Platform.h"

namespace ordana {

std::uint64_t RecordDurationMilliseconds(const StatusRecord& record) {
  const std::uint64_t start = record.startTime;
  const std::uint64_t end = record.endTime;
  // Unsigned subtraction would turn a clock set back into a duration of
  // millennia.
  return end >= start ? (end - start) / 10000u : 0u;
}

std::u16string FormatCsvLine(const StatusRecord& record, char16_t separator) {
  char16_t source[64];
  char16_t destination[64];
  CharsetName(record.decoderCharset, source);
  CharsetName(record.encoderCharset, destination);
  // The path may hold anything a file name can: quoted and escaped where
  // needed, so that one record stays one line of seven fields.
  const std::u16string path = QuoteCsvField(StatusRecordPath(record), separator);
  // Field by field, so that the packed fields are read by value.
  const std::uint64_t size = record.totalSize;
  const std::uint32_t decoderErrors = record.decoderErrors;
  const std::uint32_t encoderErrors = record.encoderErrors;
  return Format(u"%s%c%I64u%c%s%c%s%c%u%c%u%c%I64u\r\n", path, separator, size, separator,
                QuoteCsvField(source, separator), separator, QuoteCsvField(destination, separator),
                separator, decoderErrors, separator, encoderErrors, separator,
                RecordDurationMilliseconds(record));
}

CsvReport::CsvReport(const char16_t* path) : path_(path) {
  // Appending: several processes may write one report at the same time
  // (parallel runs), and each line is one write at the end of the file.
  if (!file_.Open(path, platform::kOpenAlways, platform::kFileAppendData,
                  platform::kFileShareRead | platform::kFileShareWrite, 0)) {
    file_.Close();
    return;
  }
  // The byte order mark goes only into an empty file. The lock makes
  // "empty?" and the write one step among the processes that open the same
  // report at once, so exactly one of them writes the mark; whoever comes
  // later finds the file not empty.
  const bool locked = platform::LockFile(file_.handle());
  std::uint64_t size = 0;
  if (platform::GetFileSize(file_.handle(), &size) && size == 0) {
    static const unsigned char kByteOrderMark[2] = {0xFF, 0xFE};
    // A failure is kept in error() for the opener to report.
    (void)Write(kByteOrderMark, sizeof kByteOrderMark);
  }
  if (locked) platform::UnlockFile(file_.handle());
}

CsvReport::~CsvReport() { Close(); }

void CsvReport::Close() {
  if (file_.IsOpen()) file_.Close();
}

bool CsvReport::Names(const char16_t* path) const {
  if (path_ == path) return true;
  // Another spelling of the same file (./report.csv, a link, letter case on
  // a file system that ignores it).
  return IsOpen() && platform::IsSameFile(path_.c_str(), path);
}

bool CsvReport::Write(const void* data, std::uint32_t size) {
  // The platform writes everything or fails with a reason.
  if (file_.WriteBytes(data, size) == size) return true;
  if (error_ == 0) error_ = file_.lastError();
  return false;
}

bool CsvReport::WriteLine(const StatusRecord& record) {
  // A report that could not be opened drops its lines (see the constructor).
  if (!IsOpen()) return true;
  const std::u16string line = FormatCsvLine(record, separator_);
  // Little-endian whatever the machine, and one write per line.
  std::string bytes;
  bytes.reserve(line.size() * 2);
  for (char16_t unit : line) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

namespace {

std::unique_ptr<CsvReport>& TheReport() {
  static std::unique_ptr<CsvReport> report;
  return report;
}

bool& ReportFailed() {
  static bool failed = false;
  return failed;
}

}  // namespace

CsvReport* OpenCsvReport(const char16_t* path) {
  std::unique_ptr<CsvReport>& report = TheReport();
  if (report && report->Names(path)) return report.get();
  report.reset();
  report = std::make_unique<CsvReport>(path);
  return report.get();
}

CsvReport* GetCsvReport() { return TheReport().get(); }

void CloseCsvReport() { TheReport().reset(); }

void ReportCsvWriteFailure(const CsvReport& report) {
  if (ReportFailed()) return;
  ReportFailed() = true;
  LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringCsvWriteFailed, report.path(),
                     DescribeError(report.error()));
}

bool CsvReportFailed() { return ReportFailed(); }

}  // namespace ordana
