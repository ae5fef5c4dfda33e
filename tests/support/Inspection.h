// Helpers shared by the tests that drive CCertificate over files on disk:
// the current directory, file times and contents, and one entry of the batch
// run (the shipped ProcessFile over the in-memory list).
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Win32.h"

class CCertificate;

namespace veltrano::testing {

// Makes `dir` the process's current directory until the object goes.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& dir);
  ~CurrentDirectory();
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// A file's access and modification times, to the nanosecond.
struct FileStamps {
  timespec access{};
  timespec modification{};
};
bool operator==(const timespec& a, const timespec& b);
FileStamps StampsOf(const std::filesystem::path& file);
// Sets both times exactly. Uses the path's bytes, so any name works.
void SetStamps(const std::filesystem::path& file, const FileStamps& stamps);

// Times a test sets on an input before the run: a modification time far from
// any signing time, and an access time an hour ahead of the clock. Linux's
// relatime updates the access time on a read only while it is not later than
// the modification and change times, so reading the file (the signature
// query does) leaves this one alone; a change seen afterwards is the
// inspector's doing.
FileStamps DistinctStamps();

std::string ReadBytes(const std::filesystem::path& file);
// The log's text with its line ends as "\n". On Windows the log is written in
// text mode, so each line must end in CR LF; a bare LF shows up marked.
std::string ReadLog(const std::filesystem::path& file);
// The same for log text already read.
std::string ReadLogText(const std::string& text);
void WriteBytes(const std::filesystem::path& file, std::string_view bytes);

// A wide path for a file-system path, exactly as the directory search gives
// it (invalid UTF-8 bytes become escape code points).
std::wstring WidePath(const std::filesystem::path& file);

// How far the chain got.
enum class Step { Query, SignerInfo, OpusInfo, CounterSigner, Stamp, Done };

struct Inspection {
  Step stoppedAt = Step::Query;  // the step that returned 0, or Done
  BOOL stamped = FALSE;
  DWORD lastError = 0;   // the thread's code right after the entry
  std::wstring newTime;  // the row's cell 2: the time shown, or "-"
  // After a stamp, the inspector's times: before and read back.
  FILETIME oldTime{};
  std::optional<FILETIME> readBack;
  bool logOpen = false;
  // The inspector's copies of the opus texts (nothing for a null member).
  std::optional<std::wstring> programName;
  std::optional<std::wstring> publisherLink;
  std::optional<std::wstring> moreInfoLink;
};

// One entry of the batch run for `path`, by CVeltranoDlgCore::ProcessFile
// with an inspector built here, so that what it did can be read from it
// before it goes. `watch` sees the inspector before the entry starts;
// `rfc3161` is the run's opt-in for modern timestamps.
using Watch = std::function<void(CCertificate&)>;
Inspection InspectFile(const std::wstring& path, const Watch& watch = {}, bool rfc3161 = false);
inline Inspection InspectFile(const std::filesystem::path& file, const Watch& watch = {},
                              bool rfc3161 = false) {
  return InspectFile(WidePath(file), watch, rfc3161);
}

// The row's text for a time given as seconds since 1970 (UTC): "" when the
// time cannot be shown.
std::wstring TimeTextOfUnix(std::int64_t seconds);

// The log's header line for a path, as the owner writes it (UTF-8, the path
// percent-escaped).
std::string HeaderLine(const std::filesystem::path& file);

// The FILETIME of a whole number of seconds since 1970 (UTC).
FILETIME FileTimeOfUnix(std::int64_t seconds);

}  // namespace veltrano::testing
