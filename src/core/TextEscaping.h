#pragma once
// What people and parsers read: file names and other outside text made safe
// to show in a message, a log line, ordana-watch's output or a CSV field.
//
// A name may hold anything the file system allows: TAB, CR, LF, ESC and the
// other control characters would split lines, move the cursor or recolour a
// terminal; bidirectional controls would show the name in a false order. They
// are shown as escapes instead. Text that is not well-formed UTF-16 (a unit
// of a surrogate pair without its partner; on POSIX this is how a byte of a
// name that is not UTF-8 travels, U+DC80..U+DCFF) is shown as U+FFFD, so that
// everything written is well-formed UTF-16, UTF-8 on the console.

#include <string>

namespace ordana {

// True for a character that EscapeForDisplay writes as an escape: U+0000..
// U+001F, U+007F..U+009F, the line and paragraph separators U+2028 and
// U+2029, and the bidirectional controls U+200E, U+200F, U+202A..U+202E and
// U+2066..U+2069.
bool NeedsEscape(char16_t unit);

// `text` with every character of NeedsEscape written as an escape: `\t`,
// `\n`, `\r`; `\xHH` (two lower-case hexadecimal digits) for the other
// characters up to U+007F; `\uHHHH` for the rest. A unit that cannot stand
// alone becomes U+FFFD. Backslashes stay as they are (Windows paths).
std::u16string EscapeForDisplay(const std::u16string& text);

// `text` with every unit that cannot stand alone replaced by U+FFFD, and
// nothing else changed.
std::u16string MakeWellFormed(const std::u16string& text);

// A CSV field: `text` as it is, unless it holds a character of NeedsEscape,
// a double quote or `separator`; then it is written in double quotes, with
// a double quote doubled, a backslash doubled and the characters of
// NeedsEscape written as EscapeForDisplay writes them. Either way a unit that
// cannot stand alone becomes U+FFFD. The result never holds a line end, and
// `separator` only inside the quotes (never when it is a control character
// such as TAB, which is escaped): one record stays one line.
std::u16string QuoteCsvField(const std::u16string& text, char16_t separator);

}  // namespace ordana
