#pragma once
// Helpers the Win32 backend's files share; not part of the seam.

#include "platform/Platform.h"

namespace ordana::platform {

// Our own code for "not a regular file": bit 29 marks codes that are not
// the system's.
constexpr ErrorCode kNotRegularFile = 0x20000001u;

// Sets what LastError reports.
void SetLastErrorCode(ErrorCode code);

}  // namespace ordana::platform
