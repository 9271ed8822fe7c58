#pragma once
// CFilter, the stage of the conversion pipeline, and CFilterChain.
//
// The contract of a filter:
// - Process(input) takes all of `input` (and empties it), appends it to the
//   pending input, runs one transform step (Filter) and forwards what it
//   produced to the next filter, depth first: when the first filter's
//   Process returns, everything that could be converted has reached the end
//   of the chain.
// - Filter() consumes bytes from the front of the pending input, leaves an
//   incomplete tail there, and appends output to the output buffer. It
//   returns -1 when it did not handle the data (then the pending input is
//   forwarded unchanged), anything else when it did.
// - Output grows by at most what one step writes; a filter forwards its
//   output as soon as it reaches the commit size (2 MiB), and before any
//   write that would not fit in the rest of the 4 MiB reservation
//   (EnsureOutputRoom), so no buffer ever overflows.
// - Flush(target) puts the pending input in front of target; Finish()
//   closes a conversion; Reset() returns the filter to its starting state
//   for the next input.

#include <cstdint>

#include "core/Buffer.h"
#include "core/LinkedList.h"

namespace ordana {

enum FilterTypeId : std::uint32_t {
  kFilterTypeNul = 0,
  kFilterTypeSingleToUtf16 = 2,
  kFilterTypeUtf16ToSingle = 3,
  kFilterTypeFilePersistence = 4,
  kFilterTypeUtf8ToUtf16 = 10,
  kFilterTypeUtf16ToUtf8 = 11,
  kFilterTypeUtf16 = 14,
  kFilterTypeUtf32 = 16,
  kFilterTypeLineTransform = 40,
  kFilterTypeXml = 41,
  kFilterTypeHtmlEntityEncode = 43,
  kFilterTypeHtmlEntityDecode = 44,
  kFilterTypeAutoDetection = 1000,
};

enum FilterCategory : std::uint32_t {
  kCategoryNul = 0,
  kCategoryAutoDetection = 1,
  kCategoryDecoder = 2,
  kCategoryEncoder = 4,
  kCategoryPersistence = 8,
  kCategoryTransform = 16,
};

class CFilter : public CLinkedListNode<int> {
 public:
  explicit CFilter(std::uint32_t category);
  ~CFilter() override;

  [[nodiscard]] virtual bool Process(CBuffer& input);
  virtual bool Forward(CBuffer& data);
  [[nodiscard]] virtual bool Flush(CBuffer& target);
  virtual std::int32_t Filter();
  [[nodiscard]] virtual bool Finish();
  virtual const char16_t* GetName() const;
  virtual std::uint32_t GetType() const;
  virtual bool Reset();
  virtual void Enable();
  virtual void Disable();
  virtual bool IsEnabled() const;

  CFilter* NextFilter() const { return static_cast<CFilter*>(GetNext()); }

  CBuffer& output() { return output_; }
  CBuffer& pending() { return pending_; }
  std::uint32_t errorCount() const { return errorCount_; }
  std::uint32_t category() const { return category_; }
  std::uint64_t streamOffset() const { return streamOffset_; }
  void SetStreamOffset(std::uint64_t offset) { streamOffset_ = offset; }

  // Makes room for `size` more output bytes, forwarding the output first when
  // they would not fit behind it. False when there is still no room (there is
  // no next filter to take the output).
  [[nodiscard]] bool EnsureOutputRoom(std::uint32_t size);
  // Forwards the output once it has reached the commit size.
  void ForwardIfFull();

 protected:
  CBuffer output_;
  CBuffer pending_;
  const char16_t* name_ = nullptr;
  std::uint32_t typeId_ = 0;
  std::uint32_t errorCount_ = 0;
  std::uint32_t category_;
  std::uint64_t streamOffset_ = 0;
  bool enabled_ = true;
};

// Passes everything through; holds the place where the detected decoder goes.
class CNulFilter : public CFilter {
 public:
  CNulFilter();
};

class CFilterChain : public CLinkedList<int> {
 public:
  CFilterChain() : CLinkedList<int>(true) {}
  ~CFilterChain() override;

  [[nodiscard]] virtual bool Process(CBuffer& input, std::uint64_t streamOffset);
  [[nodiscard]] virtual bool Flush();
  virtual bool Reset();
  [[nodiscard]] virtual bool Finish();

  CFilter* First() const { return static_cast<CFilter*>(head()); }
};

}  // namespace ordana
