// The log's file layer on each platform: whole pieces appended to a regular
// file, how the file ends, and what this thread's last append remembers.
#include "platform/LogFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "tests/fixtures/TempDir.h"
#include "tests/support/Inspection.h"

namespace veltrano {
namespace {

using fixtures::TempDir;
using testing::CurrentDirectory;

TEST(LogFile, AppendsToARegularFileAndReadsHowItEnds) {
  TempDir dir;
  CurrentDirectory inDir(dir.path());
  testing::WriteBytes(dir / "log", "earlier");
  LogFile log;
  ASSERT_TRUE(log.Open("log"));
  EXPECT_EQ(log.End().size, 7u);
  EXPECT_FALSE(log.EndsInLineBreak("log"));
  EXPECT_TRUE(log.Append("\nnext\n"));
  EXPECT_EQ(log.End().size, 13u);
  EXPECT_TRUE(log.EndsInLineBreak("log"));
  log.Close();
  EXPECT_EQ(testing::ReadBytes(dir / "log"), "earlier\nnext\n");

  std::filesystem::create_directory(dir / "folder");
  EXPECT_FALSE(log.Open("folder"));
  EXPECT_FALSE(log.IsOpen());
}

TEST(LastLogAppend, TellsHowALogEndsOnlyWhereThisThreadsLastAppendLeftIt) {
  TempDir dir;
  CurrentDirectory inDir(dir.path());
  LogFile log;
  ASSERT_TRUE(log.Open("log"));
  ASSERT_TRUE(log.Append("unfinished"));
  LastLogAppend::Remember(log.End(), false);
  log.Close();

  ASSERT_TRUE(log.Open("log"));  // the same file, opened again
  EXPECT_EQ(LastLogAppend::Recall(log.End()), false);
  std::thread([&] { EXPECT_EQ(LastLogAppend::Recall(log.End()), std::nullopt); }).join();
  LogFile other;  // another writer ends the line
  ASSERT_TRUE(other.Open("log"));
  ASSERT_TRUE(other.Append("\n"));
  ASSERT_TRUE(log.Open("log"));
  EXPECT_EQ(LastLogAppend::Recall(log.End()), std::nullopt);
  EXPECT_TRUE(log.EndsInLineBreak("log"));

  LastLogAppend::Remember(log.End(), true);
  LastLogAppend::Forget();
  EXPECT_EQ(LastLogAppend::Recall(log.End()), std::nullopt);
}

}  // namespace
}  // namespace veltrano
