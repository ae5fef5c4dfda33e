#include "engine/LogStream.h"

#include <atomic>

namespace veltrano {
namespace {

std::atomic<int> g_trouble{static_cast<int>(LogTrouble::kNone)};

void NoteTrouble(LogTrouble trouble) {
  int none = static_cast<int>(LogTrouble::kNone);
  g_trouble.compare_exchange_strong(none, static_cast<int>(trouble));
}

}  // namespace

LogStream::~LogStream() { close(); }

void LogStream::open(const char* name) {
  close();
  if (!m_file.Open(name)) {
    NoteTrouble(LogTrouble::kCannotOpen);
    return;
  }
  m_pending.reserve(256);  // a header line or a record, usually
}

bool LogStream::is_open() const { return m_file.IsOpen(); }

void LogStream::close() {
  Flush();
  m_file.Close();
}

LogStream& LogStream::operator<<(std::wstring_view text) {
  if (!m_file.IsOpen()) return *this;
  for (;;) {
    const std::size_t lineEnd = text.find(L'\n');
    m_encoder.Append(text.substr(0, lineEnd), m_pending);
    if (lineEnd == std::wstring_view::npos) return *this;
    m_encoder.Finish(m_pending);  // a surrogate half before the line break
    m_pending += kLogLineBreak;
    text.remove_prefix(lineEnd + 1);
  }
}

LogStream& LogStream::operator<<(const wchar_t* text) {
  return text == nullptr ? *this : *this << std::wstring_view(text);
}

LogStream& LogStream::operator<<(PercentEscapedText escaped) {
  // No line break is left in escaped text.
  if (m_file.IsOpen()) m_encoder.AppendPercentEscaped(escaped.text, m_pending);
  return *this;
}

LogStream& LogStream::operator<<(std::wostream& (*manipulator)(std::wostream&)) {
  using Manipulator = std::wostream& (*)(std::wostream&);
  if (manipulator == static_cast<Manipulator>(std::endl)) *this << L"\n";
  Flush();
  return *this;
}

bool LogStream::Flush() {
  m_encoder.Finish(m_pending);
  if (m_pending.empty()) return true;
  // A line an earlier writer left unfinished is ended first (LogFile::Append).
  const bool written = m_file.IsOpen() && m_file.Append(m_pending);
  if (!written && m_file.IsOpen()) {
    // A cut or refused write, or a lock not had in time: nothing more goes to
    // this file.
    NoteTrouble(LogTrouble::kWriteFailed);
    m_file.Close();
  }
  m_pending.clear();
  return written;
}

LogTrouble TakeLogTrouble() {
  return static_cast<LogTrouble>(g_trouble.exchange(static_cast<int>(LogTrouble::kNone)));
}

}  // namespace veltrano
