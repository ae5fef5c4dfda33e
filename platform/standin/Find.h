// The directory search behind FindFirstFileW / FindNextFileW / FindClose.
//
// A pattern that ends in "/*" lists the folder before it (the folder "" is the
// root), "." and ".." first, then every other entry sorted by name ignoring
// letter case, names that differ only in case by their bytes (FindNameLess).
// The listing reads the folder once, when it starts, and keeps its names in
// one arena (a name of n bytes takes n + 6, see FolderNames.h): its memory
// grows with the folder's names, its time in step with the number of entries.
// It lists the folder as it was then: a name removed since is skipped, one
// added since is not listed. Any other pattern names one exact path, whose
// entry is that file or folder itself; no wildcard is expanded.
// FindChosenFileW (platform/ChosenFile.h) takes every path as an exact one, so
// a file named "*" is found as itself. Paths longer than PATH_MAX work (see
// PathAt.h). Attributes and times come from the entry's own status: as on
// Windows, a symbolic link is not followed but described as itself, a reparse
// point whose tag (dwReserved0) is IO_REPARSE_TAG_SYMLINK. The entry handed
// out last is lent to the query that follows (EntryContext.h).
#pragma once

#include <string_view>

#include "platform/Win32.h"

namespace veltrano {

// Copies an entry's name into the record's fixed name field with its
// terminator. False, leaving the field untouched, when the name does not fit:
// such an entry is skipped in a listing and refused as an exact path.
bool CopyFindName(std::wstring_view name, WCHAR (&field)[MAX_PATH]);

}  // namespace veltrano
