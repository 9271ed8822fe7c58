// Registry rows, name lookup, printable names and the character set listings.

#include "codecs/CharsetRegistry.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "core/Format.h"

namespace ordana {

namespace {

constexpr std::uint32_t kPrimary = 1;
constexpr std::uint32_t kAlias = 0;

}  // namespace

// One primary row per id, then its aliases, ids ascending.  The order is the
// order of /listall and /listallcsv, and decides duplicates: "CP874" under id
// 15 is found before the one under id 40.
const CharsetEntry CharsetRegistry[188] = {
    {u"ISO-8859-1", u"Latin-1, West European", 0, kPrimary},
    {u"ISO 8859-1", u"", 0, kAlias},
    {u"Latin-1", u"", 0, kAlias},
    {u"Latin1", u"", 0, kAlias},
    {u"ISO-8859-2", u"Latin-2, East European", 1, kPrimary},
    {u"ISO 8859-2", u"", 1, kAlias},
    {u"Latin-2", u"", 1, kAlias},
    {u"Latin2", u"", 1, kAlias},
    {u"ISO-8859-3", u"Latin-3, South European", 2, kPrimary},
    {u"ISO 8859-3", u"", 2, kAlias},
    {u"Latin-3", u"", 2, kAlias},
    {u"Latin3", u"", 2, kAlias},
    {u"ISO-8859-4", u"Latin-4, Baltic", 3, kPrimary},
    {u"ISO 8859-4", u"", 3, kAlias},
    {u"Latin-4", u"", 3, kAlias},
    {u"Latin4", u"", 3, kAlias},
    {u"ISO-8859-5", u"Cyrillic", 4, kPrimary},
    {u"ISO 8859-5", u"", 4, kAlias},
    {u"ISO-8859-6", u"Arabic", 5, kPrimary},
    {u"ISO 8859-6", u"", 5, kAlias},
    {u"ISO-8859-7", u"Greek", 6, kPrimary},
    {u"ISO 8859-7", u"", 6, kAlias},
    {u"ISO-8859-8", u"Hebrew", 7, kPrimary},
    {u"ISO 8859-8", u"", 7, kAlias},
    {u"ISO-8859-9", u"Latin-5, Turkish", 8, kPrimary},
    {u"ISO 8859-9", u"", 8, kAlias},
    {u"Latin-5", u"", 8, kAlias},
    {u"Latin5", u"", 8, kAlias},
    {u"ISO-8859-10", u"Latin-6, Nordic", 9, kPrimary},
    {u"ISO 8859-10", u"", 9, kAlias},
    {u"Latin-6", u"", 9, kAlias},
    {u"Latin6", u"", 9, kAlias},
    {u"ISO-8859-11", u"Thai", 10, kPrimary},
    {u"ISO 8859-11", u"", 10, kAlias},
    {u"TIS-620", u"", 10, kAlias},
    {u"ISO-8859-16", u"Latin-10, South Eastern European", 11, kPrimary},
    {u"ISO 8859-16", u"", 11, kAlias},
    {u"Latin-10", u"", 11, kAlias},
    {u"Latin10", u"", 11, kAlias},
    {u"ISO-8859-13", u"Latin-7, Baltic", 12, kPrimary},
    {u"ISO 8859-13", u"", 12, kAlias},
    {u"Latin-7", u"", 12, kAlias},
    {u"Latin7", u"", 12, kAlias},
    {u"ISO-8859-14", u"Latin-8, Celtic", 13, kPrimary},
    {u"ISO 8859-14", u"", 13, kAlias},
    {u"Latin-8", u"", 13, kAlias},
    {u"Latin8", u"", 13, kAlias},
    {u"ISO-8859-15", u"Latin-9, West European, Euro", 14, kPrimary},
    {u"ISO 8859-15", u"", 14, kAlias},
    {u"Latin-9", u"", 14, kAlias},
    {u"Latin9", u"", 14, kAlias},
    {u"Windows-874", u"Thai", 15, kPrimary},
    {u"Windows 874", u"", 15, kAlias},
    {u"CP874", u"", 15, kAlias},
    {u"Windows-1250", u"Central European", 16, kPrimary},
    {u"Windows 1250", u"", 16, kAlias},
    {u"CP1250", u"", 16, kAlias},
    {u"Windows-1251", u"Cyrillic", 17, kPrimary},
    {u"Windows 1251", u"", 17, kAlias},
    {u"CP1251", u"", 17, kAlias},
    {u"Windows-1252", u"Western European, ANSI", 18, kPrimary},
    {u"Windows 1252", u"", 18, kAlias},
    {u"CP1252", u"", 18, kAlias},
    {u"Ansi", u"", 18, kAlias},
    {u"Windows-1253", u"Greek", 19, kPrimary},
    {u"Windows 1253", u"", 19, kAlias},
    {u"CP1253", u"", 19, kAlias},
    {u"Windows-1254", u"Turkish", 20, kPrimary},
    {u"Windows 1254", u"", 20, kAlias},
    {u"CP1254", u"", 20, kAlias},
    {u"Windows-1255", u"Hebrew", 21, kPrimary},
    {u"Windows 1255", u"", 21, kAlias},
    {u"CP1255", u"", 21, kAlias},
    {u"Windows-1256", u"Arabic", 22, kPrimary},
    {u"Windows 1256", u"", 22, kAlias},
    {u"CP1256", u"", 22, kAlias},
    {u"Windows-1257", u"Baltic", 23, kPrimary},
    {u"Windows 1257", u"", 23, kAlias},
    {u"CP1257", u"", 23, kAlias},
    {u"Windows-1258", u"Vietnamese", 24, kPrimary},
    {u"Windows 1258", u"", 24, kAlias},
    {u"CP1258", u"", 24, kAlias},
    {u"DOS-437", u"DOS - US", 25, kPrimary},
    {u"DOS 437", u"", 25, kAlias},
    {u"437", u"", 25, kAlias},
    {u"CP437", u"", 25, kAlias},
    {u"DOS-737", u"DOS - Greek", 26, kPrimary},
    {u"DOS 737", u"", 26, kAlias},
    {u"737", u"", 26, kAlias},
    {u"CP737", u"", 26, kAlias},
    {u"DOS-775", u"DOS - Baltic", 27, kPrimary},
    {u"DOS 775", u"", 27, kAlias},
    {u"775", u"", 27, kAlias},
    {u"CP775", u"", 27, kAlias},
    {u"DOS-850", u"DOS - Latin 1", 28, kPrimary},
    {u"DOS 850", u"", 28, kAlias},
    {u"850", u"", 28, kAlias},
    {u"CP850", u"", 28, kAlias},
    {u"DOS-852", u"DOS - Latin 2", 29, kPrimary},
    {u"DOS 852", u"", 29, kAlias},
    {u"852", u"", 29, kAlias},
    {u"CP852", u"", 29, kAlias},
    {u"DOS-855", u"DOS - Cyrillic", 30, kPrimary},
    {u"DOS 855", u"", 30, kAlias},
    {u"855", u"", 30, kAlias},
    {u"CP855", u"", 30, kAlias},
    {u"DOS-857", u"DOS - Turkish", 31, kPrimary},
    {u"DOS 857", u"", 31, kAlias},
    {u"857", u"", 31, kAlias},
    {u"CP857", u"", 31, kAlias},
    {u"DOS-860", u"DOS - Portuguese", 32, kPrimary},
    {u"DOS 860", u"", 32, kAlias},
    {u"860", u"", 32, kAlias},
    {u"CP860", u"", 32, kAlias},
    {u"DOS-861", u"DOS - Icelandic", 33, kPrimary},
    {u"DOS 861", u"", 33, kAlias},
    {u"861", u"", 33, kAlias},
    {u"CP861", u"", 33, kAlias},
    {u"DOS-862", u"DOS - Hebrew", 34, kPrimary},
    {u"DOS 862", u"", 34, kAlias},
    {u"862", u"", 34, kAlias},
    {u"CP862", u"", 34, kAlias},
    {u"DOS-863", u"DOS - CanadaF", 35, kPrimary},
    {u"DOS 863", u"", 35, kAlias},
    {u"863", u"", 35, kAlias},
    {u"CP863", u"", 35, kAlias},
    {u"DOS-864", u"DOS - Arabic", 36, kPrimary},
    {u"DOS 864", u"", 36, kAlias},
    {u"864", u"", 36, kAlias},
    {u"CP864", u"", 36, kAlias},
    {u"DOS-865", u"DOS - Nordic", 37, kPrimary},
    {u"DOS 865", u"", 37, kAlias},
    {u"865", u"", 37, kAlias},
    {u"CP865", u"", 37, kAlias},
    {u"DOS-866", u"DOS - Cyrillic/Russian", 38, kPrimary},
    {u"DOS 866", u"", 38, kAlias},
    {u"866", u"", 38, kAlias},
    {u"CP866", u"", 38, kAlias},
    {u"DOS-869", u"DOS - Greek2", 39, kPrimary},
    {u"DOS 869", u"", 39, kAlias},
    {u"869", u"", 39, kAlias},
    {u"CP869", u"", 39, kAlias},
    {u"DOS-874", u"DOS - 874", 40, kPrimary},
    {u"DOS 874", u"", 40, kAlias},
    {u"874", u"", 40, kAlias},
    {u"CP874", u"", 40, kAlias},
    {u"MSMAC-CYRILLIC", u"Microsoft MAC - Cyrillic, CP 10007", 41, kPrimary},
    {u"CP10007", u"", 41, kAlias},
    {u"MSMAC-GREEK", u"Microsoft MAC - Greek, CP 10006", 42, kPrimary},
    {u"CP10006", u"", 42, kAlias},
    {u"MSMAC-ICELAND", u"Microsoft MAC - Icelandic, CP 10079", 43, kPrimary},
    {u"CP10079", u"", 43, kAlias},
    {u"MSMAC-LATIN2", u"Microsoft MAC - Latin 2, CP 10029", 44, kPrimary},
    {u"CP10029", u"", 44, kAlias},
    {u"MSMAC-ROMAN", u"Microsoft MAC - Roman, CP 10000", 45, kPrimary},
    {u"CP10000", u"", 45, kAlias},
    {u"MSMAC-TURKISH", u"Microsoft MAC - Turkish, CP 10081", 46, kPrimary},
    {u"CP10081", u"", 46, kAlias},
    {u"Apple-CENTEURO", u"Apple - Central European", 47, kPrimary},
    {u"CENTEURO", u"", 47, kAlias},
    {u"Apple-Roman", u"Apple - Roman", 48, kPrimary},
    {u"AtariST", u"AtariST", 49, kPrimary},
    {u"KOI8-R", u"Code for Information Exchange - Russian", 50, kPrimary},
    {u"KOI8R", u"", 50, kAlias},
    {u"KOI8-U", u"Code for Information Exchange - Ukrainian", 51, kPrimary},
    {u"KOI8U", u"", 51, kAlias},
    {u"CP856", u"CP856 - Hebrew", 52, kPrimary},
    {u"856", u"", 52, kAlias},
    {u"DOS 856", u"", 52, kAlias},
    {u"DOS-856", u"", 52, kAlias},
    {u"KZ-1048", u"KZ-1048/STRK1048-2002 - Kazakhstan", 53, kPrimary},
    {u"KZ1048", u"", 53, kAlias},
    {u"RK1048", u"", 53, kAlias},
    {u"STRK1048-2002", u"", 53, kAlias},
    {u"CP1006", u"IBM CP 1006 - English/Urdu - Pakistan", 54, kPrimary},
    {u"CP-1006", u"", 54, kAlias},
    {u"NeXT", u"NextStep, OpenStep", 55, kPrimary},
    {u"openstep", u"", 55, kAlias},
    {u"nextstep", u"", 55, kAlias},
    {u"EBCDIC-37", u"EBCDIC CP 37 - USA", 56, kPrimary},
    {u"CP37", u"", 56, kAlias},
    {u"EBCDIC-500", u"EBCDIC CP 500 - International", 57, kPrimary},
    {u"CP500", u"", 57, kAlias},
    {u"EBCDIC-875", u"EBCDIC CP 875 - Greek", 58, kPrimary},
    {u"CP875", u"", 58, kAlias},
    {u"EBCDIC-1026", u"EBCDIC CP 1026 - Turkish", 59, kPrimary},
    {u"CP1026", u"", 59, kAlias},
    {u"", u"", 0, kAlias},
};

namespace {

constexpr std::size_t kNameBufferLength = 32;     // CharsetFromName's buffer
constexpr std::size_t kPrintableNameLength = 64;  // CharsetName's buffer
// Longest listing line: a 31-unit name, a tab, a 47-unit description, CR LF and
// the terminating zero.
constexpr std::size_t kListingLineLength = 31 + 1 + 47 + 2 + 1;

// The Unicode forms are not registry rows: they have no mapping table.  Each
// is accepted in three spellings and rewritten to its canonical one.
struct UnicodeForm {
  const char16_t* spellings[3];
  const char16_t* canonical;
  CharsetId id;
};

constexpr UnicodeForm kUnicodeForms[] = {
    {{u"utf 8", u"utf-8", u"utf8"}, u"utf-8", kCharsetUtf8},
    {{u"utf 16", u"utf-16", u"utf16"}, u"utf-16", kCharsetUtf16},
    {{u"utf-16be", u"utf 16be", u"utf16be"}, u"utf-16be", kCharsetUtf16Be},
    {{u"utf-32", u"utf32", u"utf 32"}, u"utf-32", kCharsetUtf32},
    {{u"utf-32be", u"utf32be", u"utf 32be"}, u"utf-32be", kCharsetUtf32Be},
};

constexpr const char16_t* kUnicodeListingLines[] = {
    u"UTF-16\r\n", u"UTF-16BE\r\n", u"UTF-8\r\n", u"UTF-32\r\n", u"UTF-32BE\r\n",
};

// Copies at most capacity - 1 units of `source` and always terminates.
void CopyBounded(char16_t* target, const char16_t* source, std::size_t capacity) {
  std::size_t length = 0;
  for (; length + 1 < capacity && source[length] != 0; ++length) {
    target[length] = source[length];
  }
  target[length] = 0;
}

// Appends `source` at `length`, keeping room for the terminating zero.
std::size_t AppendBounded(char16_t* target, std::size_t length, const char16_t* source,
                          std::size_t capacity) {
  for (; length + 1 < capacity && *source != 0; ++source, ++length) {
    target[length] = *source;
  }
  target[length] = 0;
  return length;
}

void EmitUnicodeForms(void (*emit)(const char16_t*, void*), void* context) {
  for (const char16_t* line : kUnicodeListingLines) {
    emit(line, context);
  }
}

}  // namespace

// Every registry name is ASCII; the comparison folds only A..Z, so no locale
// rule (a Turkish dotted capital I, the Kelvin sign) can make a name match.
namespace {

// Everyday names of the sets above that are not registry rows: the spellings
// of other tools and of the IANA list. They are accepted but not listed, so
// the listings stay as they are. Names that differ from a row or from one of
// these only in ASCII case, '-' or '_' are accepted as well (see Folded).
struct ExtraName {
  const char16_t* name;
  CharsetId id;
};

constexpr ExtraName kExtraNames[] = {
    {u"UTF-16LE", kCharsetUtf16},
    {u"UCS-2", kCharsetUtf16},
    {u"UCS-2LE", kCharsetUtf16},
    {u"Unicode", kCharsetUtf16},
    {u"UCS-2BE", kCharsetUtf16Be},
    {u"UTF-32LE", kCharsetUtf32},
    {u"UCS-4LE", kCharsetUtf32},
    {u"UCS-4BE", kCharsetUtf32Be},
    {u"CP819", 0},
    {u"IBM819", 0},
    {u"L1", 0},
    {u"L2", 1},
    {u"L3", 2},
    {u"L4", 3},
    {u"L5", 8},
    {u"L6", 9},
    {u"L10", 11},
    {u"L7", 12},
    {u"L8", 13},
    {u"L9", 14},
    {u"ISO-8859-8-I", 7},
    {u"MacCyrillic", 41},
    {u"x-mac-cyrillic", 41},
    {u"MacGreek", 42},
    {u"x-mac-greek", 42},
    {u"MacIceland", 43},
    {u"x-mac-icelandic", 43},
    {u"MacLatin2", 44},
    {u"MacTurkish", 46},
    {u"x-mac-turkish", 46},
    {u"MacCentralEurope", 47},
    {u"MacCE", 47},
    {u"x-mac-ce", 47},
    {u"Macintosh", 48},
    {u"MacRoman", 48},
    {u"Mac", 48},
    {u"x-mac-roman", 48},
    {u"csMacintosh", 48},
    {u"Atari", 49},
    {u"CP878", 50},
    {u"NeXTSTEP", 55},
    {u"CP037", 56},
    {u"EBCDIC-CP-US", 56},
    {u"EBCDIC-CP-BE", 57},
    {u"EBCDIC-CP-CH", 57},
};

// Names of ISO-8859-1 that mean ASCII. Pure ASCII decodes the same under it,
// so they are accepted as a source; as a destination they would quietly
// write Latin-1 bytes where ASCII was asked for, so they are refused there.
constexpr const char16_t* kAsciiNames[] = {u"ASCII", u"US-ASCII", u"ANSI_X3.4-1968", u"646"};

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

// A name reduced to what tells sets apart: ASCII letters folded to lower
// case, '-' and '_' dropped ("ISO_8859-15", "iso885915" and "ISO-8859-15"
// are the same). Names longer than any real one come back empty.
std::u16string Folded(const char16_t* name) {
  std::u16string folded;
  for (const char16_t* p = name; *p != 0; ++p) {
    if (*p == u'-' || *p == u'_') continue;
    folded.push_back(FoldAscii(*p));
    if (folded.size() > 64) return std::u16string();
  }
  return folded;
}

bool AllDigits(const std::u16string& text) {
  if (text.empty()) return false;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

// Calls `visit(name, id)` for every name the lookup knows, in lookup order:
// the Unicode spellings, the registry rows, the extra names.
template <typename Visit>
bool VisitNames(Visit visit) {
  for (const UnicodeForm& form : kUnicodeForms) {
    for (const char16_t* spelling : form.spellings) {
      if (visit(spelling, form.id)) return true;
    }
  }
  for (const CharsetEntry* entry = CharsetRegistry; entry->name[0] != 0; ++entry) {
    if (visit(entry->name, entry->id)) return true;
  }
  for (const ExtraName& extra : kExtraNames) {
    if (visit(extra.name, extra.id)) return true;
  }
  return false;
}

// The id of a folded name, trying the "IBM437"/"WIN1252" spellings of the
// numbered sets as "CP437"/"Windows1252".
bool FindFolded(const std::u16string& folded, CharsetId* id) {
  auto findExact = [id](const std::u16string& wanted) {
    return VisitNames([&](const char16_t* name, CharsetId candidate) {
      if (Folded(name) != wanted) return false;
      *id = candidate;
      return true;
    });
  };
  if (folded.empty()) return false;
  if (findExact(folded)) return true;
  if (folded.size() > 3 && folded.compare(0, 3, u"ibm") == 0 && AllDigits(folded.substr(3))) {
    return findExact(u"cp" + folded.substr(3));
  }
  if (folded.size() > 3 && folded.compare(0, 3, u"win") == 0 && AllDigits(folded.substr(3))) {
    return findExact(u"windows" + folded.substr(3));
  }
  return false;
}

// Edit distance between two short folded names.
std::size_t Distance(const std::u16string& a, const std::u16string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t replace = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, replace});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

CharsetLookup LookUpCharset(char16_t* name) {
  for (const UnicodeForm& form : kUnicodeForms) {
    for (const char16_t* spelling : form.spellings) {
      if (EqualsIgnoreCase(name, spelling)) {
        CopyBounded(name, form.canonical, kNameBufferLength);
        return {form.id, true, false};
      }
    }
  }
  if (EqualsIgnoreCase(name, u"auto")) {
    return {kCharsetAuto, true, false};
  }
  for (const CharsetEntry* entry = CharsetRegistry; entry->name[0] != 0; ++entry) {
    if (EqualsIgnoreCase(name, entry->name)) {
      return {entry->id, true, false};
    }
  }
  const std::u16string folded = Folded(name);
  for (const char16_t* ascii : kAsciiNames) {
    if (!folded.empty() && folded == Folded(ascii)) return {0, true, true};
  }
  CharsetId id = kCharsetUnknown;
  if (!FindFolded(folded, &id)) return {kCharsetUnknown, false, false};
  if (id >= kCharsetUtf8 && id <= kCharsetUtf32Be) {
    // Another spelling of a Unicode form reads like the form itself.
    for (const UnicodeForm& form : kUnicodeForms) {
      if (form.id == id) CopyBounded(name, form.canonical, kNameBufferLength);
    }
  }
  return {id, true, false};
}

CharsetId CharsetFromName(char16_t* name) {
  const CharsetLookup found = LookUpCharset(name);
  return found.known ? found.id : kCharsetUnknown;
}

std::vector<std::u16string> ClosestCharsetNames(const char16_t* name, std::size_t count) {
  const std::u16string folded = Folded(name);
  struct Candidate {
    std::size_t distance;
    std::u16string name;
    CharsetId id;
  };
  std::vector<Candidate> candidates;
  if (folded.empty()) return {};
  // Close enough to be a typing slip or another tool's spelling; a prefix
  // ("windows" for "windows-1252") counts as close too.
  const std::size_t limit = std::max<std::size_t>(2, folded.size() / 3);
  VisitNames([&](const char16_t* known, CharsetId id) {
    const std::u16string other = Folded(known);
    std::size_t distance = Distance(folded, other);
    if (distance > limit && other.compare(0, folded.size(), folded) == 0 && folded.size() >= 3) {
      distance = limit;
    }
    if (distance <= limit) {
      candidates.push_back({distance, known, id});
    }
    return false;
  });
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
  std::vector<std::u16string> names;
  std::vector<CharsetId> ids;
  for (const Candidate& candidate : candidates) {
    if (names.size() == count) break;
    if (std::find(ids.begin(), ids.end(), candidate.id) != ids.end()) continue;
    ids.push_back(candidate.id);
    names.push_back(candidate.name);
  }
  return names;
}

char16_t* CharsetName(CharsetId id, char16_t* buffer) {
  buffer[0] = 0;
  for (const UnicodeForm& form : kUnicodeForms) {
    if (form.id == id) {
      CopyBounded(buffer, form.canonical, kPrintableNameLength);
      return buffer;
    }
  }
  for (const CharsetEntry* entry = CharsetRegistry; entry->name[0] != 0; ++entry) {
    if (entry->primary != 0 && entry->id == id) {
      CopyBounded(buffer, entry->name, kPrintableNameLength);
      break;
    }
  }
  return buffer;
}

void WriteCharsetListing(void (*emit)(const char16_t* line, void* context), void* context) {
  EmitUnicodeForms(emit, context);
  char16_t line[kListingLineLength];
  for (const CharsetEntry* entry = CharsetRegistry; entry->name[0] != 0; ++entry) {
    std::size_t length = AppendBounded(line, 0, entry->name, kListingLineLength);
    AppendBounded(line, length, u"\r\n", kListingLineLength);
    emit(line, context);
  }
  emit(u"\r\n", context);
}

void WriteCharsetCsvListing(void (*emit)(const char16_t* line, void* context), void* context) {
  EmitUnicodeForms(emit, context);
  char16_t line[kListingLineLength];
  for (const CharsetEntry* entry = CharsetRegistry; entry->name[0] != 0; ++entry) {
    if (entry->primary == 0) {
      continue;
    }
    std::size_t length = AppendBounded(line, 0, entry->name, kListingLineLength);
    length = AppendBounded(line, length, u"\t", kListingLineLength);
    length = AppendBounded(line, length, entry->description, kListingLineLength);
    AppendBounded(line, length, u"\r\n", kListingLineLength);
    emit(line, context);
  }
  emit(u"\r\n", context);
}

}  // namespace ordana
