// The journal of a run (--journal FILE) and reading it back for an undo.
//
// One line per event, UTF-8, fields separated by tabs, each line ending as
// the log's lines do (a line feed; CR LF on Windows):
//   stamp <TAB> OLD <TAB> ASKED <TAB> PATH   before a file's time is changed
//   read <TAB> NOW <TAB> PATH                after it, the time read back
// Times are ExactTimeText (platform/ExactTime.h); PATH is the file's full
// path percent-escaped as the rows escape it. A "read" line belongs to the
// last "stamp" line of the same path before it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/StampJournal.h"
#include "platform/LogFile.h"

namespace veltrano {

class JournalWriter final : public IStampJournal {
 public:
  // Opens `name` (bytes on Linux, WTF-8 on Windows) for appending as the log
  // is opened: created when absent, never through a link, only a regular
  // file with one name, never waiting.
  bool Open(const std::string& name) {
    if (!m_file.Open(name.c_str())) return false;
    m_file.ReleaseLock();  // the first line comes at the first stamp
    return true;
  }
  // Each line reaches the file in one write (no fsync).
  bool BeforeStamp(const std::wstring& file, const ExactTime& old, const ExactTime& asked) override;
  void AfterStamp(const std::wstring& file, const ExactTime& readBack) override;
  bool Failed() const override { return m_failed; }

 private:
  bool Write();

  LogFile m_file;
  std::string m_line;
  bool m_failed = false;
};

// One stamp the journal records.
struct JournalEntry {
  std::wstring path;
  ExactTime old;
  ExactTime asked;
  std::optional<ExactTime> readBack;
};

struct Journal {
  std::vector<JournalEntry> entries;  // in the journal's order
  std::vector<std::size_t> badLines;  // numbers (from 1) of lines not understood
};

Journal ParseJournal(const std::string& text);

}  // namespace veltrano
