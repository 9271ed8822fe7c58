#include "transforms/XmlFilter.h"

#include <algorithm>
#include <cstring>

#include "codecs/CodecBase.h"
#include "transforms/TransformSupport.h"

namespace ordana {

namespace {

constexpr char16_t kLess = u'<';
constexpr char16_t kGreater = u'>';
constexpr char16_t kEquals = u'=';
constexpr char16_t kApostrophe = u'\'';
constexpr char16_t kQuotationMark = u'"';
constexpr char16_t kSpace = u' ';

using DeclarationState = CXmlFilter::DeclarationState;
using Quote = CXmlFilter::Quote;
constexpr std::uint32_t kNameCapacity = CXmlFilter::kNameCapacity;
// "=", the quote and the name fill at most this many of 100 units, the last
// one being a terminator.
constexpr std::uint32_t kMaxReplacedNameLength = kNameCapacity - 3;

bool IsWhiteSpace(char16_t unit) {
  return unit == u'\t' || unit == kLineFeed || unit == kCarriageReturn || unit == kSpace;
}

char16_t FoldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
}

// The four units at `p` are "?xml", in any case.
bool IsXmlTarget(const std::uint8_t* p) {
  return UnitAt(p) == u'?' && FoldAscii(UnitAt(p + 2)) == u'x' &&
         FoldAscii(UnitAt(p + 4)) == u'm' && FoldAscii(UnitAt(p + 6)) == u'l';
}

bool NameIsEncoding(const DeclarationState& s) {
  static const char16_t kEncoding[] = u"encoding";
  if (s.nameLength != 8) return false;
  for (std::uint32_t k = 0; k < 8; ++k) {
    if (FoldAscii(s.name[k]) != kEncoding[k]) return false;
  }
  return true;
}

void ClearName(DeclarationState& s) {
  s.nameLength = 0;
  s.name[0] = 0;
}

// Names longer than 99 units are cut (and then never equal "encoding").
void Collect(DeclarationState& s, char16_t unit) {
  if (s.nameLength < kNameCapacity - 1) {
    s.name[s.nameLength++] = unit;
    s.name[s.nameLength] = 0;
  }
}

// The closing quote of an attribute value in a declaration: the value of
// "encoding" ends, and its replacement is due.
void CloseQuote(DeclarationState& s) {
  s.quote = Quote::kNone;
  ClearName(s);
  if (s.suppressing) {
    s.emitPending = true;
    s.suppressing = false;
  }
}

// One unit inside a declaration: collects the attribute names, follows the
// quotes and starts dropping the value of "encoding" at its equals sign.
// White space outside quotes becomes a SPACE in `ch`; false when it
// collapses into the white space before it and is dropped.
bool ScanDeclarationUnit(DeclarationState& s, char16_t& ch) {
  if (s.skip > 0) {
    --s.skip;
  } else if (IsWhiteSpace(ch)) {
    if (s.quote == Quote::kNone) {
      ch = kSpace;
      if (IsWhiteSpace(s.previous)) return false;
    } else {
      Collect(s, ch);
    }
  } else if (ch == kApostrophe || ch == kQuotationMark) {
    const Quote kind = ch == kApostrophe ? Quote::kSingle : Quote::kDouble;
    if (s.quote == Quote::kNone) {
      s.quote = kind;
    } else if (s.quote != kind) {
      Collect(s, ch);
    } else {
      CloseQuote(s);
    }
  } else if (ch == kEquals && s.quote == Quote::kNone) {
    const bool isEncoding = NameIsEncoding(s);
    ClearName(s);
    if (isEncoding) s.suppressing = true;
  } else {
    Collect(s, ch);
  }
  return true;
}

// A '<' at `at`, with `r` units from it to the end of the input: what was
// open ends, and "<?xml" with white space behind it starts a declaration.
void StartAtLess(DeclarationState& s, const std::uint8_t* at, std::uint32_t r) {
  s.quote = Quote::kNone;
  ClearName(s);
  if (r >= 6 && IsXmlTarget(at + 2) && IsWhiteSpace(UnitAt(at + 10))) {
    s.inDeclaration = true;
    s.skip = 5;
  }
}

// A '>': the declaration ends, and with it any quote and dropped value.
void EndAtGreater(DeclarationState& s) {
  s.inDeclaration = false;
  s.quote = Quote::kNone;
  s.suppressing = false;
  s.previous = kGreater;
}

// Outside a declaration only a '<' changes anything (a '>' there resets a
// quote state and a suppression that are already off): copies the `units`
// units at `from` up to the first '<', as far as the output takes them, and
// returns how many. The caller has reserved room for one unit and the unit
// at `from` is no '<', so at least one unit is copied.
std::uint32_t CopyOutsideDeclaration(OutputCursor& out, const std::uint8_t* from,
                                     std::uint32_t units) {
  const std::uint32_t room = out.Available() / 2;
  const std::uint32_t run = CopyUntilUnit(from, std::min(units, room), out.Next(), kLess);
  out.Advance(2 * run);
  return run;
}

// The new value: "=" and the closing quote `quote`, then the destination's
// name (cut to what the declaration holds); the quote itself follows as the
// unit being scanned.
void PutReplacedValue(OutputCursor& out, char16_t quote, const char16_t* name) {
  const char16_t lead[2] = {kEquals, quote};
  PutUnits(out, lead, 2);
  std::uint32_t length = 0;
  while (length < kMaxReplacedNameLength && name[length] != 0) ++length;
  PutUnits(out, name, length);
}

// Copies the bytes of `p` from `at` up to `total` unexamined, as far as the
// output takes them, an odd last byte included; returns where it stopped.
std::uint32_t CopyUntouched(OutputCursor& out, const std::uint8_t* p, std::uint32_t at,
                            std::uint32_t total) {
  while (at < total && out.Reserve(2)) {
    const std::uint32_t run = std::min(total - at, out.Available());
    std::memcpy(out.Next(), p + at, run);
    out.Advance(run);
    at += run;
  }
  return at;
}

}  // namespace

CXmlFilter::CXmlFilter(const char16_t* destinationName)
    : CFilter(kCategoryTransform), destinationName_(destinationName ? destinationName : u"") {
  name_ = u"XML Processing Instruction Modification Filter";
  typeId_ = kFilterTypeXml;
}

std::int32_t CXmlFilter::Filter() {
  Transform(false);
  return 0;
}

void CXmlFilter::Transform(bool endOfInput) {
  DeclarationState& s = state_;
  const std::uint8_t* const p = pending_.base();
  const std::uint32_t n = pending_.length() / 2;
  std::uint32_t d = 0;
  OutputCursor out(*this);
  while (d < n) {
    if (!out.Reserve(2)) break;
    char16_t ch = UnitAt(p + 2 * d);
    if (!s.inDeclaration && ch != kLess) {
      d += CopyOutsideDeclaration(out, p + 2 * d, n - d);
      s.previous = UnitAt(p + 2 * d - 2);
      continue;
    }
    const std::uint32_t r = n - d;  // units from this one to the end, this one included
    // Whether a '<' starts a declaration depends on the five units behind
    // it. Until they are all here, it waits for the next chunk, so that a
    // declaration start cut by a chunk end is still recognised.
    if (ch == kLess && !endOfInput && (r < 5 || (r == 5 && IsXmlTarget(p + 2 * d + 2)))) break;

    if (s.inDeclaration && !ScanDeclarationUnit(s, ch)) {
      ++d;  // collapsed into the white space before it
      continue;
    }

    if (s.emitPending) {
      PutReplacedValue(out, ch, destinationName_);
      replaced_ = true;
      s.emitPending = false;
    }

    if (ch == kLess) {
      StartAtLess(s, p + 2 * d, r);
    } else if (ch == kGreater) {
      EndAtGreater(s);
      PutUnit(out, kGreater);
      ++d;
      if (replaced_) {
        // The rewritten declaration is complete: the rest of the input
        // passes untouched, an odd last byte included, exactly as the
        // following chunks will pass the switched-off filter.
        Disable();
        pending_.Discard(CopyUntouched(out, p, 2 * d, pending_.length()));
        return;
      }
      continue;
    }

    if (!s.suppressing) PutUnit(out, ch);
    s.previous = ch;
    ++d;
  }
  pending_.Discard(2 * d);
}

bool CXmlFilter::Flush(CBuffer& target) {
  const bool result = CFilter::Flush(target);
  // The end of the input: a '<' held back for the units behind it is
  // written as the text it is.
  if (&target == &pending_ && pending_.length() >= 2 && IsEnabled()) {
    Transform(true);
    if (!output_.empty()) Forward(output_);
  }
  return result;
}

bool CXmlFilter::Reset() {
  CFilter::Reset();
  state_ = DeclarationState();
  replaced_ = false;
  Enable();
  return true;
}

}  // namespace ordana
