// Inside the file services: turning a caller's path into the POSIX path to
// act on, after checking that it is acceptable and inside the file roots.
#pragma once

#include <string>

#include "../com/ComTypes.h"

namespace kvwin32 {

// Returns ERROR_SUCCESS and the native path, or the Windows error code the
// service must fail with. followLast says whether the service acts on what a
// symbolic link in the last component points to (reading, testing) or on the
// link itself (deleting, replacing).
DWORD PrepareTarget(const char* path, bool followLast, std::string* native);

// ERROR_SUCCESS when no roots are set or the path lies inside one of them.
DWORD CheckConfined(const std::string& native, bool followLast);

// The error for a path that could not be reached: a missing file is
// ERROR_FILE_NOT_FOUND, but a missing directory on the way is
// ERROR_PATH_NOT_FOUND, as Windows tells the two apart.
DWORD MissingTargetError(const std::string& native, int err);

}  // namespace kvwin32
