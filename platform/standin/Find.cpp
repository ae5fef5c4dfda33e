#include "platform/standin/Find.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/ChosenFile.h"
#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/standin/Handles.h"
#include "platform/standin/PathAt.h"
#include "platform/standin/PosixError.h"

namespace veltrano {
namespace {

struct Entry {
  std::string bytes;  // the name as the file system stores it
  std::wstring name;
};

// One open search. A listing keeps its folder open and reads each entry's
// status when the entry is handed out.
struct FindState {
  int dirFd = -1;
  std::vector<Entry> entries;
  std::size_t next = 0;

  ~FindState() {
    if (dirFd >= 0) close(dirFd);
  }
};

// Letter case is folded with the full Unicode tables of the C.UTF-8 locale
// (independent of the user's locale); without it, ASCII only.
wchar_t FoldCase(wchar_t c) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 != static_cast<locale_t>(0)) return static_cast<wchar_t>(towupper_l(c, utf8));
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

int DotRank(std::wstring_view name) {
  if (name == L".") return 0;
  if (name == L"..") return 1;
  return 2;
}

// The entry's status, following a symbolic link; a dangling link gives the
// link's own status. False when the entry has gone. One call for anything
// but a link.
bool StatEntry(int dirFd, const char* path, struct stat& st, bool& isLink) {
  if (fstatat(dirFd, path, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  isLink = S_ISLNK(st.st_mode);
  struct stat target;
  if (isLink && fstatat(dirFd, path, &target, 0) == 0) st = target;
  return true;
}

bool FillRecord(const Entry& entry, const struct stat& st, bool isLink, LPWIN32_FIND_DATAW data) {
  WIN32_FIND_DATAW record{};
  if (!CopyFindName(entry.name, record.cFileName)) return false;

  if (S_ISDIR(st.st_mode)) record.dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & S_IWUSR) == 0) record.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  if (entry.name.size() > 1 && entry.name[0] == L'.' && entry.name != L"..")
    record.dwFileAttributes |= FILE_ATTRIBUTE_HIDDEN;
  if (isLink) record.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if (record.dwFileAttributes == 0) record.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;

  record.ftLastWriteTime = FileTimeOf(st.st_mtim);
  record.ftLastAccessTime = FileTimeOf(st.st_atim);
  // The status carries no creation time; ftCreationTime stays zero.
  const auto size = static_cast<std::uint64_t>(st.st_size < 0 ? 0 : st.st_size);
  record.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  *data = record;
  return true;
}

// Hands out the next listed entry that still exists and fits the record.
bool NextListed(FindState& state, LPWIN32_FIND_DATAW data) {
  while (state.next < state.entries.size()) {
    const Entry& entry = state.entries[state.next++];
    struct stat st;
    bool isLink = false;
    if (!StatEntry(state.dirFd, entry.bytes.c_str(), st, isLink)) continue;
    if (FillRecord(entry, st, isLink, data)) return true;
  }
  return false;
}

// The handle is the state's address, registered as a search handle so that no
// other kind of handle (a file's included) is taken for one.
HANDLE Register(std::unique_ptr<FindState> state) {
  FindState* raw = state.release();
  RegisterHandle(raw, HandleKind::kFind);
  return static_cast<HANDLE>(raw);
}

HANDLE ListFolder(const std::string& folder, LPWIN32_FIND_DATAW data) {
  auto state = std::make_unique<FindState>();
  const PathAt at(folder.empty() ? "/" : folder);
  state->dirFd =
      at.error() != 0 ? -1 : openat(at.dir(), at.name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (state->dirFd < 0) {
    // A folder that is missing or is no folder: the path is not found.
    const int err = at.error() != 0 ? at.error() : errno;
    SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err));
    return INVALID_HANDLE_VALUE;
  }
  const int listFd = dup(state->dirFd);
  DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
  if (dir == nullptr) {
    const int err = errno;
    if (listFd >= 0) close(listFd);
    SetLastError(ErrorFromErrno(err));
    return INVALID_HANDLE_VALUE;
  }
  // A read error part-way ends the listing where it stands.
  while (const dirent* d = readdir(dir)) {
    Entry entry{d->d_name, WideFromBytes(d->d_name)};
    state->entries.push_back(std::move(entry));
  }
  closedir(dir);

  std::sort(state->entries.begin(), state->entries.end(), [](const Entry& a, const Entry& b) {
    if (FindNameLess(a.name, b.name)) return true;
    if (FindNameLess(b.name, a.name)) return false;
    return a.bytes < b.bytes;
  });

  if (!NextListed(*state, data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return Register(std::move(state));
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
  bool isLink = false;
  const PathAt at(path);
  if (at.error() != 0 || !StatEntry(at.dir(), at.name(), st, isLink)) {
    SetLastError(OpenErrorFromErrno(at.error() != 0 ? at.error() : errno, path));
    return INVALID_HANDLE_VALUE;
  }
  const Entry entry{std::string(), std::wstring(name)};
  if (!FillRecord(entry, st, isLink, data)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  return Register(std::make_unique<FindState>());
}

}  // namespace

bool CopyFindName(std::wstring_view name, WCHAR (&field)[MAX_PATH]) {
  if (name.size() >= MAX_PATH) return false;
  std::copy(name.begin(), name.end(), field);
  field[name.size()] = L'\0';
  return true;
}

bool FindNameLess(std::wstring_view a, std::wstring_view b) {
  const int ra = DotRank(a);
  const int rb = DotRank(b);
  if (ra != rb) return ra < rb;
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const wchar_t fa = FoldCase(a[i]);
    const wchar_t fb = FoldCase(b[i]);
    if (fa != fb) return fa < fb;
  }
  return a.size() < b.size();
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
  if (state->dirFd < 0 || !veltrano::NextListed(*state, lpFindFileData)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!veltrano::UnregisterHandle(hFindFile, veltrano::HandleKind::kFind)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete static_cast<veltrano::FindState*>(hFindFile);
  return TRUE;
}
