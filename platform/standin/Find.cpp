#include "platform/standin/Find.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ChosenFile.h"
#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/standin/EntryContext.h"
#include "platform/standin/FolderNames.h"
#include "platform/standin/Handles.h"
#include "platform/standin/PathAt.h"
#include "platform/standin/PosixError.h"
#include "platform/standin/UniqueFd.h"

namespace veltrano {
namespace {

// One open search. A listing reads its folder's names once, when it starts,
// and hands them out in listing order; each entry's status is read when the
// entry is handed out, so a name removed since the start is skipped (one
// added since is not listed). A search for one path keeps that path as its
// only name and no folder.
struct FindState {
  UniqueFd dir;        // the listed folder
  std::string prefix;  // what a full path puts before a name
  FolderNames names;
  std::size_t next = 0;  // the next name to hand out
  std::string path;      // a search for one path
  HandleRef handle;      // as registered
};

// The record's name decoded from the bytes the file system stores; false,
// with the field partly written, when it does not fit.
bool DecodeFindName(std::string_view bytes, WCHAR (&field)[MAX_PATH]) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < bytes.size(); ++length) {
    if (length == MAX_PATH - 1) return false;
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      field[length] = static_cast<WCHAR>(byte);
      ++i;
    } else {
      field[length] = static_cast<WCHAR>(NextCodePoint(bytes, i));
    }
  }
  field[length] = L'\0';
  return true;
}

// Fills everything but the name, which the record already holds. A symbolic
// link is described by its own status, as Windows describes a link: a reparse
// point with the link's tag (in dwReserved0).
void FillRecord(const struct stat& st, WIN32_FIND_DATAW& record) {
  const std::wstring_view name(record.cFileName);
  if (S_ISDIR(st.st_mode)) record.dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & S_IWUSR) == 0) record.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  if (name.size() > 1 && name[0] == L'.' && name != L"..")
    record.dwFileAttributes |= FILE_ATTRIBUTE_HIDDEN;
  if (S_ISLNK(st.st_mode)) {
    record.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    record.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
  }
  if (record.dwFileAttributes == 0) record.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;

  record.ftLastWriteTime = FileTimeOf(st.st_mtim);
  record.ftLastAccessTime = FileTimeOf(st.st_atim);
  // The status carries no creation time; ftCreationTime stays zero.
  const auto size = static_cast<std::uint64_t>(st.st_size < 0 ? 0 : st.st_size);
  record.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
}

// Hands out the next listed entry that still exists and fits the record.
bool NextListed(FindState& state, LPWIN32_FIND_DATAW data) {
  EntryContext& context = EntryContext::OfThisThread();
  context.ClearListed();
  while (state.next < state.names.size()) {
    const std::string_view name = state.names[state.next++];
    WIN32_FIND_DATAW record{};
    struct stat st;
    if (!DecodeFindName(name, record.cFileName) ||
        fstatat(state.dir.get(), name.data(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    FillRecord(st, record);
    *data = record;
    // A link is never handed on.
    if (!S_ISLNK(st.st_mode)) context.Listed(state.handle, state.dir.get(), state.prefix, name, st);
    return true;
  }
  return false;
}

// The handle is the state's address, registered as a search handle so that no
// other kind of handle (a file's included) is taken for one.
FindState* Register(std::unique_ptr<FindState> state) {
  FindState* raw = state.release();
  raw->handle = RegisterHandle(raw, HandleKind::kFind);
  return raw;
}

// Ends the search `handle`; false when it is none.
bool Close(HANDLE handle) {
  if (!UnregisterHandle(handle, HandleKind::kFind)) return false;
  EntryContext::OfThisThread().Forget(handle);
  delete static_cast<FindState*>(handle);
  return true;
}

HANDLE ListFolder(const std::string& folder, LPWIN32_FIND_DATAW data) {
  auto state = std::make_unique<FindState>();
  const PathAt at(folder.empty() ? "/" : folder);
  if (at.error() == 0) {
    state->dir.reset(openat(at.dir(), at.name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (!state->dir) {
    // A folder that is missing or is no folder: the path is not found.
    const int err = at.error() != 0 ? at.error() : errno;
    SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err));
    return INVALID_HANDLE_VALUE;
  }
  state->prefix = folder + '/';
  state->names.Read(state->dir.get());
  FindState* search = Register(std::move(state));
  if (!NextListed(*search, data)) {
    Close(search);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

HANDLE FindExactPath(std::wstring_view pattern, const std::string& path, LPWIN32_FIND_DATAW data) {
  const std::size_t slash = pattern.rfind(L'/');
  const std::wstring_view name =
      slash == std::wstring_view::npos ? pattern : pattern.substr(slash + 1);
  if (name.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  const PathAt at(path);
  if (at.error() != 0 || fstatat(at.dir(), at.name(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    SetLastError(OpenErrorFromErrno(at.error() != 0 ? at.error() : errno, path));
    return INVALID_HANDLE_VALUE;
  }
  WIN32_FIND_DATAW record{};
  if (!CopyFindName(name, record.cFileName)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  FillRecord(st, record);
  *data = record;
  auto state = std::make_unique<FindState>();
  state->path = path;
  FindState* search = Register(std::move(state));
  // The path itself is the name a query may be handed, when it is reached
  // from the current folder in one piece.
  EntryContext& context = EntryContext::OfThisThread();
  context.ClearListed();
  if (at.dir() == AT_FDCWD && !S_ISLNK(st.st_mode)) {
    context.Listed(search->handle, AT_FDCWD, {}, search->path, st);
  }
  return search;
}

}  // namespace

bool CopyFindName(std::wstring_view name, WCHAR (&field)[MAX_PATH]) {
  if (name.size() >= MAX_PATH) return false;
  std::copy(name.begin(), name.end(), field);
  field[name.size()] = L'\0';
  return true;
}

}  // namespace veltrano

namespace veltrano {
namespace {

// A folder pattern (ending in "/*") lists the folder unless `exact` asks for
// the one entry that the whole path names.
HANDLE StartSearch(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData, bool exact) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::wstring_view pattern(lpFileName);
  if (pattern.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::optional<std::string> bytes = BytesFromWide(pattern);
  if (!bytes) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  if (!exact && pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == L"/*") {
    return ListFolder(bytes->substr(0, bytes->size() - 2), lpFindFileData);
  }
  return FindExactPath(pattern, *bytes, lpFindFileData);
}

}  // namespace
}  // namespace veltrano

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  return veltrano::StartSearch(lpFileName, lpFindFileData, false);
}

HANDLE FindChosenFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  return veltrano::StartSearch(lpFileName, lpFindFileData, true);
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  if (!veltrano::IsLiveHandle(hFindFile, veltrano::HandleKind::kFind)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* state = static_cast<veltrano::FindState*>(hFindFile);
  if (!state->dir || !veltrano::NextListed(*state, lpFindFileData)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!veltrano::Close(hFindFile)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
