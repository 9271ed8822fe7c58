// POSIX part of ordana-watch.

#include "WatchPlatform.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/Platform.h"

namespace ordana::watch {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

// Another process cut the channel's area short while this one touched it
// through its mapping. Nothing is left to read; say so, remove the names this
// process owns and end, with calls that are safe here.
void OnBusError(int) {
  static const char kMessage[] =
      "ordana-watch: the status channel's area was cut short by another process; stopping\n";
  ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
  platform::RemoveRegisteredObjects();
  ::_exit(2);
}

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a closed pipe: nobody is listening any more
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

void WriteOutput(const std::string& text) { WriteAll(STDOUT_FILENO, text); }
void WriteError(const std::string& text) { WriteAll(STDERR_FILENO, text); }
bool OutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void InstallStopHandler() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  struct sigaction busError = {};
  busError.sa_handler = OnBusError;
  sigemptyset(&busError.sa_mask);
  ::sigaction(SIGBUS, &busError, nullptr);
  // A reader that went away must not kill us before the channel is closed.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool StopRequested() { return g_stop != 0; }

}  // namespace ordana::watch
