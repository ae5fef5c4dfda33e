// The change-time command over the in-memory list: the buttons, the rows, the
// log's order, the stamps, and the time cells that cannot be shown.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/FileTimes.h"
#include "tests/run/RunFixture.h"

namespace {

using namespace veltrano::fixtures;
using veltrano::testing::StampsOf;

std::string Header(const std::string& path) { return "Analyze Signed File[" + path + "]\n"; }

std::uint64_t MtimeTicks(const std::string& path) {
  return veltrano::TicksOf(veltrano::FileTimeOf(StampsOf(path).modification));
}

Bytes SignedWith(void (*change)(SignatureOptions&)) {
  SignatureOptions o;
  change(o);
  return BuildSignedPe(o);
}

TEST_F(BatchRun, ButtonsAreDisabledBeforeTheListIsEmptiedAndEnabledAfterTheWalk) {
  Put("one");
  Put("two");
  dlg.m_list.InsertItem(0, L"left over from the last run");
  dlg.SelectFolder(W(data.path()));
  ASSERT_EQ(ChangeTime(), std::nullopt);
  using Event = CTestDialog::ButtonEvent;
  EXPECT_EQ(dlg.m_buttons, (std::vector<Event>{
                               {IDC_CHANGE_TIME, false, 1},
                               {IDC_SINGLE_FILE, false, 1},
                               {IDC_FOLDER, false, 1},
                               {IDC_CHANGE_TIME, true, 2},
                               {IDC_SINGLE_FILE, true, 2},
                               {IDC_FOLDER, true, 2},
                           }));
}

TEST_F(BatchRun, NothingToWalkLeavesTheListEmptyAndCreatesNoLog) {
  ASSERT_TRUE(std::filesystem::create_directory(data / "empty"));
  const std::pair<const char*, std::wstring> cases[] = {
      {"nothing chosen yet", L""},
      {"an empty folder", W(data / "empty") + kPathSeparator + L"*"},
      {"a file that has gone", W(data / "gone.exe")},
  };
  for (const auto& [what, path] : cases) {
    SCOPED_TRACE(what);
    dlg.m_buttons.clear();
    dlg.m_list.InsertItem(0, L"stale");
    dlg.m_strPath = path;
    EXPECT_EQ(ChangeTime(), std::nullopt);
    EXPECT_TRUE(dlg.m_list.Rows().empty());
    EXPECT_EQ(Log(), std::nullopt);
    ASSERT_EQ(dlg.m_buttons.size(), 6u);
    EXPECT_TRUE(dlg.m_buttons[5].enable);
  }
}

#ifndef _WIN32  // the root of a Linux file system; Windows has drive roots
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
#endif

TEST_F(BatchRun, OnlyTheStampedFileChangesAndEachEntryLeavesItsRowAndLogStretchInOrder) {
  const std::string noOpus =
      Put("no-opus.exe", SignedWith([](SignatureOptions& o) { o.opus.clear(); }));
  const std::string noStamp =
      Put("no-stamp.exe", SignedWith([](SignatureOptions& o) { o.counterSignature = false; }));
#ifdef _WIN32
  const std::string plainName = "plain.exe", logged = plainName;  // names are UTF-16 there
#else
  // A name that is not UTF-8 is logged with its odd bytes percent-escaped.
  const std::string plainName = "plain-\xE9.exe", logged = "plain-%E9.exe";
#endif
  const std::string plain = Put(plainName, BuildPe({}, std::nullopt));
  const Bytes signedImage = BuildSignedPe();
  const std::string stamped = Put("Signed.exe", signedImage);
  ASSERT_TRUE(std::filesystem::create_directory(data / "sub"));
  const std::string inner = Put("sub/inner.exe", signedImage);  // not descended into
  ASSERT_TRUE(SetModificationTime(data / "sub", UtcSeconds(2022, 6, 1)));
  dlg.SelectFolder(W(data.path()));

  ASSERT_EQ(ChangeTime(), std::nullopt);
  const std::wstring folder = W(data.path());
  const std::wstring old = L"2022/06/01 08:00:00";
  const std::wstring signingTime = L"2019/04/05 14:07:08";
  EXPECT_EQ(dlg.m_list.Rows(), (std::vector<Row>{
                                   {L"no-opus.exe", old, L"-", folder},
                                   {L"no-stamp.exe", old, L"-", folder},
                                   {W(plainName), old, L"-", folder},
                                   {L"Signed.exe", old, signingTime, folder},
                                   {L"sub", old, L"-", folder},
                               }));
  // A missing attribute and a successful stamp write no record.
  EXPECT_EQ(Log(), Header(noOpus) + Header(noStamp) +
                       QueryFailure((data / logged).string(), kNotSigned) + Header(stamped) +
                       QueryFailure((data / "sub").string(), FolderQueryCode()));

  EXPECT_EQ(MtimeTicks(stamped), kDefaultSigningTimeTicks);
  EXPECT_EQ(ReadFile(stamped), signedImage);
  for (const std::string& untouched : {noOpus, noStamp, plain, inner}) {
    EXPECT_EQ(StampsOf(untouched).modification.tv_sec, UtcSeconds(2022, 6, 1)) << untouched;
  }
  // The hook between entries sees each finished row.
  EXPECT_EQ(dlg.m_entriesDone, (std::vector<std::pair<int, BOOL>>{
                                   {1, FALSE}, {2, FALSE}, {3, FALSE}, {4, TRUE}, {5, FALSE}}));

  // The next run shows the signing time as the old time; a hook that ends the
  // walk leaves the later entries alone.
  dlg.m_stopAfter = 4;
  dlg.m_entriesDone.clear();
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_EQ(dlg.m_list.Rows().size(), 4u);
  EXPECT_EQ(dlg.m_list.Rows()[3], (Row{L"Signed.exe", signingTime, signingTime, folder}));
}

TEST_F(BatchRun, ATimeThatCannotBeShownEmptiesOnlyItsCellAndIsReportedOnceAfterTheRun) {
  ScopedTimeZone newYork("America/New_York", kNow);
  VELTRANO_SKIP_UNLESS_ZONE_HOLDS(newYork);
  // 1969 in any zone west of UTC: no old time, but still stamped.
  const std::string early = Put("a-early.exe", BuildSignedPe(), -3600);
  const std::string fine = Put("b-fine", {}, UtcSeconds(2020, 1, 1, 12));
  const std::string oldStamp = Put("c-old-stamp.exe", SignedWith([](SignatureOptions& o) {
                                     o.signingTime = UtcTime("500101000000Z");  // 1950
                                   }));
  dlg.SelectFolder(W(data.path()));

  EXPECT_EQ(ChangeTime(), E_INVALIDARG);
  // The buttons were enabled again before the error left the command.
  ASSERT_EQ(dlg.m_buttons.size(), 6u);
  EXPECT_TRUE(dlg.m_buttons[3].enable && dlg.m_buttons[4].enable && dlg.m_buttons[5].enable);

  const std::wstring folder = W(data.path());
  const std::wstring signingTime = L"2019/04/05 01:07:08";  // winter bias on an April date
  EXPECT_EQ(dlg.m_list.Rows(), (std::vector<Row>{
                                   {L"a-early.exe", L"", signingTime, folder},
                                   {L"b-fine", L"2020/01/01 07:00:00", L"-", folder},
                                   {L"c-old-stamp.exe", L"2022/05/31 19:00:00", L"", folder},
                               }));
  EXPECT_EQ(Log(), Header(early) + QueryFailure(fine, kNotSigned) + Header(oldStamp));
  EXPECT_EQ(MtimeTicks(early), kDefaultSigningTimeTicks);
  EXPECT_EQ(StampsOf(oldStamp).modification.tv_sec, UtcSeconds(1950, 1, 1));

  // The next run starts without the old error.
  std::filesystem::remove(oldStamp);
  EXPECT_EQ(ChangeTime(), std::nullopt);
}

// From the record alone (Wine's carry no tag): a link or junction in a walked folder is
// not followed, a cloud placeholder is a file, a link chosen by name is followed.
TEST_F(BatchRun, ALinkInAWalkedFolderIsNotFollowedAFileChosenByNameIs) {
  const std::string path = Put("tool.exe", BuildSignedPe());
  WIN32_FIND_DATAW entry{};
  std::wcscpy(entry.cFileName, L"tool.exe");
  entry.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
  dlg.SelectFolder(W(data.path()));
  for (const DWORD tag : {IO_REPARSE_TAG_SYMLINK, IO_REPARSE_TAG_MOUNT_POINT, 0x9000001AUL}) {
    entry.dwReserved0 = tag;
    EXPECT_EQ(dlg.ProcessFile(entry) != FALSE, tag == 0x9000001AUL);
  }
  dlg.SelectFile(W(path), L"tool.exe", W(data.path()));
  entry.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
  EXPECT_NE(dlg.ProcessFile(entry), FALSE);
  const std::string notFollowed = "Certificate[72]:\nLink not followed with ErrorCode[0x2a9]\n";
  EXPECT_EQ(Log(),
            Header(path) + notFollowed + Header(path) + notFollowed + Header(path) + Header(path));
}

TEST_F(BatchRun, AFileWithoutARowOrWithoutTheLogIsStillStamped) {
  const std::string path = Put("tool.exe", BuildSignedPe());
  dlg.SelectFile(W(path), L"tool.exe", W(data.path()));
  dlg.m_list.SetRefuseInsert(true);
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_TRUE(dlg.m_list.Rows().empty());
  EXPECT_EQ(MtimeTicks(path), kDefaultSigningTimeTicks);
  EXPECT_EQ(Log(), Header(path));

  dlg.m_list.SetRefuseInsert(false);
  ASSERT_TRUE(std::filesystem::remove(work / "CertificateLog.log"));
  ASSERT_TRUE(std::filesystem::create_directory(work / "CertificateLog.log"));
  ASSERT_TRUE(SetModificationTime(path, UtcSeconds(2022, 6, 1)));
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_EQ(dlg.m_list.Rows(), (std::vector<Row>{{L"tool.exe", L"2022/06/01 08:00:00",
                                                  L"2019/04/05 14:07:08", W(data.path())}}));
  EXPECT_EQ(MtimeTicks(path), kDefaultSigningTimeTicks);
}

}  // namespace
