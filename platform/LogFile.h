// A log file held open for appending: the file layer under the diagnostic
// log's stream (engine/LogStream.h), which formats and decides what to write.
//
// Opening appends to the file and creates it when absent, never truncates,
// never waits (a FIFO of that name is refused at once), follows no link and
// counts only a regular file with one name as open. Every piece is appended
// in one write under the log's lock, taken without waiting for long: several
// writers to one log never interleave, and a line one of them left unfinished
// is ended before the next piece. The POSIX side is in LogFilePosix.cpp, the
// Win32 side in LogFileWin32.cpp; the CMake file builds the one for the
// platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace veltrano {

// The line break a text-mode file stores for "\n": CR LF on Windows.
#ifdef _WIN32
inline constexpr char kLogLineBreak[] = "\r\n";
#else
inline constexpr char kLogLineBreak[] = "\n";
#endif

// Which file (volume and file index: device and inode on POSIX) and how long
// it is.
struct FileEnd {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  bool operator==(const FileEnd&) const = default;
};

class LogFile {
 public:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens `name` (bytes on POSIX, WTF-8 on Windows; a relative name is taken
  // in the current directory) for appending, closing what was open before;
  // false when it cannot be opened, is a link (a symbolic link, or on
  // Windows a junction: not followed), is no regular file, or has a second
  // name (a hard link). Every check made
  // before the file counts as open belongs here. The open also tries once
  // for the lock and, when it gets it, keeps it for the first append: open a
  // log only to write to it at once.
  bool Open(const char* name);
  // Lets go of the lock the open took, for a file written only later (a
  // journal, whose first line comes at the first stamp).
  void ReleaseLock();
  bool IsOpen() const { return m_file != kNoFile; }
  // The open file, and its size when last looked at plus what was appended
  // since.
  const FileEnd& End() const { return m_end; }
  // Appends `bytes` in one write under the log's lock, with a line break
  // before them when the file does not end in one. The lock is waited for a
  // short while only (kLockWait): false when it could not be had, or when not
  // all of the bytes were written (a full disk, a refused write). The file
  // stays open either way.
  bool Append(std::string_view bytes);
  void Close();

  // How long an append waits for a lock that another writer holds; where a
  // wait for this file's lock ran out, later appends on this thread try once.
  static constexpr int kLockWaitMilliseconds = 100;

 private:
  enum class Lock { kHeld, kBusy, kNone };  // kNone: the file system has no locks
  // The platform's parts: one attempt at the lock, its release, the file's
  // size read into m_end, whether its last byte (m_end.size - 1) is a line
  // break (true when it cannot be read), and one write.
  Lock TryLock();
  void Unlock();
  bool ReadSize();
  bool LastByteIsLineBreak() const;
  bool Write(std::string_view bytes);
  // Takes the lock, waiting as kLockWaitMilliseconds says, and reads the
  // size under it; false when the lock could not be had.
  bool LockForAppend();

  static constexpr std::intptr_t kNoFile = -1;
  std::intptr_t m_file = kNoFile;  // a descriptor, or a HANDLE on Windows
  FileEnd m_end;
  bool m_locked = false;  // the lock is held (from the open, or an append)
};

// This thread's last appends to the last two files it appended to (the
// diagnostic log, and a run's journal beside it), remembered from one append
// to the next: the file and its size after the append, and whether the append
// ended a line. The diagnostic log is opened once per entry of a run; a log
// found as this thread's last append to it left it (the same file at the same
// size: an append by another writer changes the size) ends as remembered, so
// the append need not read its last byte. Kept per thread, since appends on
// another thread say nothing about this one's. With the file whose lock this
// thread last waited for in vain, the only state that outlives a LogFile.
class LastLogAppend {
 public:
  // After an append that left the file at `end`; `endedLine` when its last
  // byte was a line break.
  static void Remember(const FileEnd& end, bool endedLine);
  // After an append that failed: what the files hold now is not known.
  static void Forget();
  // Whether the log at `end` ends a line, when this thread's last append left
  // that file at that size; nothing otherwise.
  static std::optional<bool> Recall(const FileEnd& end);
};

}  // namespace veltrano
