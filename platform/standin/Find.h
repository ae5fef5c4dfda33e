// The directory search behind FindFirstFileW / FindNextFileW / FindClose.
//
// A pattern that ends in "/*" lists the folder before it (the folder "" is the
// root), "." and ".." first, then every other entry sorted by name ignoring
// letter case, names that differ only in case by their bytes. The listing
// keeps a bounded number of names at a time (kDefaultFindBatchNames): a
// larger folder is read again for each further batch, and behaves as a live
// listing there (names added or removed since show as such; no name comes
// twice). Any other
// pattern names one exact path, whose entry is that file or folder itself; no
// wildcard is expanded. FindChosenFileW (platform/ChosenFile.h) takes every
// path as an exact one, so a file named "*" is found as itself. Paths longer
// than PATH_MAX work (see PathAt.h). Attributes and times come from the entry's status,
// following symbolic links; a dangling link is still listed, with the link's
// own status.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/Win32.h"

namespace veltrano {

// Copies an entry's name into the record's fixed name field with its
// terminator. False, leaving the field untouched, when the name does not fit:
// such an entry is skipped in a listing and refused as an exact path.
bool CopyFindName(std::wstring_view name, WCHAR (&field)[MAX_PATH]);

// How many names a listing keeps at a time: a folder of up to this many
// entries is read once.
inline constexpr std::size_t kDefaultFindBatchNames = 16384;
// Sets that number for the listings started after (at least 1; tests make it
// small to walk a folder in several batches); returns the one it replaces.
std::size_t SetFindBatchNames(std::size_t names);

// Orders two names (as the file system stores them) as a listing does: true
// when `a` comes before `b`.
bool FindNameLess(std::string_view a, std::string_view b);

// The entry a search last handed out on this thread, for the signature query
// that follows it: the query then neither looks the path up again nor asks
// for a status the search has just read. The folder stays open as long as
// its search.
struct ListedEntry {
  int dirFd;         // the listed folder, or AT_FDCWD
  const char* name;  // relative to dirFd
  struct stat st;    // as the search read it, following a symbolic link
};
// The entry when `path` names it (the folder's path, "/" and the name, or the
// exact path searched for), and only once; nothing otherwise.
std::optional<ListedEntry> TakeListedEntry(std::string_view path);

}  // namespace veltrano
