// Opening a file for its attributes, reading and setting its times.
//
// A file handle holds an O_PATH descriptor, which reaches the file's metadata
// and never its contents, or the read-only descriptor of the regular file a
// signature query has just read (EntryContext.h): nothing done through either
// can change a byte of the file, and neither open opens a FIFO or device.
// Only attribute access and OPEN_EXISTING are supported; the program never
// asks for more. As on Windows, an open for attribute writing fails where the
// change could not be made: on a file of another owner, or on a read-only
// mount.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/ExactTime.h"
#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/Win32.h"
#include "platform/standin/EntryContext.h"
#include "platform/standin/Handles.h"
#include "platform/standin/PathAt.h"
#include "platform/standin/PosixError.h"
#include "platform/standin/UniqueFd.h"

namespace {

using veltrano::HandleKind;

struct FileObject {
  veltrano::UniqueFd fd;
  DWORD access = 0;
  bool pathOnly = true;  // an O_PATH descriptor
  timespec lastWrite{};  // the last-write time GetFileTime read last
  // The file's status as the open read it, for the first GetFileTime: the
  // program reads the old time right after opening, and nothing has been
  // done through the handle in between, so another read would give the same.
  // Any time set through the handle makes it stale.
  std::optional<struct stat> opened;
};

HANDLE FailOpen(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// A time the platform treats as "leave this one alone": zero, and the two
// values that switch the file system's own updates off and on again.
bool LeavesTimeAlone(const FILETIME& ft) {
  const std::uint64_t ticks = veltrano::TicksOf(ft);
  return ticks == 0 || ticks == 0xFFFFFFFFFFFFFFFFULL || ticks == 0xFFFFFFFFFFFFFFFEULL;
}

// True when `path` still names the file open as `fd`, with its status in
// `held`: the file a query read may stand for a fresh open only while it is
// still there under that name. (Its name may have named another file for a
// moment in between: it is the file read that counts.)
bool StillNamedBy(const std::string& path, int fd, struct stat& held) {
  const veltrano::PathAt at(path);
  struct stat named {};
  return at.error() == 0 && ::fstat(fd, &held) == 0 &&
         ::fstatat(at.dir(), at.name(), &named, 0) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}

// Sets the times through the handle's descriptor (UTIME_OMIT leaves one).
BOOL SetTimes(FileObject& object, const timespec (&times)[2]) {
  object.opened.reset();
  if (!object.pathOnly) {
    if (::futimens(object.fd.get(), times) != 0) return Fail(veltrano::ErrorFromErrno(errno));
    return TRUE;
  }
  // O_PATH descriptors take no futimens, but an empty path relative to the
  // descriptor reaches the very file that was opened, with no need for /proc.
  // Only a kernel too old for AT_EMPTY_PATH here (EINVAL) gets /proc's link.
  int result = ::utimensat(object.fd.get(), "", times, AT_EMPTY_PATH);
  if (result != 0 && errno == EINVAL) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(object.fd.get());
    result = ::utimensat(AT_FDCWD, procPath.c_str(), times, 0);
  }
  if (result != 0) return Fail(veltrano::ErrorFromErrno(errno));
  return TRUE;
}

// Why an open for attribute writing of the file with status `st` is refused
// (a folder cannot be opened as a file: no backup semantics are asked for),
// or ERROR_SUCCESS.
DWORD RefusedOpen(int fd, const struct stat& st, DWORD access) {
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if ((access & FILE_WRITE_ATTRIBUTES) == 0) return ERROR_SUCCESS;
  if (!veltrano::MayActAsOwner(st)) return ERROR_ACCESS_DENIED;
  if (veltrano::IsOnReadOnlyMount(fd, st.st_dev)) return ERROR_WRITE_PROTECT;
  return ERROR_SUCCESS;
}

// Opens `path` (relative to the current folder, or absolute) as a path only,
// with `flags` added, and reads its status into `st`; none, with the last
// error set, when that fails.
veltrano::UniqueFd OpenPathOnly(const std::string& path, int flags, struct stat& st) {
  const veltrano::PathAt at(path);
  if (at.error() != 0) {
    SetLastError(veltrano::OpenErrorFromErrno(at.error(), path));
    return veltrano::UniqueFd();
  }
  veltrano::UniqueFd fd(::openat(at.dir(), at.name(), O_PATH | O_CLOEXEC | flags));
  if (!fd) {
    SetLastError(veltrano::OpenErrorFromErrno(errno, path));
  } else if (::fstat(fd.get(), &st) != 0) {
    SetLastError(veltrano::ErrorFromErrno(errno));
    fd.reset();
  }
  return fd;
}

HANDLE Register(veltrano::UniqueFd fd, DWORD access, bool pathOnly, const struct stat& st) {
  auto* object = new FileObject{std::move(fd), access, pathOnly, {}, st};
  veltrano::RegisterHandle(object, HandleKind::kFile);
  SetLastError(ERROR_SUCCESS);
  return object;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  if (lpFileName == nullptr) return FailOpen(ERROR_INVALID_PARAMETER);
  if ((dwDesiredAccess & ~(FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES)) != 0 ||
      dwCreationDisposition != OPEN_EXISTING) {
    return FailOpen(ERROR_INVALID_PARAMETER);
  }
  const auto path = veltrano::BytesFromWide(lpFileName);
  if (!path) return FailOpen(ERROR_INVALID_NAME);
  if (path->empty()) return FailOpen(ERROR_PATH_NOT_FOUND);

  veltrano::UniqueFd fd;
  struct stat st {};
  bool pathOnly = true;
  veltrano::UniqueFd queried = veltrano::EntryContext::OfThisThread().TakeQueried(*path);
  if (queried && StillNamedBy(*path, queried.get(), st)) {
    fd = std::move(queried);
    pathOnly = false;
  } else {
    fd = OpenPathOnly(*path, 0, st);
    if (!fd) return INVALID_HANDLE_VALUE;
    // Another file put in the place of the one just read is not stamped with
    // a time read from that one's signature.
    if (queried && !S_ISDIR(st.st_mode)) return FailOpen(ERROR_SHARING_VIOLATION);
  }
  // Attribute writing needs the owner's rights and a writable mount.
  const DWORD refused = RefusedOpen(fd.get(), st, dwDesiredAccess);
  if (refused != ERROR_SUCCESS) return FailOpen(refused);
  return Register(std::move(fd), dwDesiredAccess, pathOnly, st);
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
  if (!veltrano::IsLiveHandle(hFile, HandleKind::kFile)) return Fail(ERROR_INVALID_HANDLE);
  auto* object = static_cast<FileObject*>(hFile);
  if ((object->access & FILE_WRITE_ATTRIBUTES) == 0) return Fail(ERROR_ACCESS_DENIED);
  // The file systems here keep no settable creation time; refuse rather than
  // report a change that did not happen.
  if (lpCreationTime != nullptr && !LeavesTimeAlone(*lpCreationTime)) {
    return Fail(ERROR_NOT_SUPPORTED);
  }

  timespec times[2];
  const FILETIME* wanted[2] = {lpLastAccessTime, lpLastWriteTime};
  bool any = false;
  for (int i = 0; i < 2; ++i) {
    if (wanted[i] == nullptr || LeavesTimeAlone(*wanted[i])) {
      times[i].tv_sec = 0;
      times[i].tv_nsec = UTIME_OMIT;
      continue;
    }
    if (veltrano::TicksOf(*wanted[i]) > static_cast<std::uint64_t>(INT64_MAX)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    times[i] = veltrano::TimespecOf(*wanted[i]);
    any = true;
  }
  if (!any) return TRUE;
  return SetTimes(*object, times);
}

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime) {
  if (!veltrano::IsLiveHandle(hFile, HandleKind::kFile)) return Fail(ERROR_INVALID_HANDLE);
  auto* object = static_cast<FileObject*>(hFile);
  // As on Windows, reading times takes the right to read attributes.
  if ((object->access & FILE_READ_ATTRIBUTES) == 0) return Fail(ERROR_ACCESS_DENIED);
  struct stat st {};
  if (object->opened) {
    st = *object->opened;
    object->opened.reset();
  } else if (::fstat(object->fd.get(), &st) != 0) {
    return Fail(veltrano::ErrorFromErrno(errno));
  }
  // The status carries no creation time: zero, as in a search record.
  if (lpCreationTime != nullptr) *lpCreationTime = FILETIME{0, 0};
  if (lpLastAccessTime != nullptr) *lpLastAccessTime = veltrano::FileTimeOf(st.st_atim);
  if (lpLastWriteTime != nullptr) *lpLastWriteTime = veltrano::FileTimeOf(st.st_mtim);
  object->lastWrite = st.st_mtim;
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  if (!veltrano::UnregisterHandle(hObject, HandleKind::kFile)) return Fail(ERROR_INVALID_HANDLE);
  delete static_cast<FileObject*>(hObject);
  return TRUE;
}

namespace veltrano {

ExactTime ExactWriteTime(HANDLE file, const FILETIME& read) {
  if (IsLiveHandle(file, HandleKind::kFile)) {
    const timespec& last = static_cast<const FileObject*>(file)->lastWrite;
    if (TicksOf(FileTimeOf(last)) == TicksOf(read))
      return ExactTime{last.tv_sec, static_cast<std::int32_t>(last.tv_nsec)};
  }
  return ExactTimeOf(read);
}

BOOL SetExactWriteTime(HANDLE file, const ExactTime& time) {
  if (!IsLiveHandle(file, HandleKind::kFile)) return Fail(ERROR_INVALID_HANDLE);
  auto* object = static_cast<FileObject*>(file);
  if ((object->access & FILE_WRITE_ATTRIBUTES) == 0) return Fail(ERROR_ACCESS_DENIED);
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time.sec), time.nsec}};
  return SetTimes(*object, times);
}

HANDLE OpenTimesNoFollow(LPCWSTR path) {
  const auto bytes = path == nullptr ? std::nullopt : BytesFromWide(path);
  if (!bytes) return FailOpen(ERROR_INVALID_NAME);
  if (bytes->empty()) return FailOpen(ERROR_PATH_NOT_FOUND);
  // O_PATH with O_NOFOLLOW opens a link as itself, which is then refused.
  struct stat st {};
  UniqueFd fd = OpenPathOnly(*bytes, O_NOFOLLOW, st);
  if (!fd) return INVALID_HANDLE_VALUE;
  if (S_ISLNK(st.st_mode)) return FailOpen(ERROR_STOPPED_ON_SYMLINK);
  if (!S_ISREG(st.st_mode)) return FailOpen(ERROR_ACCESS_DENIED);
  constexpr DWORD kAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  const DWORD refused = RefusedOpen(fd.get(), st, kAccess);
  if (refused != ERROR_SUCCESS) return FailOpen(refused);
  return Register(std::move(fd), kAccess, true, st);
}

}  // namespace veltrano
