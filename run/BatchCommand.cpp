#include "run/BatchCommand.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/LogStream.h"
#include "platform/WideText.h"

namespace veltrano {
namespace {

constexpr char kProgram[] = "veltrano-batch";

constexpr char kUsage[] =
    "用法：veltrano-batch [--] 路径\n"
    "\n"
    "把文件的修改时间改为其数字签名的时间戳时间。路径是一个文件，或一个文件夹\n"
    "（处理其中每个条目，不进入子文件夹）。只有带时间戳签名的文件会被更改。\n"
    "\n"
    "结果输出到标准输出：第一行为列标题，之后每个条目处理完即输出一行，依次为\n"
    "文件名、原时间、新时间（未更改为“-”）和路径，以制表符分隔；内容中的控制\n"
    "字符和百分号写作百分号转义（%09 制表符、%0A 换行符、%25 百分号，依 UTF-8\n"
    "字节）。诊断日志追加到当前目录下的 CertificateLog.log。标准错误为终端时，\n"
    "其上有一行随运行更新的进度（已处理的条目数和已更改的文件数）。\n"
    "\n"
    "选项：\n"
    "  -h, --help   显示本帮助\n"
    "\n"
    "退出状态：0 运行完成；1 路径无法读取或结果无法输出（运行停止）；2 参数错误\n"
    "或路径无法访问；130/143 被 SIGINT/SIGTERM 中断（当前条目完成后停止）。\n";

// The signal that asked the run to stop, or 0.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signo) { g_stopSignal = signo; }

// For the length of a run: SIGINT and SIGTERM let the current entry finish
// and then end the walk (unless they were ignored when the run began, as for
// a background job), and a reader that goes away makes a write fail instead
// of ending the process.
class StopSignals {
 public:
  StopSignals() {
    g_stopSignal = 0;
    for (Saved& s : m_saved) {
      s.previous = std::signal(s.signo, s.handler);
      if (s.previous == SIG_IGN) std::signal(s.signo, SIG_IGN);
    }
  }
  ~StopSignals() {
    for (const Saved& s : m_saved) {
      if (s.previous != SIG_ERR) std::signal(s.signo, s.previous);
    }
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct Saved {
    int signo;
    void (*handler)(int);
    void (*previous)(int) = SIG_DFL;
  };
#ifdef SIGPIPE
  Saved m_saved[3] = {{SIGINT, OnStopSignal}, {SIGTERM, OnStopSignal}, {SIGPIPE, SIG_IGN}};
#else
  Saved m_saved[2] = {{SIGINT, OnStopSignal}, {SIGTERM, OnStopSignal}};
#endif
};

// A closed standard stream would be taken by the next file opened (the log
// could receive the rows). Each is held by /dev/null opened read-only, so
// writes to a closed output still fail.
void HoldClosedStandardStreams() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
  }
#endif
}

// The row's cells, each escaped (AppendPercentEscaped), tab-separated, into
// `line` (whose room is kept from row to row).
void FormatLine(const std::vector<std::wstring>& cells, std::string& line) {
  line.clear();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) line += '\t';
    AppendPercentEscaped(cells[i], line);
  }
}

// Writes one line and flushes it; false when it did not get out.
bool PrintLine(std::ostream& out, const std::string& line) {
  out << line << '\n';
  out.flush();
  return out.good();
}

std::string ErrorText(DWORD code) {
  char text[64];
  const char* what = code == ERROR_ACCESS_DENIED          ? "拒绝访问，"
                     : code == ERROR_FILENAME_EXCED_RANGE ? "路径过长，"
                     : code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? "路径不存在，"
                                                                                    : "";
  std::snprintf(text, sizeof text, "%s错误代码 0x%lx", what, static_cast<unsigned long>(code));
  return text;
}

// The progress line: a carriage return and the counts, drawn at most ten
// times a second (and after every row that erased it). The counts only grow,
// so each drawing covers the one before; erasing writes spaces over it.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, BatchProgress options) : m_err(err), m_options(options) {}

  // A row is about to be printed.
  void BeforeRow() {
    if (m_options.rowsOnSameTerminal) Erase();
  }
  // A message is about to be written to the line's stream.
  void Erase() {
    if (m_columns == 0) return;
    m_err << '\r' << std::string(m_columns, ' ') << '\r' << std::flush;
    m_columns = 0;
    m_redraw = true;
  }
  // An entry is done.
  void Count(bool stamped) {
    if (!m_options.show) return;
    ++m_done;
    if (stamped) ++m_stamped;
    const auto now = std::chrono::steady_clock::now();
    if (m_redraw || now - m_drawn >= std::chrono::milliseconds(100)) {
      Draw();
      m_drawn = now;
    }
  }
  // The run is over: the final count stays on its own line.
  void Finish() {
    if (!m_options.show || m_done == 0) return;
    Draw();
    m_err << '\n' << std::flush;
    m_columns = 0;
  }

 private:
  void Draw() {
    const std::string text =
        "已处理 " + std::to_string(m_done) + " 个条目，已更改 " + std::to_string(m_stamped) + " 个";
    m_err << '\r' << text << std::flush;
    // ASCII takes one column, each of the (three-byte) Chinese characters two.
    m_columns = 0;
    for (const unsigned char c : text) m_columns += c < 0x80 ? 1 : (c & 0xC0) == 0xC0 ? 2 : 0;
    m_redraw = false;
  }

  std::ostream& m_err;
  const BatchProgress m_options;
  std::uint64_t m_done = 0;
  std::uint64_t m_stamped = 0;
  std::size_t m_columns = 0;  // of the line on the terminal, 0 when none is
  bool m_redraw = false;
  std::chrono::steady_clock::time_point m_drawn = std::chrono::steady_clock::now();
};

// The run of the headless command: every row is printed and flushed once its
// entry is done and then forgotten, so memory does not grow with the number
// of entries. The walk ends after the current entry when a row cannot be
// printed (before any further file is changed) or a stop signal came.
class CPrintingDialog final : public CBatchDialog {
 public:
  CPrintingDialog(std::ostream& out, std::ostream& err, BatchProgress progress)
      : m_out(out), m_err(err), m_progress(err, progress) {}

  std::optional<std::string> m_unprinted;  // the row that could not be printed
  std::optional<DWORD> m_searchError;

  void FinishProgress() { m_progress.Finish(); }

 protected:
  bool OnEntryDone(BOOL stamped) override {
    for (const std::vector<std::wstring>& row : m_list.Rows()) {
      FormatLine(row, m_line);
      m_progress.BeforeRow();
      if (!m_unprinted && !PrintLine(m_out, m_line)) m_unprinted = m_line;
    }
    m_list.DropRows();
    m_progress.Count(stamped != FALSE);
    ReportLogTrouble();
    return !m_unprinted && g_stopSignal == 0;
  }

  void OnSearchFailed(DWORD dwError) override {
    // A folder without any entry, not even "." (a drive's root on Windows),
    // is an empty folder.
    if (!(m_strFileName.empty() && dwError == ERROR_FILE_NOT_FOUND)) m_searchError = dwError;
  }

 private:
  // Tells once per run that the log could not be opened or written.
  void ReportLogTrouble() {
    if (m_logTroubleShown) return;
    const LogTrouble trouble = TakeLogTrouble();
    if (trouble == LogTrouble::kNone) return;
    m_logTroubleShown = true;
    m_progress.Erase();
    m_err << kProgram << ": "
          << (trouble == LogTrouble::kCannotOpen
                  ? "无法打开诊断日志 CertificateLog.log，诊断记录被丢弃（结果不受影响）"
                  : "诊断日志 CertificateLog.log 写入失败，部分诊断记录被丢弃（结果不受影响）")
          << std::endl;
  }

  std::ostream& m_out;
  std::ostream& m_err;
  std::string m_line;
  ProgressLine m_progress;
  bool m_logTroubleShown = false;
};

// An argument as wide text, and as bytes for a message.
std::wstring WideOf(const BatchArgument& arg) {
#ifdef _WIN32
  return arg;
#else
  return WideFromBytes(arg);
#endif
}
std::string BytesOf(const BatchArgument& arg) { return BytesFromWideReplacing(WideOf(arg)); }

bool Is(const BatchArgument& arg, std::string_view ascii) {
  return arg.size() == ascii.size() && std::equal(arg.begin(), arg.end(), ascii.begin());
}

// The path as a chooser reports it: absolute, without "." or ".." steps and
// without a trailing separator (except the root itself).
std::filesystem::path ChooserPath(const BatchArgument& arg, std::error_code& ec) {
  std::filesystem::path path = std::filesystem::absolute(arg, ec);
  if (ec) return {};
  path = path.lexically_normal();  // also makes every separator the preferred one
  if (path.has_relative_path() && !path.has_filename()) path = path.parent_path();
  return path;
}

// Prints the header, runs the change-time command and says how it ended;
// the exit status. `what` names the chosen path in a message.
int RunAndReport(CPrintingDialog& dialog, std::ostream& out, std::ostream& err,
                 const std::string& what) {
  std::string header;
  FormatLine({std::begin(kColumnHeaders), std::end(kColumnHeaders)}, header);
  if (!PrintLine(out, header)) {
    err << kProgram << ": 无法写出结果，未做任何更改\n";
    return kBatchExitFailed;
  }
  std::optional<CTimeTextException> timeTextError;
  try {
    dialog.OnBnClickedChangeTime();
  } catch (const CTimeTextException& error) {
    timeTextError = error;
  }
  dialog.FinishProgress();
  if (timeTextError) {
    err << kProgram << ": 有时间无法转换为文本，相应单元格留空：" << timeTextError->what() << '\n';
  }
  if (dialog.m_unprinted) {
    err << kProgram << ": 无法写出结果，运行已停止；未能写出的一行：" << *dialog.m_unprinted
        << '\n';
    return kBatchExitFailed;
  }
  if (dialog.m_searchError) {
    err << kProgram << ": 无法读取" << what << "（" << ErrorText(*dialog.m_searchError) << "）\n";
    return kBatchExitFailed;
  }
  if (const int signo = g_stopSignal; signo != 0) {
    err << kProgram << ": 收到" << (signo == SIGINT ? "SIGINT" : "SIGTERM")
        << "，已在当前条目完成后停止\n";
    return 128 + signo;
  }
  return kBatchExitOk;
}

int Fail(std::ostream& err, const std::string& message) {
  err << kProgram << ": " << message << '\n';
  return kBatchExitUsage;
}

}  // namespace

int RunBatchCommand(const std::vector<BatchArgument>& args, std::ostream& out, std::ostream& err,
                    BatchProgress progress) {
  std::vector<BatchArgument> paths;
  bool optionsEnded = false;
  for (const BatchArgument& arg : args) {
    if (!optionsEnded && Is(arg, "--")) {
      optionsEnded = true;
    } else if (!optionsEnded && (Is(arg, "--help") || Is(arg, "-h"))) {
      out << kUsage;
      return kBatchExitOk;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return Fail(err, "未知选项：" + BytesOf(arg) + "（用 --help 查看用法）");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return Fail(err, "缺少路径（用 --help 查看用法）");
  if (paths.size() > 1) return Fail(err, "只能指定一个路径（用 --help 查看用法）");

  const BatchArgument& arg = paths.front();
  std::error_code ec;
  const std::filesystem::file_status st =
      arg.empty() ? std::filesystem::file_status(std::filesystem::file_type::not_found)
                  : std::filesystem::status(arg, ec);
  if (st.type() == std::filesystem::file_type::not_found) {
    return Fail(err, "路径不存在：" + BytesOf(arg));
  }
  if (ec || st.type() == std::filesystem::file_type::none) {
    return Fail(err, "无法访问路径：" + BytesOf(arg));
  }
  const bool isFolder = std::filesystem::is_directory(st);
  const std::filesystem::path path = ChooserPath(arg, ec);
  if (ec) return Fail(err, "无法访问路径：" + BytesOf(arg));

  HoldClosedStandardStreams();
  const StopSignals stopSignals;
  TakeLogTrouble();  // only this run's troubles are told
  CPrintingDialog dialog(out, err, progress);
  dialog.InitResultList();
  if (isFolder) {
    dialog.SelectFolder(WideOf(path.native()));
  } else {
    dialog.SelectFile(WideOf(path.native()), WideOf(path.filename().native()),
                      WideOf(path.parent_path().native()));
  }

  return RunAndReport(dialog, out, err, (isFolder ? "文件夹：" : "文件：") + BytesOf(arg));
}

}  // namespace veltrano
