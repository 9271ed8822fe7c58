// Win32 part of ordana-watch.

#include "WatchPlatform.h"

#include <string>

#include "platform/win32/Win32Headers.h"

namespace ordana::watch {

namespace {

volatile LONG g_stop = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  ::InterlockedExchange(&g_stop, 1);
  return TRUE;  // handled: the main loop closes the channel and ends
}

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return ::GetConsoleMode(handle, &mode) != 0;
}

void WriteAll(DWORD which, const std::string& text) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  if (IsConsole(handle)) {
    // A console shows UTF-16 whatever its code page; the text is UTF-8.
    const int length = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], n);
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD n = 0;
    if (!::WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &n,
                     nullptr) ||
        n == 0) {
      return;  // a closed pipe: nobody is listening any more
    }
    done += n;
  }
}

}  // namespace

void WriteOutput(const std::string& text) { WriteAll(STD_OUTPUT_HANDLE, text); }
void WriteError(const std::string& text) { WriteAll(STD_ERROR_HANDLE, text); }
bool OutputIsTerminal() { return IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE)); }

void InstallStopHandler() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool StopRequested() { return ::InterlockedCompareExchange(&g_stop, 0, 0) != 0; }

}  // namespace ordana::watch
