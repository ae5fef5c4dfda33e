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

using FileEnd = LogFileBuf::FileEnd;

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

LogFileBuf::~LogFileBuf() { close(); }

bool LogFileBuf::open(const char* name) {
  close();
  m_file = OpenForAppend(name, m_end);
  if (m_file == kNoFile) {
    NoteTrouble(LogTrouble::kCannotOpen);
    return false;
  }
  m_pending.reserve(256);  // a header line or a record, usually
  if (m_end.size == 0) {
    m_startLine = false;
  } else if (t_lastWrite.valid && SameFileAndSize(t_lastWrite.end, m_end)) {
    m_startLine = !t_lastWrite.endedLine;
  } else {
    m_startLine = !EndsInLineBreak(name, m_end);
  }
  return true;
}

bool LogFileBuf::is_open() const { return m_file != kNoFile; }

bool LogFileBuf::close() {
  const bool written = sync() == 0;
  if (m_file != kNoFile) CloseFile(m_file);
  m_file = kNoFile;
  return written;
}

void LogFileBuf::Append(wchar_t c) {
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

LogFileBuf::int_type LogFileBuf::overflow(int_type c) {
  if (m_file == kNoFile) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) Append(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

std::streamsize LogFileBuf::xsputn(const wchar_t* s, std::streamsize n) {
  if (m_file == kNoFile) return 0;
  for (std::streamsize i = 0; i < n; ++i) {
    // A run of ASCII but the line break goes out as it is.
    std::streamsize end = i;
    while (end < n && s[end] > 0 && s[end] < 0x80 && s[end] != L'\n') ++end;
    if (end != i && m_highSurrogate == 0) {
      const std::size_t at = m_pending.size();
      m_pending.resize(at + static_cast<std::size_t>(end - i));
      for (std::streamsize k = i; k < end; ++k) {
        m_pending[at + static_cast<std::size_t>(k - i)] = static_cast<char>(s[k]);
      }
      i = end - 1;
    } else {
      Append(s[i]);
    }
  }
  return n;
}

int LogFileBuf::sync() {
  if (m_highSurrogate != 0) {
    m_highSurrogate = 0;
    AppendBytesForCodePoint(0xFFFD, m_pending);
  }
  if (m_pending.empty()) return 0;
  if (m_file == kNoFile) {
    m_pending.clear();
    return -1;
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
  return written ? 0 : -1;
}

void LogStream::open(const char* name) {
  if (m_buf.open(name)) {
    clear();
  } else {
    setstate(std::ios::failbit);
  }
}

void LogStream::close() {
  if (!m_buf.close()) setstate(std::ios::badbit);
}

LogTrouble TakeLogTrouble() {
  return static_cast<LogTrouble>(g_trouble.exchange(static_cast<int>(LogTrouble::kNone)));
}

std::wstring PercentEscaped(std::wstring_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto plain = [](wchar_t c) {
    const auto cp = static_cast<char32_t>(c) & (sizeof(wchar_t) < 4 ? 0xFFFF : 0xFFFFFFFF);
    return cp >= 0x20 && (cp < 0x7F || cp > 0x9F) && cp != U'%';
  };
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
