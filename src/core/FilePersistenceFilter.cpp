#include "core/FilePersistenceFilter.h"

#include "core/MessageLog.h"
#include "core/StringTable.h"

namespace ordana {

CFilePersistenceFilter::CFilePersistenceFilter() : CFilter(kCategoryPersistence) {
  name_ = u"File Persistence Filter";
  typeId_ = kFilterTypeFilePersistence;
}

CFilePersistenceFilter::~CFilePersistenceFilter() { stream_.Close(); }

void CFilePersistenceFilter::WriteOut(const CBuffer& data) {
  std::uint32_t written = stream_.Write(data);
  if (written != data.length() && writeError_ == 0) {
    writeError_ = stream_.lastError() != 0 ? stream_.lastError() : 1;
  }
}

bool CFilePersistenceFilter::Process(CBuffer& input) {
  if (!enabled_ || !pending_.empty()) return CFilter::Process(input);
  // Nothing is waiting: the input goes to the stream as it is, without a
  // copy through the pending input.
  LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceFilter, input.length(),
                     GetName(), 1);
  WriteOut(input);
  input.Clear();
  return true;
}

std::int32_t CFilePersistenceFilter::Filter() {
  WriteOut(pending_);
  pending_.Clear();
  return 1;
}

bool CFilePersistenceFilter::Flush(CBuffer& target) {
  // Pending input that could not be put in front of the target is lost:
  // the flush says so.
  const bool flushed = CFilter::Flush(target);
  WriteOut(target);
  target.Clear();
  return flushed;
}

bool CFilePersistenceFilter::Reset() {
  if (keepOpen_) return true;
  CFilter::Reset();
  // Data that never reached the disk is as lost as a failed write.
  stream_.Close(true);
  if (stream_.lastError() != 0 && writeError_ == 0) writeError_ = stream_.lastError();
  stream_.ClearError();
  return true;
}

}  // namespace ordana
