#include "run/BatchCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileTimes.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/run/RunFixture.h"

namespace veltrano {
namespace {

using fixtures::BuildSignedPe;
using fixtures::kDefaultSigningTimeTicks;
using fixtures::ScopedTimeZone;
using fixtures::SetModificationTime;
using fixtures::TempDir;
using fixtures::UtcSeconds;
using fixtures::WriteFile;
using veltrano::testing::StampsOf;
using veltrano::testing::WriteBytes;

constexpr char kHeader[] = "文件名\t原时间\t新时间\t路径\n";

struct Result {
  int status;
  std::string out;
  std::string err;
};

class BatchCommand : public ::testing::Test {
 protected:
  BatchCommand() : cwd(work.path().string()), zone("Asia/Shanghai", 1705000000) {}

  Result Run(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunBatchCommand(args, out, err);
    return {status, out.str(), err.str()};
  }
  std::string Log() { return ReadIfPresent(work / "CertificateLog.log").value_or("<no log>"); }

  TempDir work;
  TempDir data;
  veltrano::testing::CurrentDirectory cwd;
  ScopedTimeZone zone;
};

TEST_F(BatchCommand, WrongArgumentsGiveStatus2AndOneLineOnStandardError) {
  WriteBytes(data / "a", "");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "veltrano-batch: 缺少路径（用 --help 查看用法）\n"},
      {{data / "a", data / "a"}, "veltrano-batch: 只能指定一个路径（用 --help 查看用法）\n"},
      {{data / "missing"}, nullptr},
      {{""}, "veltrano-batch: 路径不存在：\n"},
      {{"--verbose"}, "veltrano-batch: 未知选项：--verbose（用 --help 查看用法）\n"},
      {{"--"}, "veltrano-batch: 缺少路径（用 --help 查看用法）\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    if (c.message != nullptr) {
      EXPECT_EQ(r.err, c.message);
    } else {
      EXPECT_EQ(r.err, "veltrano-batch: 路径不存在：" + (data / "missing").string() + "\n");
    }
  }
  EXPECT_EQ(Log(), "<no log>");
}

TEST_F(BatchCommand, AFolderPrintsTheHeaderAndOneLinePerEntry) {
  WriteBytes(data / "plain.txt", "x");
  ASSERT_EQ(mkdir((data / "sub").string().c_str(), 0755), 0);
  ASSERT_TRUE(SetModificationTime(data / "plain.txt", UtcSeconds(2020, 5, 1, 12)));
  ASSERT_TRUE(SetModificationTime(data / "sub", UtcSeconds(2021, 5, 1, 12)));
  const std::string expected = std::string(kHeader) + "plain.txt\t2020/05/01 20:00:00\t-\t" +
                               data.path().string() + "\n" + "sub\t2021/05/01 20:00:00\t-\t" +
                               data.path().string() + "\n";

  // However the folder is written, the chooser's form of it is used.
  const std::string spellings[] = {data.path().string(), data.path().string() + "/",
                                   data.path().string() + "/./sub/.."};
  for (const std::string& arg : spellings) {
    SCOPED_TRACE(arg);
    const Result r = Run({arg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
  const std::string stretch =
      "Analyze Signed File[" + (data / "plain.txt").string() +
      "]\nCertificate[74]:\nCryptQueryObject failed with ErrorCode[0x80092009]\n" +
      "Analyze Signed File[" + (data / "sub").string() +
      "]\nCertificate[74]:\nCryptQueryObject failed with ErrorCode[0x5]\n";
  EXPECT_EQ(Log(), stretch + stretch + stretch);
}

TEST_F(BatchCommand, AFileGivesItsRowWithItsFolderAndARelativePathBecomesAbsolute) {
  WriteBytes(work / "-dash.exe", "x");
  ASSERT_TRUE(SetModificationTime(work / "-dash.exe", UtcSeconds(2020, 5, 1, 12)));
  const Result r = Run({"--", "-dash.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kHeader) + "-dash.exe\t2020/05/01 20:00:00\t-\t" +
                       work.path().string() + "\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(BatchCommand, TabsNewlinesAndBackslashesInNamesAreEscaped) {
  WriteBytes(data / "a\tb", "");
  WriteBytes(data / "c\nd", "");
  WriteBytes(data / "e\\tf", "");
  WriteBytes(data / "g\xFF", "");
  for (const char* name : {"a\tb", "c\nd", "e\\tf", "g\xFF"}) {
    ASSERT_TRUE(SetModificationTime(data / name, UtcSeconds(2020, 5, 1, 12)));
  }
  const Result r = Run({data.path().string()});
  EXPECT_EQ(r.status, 0);
  const std::string tail = "\t2020/05/01 20:00:00\t-\t" + data.path().string() + "\n";
  EXPECT_EQ(r.out, std::string(kHeader) + "a\\tb" + tail + "c\\nd" + tail + "e\\\\tf" + tail +
                       "g\xFF" + tail);
}

TEST_F(BatchCommand, ATimeThatCannotBeShownIsReportedOnStandardErrorAfterTheRows) {
  ScopedTimeZone newYork("America/New_York", 1705000000);
  WriteBytes(data / "early", "");
  WriteBytes(data / "late", "");
  ASSERT_TRUE(SetModificationTime(data / "early", -3600));
  ASSERT_TRUE(SetModificationTime(data / "late", UtcSeconds(2020, 5, 1, 12)));
  const Result r = Run({data.path().string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kHeader) + "early\t\t-\t" + data.path().string() + "\n" +
                       // Winter bias on a summer date, as the platform shows it.
                       "late\t2020/05/01 07:00:00\t-\t" + data.path().string() + "\n");
  EXPECT_EQ(r.err, "veltrano-batch: 有时间无法转换为文本，相应单元格留空：参数错误。\n");
}

// The installed executable: its exit status and streams.
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

TEST_F(BatchCommand, TheExecutableStampsAFolderAndReportsItsStatus) {
  const std::string dir = data.path().string();
  WriteFile(data / "signed.exe", BuildSignedPe());
  WriteBytes(data / "plain.txt", "x");
  ASSERT_EQ(mkdir((data / "sub").c_str(), 0755), 0);
  for (const char* name : {"signed.exe", "plain.txt", "sub"}) {
    ASSERT_TRUE(SetModificationTime((data / name).string(), UtcSeconds(2020, 5, 1, 12)));
  }

  // The child has no pinned clock; Shanghai has had no daylight saving since 1991.
  const Result run = RunExecutable("'" + dir + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kHeader) +                                    //
                         "plain.txt\t2020/05/01 20:00:00\t-\t" + dir + "\n" +  //
                         "signed.exe\t2020/05/01 20:00:00\t2019/04/05 14:07:08\t" + dir + "\n" +
                         "sub\t2020/05/01 20:00:00\t-\t" + dir + "\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Log(), "Analyze Signed File[" + dir + "/plain.txt]\nCertificate[74]:\n" +
                       "CryptQueryObject failed with ErrorCode[0x80092009]\n" +
                       "Analyze Signed File[" + dir + "/signed.exe]\n" + "Analyze Signed File[" +
                       dir + "/sub]\nCertificate[74]:\n" +
                       "CryptQueryObject failed with ErrorCode[0x5]\n");
  EXPECT_EQ(TicksOf(FileTimeOf(StampsOf(data / "signed.exe").modification)),
            kDefaultSigningTimeTicks);

  const Result help = RunExecutable("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("用法：veltrano-batch [--] 路径\n", 0), 0u);
  const Result none = RunExecutable("");
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "veltrano-batch: 缺少路径（用 --help 查看用法）\n");
  const Result missing = RunExecutable("'" + dir + "/missing'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
}

}  // namespace
}  // namespace veltrano
