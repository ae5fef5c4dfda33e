// LogFile on POSIX: a descriptor opened with O_APPEND and O_NOFOLLOW, locked
// with flock (a lock of the open file, not of the process, so no other
// descriptor's close drops it).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/LogFile.h"

namespace veltrano {

bool LogFile::Open(const char* name) {
  Close();
  // O_NOFOLLOW: a link of that name is refused, also one that dangles (no
  // file is created through it). O_NONBLOCK: a FIFO is refused below instead
  // of waiting. Read access serves the look at the last byte; a log this user
  // may only write to is appended to without it.
  constexpr int kFlags = O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(name, O_RDWR | kFlags, 0666);
  if (fd < 0 && errno == EACCES) fd = ::open(name, O_WRONLY | kFlags, 0666);
  if (fd < 0) return false;
  m_file = fd;
  m_locked = TryLock() == Lock::kHeld;
  struct stat st {};
  // One name only: a hard link would carry the text to wherever its other
  // name is.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    Close();
    return false;
  }
  m_end = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
           static_cast<std::uint64_t>(st.st_size)};
  return true;
}

LogFile::Lock LogFile::TryLock() {
  int result;
  do {
    result = ::flock(static_cast<int>(m_file), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return Lock::kHeld;
  return errno == EWOULDBLOCK ? Lock::kBusy : Lock::kNone;
}

void LogFile::Unlock() { ::flock(static_cast<int>(m_file), LOCK_UN); }

bool LogFile::ReadSize() {
  struct stat st {};
  if (::fstat(static_cast<int>(m_file), &st) != 0) return false;
  m_end.size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool LogFile::LastByteIsLineBreak() const {
  char last = '\n';
  if (::pread(static_cast<int>(m_file), &last, 1, static_cast<off_t>(m_end.size - 1)) != 1) {
    return true;
  }
  return last == '\n';
}

bool LogFile::Write(std::string_view bytes) {
  ssize_t n;
  do {
    n = ::write(static_cast<int>(m_file), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  return n >= 0 && static_cast<std::size_t>(n) == bytes.size();
}

void LogFile::Close() {
  if (m_file != kNoFile) ::close(static_cast<int>(m_file));  // drops the lock
  m_file = kNoFile;
  m_locked = false;
}

}  // namespace veltrano
