// LogFile on Windows: a HANDLE opened with FILE_APPEND_DATA (and read access,
// which the lock and the look at the last byte need), shared for reading,
// writing and deleting as a C runtime file is.
#include <string>

#include "platform/DiskFileWin32.h"
#include "platform/LogFile.h"
#include "platform/WideText.h"
#include "platform/Win32.h"

namespace veltrano {
namespace {

constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_DATA;

// The lock is one byte far past any end a log reaches: Windows' locks are
// mandatory, and this one keeps no reader or writer from the log's text.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

HANDLE OpenLog(const std::wstring& name, DWORD disposition, DWORD flags) {
  return CreateFileW(name.c_str(), kAccess, kShareAll, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// A regular file with one name, or nothing. The reparse point a symbolic link
// or a junction is (a name surrogate) is refused; others (a cloud
// placeholder, a deduplicated file) are files, opened as the system opens
// them, and kept when that open reaches the file checked.
HANDLE OpenChecked(const std::wstring& name, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE file = OpenLog(name, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return file;
  bool ok = CheckDiskFile(file, info) == ERROR_SUCCESS && info.nNumberOfLinks == 1;
  if (ok && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(file);
    file = ok ? OpenLog(name, OPEN_EXISTING, 0) : INVALID_HANDLE_VALUE;
    const DWORD volume = info.dwVolumeSerialNumber, high = info.nFileIndexHigh,
                low = info.nFileIndexLow;
    ok = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info) &&
         info.dwVolumeSerialNumber == volume && info.nFileIndexHigh == high &&
         info.nFileIndexLow == low;
  }
  if (!ok && file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return file;
}

HANDLE Handle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

bool LogFile::Open(const char* name) {
  Close();
  BY_HANDLE_FILE_INFORMATION info{};
  // The name as WTF-8 (the log's is ASCII; a journal's may be any name).
  HANDLE file = OpenChecked(WideFromWtf8(name), info);
  if (file == INVALID_HANDLE_VALUE) return false;
  m_file = reinterpret_cast<std::intptr_t>(file);
  m_locked = TryLock() == Lock::kHeld;
  m_end.volume = info.dwVolumeSerialNumber;
  m_end.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  if (!ReadSize()) {
    Close();
    return false;
  }
  return true;
}

LogFile::Lock LogFile::TryLock() {
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  if (LockFileEx(Handle(m_file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &at)) {
    return Lock::kHeld;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION ? Lock::kBusy : Lock::kNone;
}

void LogFile::Unlock() {
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(Handle(m_file), 0, 1, 0, &at);
}

bool LogFile::ReadSize() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(Handle(m_file), &size)) return false;
  m_end.size = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

bool LogFile::LastByteIsLineBreak() const {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>((m_end.size - 1) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>((m_end.size - 1) >> 32);
  char last = '\n';
  DWORD read = 0;
  if (!ReadFile(Handle(m_file), &last, 1, &read, &at) || read != 1) return true;
  return last == '\n';
}

bool LogFile::Write(std::string_view bytes) {
  DWORD written = 0;
  return WriteFile(Handle(m_file), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) &&
         written == bytes.size();
}

void LogFile::Close() {
  if (m_file != kNoFile) CloseHandle(Handle(m_file));  // drops the lock
  m_file = kNoFile;
  m_locked = false;
}

}  // namespace veltrano
