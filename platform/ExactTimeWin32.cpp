// The journal's times on Windows: a FILETIME is the file system's precision.
#include "platform/ExactTime.h"

namespace veltrano {

ExactTime ExactWriteTime(HANDLE /*file*/, const FILETIME& read) { return ExactTimeOf(read); }

BOOL SetExactWriteTime(HANDLE file, const ExactTime& time) {
  const FILETIME ft = FileTimeOfExact(time);
  return SetFileTime(file, nullptr, nullptr, &ft);
}

HANDLE OpenTimesNoFollow(LPCWSTR path) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // The reparse point itself is opened, so a link is seen and refused; a
  // folder does not open without backup semantics.
  HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  DWORD refused = ERROR_SUCCESS;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    refused = ERROR_ACCESS_DENIED;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
        IsReparseTagNameSurrogate(tag.ReparseTag)) {
      refused = ERROR_STOPPED_ON_SYMLINK;
    }
  }
  if (refused != ERROR_SUCCESS) {
    CloseHandle(file);
    SetLastError(refused);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace veltrano
