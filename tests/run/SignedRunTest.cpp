// Runs over signed images: stamped, signed without a timestamp or without the
// publisher attribute, next to unsigned files and folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/FileTimes.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/run/RunFixture.h"

namespace {

using namespace veltrano::fixtures;
using veltrano::testing::StampsOf;

constexpr wchar_t kSigningTimeShanghai[] = L"2019/04/05 14:07:08";

std::string Header(const std::string& path) { return "Analyze Signed File[" + path + "]\n"; }

std::uint64_t MtimeTicks(const std::string& path) {
  return veltrano::TicksOf(veltrano::FileTimeOf(StampsOf(path).modification));
}

Bytes WithoutTimestamp() {
  SignatureOptions o;
  o.counterSignature = false;
  return BuildSignedPe(o);
}

Bytes WithoutOpus() {
  SignatureOptions o;
  o.opus.clear();
  return BuildSignedPe(o);
}

class SignedRun : public BatchRun {
 protected:
  // Writes `bytes` as `name` with the given old time; returns its path.
  std::string Put(const std::string& name, const Bytes& bytes,
                  std::int64_t mtime = UtcSeconds(2022, 6, 1)) {
    const std::string path = (data / name).string();
    WriteFile(path, bytes);
    EXPECT_TRUE(SetModificationTime(path, mtime));
    return path;
  }
};

TEST_F(SignedRun, OnlyTheStampedFileChangesAndEachEntryLeavesItsLogStretch) {
  const std::string noOpus = Put("no-opus.exe", WithoutOpus());
  const std::string noStamp = Put("no-stamp.exe", WithoutTimestamp());
  const std::string plain = Put("plain.exe", BuildPe({}, std::nullopt));
  const Bytes signedImage = BuildSignedPe();
  const std::string stamped = Put("Signed.exe", signedImage);
  ASSERT_EQ(mkdir((data / "sub").c_str(), 0755), 0);
  const std::string inner = Put("sub/inner.exe", signedImage);  // not descended into
  ASSERT_TRUE(SetModificationTime((data / "sub").string(), UtcSeconds(2022, 6, 1)));
  dlg.SelectFolder(W(data.path().string()));

  ASSERT_EQ(ChangeTime(), std::nullopt);
  const std::wstring folder = W(data.path().string());
  const std::wstring old = L"2022/06/01 08:00:00";
  EXPECT_EQ(dlg.m_list.Rows(), (std::vector<Row>{
                                   {L"no-opus.exe", old, L"-", folder},
                                   {L"no-stamp.exe", old, L"-", folder},
                                   {L"plain.exe", old, L"-", folder},
                                   {L"Signed.exe", old, kSigningTimeShanghai, folder},
                                   {L"sub", old, L"-", folder},
                               }));
  // A missing attribute and a successful stamp write no record.
  EXPECT_EQ(Log(), Header(noOpus) + Header(noStamp) + QueryFailure(plain, kNotSigned) +
                       Header(stamped) + QueryFailure((data / "sub").string(), kDirectory));

  EXPECT_EQ(MtimeTicks(stamped), kDefaultSigningTimeTicks);
  EXPECT_EQ(ReadFile(stamped), signedImage);
  for (const std::string& untouched : {noOpus, noStamp, plain, inner}) {
    EXPECT_EQ(StampsOf(untouched).modification.tv_sec, UtcSeconds(2022, 6, 1)) << untouched;
  }

  // The next run shows the signing time as the old time.
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_EQ(dlg.m_list.Rows()[3],
            (Row{L"Signed.exe", kSigningTimeShanghai, kSigningTimeShanghai, folder}));
}

TEST_F(SignedRun, AnOldTimeThatCannotBeShownStillLetsTheFileBeStampedAndTheRunGoOn) {
  ScopedTimeZone newYork("America/New_York", kNow);
  const std::string early = Put("a-early.exe", BuildSignedPe(), -3600);
  const std::string later = Put("b-later.exe", BuildSignedPe());
  dlg.SelectFolder(W(data.path().string()));

  EXPECT_EQ(ChangeTime(), E_INVALIDARG);
  const std::wstring folder = W(data.path().string());
  // Winter bias on an April date, as the platform shows it.
  const std::wstring signingTime = L"2019/04/05 01:07:08";
  EXPECT_EQ(dlg.m_list.Rows(), (std::vector<Row>{
                                   {L"a-early.exe", L"", signingTime, folder},
                                   {L"b-later.exe", L"2022/05/31 19:00:00", signingTime, folder},
                               }));
  EXPECT_EQ(MtimeTicks(early), kDefaultSigningTimeTicks);
  EXPECT_EQ(MtimeTicks(later), kDefaultSigningTimeTicks);
  EXPECT_EQ(Log(), Header(early) + Header(later));
}

TEST_F(SignedRun, ANewTimeThatCannotBeShownLeavesCellTwoEmptyAfterTheStamp) {
  SignatureOptions o;
  o.signingTime = UtcTime("500101000000Z");  // 1950: stamped, but not shown
  const std::string path = Put("old-stamp.exe", BuildSignedPe(o));
  dlg.SelectFolder(W(data.path().string()));

  EXPECT_EQ(ChangeTime(), E_INVALIDARG);
  EXPECT_EQ(
      dlg.m_list.Rows(),
      (std::vector<Row>{{L"old-stamp.exe", L"2022/06/01 08:00:00", L"", W(data.path().string())}}));
  EXPECT_EQ(StampsOf(path).modification.tv_sec, UtcSeconds(1950, 1, 1));
}

TEST_F(SignedRun, AFileWithoutARowIsStillStamped) {
  const std::string path = Put("tool.exe", BuildSignedPe());
  dlg.m_list.SetRefuseInsert(true);
  dlg.SelectFile(W(path), L"tool.exe", W(data.path().string()));
  ASSERT_EQ(ChangeTime(), std::nullopt);
  EXPECT_TRUE(dlg.m_list.Rows().empty());
  EXPECT_EQ(MtimeTicks(path), kDefaultSigningTimeTicks);
  EXPECT_EQ(Log(), Header(path));
}

}  // namespace
