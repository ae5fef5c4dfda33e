// The headless command itself: its usage, its arguments, and how the run
// ended as messages and an exit status. The run is CHeadlessRun
// (run/HeadlessRun.h), over the rows (run/RowOutput.h), the progress line
// and the stop signals.
#include "run/BatchCommand.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

#include "VeltranoVersion.h"
#include "engine/LogStream.h"
#include "platform/WideText.h"
#include "run/ArgumentPath.h"
#include "run/ConsoleOutput.h"
#include "run/HeadlessRun.h"
#include "run/Journal.h"
#include "run/RowOutput.h"
#include "run/StopSignals.h"
#include "run/Undo.h"

namespace veltrano {
namespace {

constexpr char kUsage[] =
    "用法：veltrano-batch [--] 路径\n"
    "      veltrano-batch [-r] [-n] [--rfc3161] [--journal 记录] [--] 路径\n"
    "      veltrano-batch [-n] --undo 记录\n"
    "      veltrano-batch --version\n"
    "\n"
    "把文件的修改时间改为其数字签名的时间戳时间。路径是一个文件，或一个文件夹\n"
    "（处理其中每个条目；加 -r 时也处理各级子文件夹）。只有带时间戳签名的文件\n"
    "会被更改。\n"
    "\n"
    "结果输出到标准输出：第一行为列标题，之后每个条目处理完即输出一行，依次为\n"
    "文件名、原时间、新时间（未更改为“-”）和路径，以制表符分隔；内容中的控制\n"
    "字符和百分号写作百分号转义（%09 制表符、%0A 换行符、%25 百分号，依 UTF-8\n"
    "字节）。诊断日志追加到当前目录下的 CertificateLog.log。标准错误为终端时，\n"
    "其上有一行随运行更新的进度（已处理的条目数和已更改的文件数）。\n"
    "\n"
    "选项：\n"
    "  -r, --recursive  也处理各级子文件夹：每个文件夹先输出其自身的条目（子文件夹\n"
    "                   也各占一行），再依次处理其子文件夹（深度优先）。不进入指向\n"
    "                   文件夹的链接；无法读取的子文件夹在标准错误上说明并跳过。\n"
    "  -n, --dry-run    预览：输出与实际运行相同的行，新时间为将要设置的时间；不更改\n"
    "                   任何文件，不写诊断日志，也不写更改记录。\n"
    "  --journal 记录   每个文件的时间更改之前，向“记录”追加一行（路径、原时间和要\n"
    "                   设置的时间，精确到文件系统的精度），更改之后再追加读回的时间，\n"
    "                   供 --undo 使用。不经链接打开，只接受普通文件。\n"
    "  --undo 记录      按更改记录恢复原时间，最新的更改最先：只恢复仍保持运行所设\n"
    "                   时间的文件；已是原时间的为“-”；此后被更改过的不动，并在标准\n"
    "                   错误上说明。不能与路径、-r、--journal 或 --rfc3161 同用。\n"
    "  --rfc3161        也采用新式时间戳：签名没有旧式（Authenticode）副署时间戳时，\n"
    "                   采用其 RFC 3161 时间戳；两者都没有时，采用其嵌套签名的时间戳\n"
    "                   中最早的一个。默认只采用旧式副署时间戳。\n"
    "  -h, --help       显示本帮助\n"
    "  --version        显示程序名和版本\n"
    "\n"
    "退出状态：0 运行完成；1 路径或某个子文件夹无法读取、更改记录无法写入或结果\n"
    "无法输出（运行停止），或 --undo 有文件未恢复；2 参数错误或路径无法访问；\n"
    "130/143 被 SIGINT/SIGTERM 中断（当前条目完成后停止）。\n";

}  // namespace

std::string ErrorText(DWORD code) {
  char text[64];
  const char* what = code == ERROR_STOPPED_ON_SYMLINK     ? "是链接，未跟随，"
                     : code == ERROR_ACCESS_DENIED        ? "拒绝访问，"
                     : code == ERROR_FILENAME_EXCED_RANGE ? "路径过长，"
                     : code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? "路径不存在，"
                                                                                    : "";
  std::snprintf(text, sizeof text, "%s错误代码 0x%lx", what, static_cast<unsigned long>(code));
  return text;
}

std::string ShownArgument(const std::string& parserText) {
  return BytesFromWideReplacing(WideFromWtf8(parserText));
}

int ReportHeaderUnwritten(std::ostream& err) {
  err << kBatchProgram << ": 无法写出结果，未做任何更改\n";
  return kBatchExitFailed;
}

int ReportRowUnwritten(std::ostream& err, const std::string& line) {
  err << kBatchProgram << ": 无法写出结果，运行已停止；未能写出的一行：" << line << '\n';
  return kBatchExitFailed;
}

int ReportStopSignal(std::ostream& err, int signo) {
  err << kBatchProgram << ": 收到" << (signo == SIGINT ? "SIGINT" : "SIGTERM")
      << "，已在当前条目完成后停止\n";
  return 128 + signo;
}

namespace {

// An argument as wide text, and as bytes for a message.
std::wstring WideOf(const BatchArgument& arg) {
#ifdef _WIN32
  return arg;
#else
  return WideFromBytes(arg);
#endif
}
std::string BytesOf(const BatchArgument& arg) { return BytesFromWideReplacing(WideOf(arg)); }

// An argument as the option parser takes it: bytes on Linux, WTF-8 on
// Windows, so that every name survives; and back.
std::string ParserText(const BatchArgument& arg) {
#ifdef _WIN32
  return Wtf8FromWide(arg);
#else
  return arg;
#endif
}
BatchArgument ArgumentOf(const std::string& text) {
#ifdef _WIN32
  return WideFromWtf8(text);
#else
  return text;
#endif
}

// What the command line asks for.
struct Options {
  std::vector<std::string> paths;
  bool recursive = false;
  bool dryRun = false;
  bool rfc3161 = false;
  bool help = false;
  bool version = false;
  std::string journal;  // with hasJournal
  std::string undo;     // with hasUndo
  bool hasJournal = false;
  bool hasUndo = false;
};

// Parses the arguments; a message for wrong usage.
std::optional<std::string> Parse(const std::vector<BatchArgument>& args, Options& o) {
  CLI::App app{"", kBatchProgram};
  app.set_help_flag();  // the usage is the command's own text
  app.allow_extras();   // unknown options are told below, in the command's words
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);
  app.add_flag("-r,--recursive", o.recursive);
  app.add_flag("-n,--dry-run", o.dryRun);
  app.add_flag("--rfc3161", o.rfc3161);
  const CLI::Option* journal = app.add_option("--journal", o.journal)->expected(1);
  const CLI::Option* undo = app.add_option("--undo", o.undo)->expected(1);
  app.add_option("path", o.paths);
  std::vector<std::string> texts{kBatchProgram};
  for (const BatchArgument& arg : args) texts.push_back(ParserText(arg));
  std::vector<const char*> argv;
  for (const std::string& text : texts) argv.push_back(text.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ArgumentMismatch& e) {
    // "--journal: 1 required TEXT missing": the option comes first.
    const std::string text = e.what();
    return "选项缺少参数：" + text.substr(0, text.find(':'));
  } catch (const CLI::ParseError& e) {
    return std::string("参数错误：") + e.what();
  }
  o.hasJournal = journal->count() > 0;
  o.hasUndo = undo->count() > 0;
  bool optionsEnded = false;
  for (const std::string& extra : app.remaining()) {
    if (!optionsEnded && extra == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && extra.size() > 1 && extra[0] == '-') {
      return "未知选项：" + ShownArgument(extra);
    }
    o.paths.push_back(extra);
  }
  return std::nullopt;
}

// Prints the header, runs the change-time command and says how it ended;
// the exit status. `what` names the chosen path in a message.
int RunAndReport(CHeadlessRun& run, std::ostream& out, std::ostream& err, const std::string& what) {
  if (!PrintLine(out, HeaderRow())) return ReportHeaderUnwritten(err);
  std::optional<CTimeTextException> timeTextError;
  try {
    run.OnBnClickedChangeTime();
  } catch (const CTimeTextException& error) {
    timeTextError = error;
  }
  run.FinishProgress();
  if (timeTextError) {
    err << kBatchProgram << ": 有时间无法转换为文本，相应单元格留空：" << timeTextError->what()
        << '\n';
  }
  if (run.m_unprinted) return ReportRowUnwritten(err, *run.m_unprinted);
  if (run.m_pJournal != nullptr && run.m_pJournal->Failed()) {
    err << kBatchProgram << ": 无法写入更改记录，运行已停止（该文件及之后的文件未被更改）\n";
    return kBatchExitFailed;
  }
  if (run.m_searchError) {
    err << kBatchProgram << ": 无法读取" << what << "（" << ErrorText(*run.m_searchError) << "）\n";
    return kBatchExitFailed;
  }
  if (const int signo = StopSignalReceived(); signo != 0) return ReportStopSignal(err, signo);
  return run.m_unlistedSubfolders == 0 ? kBatchExitOk : kBatchExitFailed;
}

int Fail(std::ostream& err, const std::string& message) {
  err << kBatchProgram << ": " << message << '\n';
  return kBatchExitUsage;
}

}  // namespace

int RunBatchCommand(const std::vector<BatchArgument>& args, std::ostream& out, std::ostream& err,
                    BatchProgress progress) {
  Options o;
  if (const auto wrong = Parse(args, o)) return Fail(err, *wrong + "（用 --help 查看用法）");
  if (o.help) {
    out << kUsage;
    return kBatchExitOk;
  }
  if (o.version) {
    out << kBatchProgram << ' ' << VELTRANO_VERSION << '\n';
    return kBatchExitOk;
  }
  if (o.hasUndo) {
    if (!o.paths.empty() || o.recursive || o.hasJournal || o.rfc3161) {
      return Fail(err, "--undo 不能与路径、-r、--journal 或 --rfc3161 同用（用 --help 查看用法）");
    }
    HoldClosedStandardStreams();
    const StopSignals stopSignals;
    return RunUndo(o.undo, o.dryRun, out, err);
  }
  if (o.paths.empty()) return Fail(err, "缺少路径（用 --help 查看用法）");
  if (o.paths.size() > 1) return Fail(err, "只能指定一个路径（用 --help 查看用法）");

  const BatchArgument arg = ArgumentOf(o.paths.front());
  const ArgumentPath chosen = ResolveArgumentPath(arg);
  if (chosen.status == ArgumentPath::Status::kMissing) {
    return Fail(err, "路径不存在：" + BytesOf(arg));
  }
  if (chosen.status != ArgumentPath::Status::kFound) {
    return Fail(err, "无法访问路径：" + BytesOf(arg));
  }
  const bool isFolder = chosen.isFolder;
  const std::filesystem::path& path = chosen.path;

  HoldClosedStandardStreams();
  // A preview writes no journal, and does not even create one.
  JournalWriter journal;
  if (o.hasJournal && !o.dryRun && !journal.Open(o.journal)) {
    return Fail(err, "无法打开更改记录：" + ShownArgument(o.journal));
  }
  const StopSignals stopSignals;
  TakeLogTrouble();  // only this run's troubles are told
  CHeadlessRun run(out, err, progress);
  run.m_bIncludeRfc3161 = o.rfc3161;
  run.m_bRecursive = o.recursive;
  run.m_bDryRun = o.dryRun;
  if (o.hasJournal && !o.dryRun) {
    run.m_pJournal = &journal;
  }
  run.InitResultList();
  if (isFolder) {
    run.SelectFolder(WideOf(path.native()));
  } else {
    run.SelectFile(WideOf(path.native()), WideOf(path.filename().native()),
                   WideOf(path.parent_path().native()));
  }

  return RunAndReport(run, out, err, (isFolder ? "文件夹：" : "文件：") + BytesOf(arg));
}

}  // namespace veltrano
