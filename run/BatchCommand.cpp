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

#include "engine/LogStream.h"
#include "platform/WideText.h"
#include "run/ArgumentPath.h"
#include "run/ConsoleOutput.h"
#include "run/HeadlessRun.h"
#include "run/RowOutput.h"
#include "run/StopSignals.h"

namespace veltrano {
namespace {

constexpr char kUsage[] =
    "用法：veltrano-batch [--] 路径\n"
    "      veltrano-batch --rfc3161 [--] 路径\n"
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
    "  --rfc3161    也采用新式时间戳：签名没有旧式（Authenticode）副署时间戳时，\n"
    "               采用其 RFC 3161 时间戳；两者都没有时，采用其嵌套签名的时间戳\n"
    "               中最早的一个。默认只采用旧式副署时间戳。\n"
    "  -h, --help   显示本帮助\n"
    "\n"
    "退出状态：0 运行完成；1 路径无法读取或结果无法输出（运行停止）；2 参数错误\n"
    "或路径无法访问；130/143 被 SIGINT/SIGTERM 中断（当前条目完成后停止）。\n";

std::string ErrorText(DWORD code) {
  char text[64];
  const char* what = code == ERROR_ACCESS_DENIED          ? "拒绝访问，"
                     : code == ERROR_FILENAME_EXCED_RANGE ? "路径过长，"
                     : code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? "路径不存在，"
                                                                                    : "";
  std::snprintf(text, sizeof text, "%s错误代码 0x%lx", what, static_cast<unsigned long>(code));
  return text;
}

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

// Prints the header, runs the change-time command and says how it ended;
// the exit status. `what` names the chosen path in a message.
int RunAndReport(CHeadlessRun& run, std::ostream& out, std::ostream& err, const std::string& what) {
  if (!PrintLine(out, HeaderRow())) {
    err << kBatchProgram << ": 无法写出结果，未做任何更改\n";
    return kBatchExitFailed;
  }
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
  if (run.m_unprinted) {
    err << kBatchProgram << ": 无法写出结果，运行已停止；未能写出的一行：" << *run.m_unprinted
        << '\n';
    return kBatchExitFailed;
  }
  if (run.m_searchError) {
    err << kBatchProgram << ": 无法读取" << what << "（" << ErrorText(*run.m_searchError) << "）\n";
    return kBatchExitFailed;
  }
  if (const int signo = StopSignalReceived(); signo != 0) {
    err << kBatchProgram << ": 收到" << (signo == SIGINT ? "SIGINT" : "SIGTERM")
        << "，已在当前条目完成后停止\n";
    return 128 + signo;
  }
  return kBatchExitOk;
}

int Fail(std::ostream& err, const std::string& message) {
  err << kBatchProgram << ": " << message << '\n';
  return kBatchExitUsage;
}

}  // namespace

int RunBatchCommand(const std::vector<BatchArgument>& args, std::ostream& out, std::ostream& err,
                    BatchProgress progress) {
  std::vector<BatchArgument> paths;
  bool optionsEnded = false;
  bool includeRfc3161 = false;
  for (const BatchArgument& arg : args) {
    if (!optionsEnded && Is(arg, "--")) {
      optionsEnded = true;
    } else if (!optionsEnded && (Is(arg, "--help") || Is(arg, "-h"))) {
      out << kUsage;
      return kBatchExitOk;
    } else if (!optionsEnded && Is(arg, "--rfc3161")) {
      includeRfc3161 = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return Fail(err, "未知选项：" + BytesOf(arg) + "（用 --help 查看用法）");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return Fail(err, "缺少路径（用 --help 查看用法）");
  if (paths.size() > 1) return Fail(err, "只能指定一个路径（用 --help 查看用法）");

  const BatchArgument& arg = paths.front();
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
  const StopSignals stopSignals;
  TakeLogTrouble();  // only this run's troubles are told
  CHeadlessRun run(out, err, progress);
  run.m_bIncludeRfc3161 = includeRfc3161;
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
