// POSIX answers to being told to stop (see Platform.h): the handler removes
// the temporary file and the channel names this process registered, then
// ends the process at once, from inside the handler, with only
// async-signal-safe calls. The input is never touched: an in-place
// conversion replaces it only by the final rename.

#include <signal.h>
#include <unistd.h>

#include "platform/Platform.h"

namespace ordana::platform {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnStopSignal(int signal) {
  RemoveRegisteredObjects();
  ::_exit(128 + signal);
}

}  // namespace

void InstallTerminationHandlers() {
  struct sigaction stop = {};
  stop.sa_handler = OnStopSignal;
  // A second stop signal waits until the first has cleaned up and left.
  sigemptyset(&stop.sa_mask);
  for (int signal : kStopSignals) sigaddset(&stop.sa_mask, signal);
  for (int signal : kStopSignals) {
    struct sigaction previous = {};
    // A signal ignored by whoever started us (nohup, a shell's background
    // job) stays ignored.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &stop, nullptr);
  }
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace ordana::platform
