// LogFile on POSIX: a descriptor opened with O_APPEND.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/LogFile.h"

namespace veltrano {

bool LogFile::Open(const char* name) {
  Close();
  // O_NONBLOCK: a FIFO is refused below instead of waiting for a reader.
  const int fd =
      ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  m_file = fd;
  m_end = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
           static_cast<std::uint64_t>(st.st_size)};
  return true;
}

bool LogFile::EndsInLineBreak(const char* name) const {
  const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return true;
  struct stat st {};
  char last = '\n';
  if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_ino) == m_end.index &&
      static_cast<std::uint64_t>(st.st_dev) == m_end.volume && st.st_size > 0 &&
      ::pread(fd, &last, 1, st.st_size - 1) != 1) {
    last = '\n';
  }
  ::close(fd);
  return last == '\n';
}

bool LogFile::Append(std::string_view bytes) {
  ssize_t n;
  do {
    n = ::write(static_cast<int>(m_file), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0 || static_cast<std::size_t>(n) != bytes.size()) return false;
  m_end.size += bytes.size();
  return true;
}

void LogFile::Close() {
  if (m_file != kNoFile) ::close(static_cast<int>(m_file));
  m_file = kNoFile;
}

}  // namespace veltrano
