#include "platform/standin/Find.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ChosenFile.h"
#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/standin/Handles.h"
#include "platform/standin/PathAt.h"
#include "platform/standin/PosixError.h"

namespace veltrano {
namespace {

// One open search. A listing keeps its folder open and its names, each as
// its length in a byte, its bytes and a NUL, in blocks that are filled one
// after the other (a few bytes per entry, however many there are, and never
// copied to grow); it reads each entry's status when the entry is handed out.
// A search for one path keeps that path as its only name and no folder.
struct FindState {
  static constexpr unsigned kBlockShift = 15;  // 32 KiB blocks
  static constexpr std::size_t kBlockBytes = std::size_t{1} << kBlockShift;

  int dirFd = -1;
  std::string prefix;  // what a full path puts before a name
  std::vector<std::unique_ptr<char[]>> blocks;
  std::size_t blockUsed = kBlockBytes;
  std::vector<std::uint32_t> starts;  // block << kBlockShift | offset, in listing order
  std::string path;                   // a search for one path
  std::size_t next = 0;

  ~FindState() {
    if (dirFd >= 0) close(dirFd);
  }
  // Keeps a name; false when no more can be kept.
  bool Add(std::string_view name) {
    const std::size_t bytes = name.size() + 2;
    if (name.size() > UINT8_MAX) return true;  // longer than any file system allows
    if (blockUsed + bytes > kBlockBytes) {
      if (blocks.size() >= (std::size_t{1} << (32 - kBlockShift))) return false;
      blocks.push_back(std::make_unique<char[]>(kBlockBytes));
      blockUsed = 0;
    }
    char* at = blocks.back().get() + blockUsed;
    at[0] = static_cast<char>(name.size());
    std::memcpy(at + 1, name.data(), name.size());
    at[name.size() + 1] = '\0';
    starts.push_back(static_cast<std::uint32_t>((blocks.size() - 1) << kBlockShift | blockUsed));
    blockUsed += bytes;
    return true;
  }
  bool Holds(std::uint32_t start) const {
    return dirFd < 0 || (start >> kBlockShift) < blocks.size();
  }
  // The name (followed by its NUL); a search for one path has that path.
  std::string_view Name(std::uint32_t start) const {
    if (dirFd < 0) return path;
    const char* at = blocks[start >> kBlockShift].get() + (start & (kBlockBytes - 1));
    return std::string_view(at + 1, static_cast<unsigned char>(at[0]));
  }
};

// The entry this thread was handed last, for the signature query that
// follows (TakeListedEntry).
struct Handout {
  const FindState* state = nullptr;
  std::uint32_t start = 0;
  struct stat st {};
};
thread_local Handout t_handout;

// Letter case is folded with the full Unicode tables of the C.UTF-8 locale
// (independent of the user's locale); without it, ASCII only.
wchar_t FoldCase(char32_t c) {
  if (c < 0x80) return static_cast<wchar_t>(c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c);
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 != static_cast<locale_t>(0)) return static_cast<wchar_t>(towupper_l(c, utf8));
  return static_cast<wchar_t>(c);
}

int DotRank(std::string_view name) {
  if (name == ".") return 0;
  if (name == "..") return 1;
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

// The record's name decoded from the bytes the file system stores; false,
// leaving the field untouched, when it does not fit.
bool DecodeFindName(std::string_view bytes, WCHAR (&field)[MAX_PATH]) {
  WCHAR name[MAX_PATH];
  std::size_t length = 0;
  for (std::size_t i = 0; i < bytes.size(); ++length) {
    if (length == MAX_PATH - 1) return false;
    name[length] = static_cast<WCHAR>(NextCodePoint(bytes, i));
  }
  name[length] = L'\0';
  std::copy(name, name + length + 1, field);
  return true;
}

// Fills everything but the name, which the record already holds.
void FillRecord(const struct stat& st, bool isLink, WIN32_FIND_DATAW& record) {
  const std::wstring_view name(record.cFileName);
  if (S_ISDIR(st.st_mode)) record.dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & S_IWUSR) == 0) record.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  if (name.size() > 1 && name[0] == L'.' && name != L"..")
    record.dwFileAttributes |= FILE_ATTRIBUTE_HIDDEN;
  if (isLink) record.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
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
  t_handout = Handout{};
  while (state.next < state.starts.size()) {
    const std::uint32_t start = state.starts[state.next++];
    WIN32_FIND_DATAW record{};
    struct stat st;
    bool isLink = false;
    const std::string_view name = state.Name(start);
    if (!DecodeFindName(name, record.cFileName) ||
        !StatEntry(state.dirFd, name.data(), st, isLink)) {
      continue;
    }
    FillRecord(st, isLink, record);
    *data = record;
    // A link's target is looked up again by whoever follows it.
    if (!isLink) t_handout = Handout{&state, start, st};
    return true;
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

// Reads every name of the folder into the state; a read error part-way ends
// the listing where it stands.
bool ReadNames(FindState& state) {
  const int listFd = dup(state.dirFd);
  DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
  if (dir == nullptr) {
    const int err = errno;
    if (listFd >= 0) close(listFd);
    SetLastError(ErrorFromErrno(err));
    return false;
  }
  while (const dirent* d = readdir(dir)) {
    if (!state.Add(d->d_name)) break;
  }
  closedir(dir);
  return true;
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
  if (!ReadNames(*state)) return INVALID_HANDLE_VALUE;
  state->prefix = folder + '/';
  const FindState& s = *state;
  std::sort(state->starts.begin(), state->starts.end(),
            [&s](std::uint32_t a, std::uint32_t b) { return FindNameLess(s.Name(a), s.Name(b)); });

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
  WIN32_FIND_DATAW record{};
  if (!CopyFindName(name, record.cFileName)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  FillRecord(st, isLink, record);
  *data = record;
  auto state = std::make_unique<FindState>();
  FindState* raw = state.get();
  const HANDLE h = Register(std::move(state));
  // The path itself is the name a query may be handed, when it is reached
  // from the current folder in one piece.
  t_handout = Handout{};
  if (at.dir() == AT_FDCWD && !isLink) {
    raw->path = path;
    t_handout = Handout{raw, 0, st};
  }
  return h;
}

}  // namespace

bool CopyFindName(std::wstring_view name, WCHAR (&field)[MAX_PATH]) {
  if (name.size() >= MAX_PATH) return false;
  std::copy(name.begin(), name.end(), field);
  field[name.size()] = L'\0';
  return true;
}

bool FindNameLess(std::string_view a, std::string_view b) {
  const int ra = DotRank(a);
  const int rb = DotRank(b);
  if (ra != rb) return ra < rb;
  // Equal ASCII bytes fold alike: comparing starts where they end. Eight
  // bytes at a time while they are equal and ASCII.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (std::uint64_t wa = 0, wb = 0; i + 8 <= common; i += 8) {
    std::memcpy(&wa, a.data() + i, 8);
    std::memcpy(&wb, b.data() + i, 8);
    if (wa != wb || (wa & 0x8080808080808080ULL) != 0) break;
  }
  while (i < common && a[i] == b[i] && static_cast<unsigned char>(a[i]) < 0x80) ++i;
  std::size_t j = i;
  // ASCII, the usual case, needs no decoding.
  const auto next = [](std::string_view s, std::size_t& at) {
    const auto byte = static_cast<unsigned char>(s[at]);
    if (byte >= 0x80) return FoldCase(NextCodePoint(s, at));
    ++at;
    return FoldCase(byte);
  };
  while (i < a.size() && j < b.size()) {
    const wchar_t fa = next(a, i);
    const wchar_t fb = next(b, j);
    if (fa != fb) return fa < fb;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;
}

std::optional<ListedEntry> TakeListedEntry(std::string_view path) {
  const Handout handout = std::exchange(t_handout, Handout{});
  const FindState* state = handout.state;
  if (state == nullptr || !IsLiveHandle(state, HandleKind::kFind) || !state->Holds(handout.start)) {
    return std::nullopt;
  }
  const std::string_view name = state->Name(handout.start);
  if (path.size() != state->prefix.size() + name.size() || !path.starts_with(state->prefix) ||
      !path.ends_with(name)) {
    return std::nullopt;
  }
  return ListedEntry{state->dirFd >= 0 ? state->dirFd : AT_FDCWD, name.data(), handout.st};
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
  if (veltrano::t_handout.state == hFindFile) veltrano::t_handout = veltrano::Handout{};
  delete static_cast<veltrano::FindState*>(hFindFile);
  return TRUE;
}
