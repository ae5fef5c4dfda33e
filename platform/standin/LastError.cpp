// The thread's last-error code and the narrow string comparison.
#include <cstring>

#include "platform/Win32.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

int lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
  // A null pointer compares as the empty text, as the platform does.
  const char* a = lpString1 ? lpString1 : "";
  const char* b = lpString2 ? lpString2 : "";
  const int r = std::strcmp(a, b);
  return (r > 0) - (r < 0);
}
