#pragma once
// What ordana-watch needs of the operating system beyond the project's
// platform seam: its standard streams, whether its output is a terminal,
// and a stop request from a signal (Ctrl+C, kill).

#include <string>

namespace ordana::watch {

// Writes UTF-8 text to the standard output or the standard error, whole.
void WriteOutput(const std::string& text);
void WriteError(const std::string& text);
bool OutputIsTerminal();

// After this, SIGINT, SIGTERM and SIGHUP set the stop request instead of
// ending the program, so that it can close its channel first.
// SIGBUS (the channel's area cut short under a mapping) ends it with a
// message and exit code 2, after removing the names it owns.
void InstallStopHandler();
bool StopRequested();

}  // namespace ordana::watch
