#pragma once
// CXmlFilter: rewrites the value of the "encoding" attribute of an XML
// declaration (`<?xml ... encoding="..." ...?>`) to the destination
// character set's name, keeping the quote character, and passes all other
// text through.
//
// The scan is unit by unit over a declaration state that belongs to the
// filter and to one input: Reset clears it, so each input is converted as if
// it were the only one (a declaration still open where an input ends ends
// with it). Inside a declaration white space outside quoted values collapses
// to one SPACE, and the old value (from the equals sign to its closing
// quote) is dropped and replaced by "=" quote name.
//
// Once a declaration's encoding has been rewritten, the filter finishes that
// declaration (up to its '>') and then switches itself off for the rest of
// the input; Reset switches it on again. Finishing the declaration first
// makes the result independent of where the chunks end.
//
// A '<' is held back while the units behind it cannot yet tell whether it
// starts a declaration ("?xml" and one white-space unit); at the end of the
// input the held text is written as it is.

#include <cstdint>

#include "core/Filter.h"

namespace ordana {

class CXmlFilter : public CFilter {
 public:
  // `destinationName` is not copied: it must live as long as the filter.
  explicit CXmlFilter(const char16_t* destinationName);
  std::int32_t Filter() override;
  bool Flush(CBuffer& target) override;
  bool Reset() override;

  enum class Quote { kNone, kDouble, kSingle };
  static constexpr std::uint32_t kNameCapacity = 100;  // 99 units and the terminator

  // Where the scan of the current input stands.
  struct DeclarationState {
    Quote quote = Quote::kNone;
    char16_t previous = 0;  // the last unit that was not dropped
    char16_t name[kNameCapacity] = {};
    std::uint32_t nameLength = 0;
    bool inDeclaration = false;
    std::int32_t skip = 0;  // units still to copy unexamined after "<?xml"
    bool suppressing = false;
    bool emitPending = false;
  };

 private:
  void Transform(bool endOfInput);

  const char16_t* destinationName_;
  DeclarationState state_;
  // The encoding of the current declaration has been rewritten; the filter
  // switches itself off at the declaration's '>'.
  bool replaced_ = false;
};

}  // namespace ordana
