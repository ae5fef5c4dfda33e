// The log's file layer on each platform: whole pieces appended to a regular
// file, how the file ends, and what this thread's last append remembers.
#include "platform/LogFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"

namespace veltrano {
namespace {

using fixtures::TempDir;
using testing::CurrentDirectory;

TEST(LogFile, AppendsUnderALockThatIsWaitedForOnlyBriefly) {
  TempDir dir;
  CurrentDirectory inDir(dir.path());
  testing::WriteBytes(dir / "log", "earlier");  // a line left unfinished
  const std::string ended = std::string("earlier") + kLogLineBreak;
  LogFile log, other;
  ASSERT_TRUE(log.Open("log"));  // holds the lock until its first append
  EXPECT_EQ(log.End().size, 7u);
  ASSERT_TRUE(other.Open("log"));
  EXPECT_FALSE(other.Append("dropped\n"));
  EXPECT_TRUE(log.Append("next\n"));
  EXPECT_EQ(log.End().size, ended.size() + 5);
  ASSERT_TRUE(log.Open("log"));
  log.ReleaseLock();  // a file written only later holds no lock meanwhile
  EXPECT_TRUE(other.Append("more\n"));
  EXPECT_EQ(testing::ReadBytes(dir / "log"), ended + "next\nmore\n");
}

TEST(LogFile, OpensOnlyARegularFileWithOneNameAndNoLink) {
  TempDir dir;
  CurrentDirectory inDir(dir.path());
  namespace fs = std::filesystem;
  fs::create_directory(dir / "folder");
  testing::WriteBytes(dir / "target", "kept\n");
  fs::create_hard_link(dir / "target", dir / "hard");
#ifdef _WIN32
  const char* device = "NUL";
#else
  const char* device = "/dev/null";
#endif
  LogFile log;
  for (const char* name : {"folder", "hard", device}) EXPECT_FALSE(log.Open(name)) << name;
  std::error_code noPrivilege;  // Windows makes links only with a privilege
  fs::create_symlink(dir / "target", dir / "link", noPrivilege);
  fs::create_symlink(dir / "missing", dir / "dangling", noPrivilege);
  if (!noPrivilege && !fixtures::WineGap("a symbolic link to a file is no reparse point in Wine")) {
    EXPECT_FALSE(log.Open("link"));
    EXPECT_FALSE(log.Open("dangling"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
  }
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(testing::ReadBytes(dir / "target"), "kept\n");
}

TEST(LastLogAppend, TellsHowALogEndsOnlyWhereThisThreadsLastAppendLeftIt) {
  TempDir dir;
  CurrentDirectory inDir(dir.path());
  LogFile log;
  ASSERT_TRUE(log.Open("log"));
  ASSERT_TRUE(log.Append("unfinished"));
  log.Close();

  LogFile journal;  // another file appended to in between
  ASSERT_TRUE(journal.Open("journal") && journal.Append("line\n"));
  ASSERT_TRUE(log.Open("log"));  // the same file, opened again
  EXPECT_EQ(LastLogAppend::Recall(log.End()), false);
  EXPECT_EQ(LastLogAppend::Recall(journal.End()), true);
  std::thread([&] { EXPECT_EQ(LastLogAppend::Recall(log.End()), std::nullopt); }).join();
  log.Close();
  std::ofstream(dir / "log", std::ios::app) << "\n";  // another writer ends the line
  ASSERT_TRUE(log.Open("log"));
  EXPECT_EQ(LastLogAppend::Recall(log.End()), std::nullopt);

  LastLogAppend::Remember(log.End(), true);
  LastLogAppend::Forget();
  EXPECT_EQ(LastLogAppend::Recall(log.End()), std::nullopt);
}

}  // namespace
}  // namespace veltrano
