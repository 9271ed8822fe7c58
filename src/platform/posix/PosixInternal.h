#pragma once
// Helpers the POSIX backend's files share; not part of the seam.

#include <string>

#include "platform/Platform.h"

namespace ordana::platform {

// The directory part of a native path ("." for a bare name, "/" for the root).
std::string DirectoryOf(const std::string& path);
// Follows symbolic links at the last part of `path`, repeatedly, so that a
// replacement lands on the file a link points to and the link survives.
std::string ResolveFinalLink(const std::string& path);
// Sets what LastError reports.
void SetLastErrorCode(ErrorCode code);

}  // namespace ordana::platform
