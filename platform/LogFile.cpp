// What both platforms share: the append under the lock, the bounded wait for
// it and the remembered last append. Opening, locking, reading the last byte,
// writing and closing are in LogFilePosix.cpp and LogFileWin32.cpp.
#include "platform/LogFile.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <thread>

namespace veltrano {
namespace {

struct Remembered {
  FileEnd end;
  bool valid = false;
  bool endedLine = false;
};
// The last append to each of two files, the latest first.
thread_local std::array<Remembered, 2> t_lastAppends;

bool SameFile(const FileEnd& a, const FileEnd& b) {
  return a.volume == b.volume && a.index == b.index;
}

// The file whose lock this thread last waited for in vain, until a lock on it
// is had again.
thread_local std::optional<FileEnd> t_lockWaitedInVain;

}  // namespace

LogFile::~LogFile() { Close(); }

bool LogFile::LockForAppend() {
  using Clock = std::chrono::steady_clock;
  // A lock held for ever costs one wait, not one per entry.
  const bool once = t_lockWaitedInVain && SameFile(*t_lockWaitedInVain, m_end);
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
  auto pause = std::chrono::microseconds(20);
  for (;;) {
    const Lock lock = TryLock();
    if (lock != Lock::kBusy) {
      m_locked = lock == Lock::kHeld;
      if (m_locked) t_lockWaitedInVain.reset();
      if (ReadSize()) return true;
      if (m_locked) Unlock();
      m_locked = false;
      return false;
    }
    const Clock::time_point now = Clock::now();
    if (once || now >= deadline) {
      t_lockWaitedInVain = m_end;
      return false;
    }
    // Another writer holds it for one write, usually: short pauses first.
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(5000));
  }
}

bool LogFile::Append(std::string_view bytes) {
  if (!IsOpen()) return false;
  if (!m_locked && !LockForAppend()) return false;
  // Under the lock no other writer's piece is half written: the file's last
  // byte says whether a line was left unfinished (by a full disk, or by a
  // writer that stopped). Where this thread's last append left the file as it
  // is now, that append says it, and nothing is read.
  bool endsLine = true;
  if (m_end.size != 0) {
    const std::optional<bool> recalled = LastLogAppend::Recall(m_end);
    endsLine = recalled ? *recalled : LastByteIsLineBreak();
  }
  std::string joined;
  if (!endsLine && !bytes.empty()) {
    joined = std::string(kLogLineBreak) + std::string(bytes);
    bytes = joined;
  }
  const bool written = Write(bytes);
  if (written) {
    m_end.size += bytes.size();
    LastLogAppend::Remember(m_end, bytes.empty() ? endsLine : bytes.back() == '\n');
  } else {
    LastLogAppend::Forget();
  }
  ReleaseLock();
  return written;
}

void LogFile::ReleaseLock() {
  if (m_locked) Unlock();
  m_locked = false;
}

void LastLogAppend::Remember(const FileEnd& end, bool endedLine) {
  // The other file's memory moves behind, unless it was this file's.
  if (!SameFile(t_lastAppends[0].end, end)) t_lastAppends[1] = t_lastAppends[0];
  t_lastAppends[0] = {end, true, endedLine};
}

void LastLogAppend::Forget() { t_lastAppends = {}; }

std::optional<bool> LastLogAppend::Recall(const FileEnd& end) {
  for (const Remembered& last : t_lastAppends)
    if (last.valid && last.end == end) return last.endedLine;
  return std::nullopt;
}

}  // namespace veltrano
