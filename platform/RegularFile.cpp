#include "platform/RegularFile.h"

#ifdef _WIN32
#include "platform/DiskFileWin32.h"
#include "platform/WideText.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/standin/PosixError.h"
#include "platform/standin/UniqueFd.h"
#endif

namespace veltrano {

#ifdef _WIN32
std::optional<std::string> ReadRegularFile(const std::string& name, DWORD& error) {
  HANDLE file = CreateFileW(WideFromWtf8(name).c_str(), GENERIC_READ, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return std::nullopt;
  }
  std::optional<std::string> content;
  BY_HANDLE_FILE_INFORMATION info{};
  if (CheckDiskFile(file, info) != ERROR_SUCCESS) {
    error = ERROR_ACCESS_DENIED;
  } else {
    content.emplace();
    char buffer[65536];
    for (DWORD got = 0;; content->append(buffer, got)) {
      if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
        error = GetLastError();
        content.reset();
        break;
      }
      if (got == 0) break;
    }
  }
  CloseHandle(file);
  return content;
}
#else
std::optional<std::string> ReadRegularFile(const std::string& name, DWORD& error) {
  UniqueFd fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    error = OpenErrorFromErrno(errno, name);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    error = ERROR_ACCESS_DENIED;
    return std::nullopt;
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got == 0) return content;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = ErrorFromErrno(errno);
      return std::nullopt;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}
#endif

}  // namespace veltrano
