#include "core/Format.h"

#include <cstdio>

namespace ordana {

namespace {

struct Spec {
  bool left = false;
  bool zero = false;
  bool alternate = false;
  bool plus = false;
  bool space = false;
  int width = 0;
  int precision = -1;
  bool wide64 = false;
};

void Pad(std::u16string& out, int count, char16_t c) {
  for (int k = 0; k < count; ++k) out += c;
}

// Writes `body` (already converted) with the width, flags and an optional
// sign or prefix that zero padding goes behind.
void Emit(std::u16string& out, const Spec& spec, const std::u16string& prefix,
          const std::u16string& body, bool numeric) {
  int length = static_cast<int>(prefix.size() + body.size());
  int fill = spec.width > length ? spec.width - length : 0;
  if (spec.left) {
    out += prefix;
    out += body;
    Pad(out, fill, u' ');
  } else if (spec.zero && numeric) {
    out += prefix;
    Pad(out, fill, u'0');
    out += body;
  } else {
    Pad(out, fill, u' ');
    out += prefix;
    out += body;
  }
}

std::u16string Digits(std::uint64_t value, unsigned base, bool upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char16_t buffer[32];
  int n = 0;
  do {
    buffer[n++] = static_cast<char16_t>(set[value % base]);
    value /= base;
  } while (value != 0);
  std::u16string text;
  while (n > 0) text += buffer[--n];
  return text;
}

void EmitInteger(std::u16string& out, const Spec& spec, char16_t conversion, const FormatArg& arg) {
  std::uint64_t raw =
      arg.type == FormatArg::Type::kDouble ? static_cast<std::uint64_t>(arg.d) : arg.u;
  bool negative = false;
  std::uint64_t magnitude;
  if (conversion == u'd' || conversion == u'i') {
    std::int64_t value = spec.wide64 ? static_cast<std::int64_t>(raw)
                                     : static_cast<std::int64_t>(static_cast<std::int32_t>(raw));
    negative = value < 0;
    magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  } else {
    magnitude = spec.wide64 ? raw : static_cast<std::uint32_t>(raw);
  }
  unsigned base = (conversion == u'x' || conversion == u'X') ? 16 : 10;
  std::u16string body = Digits(magnitude, base, conversion == u'X');
  if (spec.precision >= 0) {
    if (spec.precision == 0 && magnitude == 0) body.clear();
    while (static_cast<int>(body.size()) < spec.precision) body.insert(body.begin(), u'0');
  }
  std::u16string prefix;
  if (negative) {
    prefix = u"-";
  } else if (conversion == u'd' || conversion == u'i') {
    if (spec.plus)
      prefix = u"+";
    else if (spec.space)
      prefix = u" ";
  }
  if (spec.alternate && base == 16 && magnitude != 0) prefix = conversion == u'X' ? u"0X" : u"0x";
  Spec padded = spec;
  if (spec.precision >= 0) padded.zero = false;  // as in C, a precision disables '0'
  Emit(out, padded, prefix, body, true);
}

void EmitDouble(std::u16string& out, const Spec& spec, const FormatArg& arg) {
  double value = arg.type == FormatArg::Type::kDouble   ? arg.d
                 : arg.type == FormatArg::Type::kSigned ? static_cast<double>(arg.i)
                                                        : static_cast<double>(arg.u);
  char narrow[400];
  int precision = spec.precision < 0 ? 6 : (spec.precision > 60 ? 60 : spec.precision);
  std::snprintf(narrow, sizeof narrow, "%.*f", precision, value);
  std::u16string body;
  std::u16string prefix;
  const char* p = narrow;
  if (*p == '-') {
    prefix = u"-";
    ++p;
  } else if (spec.plus) {
    prefix = u"+";
  }
  for (; *p; ++p) body += static_cast<char16_t>(static_cast<unsigned char>(*p));
  Emit(out, spec, prefix, body, true);
}

void EmitText(std::u16string& out, const Spec& spec, const FormatArg& arg) {
  std::u16string body;
  std::size_t limit = spec.precision < 0 ? SIZE_MAX : static_cast<std::size_t>(spec.precision);
  if (arg.type == FormatArg::Type::kText16) {
    const char16_t* s = arg.text16 ? arg.text16 : u"(null)";
    for (std::size_t k = 0; s[k] && k < limit; ++k) body += s[k];
  } else if (arg.type == FormatArg::Type::kText8) {
    // Narrow text is ASCII in every use; other bytes are widened one by one.
    const char* s = arg.text8 ? arg.text8 : "(null)";
    for (std::size_t k = 0; s[k] && k < limit; ++k) {
      body += static_cast<char16_t>(static_cast<unsigned char>(s[k]));
    }
  } else {
    Spec number = spec;
    number.precision = -1;
    EmitInteger(out, number, arg.type == FormatArg::Type::kUnsigned ? u'u' : u'd', arg);
    return;
  }
  Emit(out, spec, u"", body, false);
}

// Reads the flags, width, precision and length of a conversion starting at
// `p` (just behind the '%') and returns where the conversion character is.
const char16_t* ParseSpec(const char16_t* p, Spec& spec) {
  for (;; ++p) {
    if (*p == u'-')
      spec.left = true;
    else if (*p == u'0')
      spec.zero = true;
    else if (*p == u'#')
      spec.alternate = true;
    else if (*p == u'+')
      spec.plus = true;
    else if (*p == u' ')
      spec.space = true;
    else
      break;
  }
  while (*p >= u'0' && *p <= u'9') {
    if (spec.width < 10000) spec.width = spec.width * 10 + (*p - u'0');
    ++p;
  }
  if (*p == u'.') {
    ++p;
    spec.precision = 0;
    while (*p >= u'0' && *p <= u'9') {
      if (spec.precision < 10000) spec.precision = spec.precision * 10 + (*p - u'0');
      ++p;
    }
  }
  if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
    spec.wide64 = true;
    p += 3;
  } else if (p[0] == u'l' && p[1] == u'l') {
    spec.wide64 = true;
    p += 2;
  } else if (*p == u'l' || *p == u'h' || *p == u'w') {
    ++p;
  }
  return p;
}

bool IsText(const FormatArg& arg) {
  return arg.type == FormatArg::Type::kText16 || arg.type == FormatArg::Type::kText8;
}

// Writes one argument by its conversion; false for a conversion this
// formatter does not know, which then uses no argument.
bool EmitConversion(std::u16string& out, const Spec& spec, char16_t conversion,
                    const FormatArg& arg) {
  switch (conversion) {
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
      if (IsText(arg)) {
        EmitText(out, spec, arg);
      } else {
        EmitInteger(out, spec, conversion, arg);
      }
      return true;
    case u'f':
      if (IsText(arg)) {
        EmitText(out, spec, arg);
      } else {
        EmitDouble(out, spec, arg);
      }
      return true;
    case u'c':
      if (arg.type == FormatArg::Type::kSigned || arg.type == FormatArg::Type::kUnsigned) {
        std::u16string unit(1, static_cast<char16_t>(arg.u & 0xFFFF));
        Emit(out, spec, u"", unit, false);
      } else {
        EmitText(out, spec, arg);
      }
      return true;
    case u's':
    case u'S':
      EmitText(out, spec, arg);
      return true;
    default:
      return false;
  }
}

}  // namespace

void FormatTo(std::u16string& out, const char16_t* format, const FormatArg* args,
              std::size_t count) {
  std::size_t next = 0;
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%') {
      out += *p;
      continue;
    }
    const char16_t* start = p;
    ++p;
    if (*p == u'%') {
      out += u'%';
      continue;
    }
    Spec spec;
    p = ParseSpec(p, spec);
    char16_t conversion = *p;
    if (conversion == 0) {
      // A format that ends inside a specifier prints it as written.
      out.append(start, p);
      break;
    }
    if (next >= count) continue;  // a missing argument prints nothing
    if (EmitConversion(out, spec, conversion, args[next])) {
      ++next;
    } else {
      // Unknown conversions print as written and use no argument.
      out.append(start, p + 1);
    }
  }
}

std::size_t TextLength(const char16_t* text) {
  std::size_t n = 0;
  while (text[n]) ++n;
  return n;
}

char16_t ToUpperAscii(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool EqualsIgnoreCase(const char16_t* a, const char16_t* b) {
  for (; *a && *b; ++a, ++b) {
    if (ToUpperAscii(*a) != ToUpperAscii(*b)) return false;
  }
  return *a == *b;
}

bool StartsWithIgnoreCase(const char16_t* text, const char16_t* prefix) {
  for (; *prefix; ++text, ++prefix) {
    if (*text == 0 || ToUpperAscii(*text) != ToUpperAscii(*prefix)) return false;
  }
  return true;
}

}  // namespace ordana
