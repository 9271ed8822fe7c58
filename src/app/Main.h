#pragma once

namespace ordana {

// The program: applies the command line `tokens` (token 0 is the program's
// own path) and converts; returns the exit code.
int wmain(int count, char16_t* const* tokens);

}  // namespace ordana
