#include "app/Usage.h"

#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "platform/Platform.h"

namespace ordana {

std::uint64_t GetProductVersion() {
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
  if (!platform::GetOwnProductVersion(&mostSignificant, &leastSignificant)) return 0;
  return static_cast<std::uint64_t>(mostSignificant) |
         (static_cast<std::uint64_t>(leastSignificant) << 32);
}

namespace {
void Show(std::uint32_t id) {
  if (const char16_t* text = LoadResourceString(id)) PrintForUser(text);
}
}  // namespace

void PrintUsage() {
  const std::uint64_t version = GetProductVersion();
  const auto mostSignificant = static_cast<std::uint32_t>(version);
  const auto leastSignificant = static_cast<std::uint32_t>(version >> 32);
  const std::u16string banner =
      Format(u"Ordana %u.%u.%u.%u\r\n\r\n", mostSignificant >> 16, mostSignificant & 0xFFFF,
             leastSignificant >> 16, leastSignificant & 0xFFFF);
  PrintForUser(banner.c_str());

  static const std::uint32_t kOptions[] = {102,
                                           105,
                                           159,
                                           106,
                                           114,
                                           116,
                                           151,
                                           120,
                                           123,
                                           160,
                                           117,
                                           118,
                                           119,
                                           149,
                                           248,
                                           249,
                                           kStringUsageDetect,
                                           122,
                                           124,
                                           161,
                                           162};
  static const std::uint32_t kExamples[] = {125, 126, 127, 128, 129, 130, 131, 132,
                                            133, 153, 154, 155, 156, 157, 158};
  for (std::uint32_t id : kOptions) Show(id);
  PrintForUser(u"\r\n");
  for (std::uint32_t id : kExamples) Show(id);
  // A POSIX shell expands patterns before the program sees them.
  if (platform::kPosixConventions) Show(kStringQuotePatterns);
  Show(kStringExitCodes);
}

}  // namespace ordana
