#include "run/Undo.h"

#include <optional>
#include <vector>

#include "platform/ExactTime.h"
#include "platform/RegularFile.h"
#include "platform/WideText.h"
#include "run/BatchCommand.h"
#include "run/DialogCore.h"
#include "run/HeadlessRun.h"
#include "run/Journal.h"
#include "run/RowOutput.h"
#include "run/StopSignals.h"

namespace veltrano {
namespace {

struct UndoRow {
  std::vector<std::wstring> cells;
  std::string problem;  // why the file was left alone; empty when it holds its old time
};

std::wstring TimeCell(const FILETIME& ft) {
  try {
    return FormatTimeText(ft);
  } catch (const CTimeTextException&) {
    return L"";  // a time no text shows: the cell stays empty, as in a run
  }
}

UndoRow UndoOne(const JournalEntry& entry, bool preview) {
  // A run joins a folder and a name with the separator, so the last one
  // parts them again.
  const std::size_t cut = entry.path.rfind(kPathSeparator);
  const std::size_t name = cut == std::wstring::npos ? 0 : cut + 1;
  UndoRow row{{entry.path.substr(name), L"", L"-", entry.path.substr(0, name == 0 ? 0 : cut)}, ""};
  HANDLE file = OpenTimesNoFollow(entry.path.c_str());
  if (file == INVALID_HANDLE_VALUE) {
    row.problem = "无法打开（" + ErrorText(GetLastError()) + "），未恢复";
    return row;
  }
  FILETIME held{};
  if (!GetFileTime(file, nullptr, nullptr, &held)) {
    row.problem = "无法读取时间（" + ErrorText(GetLastError()) + "），未恢复";
  } else {
    row.cells[1] = TimeCell(held);
    const ExactTime now = ExactWriteTime(file, held);
    const ExactTime leftByRun = entry.readBack ? *entry.readBack : entry.asked;
    if (now == entry.old) {
      // Unchanged: the run never got to it, or it is back already.
    } else if (now != leftByRun) {
      row.problem = "自运行后已被更改，未恢复";
    } else if (!preview && !SetExactWriteTime(file, entry.old)) {
      row.problem = "无法更改时间（" + ErrorText(GetLastError()) + "），未恢复";
    } else {
      row.cells[2] = TimeCell(FileTimeOfExact(entry.old));
    }
  }
  CloseHandle(file);
  return row;
}

}  // namespace

int RunUndo(const std::string& name, bool preview, std::ostream& out, std::ostream& err) {
  const std::string shown = ShownArgument(name);
  DWORD error = ERROR_SUCCESS;
  const std::optional<std::string> text = ReadRegularFile(name, error);
  if (!text) {
    err << kBatchProgram << ": 无法读取更改记录：" << shown << "（" << ErrorText(error) << "）\n";
    return kBatchExitFailed;
  }
  const Journal journal = ParseJournal(*text);
  for (const std::size_t number : journal.badLines)
    err << kBatchProgram << ": 更改记录第 " << number << " 行无法识别，已跳过\n";
  bool allBack = journal.badLines.empty();
  std::string line;
  if (!PrintLine(out, HeaderRow())) return ReportHeaderUnwritten(err);
  // Newest first, so that a file two runs stamped ends at its first old time.
  for (auto entry = journal.entries.rbegin(); entry != journal.entries.rend(); ++entry) {
    const UndoRow row = UndoOne(*entry, preview);
    FormatRow(row.cells, line);
    if (!PrintLine(out, line)) return ReportRowUnwritten(err, line);
    if (!row.problem.empty()) {
      allBack = false;
      std::string path;
      AppendPercentEscaped(entry->path, path);
      err << kBatchProgram << ": " << row.problem << "：" << path << '\n';
    }
    if (const int signo = StopSignalReceived(); signo != 0) return ReportStopSignal(err, signo);
  }
  return allBack ? kBatchExitOk : kBatchExitFailed;
}

}  // namespace veltrano
