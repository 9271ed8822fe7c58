// Win32 answers to being told to stop (see Platform.h). The console control
// handler runs on a thread of its own; it removes what this process
// registered and ends the process with the documented code. Writes to a pipe
// whose reader has gone fail with an error on Windows anyway.

#include "platform/Platform.h"
#include "platform/win32/Win32Headers.h"

namespace ordana::platform {

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
  int code;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      code = kExitInterrupted;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      code = kExitHangUp;
      break;
    default:
      return FALSE;
  }
  RemoveRegisteredObjects();
  ::ExitProcess(static_cast<UINT>(code));
  return TRUE;
}

}  // namespace

void InstallTerminationHandlers() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

}  // namespace ordana::platform
