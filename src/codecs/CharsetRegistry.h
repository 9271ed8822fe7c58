// The character set registry: the fixed CharsetId of every supported set, the
// names a user may give for it, the byte-to-UTF-16 tables of the 60
// single-byte sets, and the two character set listings.
//
// Everything here is constant data; nothing writes to it at run time, so it
// needs no locking.
#ifndef ORDANA_CODECS_CHARSETREGISTRY_H
#define ORDANA_CODECS_CHARSETREGISTRY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ordana {

// The numbers are stored in the status record and in statistics files; never
// renumber them.  0..59 are the single-byte sets (and the row index of
// CodePageTable).
using CharsetId = std::uint32_t;
constexpr CharsetId kCharsetUtf8 = 100, kCharsetUtf16 = 101, kCharsetUtf16Be = 102,
                    kCharsetUtf32 = 103, kCharsetUtf32Be = 104, kCharsetAuto = 1000;
constexpr int kSingleByteCharsetCount = 60;

// One accepted name.  For each id the primary row (primary != 0, with a
// description) comes first and its aliases (empty description) follow it
// directly.  Both strings are zero-terminated and zero-filled.
struct CharsetEntry {
  char16_t name[32];
  char16_t description[48];
  std::uint32_t id;
  std::uint32_t primary;
};

// 187 rows in ascending id order, then a terminating row whose name is empty;
// every walk stops at the first row with name[0] == 0.  The order is the
// order of the listings and decides ties: "CP874" is an alias of both 15 and
// 40 and resolves to 15.
extern const CharsetEntry CharsetRegistry[188];

// CodePageTable[id][byte] is the UTF-16 code unit of `byte` in set `id`;
// 0xFFFF marks a byte without a mapping.  No entry is a surrogate.  Defined in
// the generated CodePageTables.cpp.
extern const std::uint16_t CodePageTable[kSingleByteCharsetCount][256];

// Marks a name that names no set.
constexpr CharsetId kCharsetUnknown = 0xFFFFFFFFu;

// What a character set name stands for.
struct CharsetLookup {
  CharsetId id;  // kCharsetUnknown when !known
  bool known;
  bool sourceOnly;  // a name only a decoder may use ("ASCII": decoded as ISO-8859-1)
};

// Looks up a user-supplied set name (the /scs= and /dcs= values). Whole
// names are compared first, without regard to ASCII case: the five Unicode
// forms return 100..104 and have `name` overwritten with their canonical
// spelling ("utf-8", "utf-16", "utf-16be", "utf-32", "utf-32be"); "auto"
// returns 1000; a registry name returns its id (first matching row). Then
// the everyday names of other tools ("UTF-16LE", "IBM850", "MacRoman", ...)
// and every spelling that differs only in ASCII case, '-' or '_'
// ("ISO_8859-15", "utf_8", "koi8_r"). `name` is a modifiable, zero-terminated
// buffer of at least 32 code units.
CharsetLookup LookUpCharset(char16_t* name);
// The id of LookUpCharset, kCharsetUnknown for a name that is not known.
CharsetId CharsetFromName(char16_t* name);
// Up to `count` known names closest to an unknown `name` (a typing slip,
// another tool's spelling), closest first, one per set.
std::vector<std::u16string> ClosestCharsetNames(const char16_t* name, std::size_t count);

// Writes the printable name of `id` into `buffer` (64 code units) and returns
// `buffer`: the canonical Unicode form for 100..104, the primary name for a
// single-byte set, the empty string for anything else (e.g. kCharsetAuto).
char16_t* CharsetName(CharsetId id, char16_t* buffer);

// The listings of /listall (every registry name) and /listallcsv (primary
// names with "\t" and their description).  Each starts with the five Unicode
// forms and ends with an empty line.  `emit` is called once per output line;
// every line carries its own "\r\n" and is meant to be printed unchanged.
void WriteCharsetListing(void (*emit)(const char16_t* line, void* context), void* context);
void WriteCharsetCsvListing(void (*emit)(const char16_t* line, void* context), void* context);

}  // namespace ordana

#endif  // ORDANA_CODECS_CHARSETREGISTRY_H
