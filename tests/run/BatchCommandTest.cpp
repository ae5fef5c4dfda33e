#include "run/BatchCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "VeltranoVersion.h"
#include "platform/FileTimes.h"
#include "tests/run/RunFixture.h"

namespace veltrano {
namespace {

using fixtures::BuildSignedPe;
using fixtures::UtcSeconds;

constexpr char kHeader[] = "文件名\t原时间\t新时间\t路径\n";
const std::int64_t kMay2020 = UtcSeconds(2020, 5, 1, 12);  // 20:00 in Shanghai
constexpr char kUndoAlone[] =
    "--undo 不能与路径、-r、--journal 或 --rfc3161 同用（用 --help 查看用法）";

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result RunCommand(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunBatchCommand(args, out, err);
  return {status, out.str(), err.str()};
}

// The built executable through a shell: its exit status and streams.
Result RunExecutable(const std::string& args) {
  const std::string command = std::string(VELTRANO_BATCH_EXE) + " " + args + " 2>stderr.txt";
  Result r{-1, "", ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int wait = pclose(pipe);
  r.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  r.err = ReadIfPresent("stderr.txt").value_or("");
  return r;
}

using BatchCommand = BatchRun;

TEST_F(BatchCommand, WrongArgumentsGiveStatus2AndOneLineOnStandardError) {
  Put("a");
  const std::string missing = (data / "missing").string();
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "缺少路径（用 --help 查看用法）"},
      {{"--"}, "缺少路径（用 --help 查看用法）"},
      {{data / "a", data / "a"}, "只能指定一个路径（用 --help 查看用法）"},
      {{missing}, "路径不存在：" + missing},
      {{""}, "路径不存在："},
      {{"--verbose"}, "未知选项：--verbose（用 --help 查看用法）"},
      {{"-r", "-n"}, "缺少路径（用 --help 查看用法）"},
      {{"--journal"}, "选项缺少参数：--journal（用 --help 查看用法）"},
      {{"--journal", missing + "/j", data / "a"}, "无法打开更改记录：" + missing + "/j"},
      {{"--undo", "j", data / "a"}, kUndoAlone},
      {{"-r", "--undo", "j"}, kUndoAlone},
      {{"--undo", "j", "--journal", "k"}, kUndoAlone},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result r = RunCommand(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "veltrano-batch: " + message + "\n");
  }
  EXPECT_EQ(Log(), std::nullopt);
}

TEST_F(BatchCommand, AFolderHoweverWrittenPrintsOneLinePerEntryWithControlCharactersEscaped) {
  for (const char* name : {"a\tb", "c\nd", "e\\tf", "g\xFF", "h\r\x1B\x7F\xC2\x85%"})
    Put(name, {}, kMay2020);
  ASSERT_EQ(mkdir((data / "sub").c_str(), 0755), 0);
  ASSERT_TRUE(fixtures::SetModificationTime(data / "sub", kMay2020));
  const std::string dir = data.path().string();
  const std::string tail = "\t2020/05/01 20:00:00\t-\t" + dir + "\n";
  // Percent escapes; the backslash, a path separator on Windows, stays.
  const std::string expected = kHeader + ("a%09b" + tail) + "c%0Ad" + tail + "e\\tf" + tail +
                               "g%FF" + tail + "h%0D%1B%7F%C2%85%25" + tail + "sub" + tail;
  // However the folder is written, the chooser's form of it is used.
  for (const std::string& arg : {dir, dir + "/", dir + "/./sub/.."}) {
    SCOPED_TRACE(arg);
    EXPECT_EQ(RunCommand({arg}).out, expected);
  }
}

TEST_F(BatchCommand, AFileGivesOnlyItsRowWithItsFolderAndARelativePathBecomesAbsolute) {
  fixtures::WriteFile(work / "-dash.exe", {});
  fixtures::WriteFile(work / "other.exe", {});
  ASSERT_TRUE(fixtures::SetModificationTime(work / "-dash.exe", kMay2020));
  const Result r = RunCommand({"--", "-dash.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kHeader + ("-dash.exe\t2020/05/01 20:00:00\t-\t" + work.path().string()) + "\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(BatchCommand, OnATerminalAProgressLineCountsEntriesAndStampsBesideTheRows) {
  Put("plain.txt", fixtures::BytesOf("x"), kMay2020);
  Put("signed.exe", BuildSignedPe(), kMay2020);
  const std::string rows = RunCommand({data.path().string()}).out;
  ASSERT_TRUE(fixtures::SetModificationTime(data / "signed.exe", kMay2020));
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunBatchCommand({data.path().string()}, out, err, {true, true}), 0);
  EXPECT_EQ(out.str(), rows);
  // Drawn over itself (and erased with spaces before a row); the final count stays.
  const std::string last = "\r已处理 2 个条目，已更改 1 个\n";
  ASSERT_GE(err.str().size(), last.size());
  EXPECT_EQ(err.str().substr(err.str().size() - last.size()), last);
  EXPECT_EQ(err.str().find_first_not_of("\r 已处理个条目，更改0123456789"), err.str().size() - 1);
}

TEST_F(BatchCommand, ATimeThatCannotBeShownIsReportedOnStandardErrorAfterTheRows) {
  fixtures::ScopedTimeZone newYork("America/New_York", kNow);
  Put("early", {}, -3600);
  Put("late", {}, kMay2020);
  const Result r = RunCommand({data.path().string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kHeader + ("early\t\t-\t" + data.path().string()) + "\n" +
                       // Winter bias on a summer date, as the platform shows it.
                       "late\t2020/05/01 07:00:00\t-\t" + data.path().string() + "\n");
  EXPECT_EQ(r.err, "veltrano-batch: 有时间无法转换为文本，相应单元格留空：参数错误。\n");
}

TEST_F(BatchCommand, TheExecutableStampsAFolderAndReportsItsStatus) {
  const std::string dir = data.path().string();
  Put("signed.exe", BuildSignedPe(), kMay2020);
  Put("plain.txt", fixtures::BytesOf("x"), kMay2020);
  ASSERT_EQ(mkdir((data / "sub").c_str(), 0755), 0);
  ASSERT_TRUE(fixtures::SetModificationTime(data / "sub", kMay2020));

  // The child has no pinned clock; Shanghai has had no daylight saving since 1991.
  const Result run = RunExecutable("'" + dir + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kHeader) +                                    //
                         "plain.txt\t2020/05/01 20:00:00\t-\t" + dir + "\n" +  //
                         "signed.exe\t2020/05/01 20:00:00\t2019/04/05 14:07:08\t" + dir + "\n" +
                         "sub\t2020/05/01 20:00:00\t-\t" + dir + "\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Log(), QueryFailure(dir + "/plain.txt", kNotSigned) + "Analyze Signed File[" + dir +
                       "/signed.exe]\n" + QueryFailure(dir + "/sub", kDirectory));
  EXPECT_EQ(TicksOf(FileTimeOf(testing::StampsOf(data / "signed.exe").modification)),
            fixtures::kDefaultSigningTimeTicks);

  const Result help = RunExecutable("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("用法：veltrano-batch [--] 路径\n", 0), 0u);
  EXPECT_EQ(RunExecutable("--version").out, "veltrano-batch " VELTRANO_VERSION "\n");
  const Result missing = RunExecutable("'" + dir + "/missing'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "veltrano-batch: 路径不存在：" + dir + "/missing\n");
}

}  // namespace
}  // namespace veltrano
