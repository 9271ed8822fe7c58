#pragma once
// printf-style formatting over UTF-16 text, the same on every platform.
//
// Supported: %s (UTF-16 text), %S (narrow text), %c (one code unit), %d,
// %i, %u, %x, %X, %f, %% with the flags '-', '0', '#', a width, a precision
// and the length prefixes l, ll, h and I64. Arguments are passed by type, so
// a mismatch between a specifier and its argument degrades (a number is
// printed as text, text as a number is skipped) instead of reading random
// memory. User text must only ever be an argument, never the format.

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace ordana {

struct FormatArg {
  enum class Type { kSigned, kUnsigned, kDouble, kText16, kText8 };
  Type type;
  union {
    std::int64_t i;
    std::uint64_t u;
    double d;
    const char16_t* text16;
    const char* text8;
  };

  template <class T,
            std::enable_if_t<
                std::is_integral_v<T> && std::is_signed_v<T> && !std::is_same_v<T, char>, int> = 0>
  FormatArg(T value) : type(Type::kSigned), i(value) {}
  template <class T,
            std::enable_if_t<
                std::is_integral_v<T> && !std::is_signed_v<T> && !std::is_same_v<T, bool>, int> = 0>
  FormatArg(T value) : type(Type::kUnsigned), u(value) {}
  FormatArg(bool value) : type(Type::kSigned), i(value ? 1 : 0) {}
  FormatArg(double value) : type(Type::kDouble), d(value) {}
  FormatArg(const char16_t* value) : type(Type::kText16), text16(value) {}
  FormatArg(const char* value) : type(Type::kText8), text8(value) {}
  FormatArg(const std::u16string& value) : type(Type::kText16), text16(value.c_str()) {}
};

// Appends the formatted text to `out`.
void FormatTo(std::u16string& out, const char16_t* format, const FormatArg* args,
              std::size_t count);

template <class... Args>
std::u16string Format(const char16_t* format, const Args&... args) {
  std::u16string out;
  if constexpr (sizeof...(Args) == 0) {
    FormatTo(out, format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    FormatTo(out, format, list, sizeof...(Args));
  }
  return out;
}

// Length of a zero-terminated UTF-16 text.
std::size_t TextLength(const char16_t* text);
// Case-insensitive comparison of two UTF-16 texts; only ASCII letters fold,
// which is what the option words and device names need.
bool EqualsIgnoreCase(const char16_t* a, const char16_t* b);
bool StartsWithIgnoreCase(const char16_t* text, const char16_t* prefix);
char16_t ToUpperAscii(char16_t c);

}  // namespace ordana
