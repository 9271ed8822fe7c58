#include "core/Filter.h"

#include "core/MessageLog.h"
#include "core/StringTable.h"

namespace ordana {

CFilter::CFilter(std::uint32_t category) : category_(category) {}

CFilter::~CFilter() = default;

namespace {

// A disabled filter with nothing of its own passes the input straight on;
// copying it through the pending input first would change nothing.
void PassStraightOn(CFilter& filter, CBuffer& input) {
  LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceFilter, input.length(),
                     filter.GetName(), 0);
  LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceDisabled,
                     filter.GetName());
  if (!input.empty()) {
    LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceSkipped, input.length());
    filter.Forward(input);
  }
  input.Clear();
}

}  // namespace

bool CFilter::Process(CBuffer& input) {
  if (!enabled_ && pending_.empty() && output_.empty() && NextFilter()) {
    PassStraightOn(*this, input);
    return true;
  }
  // The input normally fits the pending buffer at once. When it does not
  // (a filter that cannot pass its data on keeps accumulating it), it is fed
  // in slices, each followed by a transform step, so nothing is ever written
  // past the reservation.
  std::uint32_t taken = 0;
  const std::uint32_t total = input.length();
  if (pending_.empty() && total > 0) {
    // Nothing waits here: the input's buffer becomes the pending input as it
    // is, and the sender gets the empty one back, instead of a copy.
    pending_.Swap(input);
    taken = total;
  }
  for (;;) {
    std::uint32_t slice = total - taken;
    if (slice > pending_.Room()) slice = pending_.Room();
    if (slice > 0) {
      // The slice fits the room left; only a page the system refuses to
      // commit fails here, and then the input cannot be taken.
      if (!pending_.Append(input.base() + taken, slice)) return false;
      taken += slice;
    }
    LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceFilter,
                       pending_.length(), GetName(), enabled_ ? 1 : 0);
    std::int32_t result;
    if (enabled_) {
      result = Filter();
    } else {
      LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceDisabled, GetName());
      result = -1;
    }
    if (!output_.empty()) Forward(output_);
    if (result == -1 && !pending_.empty()) {
      LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceSkipped,
                         pending_.length());
      Forward(pending_);
    }
    if (taken == total) break;
    if (pending_.Room() == 0) {
      // Nothing was consumed and nothing could be passed on: the rest has
      // nowhere to go.
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringFilterDroppedBytes, GetName(),
                         total - taken);
      break;
    }
  }
  input.Clear();
  return true;
}

bool CFilter::Forward(CBuffer& data) {
  CFilter* next = NextFilter();
  if (!next) return false;
  LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceForwarding, data.length(),
                     next->GetName(), enabled_ ? 1 : 0);
  return next->Process(data);
}

bool CFilter::Flush(CBuffer& target) {
  LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceFlushing, target.length(),
                     GetName());
  if (pending_.length() > 0 && &target != &pending_) {
    if (!target.Prepend(pending_.base(), pending_.length())) return false;
  }
  return true;
}

std::int32_t CFilter::Filter() { return -1; }

bool CFilter::Finish() { return true; }

const char16_t* CFilter::GetName() const { return name_ ? name_ : u""; }

std::uint32_t CFilter::GetType() const { return typeId_; }

bool CFilter::Reset() {
  output_.Clear();
  pending_.Clear();
  errorCount_ = 0;
  return true;
}

void CFilter::Enable() { enabled_ = true; }
void CFilter::Disable() { enabled_ = false; }
bool CFilter::IsEnabled() const { return enabled_; }

bool CFilter::EnsureOutputRoom(std::uint32_t size) {
  if (output_.Room() >= size) return true;
  Forward(output_);
  return output_.Room() >= size;
}

void CFilter::ForwardIfFull() {
  if (output_.length() >= output_.commitSize()) Forward(output_);
}

CNulFilter::CNulFilter() : CFilter(kCategoryNul) {
  name_ = u"NUL Filter";
  typeId_ = kFilterTypeNul;
}

CFilterChain::~CFilterChain() = default;

bool CFilterChain::Process(CBuffer& input, std::uint64_t streamOffset) {
  CFilter* first = First();
  if (!first) return true;
  first->SetStreamOffset(streamOffset);
  return first->Process(input);
}

bool CFilterChain::Flush() {
  bool result = true;
  for (CFilter* f = First(); f; f = f->NextFilter()) {
    if (f->IsEnabled()) result = f->Flush(f->pending()) && result;
  }
  return result;
}

bool CFilterChain::Reset() {
  bool result = true;
  for (CFilter* f = First(); f; f = f->NextFilter()) result = f->Reset() && result;
  return result;
}

bool CFilterChain::Finish() {
  bool result = true;
  for (CFilter* f = First(); f; f = f->NextFilter()) result = f->Finish() && result;
  return result;
}

}  // namespace ordana
