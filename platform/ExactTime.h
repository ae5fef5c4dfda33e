// A file's last-write time at the file system's full precision (nanoseconds
// on Linux, 100 ns on Windows), for a run's journal and its undo; the run
// itself keeps working in FILETIMEs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Win32.h"

namespace veltrano {

// As POSIX's timespec: seconds since 1970-01-01 00:00:00 UTC (negative
// before) and nanoseconds 0..999,999,999 added to them.
struct ExactTime {
  std::int64_t sec = 0;
  std::int32_t nsec = 0;
  bool operator==(const ExactTime&) const = default;
};

// A FILETIME exactly; and back, truncated to 100 ns (0 before 1601, the
// largest FILETIME past its range, as platform/FileTimes.h does).
ExactTime ExactTimeOf(const FILETIME& ft);
FILETIME FileTimeOfExact(const ExactTime& time);

// "SEC.NNNNNNNNN": the seconds in decimal (a minus sign before 1970), a
// point and nine digits of nanoseconds. The parse takes exactly that form.
std::string ExactTimeText(const ExactTime& time);
std::optional<ExactTime> ParseExactTime(std::string_view text);

// The last-write time that GetFileTime has just read through `file` as
// `read`, at full precision: on Linux the nanoseconds of that very read
// (nothing is read again), on Windows `read` itself.
ExactTime ExactWriteTime(HANDLE file, const FILETIME& read);
// Sets the last-write time of `file` (opened for attribute writing) exactly,
// leaving its other times; FALSE with the thread's last-error code set.
BOOL SetExactWriteTime(HANDLE file, const ExactTime& time);
// Opens `path` for reading and writing its times without following a link
// in its last component (on Windows a name-surrogate reparse point); a link
// (ERROR_STOPPED_ON_SYMLINK), a folder or any other file that is not a
// regular one is refused, as is one whose times this process may not set.
// Close the handle with CloseHandle.
HANDLE OpenTimesNoFollow(LPCWSTR path);

}  // namespace veltrano
