// The directory search for a file the user chose by itself.
#pragma once

#include "platform/Win32.h"

// Starts a search that yields exactly the file at `lpFileName`, whatever
// characters its name holds. On Windows that is FindFirstFileW: no name can
// hold a wildcard there. The stand-in's pattern language takes a path ending
// in "/*" for a folder's listing, which a file named "*" would be taken for.
#ifdef _WIN32
inline HANDLE FindChosenFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  return FindFirstFileW(lpFileName, lpFindFileData);
}
#else
HANDLE FindChosenFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
#endif
