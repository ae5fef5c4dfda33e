#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/run/RunFixture.h"

namespace {

using veltrano::fixtures::ScopedTimeZone;
using veltrano::fixtures::SetModificationTime;
using veltrano::fixtures::UtcSeconds;
using veltrano::testing::StampsOf;
using veltrano::testing::WriteBytes;

TEST_F(BatchRun, ButtonsAreDisabledBeforeTheListIsEmptiedAndEnabledAfterTheWalk) {
  WriteBytes(data / "one", "");
  WriteBytes(data / "two", "");
  dlg.m_list.InsertItem(0, L"left over from the last run");
  dlg.SelectFolder(W(data.path()));
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_EQ(dlg.m_buttons, (std::vector<Event>{
                               {IDC_CHANGE_TIME, false, 1},
                               {IDC_SINGLE_FILE, false, 1},
                               {IDC_FOLDER, false, 1},
                               {IDC_CHANGE_TIME, true, 2},
                               {IDC_SINGLE_FILE, true, 2},
                               {IDC_FOLDER, true, 2},
                           }));
  EXPECT_EQ(dlg.m_list.Rows().size(), 2u);
}

TEST_F(BatchRun, NothingToWalkLeavesTheListEmptyAndCreatesNoLog) {
  ASSERT_EQ(mkdir((data / "empty").c_str(), 0755), 0);
  struct Case {
    const char* what;
    std::wstring path;
  } cases[] = {
      {"nothing chosen yet", L""},
      {"an empty folder", W(data / "empty") + L"/*"},
      {"a folder that has gone", W(data / "gone") + L"/*"},
      {"a file that has gone", W(data / "gone.exe")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dlg.m_buttons.clear();
    dlg.m_list.InsertItem(0, L"stale");
    dlg.m_strPath = c.path;
    EXPECT_EQ(ChangeTime(), std::nullopt);
    EXPECT_TRUE(dlg.m_list.Rows().empty());
    EXPECT_FALSE(LogExists());
    ASSERT_EQ(dlg.m_buttons.size(), 6u);
    EXPECT_TRUE(dlg.m_buttons[5].enable);
  }
}

TEST_F(BatchRun, ASingleFileGivesOneRowWithItsFolder) {
  WriteBytes(data / "tool.exe", "x");
  WriteBytes(data / "other.exe", "x");
  ASSERT_TRUE(SetModificationTime(data / "tool.exe", UtcSeconds(2022, 6, 1)));
  const std::wstring full = W(data / "tool.exe");
  EXPECT_EQ(dlg.SelectFile(full, L"tool.exe", W(data.path())), full);
  EXPECT_EQ(dlg.m_strFileName, L"tool.exe");

  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_EQ(dlg.m_list.Rows(),
            (std::vector<Row>{{L"tool.exe", L"2022/06/01 08:00:00", L"-", W(data.path())}}));
  EXPECT_EQ(Log(), QueryFailure(data / "tool.exe", kNotSigned));
}

TEST_F(BatchRun, FolderChoiceAppendsThePatternWithoutLookingAtTheSeparator) {
  dlg.SelectFile(L"/a/b.exe", L"b.exe", L"/a");
  EXPECT_EQ(dlg.SelectFolder(L"/srv/dist"), L"/srv/dist");
  EXPECT_EQ(dlg.m_strPath, L"/srv/dist/*");
  EXPECT_EQ(dlg.m_strFolder, L"/srv/dist");
  EXPECT_EQ(dlg.m_strFileName, L"");

  EXPECT_EQ(dlg.SelectFolder(L"/"), L"/");
  EXPECT_EQ(dlg.m_strPath, L"//*");
  EXPECT_EQ(dlg.m_strFolder, L"/");
}

TEST_F(BatchRun, AtTheRootTheFullPathHoldsTwoSeparators) {
  dlg.SelectFolder(L"/");
  WIN32_FIND_DATAW entry{};
  const std::wstring name = L"veltrano-no-such-entry";
  std::copy(name.begin(), name.end(), entry.cFileName);
  entry.ftLastWriteTime = FILETIME{0, 0};  // before 1900: shows the epoch

  EXPECT_FALSE(dlg.ProcessFile(entry));
  EXPECT_EQ(dlg.m_list.Rows(), (std::vector<Row>{{name, L"1970/01/01 08:00:00", L"-", L"/"}}));
  EXPECT_EQ(Log(), QueryFailure("//veltrano-no-such-entry", kMissing));
}

TEST_F(BatchRun, ATimeThatCannotBeShownEmptiesOnlyItsCellAndIsReportedOnceAfterTheRun) {
  ScopedTimeZone newYork("America/New_York", kNow);
  WriteBytes(data / "a-early", "");
  WriteBytes(data / "b-fine", "");
  WriteBytes(data / "c-early", "");
  ASSERT_TRUE(SetModificationTime(data / "a-early", -3600));  // 1969 in any zone west of UTC
  ASSERT_TRUE(SetModificationTime(data / "b-fine", UtcSeconds(2020, 1, 1, 12)));
  ASSERT_TRUE(SetModificationTime(data / "c-early", UtcSeconds(1950, 1, 1)));
  dlg.SelectFolder(W(data.path()));

  EXPECT_EQ(ChangeTime(), E_INVALIDARG);
  // The buttons were enabled again before the error left the command.
  ASSERT_EQ(dlg.m_buttons.size(), 6u);
  EXPECT_TRUE(dlg.m_buttons[3].enable && dlg.m_buttons[4].enable && dlg.m_buttons[5].enable);

  const std::wstring folder = W(data.path());
  EXPECT_EQ(dlg.m_list.Rows(), (std::vector<Row>{
                                   {L"a-early", L"", L"-", folder},
                                   {L"b-fine", L"2020/01/01 07:00:00", L"-", folder},
                                   {L"c-early", L"", L"-", folder},
                               }));
  EXPECT_EQ(Log(), QueryFailure(data / "a-early", kNotSigned) +
                       QueryFailure(data / "b-fine", kNotSigned) +
                       QueryFailure(data / "c-early", kNotSigned));

  // The next run starts without the old error.
  ASSERT_TRUE(SetModificationTime(data / "a-early", UtcSeconds(2020, 1, 1)));
  ASSERT_TRUE(SetModificationTime(data / "c-early", UtcSeconds(2020, 1, 1)));
  EXPECT_EQ(ChangeTime(), std::nullopt);
}

TEST_F(BatchRun, AnEntryWithoutARowIsStillInspectedAndLogged) {
  WriteBytes(data / "x.exe", "");
  dlg.m_list.SetRefuseInsert(true);
  dlg.SelectFolder(W(data.path()));
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_TRUE(dlg.m_list.Rows().empty());
  EXPECT_EQ(Log(), QueryFailure(data / "x.exe", kNotSigned));
}

TEST_F(BatchRun, NamesThatAreNotUtf8KeepTheirBytesInTheLog) {
  WriteBytes(data / "caf\xE9.exe", "");
  WriteBytes(data / "\xE6\x96\x87\xE4\xBB\xB6.exe", "");
  dlg.SelectFolder(W(data.path()));
  ASSERT_EQ(ChangeTime(), std::nullopt);
  ASSERT_EQ(dlg.m_list.Rows().size(), 2u);
  EXPECT_EQ(dlg.m_list.Rows()[0][0], W("caf\xE9.exe"));
  EXPECT_EQ(dlg.m_list.Rows()[1][0], L"文件.exe");
  EXPECT_EQ(Log(), QueryFailure(data / "caf\xE9.exe", kNotSigned) +
                       QueryFailure(data / "\xE6\x96\x87\xE4\xBB\xB6.exe", kNotSigned));
}

TEST_F(BatchRun, ALogThatCannotBeOpenedChangesNothingElse) {
  ASSERT_EQ(mkdir((work / "CertificateLog.log").c_str(), 0755), 0);
  WriteBytes(data / "x.exe", "");
  ASSERT_TRUE(SetModificationTime(data / "x.exe", UtcSeconds(2022, 6, 1)));
  dlg.SelectFolder(W(data.path()));
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_EQ(dlg.m_list.Rows(),
            (std::vector<Row>{{L"x.exe", L"2022/06/01 08:00:00", L"-", W(data.path())}}));
}

}  // namespace
