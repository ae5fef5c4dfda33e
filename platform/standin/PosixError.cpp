#include "platform/standin/PosixError.h"

#include <sys/stat.h>

#include <cerrno>

namespace veltrano {

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ETXTBSY:
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD OpenErrorFromErrno(int err, const std::string& path) {
  if (err != ENOENT) return ErrorFromErrno(err);
  std::string parent = path;
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  const std::size_t slash = parent.rfind('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;  // in the current folder
  parent.resize(slash == 0 ? 1 : slash);
  struct stat st {};
  if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace veltrano
