#include "run/BatchCommand.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

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
    "结果输出到标准输出：第一行为列标题，之后每个条目一行，依次为文件名、原时间、\n"
    "新时间（未更改为“-”）和路径，以制表符分隔；内容中的制表符、换行符和反斜杠\n"
    "写作 \\t、\\n 和 \\\\。诊断日志追加到当前目录下的 CertificateLog.log。\n"
    "\n"
    "选项：\n"
    "  -h, --help   显示本帮助\n"
    "\n"
    "退出状态：0 运行完成；2 参数错误或路径无法访问。\n";

// A cell with the characters that would break the line format escaped; the
// backslash too, so that every printed cell reads back unambiguously.
std::string EscapeCell(const std::wstring& cell) {
  std::wstring escaped;
  escaped.reserve(cell.size());
  for (wchar_t c : cell) {
    switch (c) {
      case L'\t':
        escaped += L"\\t";
        break;
      case L'\n':
        escaped += L"\\n";
        break;
      case L'\\':
        escaped += L"\\\\";
        break;
      default:
        escaped += c;
    }
  }
  // Undecodable name bytes are printed as those bytes again.
  return BytesFromWideReplacing(escaped);
}

void PrintLine(std::ostream& out, const std::vector<std::wstring>& cells) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) out << '\t';
    out << EscapeCell(cells[i]);
  }
  out << '\n';
}

// The path as a chooser reports it: absolute, without "." or ".." steps and
// without a trailing separator (except the root itself).
std::filesystem::path ChooserPath(const std::string& arg, std::error_code& ec) {
  std::filesystem::path path = std::filesystem::absolute(arg, ec);
  if (ec) return {};
  std::string text = path.lexically_normal().native();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return std::filesystem::path(text);
}

int Fail(std::ostream& err, const std::string& message) {
  err << kProgram << ": " << message << '\n';
  return kBatchExitUsage;
}

}  // namespace

int RunBatchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      out << kUsage;
      return kBatchExitOk;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return Fail(err, "未知选项：" + arg + "（用 --help 查看用法）");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return Fail(err, "缺少路径（用 --help 查看用法）");
  if (paths.size() > 1) return Fail(err, "只能指定一个路径（用 --help 查看用法）");

  const std::string& arg = paths.front();
  struct stat st {};
  if (arg.empty() || stat(arg.c_str(), &st) != 0) {
    const bool missing = arg.empty() || errno == ENOENT || errno == ENOTDIR;
    return Fail(err, (missing ? "路径不存在：" : "无法访问路径：") + arg);
  }
  std::error_code ec;
  const std::filesystem::path path = ChooserPath(arg, ec);
  if (ec) return Fail(err, "无法访问路径：" + arg);

  CBatchDialog dialog;
  dialog.InitResultList();
  if (S_ISDIR(st.st_mode)) {
    dialog.SelectFolder(WideFromBytes(path.native()));
  } else {
    dialog.SelectFile(WideFromBytes(path.native()), WideFromBytes(path.filename().native()),
                      WideFromBytes(path.parent_path().native()));
  }

  std::optional<CTimeTextException> timeError;
  try {
    dialog.OnBnClickedChangeTime();
  } catch (const CTimeTextException& error) {
    timeError = error;
  }

  PrintLine(out, {std::begin(kColumnHeaders), std::end(kColumnHeaders)});
  for (const std::vector<std::wstring>& row : dialog.m_list.Rows()) PrintLine(out, row);
  out.flush();
  if (timeError) {
    err << kProgram << ": "
        << "有时间无法转换为文本，相应单元格留空：" << timeError->what() << '\n';
  }
  return kBatchExitOk;
}

}  // namespace veltrano
