#include "app/Listings.h"

#include <string>

#include "codecs/CharsetRegistry.h"
#include "core/MessageLog.h"
#include "platform/Platform.h"

namespace ordana {

namespace {
// Prints a listing line with the system's own line end, so that a script can
// read the names back as they are ("while read name" on Linux). The line is
// the program's own text, TABs included: written as it is, not escaped like
// outside text.
void EmitLine(const char16_t* line, void* /*context*/) {
  std::u16string text(line);
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, u"\r\n") == 0) {
    text.resize(text.size() - 2);
    text += platform::kLineEnd;
  }
  PrintForUser(text.c_str());
}
}  // namespace

void PrintCharsetListing(bool csv) {
  if (csv) {
    WriteCharsetCsvListing(&EmitLine, nullptr);
  } else {
    WriteCharsetListing(&EmitLine, nullptr);
  }
}

}  // namespace ordana
