// LogFile on Windows: a HANDLE opened with FILE_APPEND_DATA, shared for
// reading, writing and deleting as a C runtime file is.
#include <cstring>
#include <string>

#include "platform/LogFile.h"
#include "platform/Win32.h"

namespace veltrano {
namespace {

// The log's name is ASCII.
std::wstring WideName(const char* name) { return std::wstring(name, name + std::strlen(name)); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

bool LogFile::Open(const char* name) {
  Close();
  HANDLE file = CreateFileW(WideName(name).c_str(), FILE_APPEND_DATA, kShareAll, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(file);
    return false;
  }
  m_file = reinterpret_cast<std::intptr_t>(file);
  m_end.volume = info.dwVolumeSerialNumber;
  m_end.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  m_end.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

bool LogFile::EndsInLineBreak(const char* name) const {
  if (m_end.size == 0) return true;
  HANDLE file = CreateFileW(WideName(name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>((m_end.size - 1) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>((m_end.size - 1) >> 32);
  char last = '\n';
  DWORD read = 0;
  if (!ReadFile(file, &last, 1, &read, &at)) last = '\n';
  CloseHandle(file);
  return last == '\n';
}

bool LogFile::Append(std::string_view bytes) {
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(m_file), bytes.data(), static_cast<DWORD>(bytes.size()),
                 &written, nullptr) ||
      written != bytes.size()) {
    return false;
  }
  m_end.size += bytes.size();
  return true;
}

void LogFile::Close() {
  if (m_file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(m_file));
  m_file = kNoFile;
}

}  // namespace veltrano
