#pragma once
// Splitting the command line into tokens and applying the options.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ordana {

constexpr int kMaxTokens = 100;

struct TokenTable {
  char16_t* tokens[kMaxTokens] = {};
  int count = 0;
  bool truncated = false;  // the text held more tokens than the table
};

// Splits `text` in place (terminators are written into it) into at most 100
// tokens. Only U+0020 separates tokens. A double quote starts a token that
// runs to the next double quote (what the token held before the quote is
// dropped); `="` keeps a quoted value with its quotes inside the token.
std::unique_ptr<TokenTable> SplitCommandLine(char16_t* text, int* count);

// What applying the options decided.
struct OptionsResult {
  bool exit = false;  // the program ends now with exitCode
  int exitCode = 0;
};

// Applies tokens[1] .. tokens[count - 1] to the settings, left to right.
// Refuses (exit code 3, with a message) more than kMaxTokens - 1 arguments,
// an empty argument, an option without its value and a token that looks
// like an option but is none; on POSIX "--" ends the options.
OptionsResult ApplyOptions(char16_t* const* tokens, int count);

struct Settings;
// Opens the log file the settings name and makes it the messages' sink; a
// file that cannot be created is reported and the messages stay where they
// were.
void OpenLogFileOfSettings(const Settings& settings);

// Every spelling of every option this build accepts ("/i", "/scs=", and on
// POSIX "-f", "--from", ...), and whether a token is one: for the tests that
// keep the help and the manual page in step with the options.
std::vector<std::u16string> OptionSpellings();
bool IsOptionSpelling(const char16_t* token);

// Removes one pair of enclosing double quotes, as PathUnquoteSpaces does.
void UnquoteSpaces(char16_t* text);

// Reads a decimal number as wcstol does: leading white space, an optional
// sign, digits; 0 when there are no digits.
long ParseDecimal(const char16_t* text);

}  // namespace ordana
