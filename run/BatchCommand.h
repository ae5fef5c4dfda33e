// The headless command `veltrano-batch PATH`: the same run as the dialog's
// change-time button, over a file or a folder named on the command line, with
// the rows printed instead of shown.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Win32.h"

#include "run/ProgressLine.h"

namespace veltrano {

inline constexpr int kBatchExitOk = 0;
inline constexpr int kBatchExitFailed = 1;
inline constexpr int kBatchExitUsage = 2;

// One command-line argument as the platform hands it over: bytes on Linux (so
// names that are not valid UTF-8 work), UTF-16 on Windows (so every name does).
using BatchArgument = std::filesystem::path::string_type;

// Runs the command with its arguments (argv without the program name). Prints a header
// line and then each row, tab-separated and flushed, as soon as its entry is
// done to `out`, the usage for --help, and one-line messages (a wrong
// argument, a time that could not be shown, a log that cannot be written, why
// the run stopped) to `err`. The log "CertificateLog.log" goes to the current
// directory. Returns kBatchExitOk after a run or --help; kBatchExitFailed when
// the path cannot be listed or read, or a row cannot be written (the run stops
// there, before any further file is changed); kBatchExitUsage for no path,
// more than one, an unknown option or a path that cannot be reached; 128 plus
// the signal's number after SIGINT or SIGTERM, which end the run once the
// current entry is done. `progress` says whether a progress line is drawn on
// `err` (run/ProgressLine.h).
int RunBatchCommand(const std::vector<BatchArgument>& args, std::ostream& out, std::ostream& err,
                    BatchProgress progress = {});

// A platform error code as the command's messages give it: a word on the
// usual ones, then the code ("拒绝访问，错误代码 0x5").
std::string ErrorText(DWORD code);

// An argument as the option parser took it (bytes on Linux, WTF-8 on
// Windows) as text to show.
std::string ShownArgument(const std::string& parserText);

// The endings a run and an undo share, said on `err`; each gives the exit
// status: the header row could not be written (nothing was changed); the row
// `line` could not be written (the run stopped there); SIGINT or SIGTERM
// (`signo`) stopped the run once the current entry was done.
int ReportHeaderUnwritten(std::ostream& err);
int ReportRowUnwritten(std::ostream& err, const std::string& line);
int ReportStopSignal(std::ostream& err, int signo);

}  // namespace veltrano
