#include "app/Listings.h"

#include "app/MessageLog.h"
#include "codecs/CharsetRegistry.h"

namespace ordana {

namespace {
void EmitLine(const char16_t* line, void* /*context*/) { LogMessage(1, 0, u"%s", line); }
}  // namespace

void PrintCharsetListing(bool csv) {
  if (csv) {
    WriteCharsetCsvListing(&EmitLine, nullptr);
  } else {
    WriteCharsetListing(&EmitLine, nullptr);
  }
}

}  // namespace ordana
