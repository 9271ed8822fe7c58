// The process entry point: hands the command line to ordana::wmain as UTF-16
// tokens.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/ChainAssembly.h"
#include "app/CommandLine.h"
#include "app/Main.h"
#include "platform/Platform.h"

namespace {

// ORDANA_SCALAR=1 turns the codecs' fast paths off, so that the test suite
// can show that the plain loops give the same results. A switch for
// developers, not an option: nothing a user sees depends on it.
void ReadDeveloperSwitches() {
  const char* scalar = std::getenv("ORDANA_SCALAR");
  if (scalar != nullptr && std::strcmp(scalar, "1") == 0) ordana::UseFastPaths(false);
}

}  // namespace

#ifdef _WIN32
#include <windows.h>

int wmain() {
  // Windows hands over one string; our own splitter makes the tokens.
  ordana::platform::ReserveStandardStreams();
  // Ctrl+C and a closed console remove the temporary file before leaving.
  ordana::platform::InstallTerminationHandlers();
  ReadDeveloperSwitches();
  std::u16string text(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  int count = 0;
  auto table = ordana::SplitCommandLine(text.data(), &count);
  // More tokens than the table holds are refused before any is looked at.
  if (table->truncated) count = ordana::kMaxTokens + 1;
  return ordana::wmain(count, table->tokens);
}
#else
int main(int argc, char** argv) {
  // Before anything opens a file: a closed standard stream must not lend its
  // number to the log or an output.
  ordana::platform::ReserveStandardStreams();
  // A stop signal removes the temporary file and the channel names before
  // leaving; a reader of the messages that goes away never stops the run.
  ordana::platform::InstallTerminationHandlers();
  ReadDeveloperSwitches();
  // The shell has split and unquoted already: argv is the token table. More
  // tokens than the Windows splitter keeps are refused by wmain before any
  // is looked at, so a dropped argument can never change what is converted.
  std::vector<std::u16string> storage;
  const int count = argc;
  storage.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) storage.push_back(ordana::platform::FromNative(argv[i]));
  std::vector<char16_t*> tokens;
  for (auto& token : storage) tokens.push_back(token.data());
  return ordana::wmain(count, tokens.data());
}
#endif
