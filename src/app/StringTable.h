#pragma once
// The string table: numbered message texts in English and German.

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace ordana {

constexpr std::uint16_t kLanguageEnglish = 1033;
constexpr std::uint16_t kLanguageGerman = 1031;

// Ids above the Windows table: texts only the POSIX build shows.
constexpr std::uint32_t kStringQuotePatterns = 200;
constexpr std::uint32_t kStringTooManyPaths = 201;

// The text of entry `id` in the user's interface language, or null when
// there is no such entry.
const char16_t* LoadResourceString(std::uint32_t id);
const char16_t* LoadResourceString(std::uint32_t id, std::uint16_t language);

// For tests and resource generation: the ids in table order.
std::size_t StringTableSize();
std::uint32_t StringTableId(std::size_t index);

}  // namespace ordana
