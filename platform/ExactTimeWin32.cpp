// The journal's times on Windows: a FILETIME is the file system's precision.
#include "platform/ExactTime.h"

#include "platform/DiskFileWin32.h"

namespace veltrano {

ExactTime ExactWriteTime(HANDLE /*file*/, const FILETIME& read) { return ExactTimeOf(read); }

BOOL SetExactWriteTime(HANDLE file, const ExactTime& time) {
  const FILETIME ft = FileTimeOfExact(time);
  return SetFileTime(file, nullptr, nullptr, &ft);
}

HANDLE OpenTimesNoFollow(LPCWSTR path) {
  // The reparse point itself is opened, so a link is seen and refused; a
  // folder does not open without backup semantics.
  HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD refused = CheckDiskFile(file, info);
  if (refused != ERROR_SUCCESS) {
    CloseHandle(file);
    SetLastError(refused);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace veltrano
