#pragma once
// The named character references of HTML 4.01 (252 of them, every one a
// single unit of the Basic Multilingual Plane) and their two lookups: by
// code point for the entity encoder, by name for the entity decoder.
//
// The tables are generated (tools/gen_entity_tables.py); this header and
// HtmlEntities.cpp hold the searches.

#include <cstdint>

namespace ordana {

struct HtmlEntity {
  std::uint32_t codePoint;
  const char16_t* name;  // NUL-terminated, case-sensitive, 2 to 8 units
  std::uint32_t length;  // units in name
};

constexpr std::uint32_t kHtmlEntityCount = 252;
// The longest name ("thetasym"), and the longest reference "&thetasym;".
constexpr std::uint32_t kMaxEntityNameLength = 8;
constexpr std::uint32_t kMaxEntityReferenceLength = kMaxEntityNameLength + 2;

// Ascending code points. Rows 0..3 are the markup characters quot, amp, lt
// and gt; row 126 is Tau (U+03A4), where the lookup splits.
extern const HtmlEntity EntityByCodePoint[kHtmlEntityCount];
// The same pairs ordered by name, comparing code unit by code unit.
extern const HtmlEntity EntityByName[kHtmlEntityCount];

constexpr std::uint32_t kEntityMarkupRows = 4;
constexpr std::uint32_t kEntitySplitRow = 126;
constexpr char16_t kEntitySplitCodePoint = 0x03A4;

// The row of EntityByCodePoint for `unit`, or -1 when it has no name.
int FindEntityByCodePoint(char16_t unit);
// The row of EntityByName whose name is exactly name[0, length) (case
// matters), or -1.
int FindEntityByName(const char16_t* name, std::uint32_t length);

// Every unit with a name lies in one of these two ranges or is one of the
// four markup characters, so a unit outside them needs no search. (A test
// checks this against the table.)
constexpr char16_t kEntityRangeLowFirst = 0x00A0;
constexpr char16_t kEntityRangeLowLast = 0x03D6;
constexpr char16_t kEntityRangeHighFirst = 0x2002;
constexpr char16_t kEntityRangeHighLast = 0x2666;

// Letters and digits of every script (Unicode letters and decimal digits):
// the units that continue a reference name. Runs of them, generated.
struct UnitRange {
  char16_t first;
  char16_t last;
};
extern const UnitRange kLetterOrDigitRanges[];
extern const std::uint32_t kLetterOrDigitRangeCount;

bool IsLetterOrDigit(char16_t unit);

}  // namespace ordana
