// The headless command `veltrano-batch PATH`: the same run as the dialog's
// change-time button, over a file or a folder named on the command line, with
// the rows printed instead of shown.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace veltrano {

inline constexpr int kBatchExitOk = 0;
inline constexpr int kBatchExitUsage = 2;

// Runs the command with its arguments (argv without the program name; each
// argument is bytes, so names that are not valid UTF-8 work). Prints a header
// line and one tab-separated line per row to `out`, the usage for --help, and
// one-line messages (a wrong argument, a time that could not be shown) to
// `err`. The log "CertificateLog.log" goes to the current directory. Returns
// kBatchExitOk after a run or --help, kBatchExitUsage for no path, more than
// one, an unknown option or a path that cannot be reached.
int RunBatchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace veltrano
