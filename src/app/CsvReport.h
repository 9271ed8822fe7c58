#pragma once
// CsvReport: the tab-separated report of /csv, one line per conversion.
//
// The file is UTF-16LE text that starts with the byte order mark FF FE and
// has no header line. Each line holds, separated by TAB and ended by CR LF:
// input path, total size, source and destination character set names, the
// decoder's and the encoder's error counts, and the duration in milliseconds.
// A path that holds a control character, a double quote or the separator is
// written in double quotes with escapes (QuoteCsvField), and the text is
// always well-formed UTF-16. The report is appended to, one write per line,
// so that processes running in parallel can share it without losing lines.

#include <cstdint>
#include <string>

#include "app/StatusRecord.h"
#include "core/File.h"

namespace ordana {

// The line for one finished conversion, CR LF included.
std::u16string FormatCsvLine(const StatusRecord& record, char16_t separator = u'\t');
// The duration of a record in milliseconds: 0 when the clock was set back
// during the conversion.
std::uint64_t RecordDurationMilliseconds(const StatusRecord& record);

class CsvReport {
 public:
  // Opens the file for appending, creating it when it does not exist, and
  // writes the byte order mark when it is empty. When the file cannot be
  // opened the report stays without file and drops every line silently.
  explicit CsvReport(const char16_t* path);
  ~CsvReport();
  CsvReport(const CsvReport&) = delete;
  CsvReport& operator=(const CsvReport&) = delete;

  const std::u16string& path() const { return path_; }
  bool IsOpen() const { return file_.IsOpen(); }
  // True when `path` names this report: the same text, or the same file.
  bool Names(const char16_t* path) const;
  // Appends the record's line; false when it could not be written whole
  // (error() says why).
  [[nodiscard]] bool WriteLine(const StatusRecord& record);
  // The first write error of the report (the byte order mark included), 0
  // when every write went through.
  platform::ErrorCode error() const { return error_; }
  void Close();

 private:
  std::u16string path_;
  // Writes `size` bytes with one call; false (and the error kept) when not
  // all of them were written.
  bool Write(const void* data, std::uint32_t size);

  CFile file_;
  char16_t separator_ = u'\t';
  platform::ErrorCode error_ = 0;
};

// The process's report writer (/csv): the same path keeps the open report,
// another closes it and creates the new one.
CsvReport* OpenCsvReport(const char16_t* path);
// The open report writer, or null.
CsvReport* GetCsvReport();
// Closes the file and deletes the writer; the driver calls it when the
// inputs are done.
void CloseCsvReport();
// Says, once per run, that the process's report lost a line (or its byte
// order mark), with the reason; the run then ends with exit code 4.
void ReportCsvWriteFailure(const CsvReport& report);
// True once a write of the process's report has failed.
bool CsvReportFailed();

}  // namespace ordana
