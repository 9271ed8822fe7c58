#include "core/ConversionRun.h"

#include "app/CsvReport.h"
#include "app/MessageLog.h"
#include "app/StatusChannel.h"
#include "app/StatusRecord.h"
#include "codecs/CodecBase.h"
#include "core/Buffer.h"
#include "core/File.h"
#include "core/Filter.h"

namespace ordana {

std::u16string FormatElapsed(std::uint32_t d) {
  if (d > 60000) return Format(u"%.3f minutes\r\n", d / 60000.0);
  if (d > 1000) return Format(u"%.3f seconds\r\n", d / 1000.0);
  return Format(u"%.3f ms\r\n", static_cast<double>(d));
}

namespace {

// Copies the character set and error count of the chain's first decoder and
// first encoder into the record; fields without such a filter stay as they
// were.
void RecordCodecs(const CFilterChain& chain, StatusRecord* record) {
  bool haveDecoder = false;
  bool haveEncoder = false;
  for (CFilter* f = chain.First(); f && !(haveDecoder && haveEncoder); f = f->NextFilter()) {
    if (auto* decoder = dynamic_cast<CCharDecoderFilter*>(f); decoder && !haveDecoder) {
      record->decoderErrors = decoder->errorCount();
      record->decoderCharset = decoder->GetCharset();
      haveDecoder = true;
    } else if (auto* encoder = dynamic_cast<CCharEncoderFilter*>(f); encoder && !haveEncoder) {
      record->encoderErrors = encoder->errorCount();
      record->encoderCharset = encoder->GetCharset();
      haveEncoder = true;
    }
  }
}

}  // namespace

bool RunConversion(CFile& input) {
  CFilterChain& chain = GetFilterChain();
  // Opens the status channel on the first conversion; a conversion without
  // a shared record fills a local one and publishes nothing.
  StatusRecord* record = SelectStatusRecord();

  record->startTime = platform::GetSystemTimeAsFileTime();
  record->processedOffset = 0;
  std::uint64_t size = 0;
  if (!platform::GetFileSize(input.handle(), &size)) input.SetLastError(platform::LastError());
  record->totalSize = size;
  SetStatusState(record, kStatusOpened);
  // The record holds at most 259 code units and a terminator; longer paths
  // are refused before they get here, and the copy is bounded regardless.
  const std::u16string& path = input.path();
  std::size_t n = path.size() < kStatusPathLength - 1 ? path.size() : kStatusPathLength - 1;
  for (std::size_t k = 0; k < n; ++k) record->inputPath[k] = path[k];
  record->inputPath[n] = 0;

  CBuffer chunk;
  const std::uint32_t startTick = platform::GetTickCount();
  LogMessage(1, 0, u"%s\r\n", path);

  bool result = true;
  for (;;) {
    std::uint64_t position = 0;
    if (!platform::SetFilePointer(input.handle(), 0, 1, &position)) {
      input.SetLastError(platform::LastError());
      position = 0;
    }
    record->processedOffset = position;
    SetStatusState(record, kStatusConverting);
    chunk.Clear();
    std::uint32_t count = input.Read(chunk);
    if (!chunk.empty()) result = chain.Process(chunk, position);
    if (count == 0) break;
  }

  chain.Flush();
  chain.Finish();
  RecordCodecs(chain, record);
  chain.Reset();

  const std::uint32_t endTick = platform::GetTickCount();
  record->endTime = platform::GetSystemTimeAsFileTime();
  if (CsvReport* report = GetCsvReport()) report->WriteLine(*record);
  // Last: a reader that sees "done" sees the finished record whole, and on
  // another process's channel the record is the consumer's from now on.
  SetStatusState(record, kStatusDone);
  LogResourceMessage(2, 0, 107, FormatElapsed(endTick - startTick));
  return result;
}

}  // namespace ordana
