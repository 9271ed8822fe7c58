#include "transforms/HtmlEntities.h"

namespace ordana {

namespace {

// Binary search of EntityByCodePoint rows [low, high) for `unit`.
int SearchByCodePoint(char16_t unit, std::uint32_t low, std::uint32_t high) {
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const std::uint32_t value = EntityByCodePoint[middle].codePoint;
    if (value == unit) return static_cast<int>(middle);
    if (value < unit) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return -1;
}

// Compares name[0, length) with a table name code unit by code unit: <0, 0, >0.
int CompareName(const char16_t* name, std::uint32_t length, const HtmlEntity& entity) {
  const std::uint32_t common = length < entity.length ? length : entity.length;
  for (std::uint32_t k = 0; k < common; ++k) {
    if (name[k] != entity.name[k]) return name[k] < entity.name[k] ? -1 : 1;
  }
  if (length == entity.length) return 0;
  return length < entity.length ? -1 : 1;
}

}  // namespace

int FindEntityByCodePoint(char16_t unit) {
  // The table is split at Tau, the middle of the Greek capitals: the two
  // halves are the Latin-1 and Greek rows and the punctuation and symbol
  // rows, each searched on its own.
  if (unit == kEntitySplitCodePoint) return static_cast<int>(kEntitySplitRow);
  if (unit < kEntitySplitCodePoint) return SearchByCodePoint(unit, 0, kEntitySplitRow);
  return SearchByCodePoint(unit, kEntitySplitRow, kHtmlEntityCount);
}

int FindEntityByName(const char16_t* name, std::uint32_t length) {
  // No name is shorter than two or longer than eight units.
  if (length < 2 || length > kMaxEntityNameLength) return -1;
  std::uint32_t low = 0;
  std::uint32_t high = kHtmlEntityCount;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const int order = CompareName(name, length, EntityByName[middle]);
    if (order == 0) return static_cast<int>(middle);
    if (order > 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return -1;
}

bool IsLetterOrDigit(char16_t unit) {
  if (unit < 0x80) {
    return (unit >= u'0' && unit <= u'9') || (unit >= u'A' && unit <= u'Z') ||
           (unit >= u'a' && unit <= u'z');
  }
  // The last run that starts at or before `unit` decides.
  std::uint32_t low = 0;
  std::uint32_t high = kLetterOrDigitRangeCount;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (kLetterOrDigitRanges[middle].first <= unit) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low > 0 && unit <= kLetterOrDigitRanges[low - 1].last;
}

}  // namespace ordana
