// The diagnostic log as a stream: wide text, formatted as UTF-8 and appended
// to "CertificateLog.log" in whole pieces through platform/LogFile.h.
//
// The stream keeps what is written until it is flushed (std::endl) and then
// hands it to the file in one write under the log's lock, so a line, or a
// record whose two lines are flushed together, is never cut by another
// process appending to the same log. Only a regular file with one name (or
// one the open creates) counts as open; the open follows no link and never
// waits (a FIFO of that name is refused at once). A log that does not end in
// a line break gets one before the next piece, so a line that an earlier
// writer left unfinished is never continued. A write that fails, or a lock
// not had in time, closes the log: what follows is dropped.
//
// Text is UTF-8 without a byte-order mark (platform/WideText.h): ASCII comes
// out byte for byte, any other character of a path in full, the escape code
// points that carry undecodable file-name bytes as those bytes, and a
// character with no encoding as U+FFFD. On Windows each "\n" is stored as
// CR LF, as a text-mode file stores it.
//
// The log only ever takes text, so the stream is no std::wostream: one is
// built for every inspector, and a standard stream's construction (its locale
// and facets) would cost more than the line it writes.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "platform/LogFile.h"
#include "platform/WideText.h"

namespace veltrano {

// Text that goes to the log with every control character and the percent
// sign escaped (see AppendPercentEscaped in platform/WideText.h).
struct PercentEscapedText {
  std::wstring_view text;
};

class LogStream {
 public:
  LogStream() = default;
  ~LogStream();
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  // Opens `name` for appending; is_open tells whether that worked.
  void open(const char* name);
  bool is_open() const;
  // Writes what is pending, then closes.
  void close();

  LogStream& operator<<(std::wstring_view text);
  LogStream& operator<<(const wchar_t* text);  // null writes nothing
  LogStream& operator<<(PercentEscapedText escaped);
  // std::endl writes a line break, then (as std::flush does) hands what is
  // pending to the file. The log takes no other manipulator.
  LogStream& operator<<(std::wostream& (*manipulator)(std::wostream&));

 private:
  // Hands what is pending to the file; false when that write failed.
  bool Flush();

  LogFile m_file;
  std::string m_pending;       // converted bytes not yet written
  WidePieceEncoder m_encoder;  // holds a surrogate pair's first half
};

// What went wrong with the log since the last call (the first trouble only),
// for a caller that tells the user about it; the inspector never does.
enum class LogTrouble { kNone, kCannotOpen, kWriteFailed };
LogTrouble TakeLogTrouble();

}  // namespace veltrano
