// The process entry point: hands the command line to ordana::wmain as UTF-16
// tokens.

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

int main(int argc, char** argv) {
  // Before anything opens a file: a closed standard stream must not lend its
  // number to the log or an output.
  ordana::platform::ReserveStandardStreams();
  // A stop signal (Ctrl+C, a closed console) removes the temporary file and
  // the channel names before leaving; on POSIX a reader of the messages that
  // goes away never stops the run.
  ordana::platform::InstallTerminationHandlers();
  ReadDeveloperSwitches();
  ordana::platform::ProcessCommandLine line = ordana::platform::ReadProcessCommandLine(argc, argv);
  if (!line.split) {
    // One string: our own splitter makes the tokens. More tokens than the
    // table holds are refused before any is looked at.
    int count = 0;
    auto table = ordana::SplitCommandLine(line.text.data(), &count);
    if (table->truncated) count = ordana::kMaxTokens + 1;
    return ordana::wmain(count, table->tokens);
  }
  // Split and unquoted already: the tokens are the table. More tokens than
  // the splitter keeps are refused by wmain before any is looked at, so a
  // dropped argument can never change what is converted.
  std::vector<char16_t*> tokens;
  tokens.reserve(line.tokens.size());
  for (auto& token : line.tokens) tokens.push_back(token.data());
  return ordana::wmain(static_cast<int>(tokens.size()), tokens.data());
}
