#include "app/Settings.h"

#include "platform/Platform.h"

namespace ordana {

Settings& GetSettings() {
  static Settings settings;
  return settings;
}

void ResetSettings() { GetSettings() = Settings(); }

std::uint32_t& StatusChannelOwnerId() {
  static std::uint32_t owner = platform::GetCurrentProcessId();
  return owner;
}

}  // namespace ordana
