#include "engine/LogStream.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/WideText.h"
#include "platform/Win32.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace veltrano {
namespace {

using FileEnd = LogStream::FileEnd;

constexpr std::intptr_t kNoFile = -1;

std::atomic<int> g_trouble{static_cast<int>(LogTrouble::kNone)};

void NoteTrouble(LogTrouble trouble) {
  int none = static_cast<int>(LogTrouble::kNone);
  g_trouble.compare_exchange_strong(none, static_cast<int>(trouble));
}

// Where this thread's last write left a log: the file, its size then, and
// whether that write ended a line. A log found just so ends as it says
// without being read.
struct LastWrite {
  FileEnd end;
  bool valid = false;
  bool endedLine = false;
};
thread_local LastWrite t_lastWrite;

bool SameFileAndSize(const FileEnd& a, const FileEnd& b) {
  return a.volume == b.volume && a.index == b.index && a.size == b.size;
}

// The file layer: open for appending (creating the file), the last byte, one
// whole write, close.
#ifdef _WIN32

constexpr char kLineBreak[] = "\r\n";

std::wstring WideName(const char* name) { return std::wstring(name, name + std::strlen(name)); }

std::intptr_t OpenForAppend(const char* name, FileEnd& end) {
  HANDLE file = CreateFileW(WideName(name).c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(file);
    return kNoFile;
  }
  end.volume = info.dwVolumeSerialNumber;
  end.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  end.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return reinterpret_cast<std::intptr_t>(file);
}

// True unless the last byte can be read and is no line break.
bool EndsInLineBreak(const char* name, const FileEnd& end) {
  HANDLE file = CreateFileW(WideName(name).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>((end.size - 1) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>((end.size - 1) >> 32);
  char last = '\n';
  DWORD read = 0;
  if (!ReadFile(file, &last, 1, &read, &at)) last = '\n';
  CloseHandle(file);
  return last == '\n';
}

bool WriteWhole(std::intptr_t file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(reinterpret_cast<HANDLE>(file), bytes.data(), static_cast<DWORD>(bytes.size()),
                   &written, nullptr) &&
         written == bytes.size();
}

void CloseFile(std::intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

#else

constexpr char kLineBreak[] = "\n";

std::intptr_t OpenForAppend(const char* name, FileEnd& end) {
  const int fd =
      ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return kNoFile;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  end = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
         static_cast<std::uint64_t>(st.st_size)};
  return fd;
}

// True unless the last byte can be read and is no line break.
bool EndsInLineBreak(const char* name, const FileEnd& end) {
  const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return true;
  struct stat st {};
  char last = '\n';
  if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_ino) == end.index &&
      static_cast<std::uint64_t>(st.st_dev) == end.volume && st.st_size > 0 &&
      ::pread(fd, &last, 1, st.st_size - 1) != 1) {
    last = '\n';
  }
  ::close(fd);
  return last == '\n';
}

bool WriteWhole(std::intptr_t file, const std::string& bytes) {
  ssize_t n;
  do {
    n = ::write(static_cast<int>(file), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  return n >= 0 && static_cast<std::size_t>(n) == bytes.size();
}

void CloseFile(std::intptr_t file) { ::close(static_cast<int>(file)); }

#endif

}  // namespace

LogStream::~LogStream() { close(); }

void LogStream::open(const char* name) {
  close();
  m_file = OpenForAppend(name, m_end);
  if (m_file == kNoFile) {
    NoteTrouble(LogTrouble::kCannotOpen);
    return;
  }
  m_pending.reserve(256);  // a header line or a record, usually
  if (m_end.size == 0) {
    m_startLine = false;
  } else if (t_lastWrite.valid && SameFileAndSize(t_lastWrite.end, m_end)) {
    m_startLine = !t_lastWrite.endedLine;
  } else {
    m_startLine = !EndsInLineBreak(name, m_end);
  }
}

bool LogStream::is_open() const { return m_file != kNoFile; }

void LogStream::close() {
  Flush();
  if (m_file != kNoFile) CloseFile(m_file);
  m_file = kNoFile;
}

void LogStream::Append(wchar_t c) {
  char32_t cp = static_cast<char32_t>(c);
  if constexpr (sizeof(wchar_t) < 4) {
    cp &= 0xFFFF;
    const char32_t high = static_cast<char32_t>(m_highSurrogate) & 0xFFFF;
    m_highSurrogate = 0;
    if (high != 0 && cp >= 0xDC00 && cp <= 0xDFFF) {
      AppendBytesForCodePoint(0x10000 + ((high - 0xD800) << 10) + (cp - 0xDC00), m_pending);
      return;
    }
    if (high != 0) AppendBytesForCodePoint(0xFFFD, m_pending);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      m_highSurrogate = c;
      return;
    }
  }
  if (cp == U'\n') {
    m_pending += kLineBreak;
  } else if (!AppendBytesForCodePoint(cp, m_pending)) {
    AppendBytesForCodePoint(0xFFFD, m_pending);
  }
}

LogStream& LogStream::operator<<(std::wstring_view text) {
  if (m_file == kNoFile) return *this;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A run of ASCII but the line break goes out as it is.
    std::size_t end = i;
    while (end < text.size() && text[end] > 0 && text[end] < 0x80 && text[end] != L'\n') ++end;
    if (end != i && m_highSurrogate == 0) {
      const std::size_t at = m_pending.size();
      m_pending.resize(at + (end - i));
      for (std::size_t k = i; k < end; ++k) m_pending[at + k - i] = static_cast<char>(text[k]);
      i = end - 1;
    } else {
      Append(text[i]);
    }
  }
  return *this;
}

LogStream& LogStream::operator<<(const wchar_t* text) {
  return text == nullptr ? *this : *this << std::wstring_view(text);
}

LogStream& LogStream::operator<<(PercentEscapedText escaped) {
  const std::wstring_view text = escaped.text;
  // Plain runs go as they are; the rest one character at a time.
  for (std::size_t i = 0; i < text.size();) {
    std::size_t end = i;
    while (end < text.size() && !NeedsPercentEscape(text[end])) ++end;
    if (end != i) {
      *this << text.substr(i, end - i);
      i = end;
    } else {
      *this << std::wstring_view(PercentEscaped(text.substr(i, 1)));
      ++i;
    }
  }
  return *this;
}

LogStream& LogStream::operator<<(std::wostream& (*manipulator)(std::wostream&)) {
  using Manipulator = std::wostream& (*)(std::wostream&);
  if (manipulator == static_cast<Manipulator>(std::endl)) *this << L"\n";
  Flush();
  return *this;
}

bool LogStream::Flush() {
  if (m_highSurrogate != 0) {
    m_highSurrogate = 0;
    AppendBytesForCodePoint(0xFFFD, m_pending);
  }
  if (m_pending.empty()) return true;
  if (m_file == kNoFile) {
    m_pending.clear();
    return false;
  }
  if (m_startLine) m_pending = kLineBreak + m_pending;
  const bool written = WriteWhole(m_file, m_pending);
  if (!written) {
    // A cut or refused write: nothing more goes to this file.
    NoteTrouble(LogTrouble::kWriteFailed);
    CloseFile(m_file);
    m_file = kNoFile;
    t_lastWrite.valid = false;
  } else {
    m_startLine = false;
    m_end.size += m_pending.size();
    t_lastWrite = {m_end, true, m_pending.back() == '\n'};
  }
  m_pending.clear();
  return written;
}

LogTrouble TakeLogTrouble() {
  return static_cast<LogTrouble>(g_trouble.exchange(static_cast<int>(LogTrouble::kNone)));
}

bool NeedsPercentEscape(wchar_t c) {
  const auto cp = static_cast<char32_t>(c) & (sizeof(wchar_t) < 4 ? 0xFFFF : 0xFFFFFFFF);
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == U'%';
}

std::wstring PercentEscaped(std::wstring_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto plain = [](wchar_t c) { return !NeedsPercentEscape(c); };
  if (std::all_of(text.begin(), text.end(), plain)) return std::wstring(text);
  std::wstring out;
  out.reserve(text.size());
  std::string bytes;
  for (const wchar_t c : text) {
    if (plain(c)) {
      out += c;
      continue;
    }
    const auto cp = static_cast<char32_t>(c) & (sizeof(wchar_t) < 4 ? 0xFFFF : 0xFFFFFFFF);
    bytes.clear();
    AppendBytesForCodePoint(cp, bytes);
    for (const unsigned char b : bytes) {
      out += L'%';
      out += static_cast<wchar_t>(kHex[b >> 4]);
      out += static_cast<wchar_t>(kHex[b & 0xF]);
    }
  }
  return out;
}

}  // namespace veltrano
