#pragma once
// CXmlFilter: rewrites the value of the "encoding" attribute of an XML
// declaration (`<?xml ... encoding="..." ...?>`) to the destination
// character set's name, keeping the quote character, and passes all other
// text through.
//
// The scan is unit by unit over a declaration state that every XML filter
// shares and that outlives an input: a declaration still open at the end of
// one input goes on in the next. Inside a declaration white space outside
// quoted values collapses to one SPACE, and the old value (from the equals
// sign to its closing quote) is dropped and replaced by "=" quote name.
//
// Once a declaration's encoding has been rewritten, the filter finishes that
// declaration (up to its '>') and then switches itself off for the rest of
// the input; Reset switches it on again. Finishing the declaration first
// makes the result independent of where the chunks end, and leaves no half
// declaration in the shared state.
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

  // Back to the state at program start. The program never calls it (the
  // state carries from input to input); tests and fuzz targets start each
  // case from a clean state with it.
  static void ResetDeclarationState();

 private:
  void Transform(bool endOfInput);

  const char16_t* destinationName_;
  // The encoding of the current declaration has been rewritten; the filter
  // switches itself off at the declaration's '>'.
  bool replaced_ = false;
};

}  // namespace ordana
