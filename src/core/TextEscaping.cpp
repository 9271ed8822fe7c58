#include "core/TextEscaping.h"

namespace ordana {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendHex(std::u16string& out, unsigned value, int digits) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

void AppendEscape(std::u16string& out, char16_t unit) {
  switch (unit) {
    case u'\t':
      out += u"\\t";
      return;
    case u'\n':
      out += u"\\n";
      return;
    case u'\r':
      out += u"\\r";
      return;
    default:
      break;
  }
  if (unit <= 0x7F) {
    out += u"\\x";
    AppendHex(out, unit, 2);
  } else {
    out += u"\\u";
    AppendHex(out, unit, 4);
  }
}

// Calls `emit(unit)` for every unit of `text`, with U+FFFD for a unit that
// cannot stand alone; a well-formed pair is emitted as its two units.
template <class Emit>
void ForEachWellFormed(const std::u16string& text, Emit emit) {
  const std::size_t n = text.size();
  for (std::size_t k = 0; k < n; ++k) {
    const char16_t unit = text[k];
    if (IsHighSurrogate(unit) && k + 1 < n && IsLowSurrogate(text[k + 1])) {
      emit(unit);
      emit(text[++k]);
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      emit(kReplacement);
    } else {
      emit(unit);
    }
  }
}

}  // namespace

bool NeedsEscape(char16_t unit) {
  if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) return true;
  switch (unit) {
    case 0x200E:
    case 0x200F:  // left-to-right and right-to-left marks
    case 0x2028:
    case 0x2029:  // line and paragraph separators
    case 0x202A:
    case 0x202B:
    case 0x202C:
    case 0x202D:
    case 0x202E:  // embeddings, overrides
    case 0x2066:
    case 0x2067:
    case 0x2068:
    case 0x2069:  // isolates
      return true;
    default:
      return false;
  }
}

std::u16string EscapeForDisplay(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachWellFormed(text, [&](char16_t unit) {
    if (NeedsEscape(unit)) {
      AppendEscape(out, unit);
    } else {
      out += unit;
    }
  });
  return out;
}

std::u16string MakeWellFormed(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachWellFormed(text, [&](char16_t unit) { out += unit; });
  return out;
}

std::u16string QuoteCsvField(const std::u16string& text, char16_t separator) {
  bool quote = false;
  for (char16_t unit : text) {
    if (NeedsEscape(unit) || unit == u'"' || unit == separator) {
      quote = true;
      break;
    }
  }
  if (!quote) return MakeWellFormed(text);
  std::u16string out = u"\"";
  ForEachWellFormed(text, [&](char16_t unit) {
    if (unit == u'"') {
      out += u"\"\"";
    } else if (unit == u'\\') {
      out += u"\\\\";
    } else if (NeedsEscape(unit)) {
      AppendEscape(out, unit);
    } else {
      out += unit;
    }
  });
  out += u'"';
  return out;
}

}  // namespace ordana
