#include "platform/standin/Find.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

// How many names a listing keeps at a time.
std::size_t g_batchNames = kDefaultFindBatchNames;

bool NameLess(const std::string& a, const std::string& b) { return FindNameLess(a, b); }

// One open search. A listing hands its folder's names out in batches: each
// batch holds, sorted, the smallest names after the last one handed out (at
// most g_batchNames of them), found by reading the whole folder and keeping
// only those. When a batch that left names out is used up, the folder is read
// again from its start for the next. A folder that fits one batch is read
// once, and memory stays bounded whatever the folder's size. Like a live
// listing, a later batch sees names added or removed since, and never a name
// twice. Each entry's status is read when the entry is handed out.
// A search for one path keeps that path as its only name and no folder.
struct FindState {
  DIR* dir = nullptr;
  int dirFd = -1;      // the folder, the one dir reads
  std::string prefix;  // what a full path puts before a name
  std::vector<std::string> batch;
  std::size_t next = 0;  // the next name of the batch to hand out
  bool leftOut = false;  // names after the batch were left out of it
  std::string path;      // a search for one path

  ~FindState() {
    if (dir != nullptr) closedir(dir);
  }
  // The name handed out as batch[index] (followed by its NUL); a search for
  // one path has that path.
  const std::string* Name(std::size_t index) const {
    if (dir == nullptr) return &path;
    return index < batch.size() ? &batch[index] : nullptr;
  }
};

// The entry this thread was handed last, for the signature query that
// follows (TakeListedEntry).
struct Handout {
  const FindState* state = nullptr;
  std::size_t index = 0;  // in the state's batch
  struct stat st {};
};
thread_local Handout t_handout;

// Letter case is folded with the full Unicode tables of the C.UTF-8 locale
// (independent of the user's locale); without it, ASCII only. ASCII is folded
// inline.
wchar_t FoldWideCase(char32_t c) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 != static_cast<locale_t>(0)) return static_cast<wchar_t>(towupper_l(c, utf8));
  return static_cast<wchar_t>(c);
}
inline wchar_t FoldCase(char32_t c) {
  if (c < 0x80) return static_cast<wchar_t>(c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c);
  return FoldWideCase(c);
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

// Reads the folder from its start and keeps, sorted, the smallest names after
// `after` (every name when it is null) that a batch takes; notes whether any
// were left out. A read error part-way ends the listing with this batch.
void ReadBatch(FindState& state, const std::string* after) {
  std::vector<std::string>& batch = state.batch;
  batch.clear();
  state.next = 0;
  state.leftOut = false;
  if (after != nullptr) rewinddir(state.dir);
  for (;;) {
    errno = 0;
    const dirent* d = readdir(state.dir);
    if (d == nullptr) break;
    const std::string_view name(d->d_name);
    if (name.size() > NAME_MAX) continue;  // longer than any file system allows
    if (after != nullptr && !FindNameLess(*after, name)) continue;
    if (batch.size() < g_batchNames) {
      batch.emplace_back(name);
      if (batch.size() == g_batchNames) std::make_heap(batch.begin(), batch.end(), NameLess);
      continue;
    }
    // A full batch is a heap whose front is its largest name.
    state.leftOut = true;
    if (!FindNameLess(name, batch.front())) continue;
    std::pop_heap(batch.begin(), batch.end(), NameLess);
    batch.back().assign(name);
    std::push_heap(batch.begin(), batch.end(), NameLess);
  }
  if (errno != 0) state.leftOut = false;
  std::sort(batch.begin(), batch.end(), NameLess);
}

// Hands out the next listed entry that still exists and fits the record,
// reading the next batch when one is used up.
bool NextListed(FindState& state, LPWIN32_FIND_DATAW data) {
  t_handout = Handout{};
  for (;;) {
    if (state.next == state.batch.size()) {
      if (!state.leftOut) return false;
      const std::string after = std::move(state.batch.back());
      ReadBatch(state, &after);
      continue;
    }
    const std::size_t index = state.next++;
    const std::string& name = state.batch[index];
    WIN32_FIND_DATAW record{};
    struct stat st;
    bool isLink = false;
    if (!DecodeFindName(name, record.cFileName) ||
        !StatEntry(state.dirFd, name.c_str(), st, isLink)) {
      continue;
    }
    FillRecord(st, isLink, record);
    *data = record;
    // A link's target is looked up again by whoever follows it.
    if (!isLink) t_handout = Handout{&state, index, st};
    return true;
  }
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
  const int dirFd =
      at.error() != 0 ? -1 : openat(at.dir(), at.name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    // A folder that is missing or is no folder: the path is not found.
    const int err = at.error() != 0 ? at.error() : errno;
    SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err));
    return INVALID_HANDLE_VALUE;
  }
  state->dir = fdopendir(dirFd);
  if (state->dir == nullptr) {
    const int err = errno;
    close(dirFd);
    SetLastError(ErrorFromErrno(err));
    return INVALID_HANDLE_VALUE;
  }
  state->dirFd = dirFd;
  state->prefix = folder + '/';
  ReadBatch(*state, nullptr);
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

std::size_t SetFindBatchNames(std::size_t names) {
  return std::exchange(g_batchNames, std::max<std::size_t>(names, 1));
}

bool CopyFindName(std::wstring_view name, WCHAR (&field)[MAX_PATH]) {
  if (name.size() >= MAX_PATH) return false;
  std::copy(name.begin(), name.end(), field);
  field[name.size()] = L'\0';
  return true;
}

bool FindNameLess(std::string_view a, std::string_view b) {
  if (a.starts_with('.') || b.starts_with('.')) {
    const int ra = DotRank(a);
    const int rb = DotRank(b);
    if (ra != rb) return ra < rb;
  }
  // Equal bytes fold alike: comparing starts at the first byte that differs,
  // found eight bytes at a time, or at the start of its character.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (std::uint64_t wa = 0, wb = 0; i + 8 <= common; i += 8) {
    std::memcpy(&wa, a.data() + i, 8);
    std::memcpy(&wb, b.data() + i, 8);
    if (wa != wb) break;
  }
  while (i < common && a[i] == b[i]) ++i;
  // Every byte but a continuation byte starts a character.
  const auto continues = [](std::string_view s, std::size_t at) {
    return at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80;
  };
  while (i > 0 && (continues(a, i) || continues(b, i))) --i;
  std::size_t j = i;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    wchar_t fa, fb;
    if ((ca | cb) < 0x80) {  // ASCII, the usual case, needs no decoding
      fa = FoldCase(ca);
      fb = FoldCase(cb);
      ++i;
      ++j;
    } else {
      fa = FoldCase(NextCodePoint(a, i));
      fb = FoldCase(NextCodePoint(b, j));
    }
    if (fa != fb) return fa < fb;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;
}

std::optional<ListedEntry> TakeListedEntry(std::string_view path) {
  const Handout handout = std::exchange(t_handout, Handout{});
  const FindState* state = handout.state;
  if (state == nullptr || !IsLiveHandle(state, HandleKind::kFind)) return std::nullopt;
  const std::string* name = state->Name(handout.index);
  if (name == nullptr || path.size() != state->prefix.size() + name->size() ||
      !path.starts_with(state->prefix) || !path.ends_with(*name)) {
    return std::nullopt;
  }
  return ListedEntry{state->dir != nullptr ? state->dirFd : AT_FDCWD, name->c_str(), handout.st};
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
  if (state->dir == nullptr || !veltrano::NextListed(*state, lpFindFileData)) {
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
