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
      // Outside a declaration only a '<' changes anything: a '>' there
      // resets a quote state and a suppression that are already off.
      // Invariant: room >= 1 after Reserve(2) and ch is no '<', so the run
      // copies at least one unit.
      const std::uint32_t room = out.Available() / 2;
      const std::uint32_t run = CopyUntilUnit(p + 2 * d, std::min(n - d, room), out.Next(), kLess);
      out.Advance(2 * run);
      d += run;
      s.previous = UnitAt(p + 2 * d - 2);
      continue;
    }
    const std::uint32_t r = n - d;  // units from this one to the end, this one included
    // Whether a '<' starts a declaration depends on the five units behind
    // it. Until they are all here, it waits for the next chunk, so that a
    // declaration start cut by a chunk end is still recognised.
    if (ch == kLess && !endOfInput && (r < 5 || (r == 5 && IsXmlTarget(p + 2 * d + 2)))) break;

    if (s.inDeclaration) {
      if (s.skip > 0) {
        --s.skip;
      } else if (IsWhiteSpace(ch)) {
        if (s.quote == Quote::kNone) {
          ch = kSpace;
          if (IsWhiteSpace(s.previous)) {
            ++d;  // collapsed into the white space before it
            continue;
          }
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
          s.quote = Quote::kNone;
          ClearName(s);
          if (s.suppressing) {
            s.emitPending = true;
            s.suppressing = false;
          }
        }
      } else if (ch == kEquals && s.quote == Quote::kNone) {
        const bool isEncoding = NameIsEncoding(s);
        ClearName(s);
        if (isEncoding) s.suppressing = true;
      } else {
        Collect(s, ch);
      }
    }

    if (s.emitPending) {
      // "=" and the closing quote; the quote itself follows as ch below.
      const char16_t lead[2] = {kEquals, ch};
      PutUnits(out, lead, 2);
      std::uint32_t length = 0;
      while (length < kMaxReplacedNameLength && destinationName_[length] != 0) ++length;
      PutUnits(out, destinationName_, length);
      replaced_ = true;
      s.emitPending = false;
    }

    if (ch == kLess) {
      s.quote = Quote::kNone;
      ClearName(s);
      if (r >= 6 && IsXmlTarget(p + 2 * d + 2) && IsWhiteSpace(UnitAt(p + 2 * d + 10))) {
        s.inDeclaration = true;
        s.skip = 5;
      }
    } else if (ch == kGreater) {
      s.inDeclaration = false;
      s.quote = Quote::kNone;
      s.suppressing = false;
      PutUnit(out, kGreater);
      s.previous = kGreater;
      ++d;
      if (replaced_) {
        // The rewritten declaration is complete: the rest of the input
        // passes untouched, an odd last byte included, exactly as the
        // following chunks will pass the switched-off filter.
        Disable();
        std::uint32_t at = 2 * d;
        const std::uint32_t total = pending_.length();
        while (at < total && out.Reserve(2)) {
          const std::uint32_t run = std::min(total - at, out.Available());
          std::memcpy(out.Next(), p + at, run);
          out.Advance(run);
          at += run;
        }
        pending_.Discard(at);
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
