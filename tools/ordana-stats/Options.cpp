#include "ordana-stats/Options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"

namespace ordana::stats {
namespace {

void PrintUsage(std::FILE* to) {
  std::fputs(
      "Usage: ordana-stats --charset <id|name> --label <text> --output <file.dat>\n"
      "                    [--max-pairs N] [--max-triples N] [--min-count N]\n"
      "                    [--high-byte-bias BITS] [--quiet] <sample.txt>...\n"
      "\n"
      "Writes a statistics file for Ordana's automatic detection from UTF-8 sample\n"
      "texts encoded into the single-byte character set --charset (any name ordana\n"
      "accepts, such as Windows-1252 or 866, or an id 0..59; not EBCDIC).  --label is shown in the "
      "detection message (at\n"
      "most 4 characters).  The pair and triple tables keep the N n-grams that carry\n"
      "most information (defaults 3000 and 6000); n-grams seen fewer than\n"
      "--min-count times (default 2) are never kept.  --high-byte-bias adds BITS\n"
      "(usually a small negative number) to every byte 0x80-0xFF, so that this\n"
      "set loses ties against a sibling that decodes the same text.\n",
      to);
}

bool ParseUnsigned(const char* text, std::size_t* value) {
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || text[0] == '-') {
    return false;
  }
  *value = static_cast<std::size_t>(parsed);
  return true;
}

// Any name of a single-byte set that ordana itself accepts (names made of
// digits such as "866" included), or else an id 0..59. The registry's
// numbered names all lie above 59, so the two never meet. False, after
// saying why, for anything else and for sets whose bytes 0x00-0x7F are not
// ASCII (EBCDIC): the detection takes text that is plain ASCII in such a set
// for something else long before its statistics are asked.
bool ParseCharset(const char* text, CharsetId* charset) {
  CharsetId id = kCharsetUnknown;
  const std::u16string wide = platform::FromNative(text);
  if (wide.size() < 32) {
    char16_t name[64] = {};
    std::copy(wide.begin(), wide.end(), name);
    id = CharsetFromName(name);
  }
  std::size_t number = 0;
  if (id == kCharsetUnknown && ParseUnsigned(text, &number) &&
      number < static_cast<std::size_t>(kSingleByteCharsetCount)) {
    id = static_cast<CharsetId>(number);
  }
  if (id >= static_cast<CharsetId>(kSingleByteCharsetCount)) {
    std::fprintf(stderr, "ordana-stats: %s is not a single-byte character set\n", text);
    return false;
  }
  for (std::uint32_t b = 0; b < 0x80; ++b) {
    if (CodePageTable[id][b] != b) {
      std::fprintf(stderr,
                   "ordana-stats: %s is not ASCII in its bytes 0x00-0x7F (EBCDIC); the "
                   "detection cannot use statistics for it\n",
                   text);
      return false;
    }
  }
  *charset = id;
  return true;
}

// --label: one to four printable ASCII characters.
bool ParseLabel(const char* text, Options* options) {
  std::size_t length = std::strlen(text);
  if (length == 0 || length > 4) {
    std::fprintf(stderr, "ordana-stats: the label must have 1 to 4 characters\n");
    return false;
  }
  for (std::size_t k = 0; k < length; ++k) {
    unsigned char c = static_cast<unsigned char>(text[k]);
    if (c < 0x20 || c > 0x7E) {
      std::fprintf(stderr, "ordana-stats: the label must be printable ASCII\n");
      return false;
    }
    options->label[k] = static_cast<char>(c);
  }
  options->labelGiven = true;
  return true;
}

// --max-pairs, --max-triples and --min-count (at least 1): whole numbers.
bool ParseLimit(const std::string& arg, const char* text, Options* options) {
  std::size_t number = 0;
  if (text == nullptr || !ParseUnsigned(text, &number)) {
    std::fprintf(stderr, "ordana-stats: %s needs a whole number\n", arg.c_str());
    return false;
  }
  if (arg == "--max-pairs") {
    options->maxPairs = number;
  } else if (arg == "--max-triples") {
    options->maxTriples = number;
  } else {
    options->minCount = static_cast<std::uint32_t>(std::max<std::size_t>(1, number));
  }
  return true;
}

// --high-byte-bias: a finite number of bits.
bool ParseBias(const char* text, Options* options) {
  char* end = nullptr;
  double bias = std::strtod(text, &end);
  if (end == text || *end != 0 || !std::isfinite(bias)) {
    std::fprintf(stderr, "ordana-stats: --high-byte-bias needs a number\n");
    return false;
  }
  options->highByteBias = bias;
  return true;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ordana-stats: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    bool usable = true;
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      std::exit(0);
    } else if (arg == "--charset") {
      const char* text = value("--charset");
      usable = text != nullptr && ParseCharset(text, &options->charset);
      options->charsetGiven = usable;
    } else if (arg == "--label") {
      const char* text = value("--label");
      usable = text != nullptr && ParseLabel(text, options);
    } else if (arg == "--output" || arg == "-o") {
      const char* text = value("--output");
      usable = text != nullptr;
      if (usable) options->output = text;
    } else if (arg == "--max-pairs" || arg == "--max-triples" || arg == "--min-count") {
      usable = ParseLimit(arg, value(arg.c_str()), options);
    } else if (arg == "--high-byte-bias") {
      const char* text = value("--high-byte-bias");
      usable = text != nullptr && ParseBias(text, options);
    } else if (arg == "--quiet" || arg == "-q") {
      options->quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "ordana-stats: unknown option %s\n", arg.c_str());
      usable = false;
    } else {
      options->samples.push_back(arg);
    }
    if (!usable) return 2;
  }
  if (!options->charsetGiven || !options->labelGiven || options->output.empty() ||
      options->samples.empty()) {
    PrintUsage(stderr);
    return 2;
  }
  return 0;
}

}  // namespace ordana::stats
