// A log file held open for appending: the file layer under the diagnostic
// log's stream (engine/LogStream.h), which formats and decides what to write.
//
// Opening appends to the file and creates it when absent, never truncates,
// never waits (a FIFO of that name is refused at once) and counts only a
// regular file as open. Every piece is appended in one write, so pieces of
// several writers to one log never interleave. The POSIX side is in
// LogFilePosix.cpp, the Win32 side in LogFileWin32.cpp; the CMake file builds
// the one for the platform.
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

  // Opens `name` (a relative name is taken in the current directory) for
  // appending, closing what was open before; false when it cannot be opened
  // or is no regular file. Every check made before the file counts as open
  // belongs here.
  bool Open(const char* name);
  bool IsOpen() const { return m_file != kNoFile; }
  // The open file, and its size when opened plus what was appended since.
  const FileEnd& End() const { return m_end; }
  // Whether the open file's last byte is a line break, read through a second
  // open of `name` (the one it was opened by). True when it is empty, when the
  // byte cannot be read, and on POSIX when `name` is now another file.
  bool EndsInLineBreak(const char* name) const;
  // Appends `bytes` in one write; false when not all of them were written (a
  // full disk, a refused write). The file stays open either way.
  bool Append(std::string_view bytes);
  void Close();

 private:
  static constexpr std::intptr_t kNoFile = -1;
  std::intptr_t m_file = kNoFile;  // a descriptor, or a HANDLE on Windows
  FileEnd m_end;
};

// This thread's last append to a log, remembered from one open to the next:
// the file and its size after the append, and whether the append ended a
// line. The diagnostic log is opened once per entry of a run; a log found
// as this thread's last append left it (the same file at the same size: an
// append by another writer changes the size) ends as remembered, so the open
// need not read its last byte, which would cost a second open, a stat and a
// read for every entry. Kept per thread, since appends on another thread say
// nothing about this one's. The only state that outlives a LogFile.
class LastLogAppend {
 public:
  // After an append that left the file at `end`; `endedLine` when its last
  // byte was a line break.
  static void Remember(const FileEnd& end, bool endedLine);
  // After an append that failed: what the file holds now is not known.
  static void Forget();
  // Whether the log at `end` ends a line, when this thread's last append left
  // that file at that size; nothing otherwise.
  static std::optional<bool> Recall(const FileEnd& end);
};

}  // namespace veltrano
