#include "run/BatchCommand.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

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

int Fail(std::ostream& err, const std::string& message) {
  err << kProgram << ": " << message << '\n';
  return kBatchExitUsage;
}

}  // namespace

int RunBatchCommand(const std::vector<BatchArgument>& args, std::ostream& out, std::ostream& err) {
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
  const std::filesystem::path path = ChooserPath(arg, ec);
  if (ec) return Fail(err, "无法访问路径：" + BytesOf(arg));

  CBatchDialog dialog;
  dialog.InitResultList();
  if (std::filesystem::is_directory(st)) {
    dialog.SelectFolder(WideOf(path.native()));
  } else {
    dialog.SelectFile(WideOf(path.native()), WideOf(path.filename().native()),
                      WideOf(path.parent_path().native()));
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
