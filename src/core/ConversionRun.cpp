#include "core/ConversionRun.h"

#include "app/CsvReport.h"
#include "app/MessageLog.h"
#include "app/StatusChannel.h"
#include "app/StatusRecord.h"
#include "app/StringTable.h"
#include "codecs/CodecBase.h"
#include "core/Buffer.h"
#include "core/File.h"
#include "core/FilePersistenceFilter.h"
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

// The chain's output stage, whose write errors end the reading.
const CFilePersistenceFilter* FindPersistence(const CFilterChain& chain) {
  for (CFilter* f = chain.First(); f; f = f->NextFilter()) {
    if (auto* persistence = dynamic_cast<CFilePersistenceFilter*>(f)) return persistence;
  }
  return nullptr;
}

}  // namespace

bool RunConversion(CFile& input, ConversionOutcome* outcome) {
  ConversionOutcome local;
  if (!outcome) outcome = &local;
  *outcome = ConversionOutcome();
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

  const CFilePersistenceFilter* persistence = FindPersistence(chain);
  bool result = true;
  for (;;) {
    // The offset of the chunk is what was read so far: a pipe or a device
    // has no file position to ask for.
    const std::uint64_t position = outcome->bytesRead;
    record->processedOffset = position;
    SetStatusState(record, kStatusConverting);
    chunk.Clear();
    input.SetLastError(0);
    const std::uint32_t count = input.Read(chunk);
    outcome->bytesRead += count;
    if (!chunk.empty() && !chain.Process(chunk, position)) {
      result = false;
      outcome->chainError = true;
    }
    if (count == 0) {
      // A failed read is not the end of the input.
      outcome->readError = input.lastError();
      break;
    }
    if (persistence && persistence->writeError() != 0) {
      outcome->outputFailed = true;
      break;
    }
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
  // The elapsed time is the program's own text with its line end: written
  // as it is, not escaped like a path.
  if (GetMessageLog() && GetMessageLog()->Enabled(2)) {
    if (const char16_t* format = LoadResourceString(107)) {
      LogOwnText(2, 0, Format(format, FormatElapsed(endTick - startTick)).c_str());
    }
  }
  if (persistence && persistence->writeError() != 0) outcome->outputFailed = true;
  return result && outcome->readError == 0 && !outcome->outputFailed;
}

}  // namespace ordana
