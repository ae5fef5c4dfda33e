// Windows only: what the log, the journal's reads and an undo's opens check
// of an open handle before they use it.
#pragma once

#include "platform/Win32.h"

namespace veltrano {

// Shared for reading, writing and deleting, as a C runtime file is.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ERROR_SUCCESS when `file` is a file on a disk, no folder and no symbolic
// link or junction (a name-surrogate reparse point; other reparse points, a
// cloud placeholder or a deduplicated file, are files), with its information
// in `info`; otherwise ERROR_ACCESS_DENIED, or ERROR_STOPPED_ON_SYMLINK for a
// link opened as itself.
inline DWORD CheckDiskFile(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ERROR_ACCESS_DENIED;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
        IsReparseTagNameSurrogate(tag.ReparseTag)) {
      return ERROR_STOPPED_ON_SYMLINK;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace veltrano
