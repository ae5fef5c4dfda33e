// The headless command `veltrano-batch PATH`: the same run as the dialog's
// change-time button, over a file or a folder named on the command line, with
// the rows printed instead of shown.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "run/DialogCore.h"
#include "run/MemoryListView.h"

// The dialog core over an in-memory list, with no buttons or title to show:
// what the headless command runs (and the benchmarks and tests, which may
// override the two hooks to watch them).
class CBatchDialog : public CVeltranoDlgCore {
 public:
  CMemoryListView m_list;

 protected:
  IResultListView& ResultList() override { return m_list; }
  void EnableDlgItem(int, bool) override {}
  void SetTitle(const std::wstring&) override {}
};

namespace veltrano {

inline constexpr int kBatchExitOk = 0;
inline constexpr int kBatchExitUsage = 2;

// One command-line argument as the platform hands it over: bytes on Linux (so
// names that are not valid UTF-8 work), UTF-16 on Windows (so every name does).
using BatchArgument = std::filesystem::path::string_type;

// Runs the command with its arguments (argv without the program name). Prints a header
// line and one tab-separated line per row to `out`, the usage for --help, and
// one-line messages (a wrong argument, a time that could not be shown) to
// `err`. The log "CertificateLog.log" goes to the current directory. Returns
// kBatchExitOk after a run or --help, kBatchExitUsage for no path, more than
// one, an unknown option or a path that cannot be reached.
int RunBatchCommand(const std::vector<BatchArgument>& args, std::ostream& out, std::ostream& err);

}  // namespace veltrano
