#include "app/RunReporting.h"

#include "app/CsvReport.h"
#include "app/StatusChannel.h"
#include "app/StatusRecord.h"
#include "codecs/CodecBase.h"
#include "core/Filter.h"

namespace ordana {

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

void StatusReportingObserver::Opened(const std::u16string& path, std::uint64_t size) {
  record_ = SelectStatusRecord();
  record_->startTime = platform::GetSystemTimeAsFileTime();
  record_->processedOffset = 0;
  record_->totalSize = size;
  SetStatusState(record_, kStatusOpened);
  // The record holds at most 259 code units and a terminator; longer paths
  // are refused before they get here, and the copy is bounded regardless.
  const std::size_t n = path.size() < kStatusPathLength - 1 ? path.size() : kStatusPathLength - 1;
  for (std::size_t k = 0; k < n; ++k) record_->inputPath[k] = path[k];
  record_->inputPath[n] = 0;
}

void StatusReportingObserver::Converting(std::uint64_t offset) {
  record_->processedOffset = offset;
  SetStatusState(record_, kStatusConverting);
}

void StatusReportingObserver::ChainFinished(const CFilterChain& chain) {
  RecordCodecs(chain, record_);
}

void StatusReportingObserver::Done() {
  record_->endTime = platform::GetSystemTimeAsFileTime();
  if (CsvReport* report = GetCsvReport(); report && !report->WriteLine(*record_)) {
    // The conversion itself is done and stays; the report lost its line.
    ReportCsvWriteFailure(*report);
  }
  // Last: a reader that sees "done" sees the finished record whole, and on
  // another process's channel the record is the consumer's from now on.
  SetStatusState(record_, kStatusDone);
}

}  // namespace ordana
