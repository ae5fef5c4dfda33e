// Windows error codes for POSIX errno values, as the file functions of the
// stand-in report them.
#pragma once

#include <string>

#include "platform/Win32.h"

namespace veltrano {

// The code for a failed call on an existing path: EACCES/EPERM give
// ERROR_ACCESS_DENIED, ENAMETOOLONG ERROR_FILENAME_EXCED_RANGE, and so on;
// anything without a closer match is ERROR_GEN_FAILURE.
DWORD ErrorFromErrno(int err);

// The code for a failed open of `path`: ENOENT is ERROR_PATH_NOT_FOUND when
// the folder that should hold the file is missing too, else
// ERROR_FILE_NOT_FOUND; ENOTDIR is ERROR_PATH_NOT_FOUND; the rest as above.
DWORD OpenErrorFromErrno(int err, const std::string& path);

}  // namespace veltrano
