#pragma once
// The Windows headers as the Win32 backend includes them: without the
// rarely used parts and the min/max macros, and without the macros that
// would rename the seam's own functions (DeleteFile -> DeleteFileW ...) in
// this backend but not in the callers.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateDirectory
#undef DeleteFile
#undef ExpandEnvironmentStrings
#undef WriteConsole
