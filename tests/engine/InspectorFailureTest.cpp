// Failures the file alone cannot cause: heap requests refused through the
// allocation seam, a decode input spoiled between the size query and the
// decode, the file removed or replaced after the query, and a message handle
// that no query filled.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "engine/Certificate.h"
#include "engine/Heap.h"
#include "platform/FileTimes.h"
#include "tests/engine/LogRecords.h"
#include "tests/fixtures/Authenticode.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/support/Inspection.h"

namespace veltrano::testing {
namespace {
namespace fs = std::filesystem;
using namespace fixtures;

constexpr std::int64_t k2019Seconds = 1554444428;  // 2019-04-05 06:07:08 UTC
const DWORD kBadTag = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);

// The composer's default signature: opus with a program name and a
// more-info link, timestamped 2019-04-05 06:07:08Z. The inspector's heap
// requests for it, in order: 1 signer info, 2 opus block, 3 program-name copy,
// 4 more-info copy, 5 counter-signer block.
Bytes Timestamped(std::optional<Bytes> signingTime = UtcTime(kDefaultSigningTimeText)) {
  SignatureOptions options;
  options.signingTime = std::move(signingTime);
  return BuildSignedPe(options);
}

// --- the allocation seam --------------------------------------------------------

struct Gate {
  int requests = 0;
  int failAt = 0;                  // the request refused
  int spoilAt = 0;                 // the request at which a value is spoiled
  const char* spoilOid = nullptr;  // whose first value loses its tag
  CCertificate* cert = nullptr;
};
Gate g_gate;

// Replaces the tag of the attribute's first value by INTEGER's, so the
// decode that follows the heap request meets a wrong tag.
void Spoil(CRYPT_ATTRIBUTES& attributes, const char* oid) {
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    if (std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
      attributes.rgAttr[i].rgValue[0].pbData[0] = 0x02;
  }
}

bool CountingGate(std::size_t) {
  ++g_gate.requests;
  if (g_gate.requests == g_gate.spoilAt && g_gate.cert && g_gate.cert->m_pSignerInfo) {
    Spoil(g_gate.cert->m_pSignerInfo->AuthAttrs, g_gate.spoilOid);
    Spoil(g_gate.cert->m_pSignerInfo->UnauthAttrs, g_gate.spoilOid);
  }
  return g_gate.requests != g_gate.failAt;
}

struct HeapCase {
  const char* name = "";
  int failAt = 0;
  int spoilAt = 0;
  const char* spoilOid = nullptr;
  Step stopsAt = Step::Done;
  std::string records{};
  std::optional<std::wstring> programName = L"Veltrano Sample";
};

void PrintTo(const HeapCase& c, std::ostream* os) { *os << c.name; }

class InspectorHeap : public ::testing::TestWithParam<HeapCase> {
 protected:
  void TearDown() override {
    SetAllocationGate(nullptr);
    g_gate = {};
  }
};

TEST_P(InspectorHeap, FailsAtTheRefusedRequestWithItsRecord) {
  const HeapCase& c = GetParam();
  TempDir dir;
  const fs::path target = dir / "input.exe";
  WriteFile(target, Timestamped());
  SetStamps(target, DistinctStamps());
  const FileStamps before = StampsOf(target);

  g_gate = {.failAt = c.failAt, .spoilAt = c.spoilAt, .spoilOid = c.spoilOid};
  SetAllocationGate(CountingGate);
  Inspection result;
  {
    CurrentDirectory inDir(dir.path());
    result = InspectFile(target, [](CCertificate& cert) { g_gate.cert = &cert; });
  }
  SetAllocationGate(nullptr);

  EXPECT_EQ(result.stoppedAt, c.stopsAt);
  EXPECT_EQ(ReadBytes(dir / "CertificateLog.log"), HeaderLine(target) + c.records);
  const FileStamps after = StampsOf(target);
  EXPECT_TRUE(after.access == before.access);
  if (c.stopsAt == Step::Done) {
    EXPECT_EQ(after.modification.tv_sec, k2019Seconds);
    EXPECT_EQ(result.programName, c.programName);
    EXPECT_EQ(result.moreInfoLink, L"https://example.com/veltrano");
  } else {
    EXPECT_TRUE(after.modification == before.modification);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Seam, InspectorHeap,
    ::testing::Values(
        HeapCase{.name = "SignerInfoBlock",
                 .failAt = 1,
                 .stopsAt = Step::SignerInfo,
                 .records = AllocationRecord(105, "Unable to allocate memory for Signer Info.")},
        HeapCase{.name = "PublisherInfoBlock",
                 .failAt = 2,
                 .stopsAt = Step::OpusInfo,
                 .records = AllocationRecord(159, "Unable to allocate memory for Publisher Info.")},
        // A text copy that cannot be made leaves its member null and is no failure.
        HeapCase{.name = "ProgramNameCopy", .failAt = 3, .programName = std::nullopt},
        HeapCase{.name = "TimestampInfoBlock",
                 .failAt = 5,
                 .stopsAt = Step::CounterSigner,
                 .records = AllocationRecord(322, "Unable to allocate memory for timestamp Info.")},
        HeapCase{.name = "OpusSpoiledBeforeItsDecode",
                 .spoilAt = 2,
                 .spoilOid = oid::kOpusInfo,
                 .stopsAt = Step::OpusInfo,
                 .records = Record(174, "CryptDecodeObject", kBadTag)},
        HeapCase{.name = "CounterSignatureSpoiledBeforeItsDecode",
                 .spoilAt = 5,
                 .spoilOid = oid::kCounterSignature,
                 .stopsAt = Step::CounterSigner,
                 .records = Record(337, "CryptDecodeObject", kBadTag)}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the file changes after the query ---------------------------------------------

TEST(InspectorStamp, FileThatCannotBeOpenedAfterTheQueryIsLeftWithoutARecord) {
  struct Row {
    const char* name;
    Bytes signingTime;
    bool replaceByFolder;
    DWORD lastError;
  };
  const Row rows[] = {
      {"removed", UtcTime(kDefaultSigningTimeText), false, ERROR_FILE_NOT_FOUND},
      {"replaced by a folder", UtcTime(kDefaultSigningTimeText), true, ERROR_ACCESS_DENIED},
      // The file is opened before the time is read: no site-383 record.
      {"removed, signing time unusable", GeneralizedTime("20190405060708Z"), false,
       ERROR_FILE_NOT_FOUND},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const fs::path target = dir / "input.exe";
    WriteFile(target, Timestamped(row.signingTime));

    std::optional<FileStamps> folderBefore;
    Inspection result;
    {
      CurrentDirectory inDir(dir.path());
      result = InspectFile(target, [&](CCertificate&) {
        fs::remove(target);
        if (row.replaceByFolder) {
          fs::create_directory(target);
          SetStamps(target, DistinctStamps());
          folderBefore = StampsOf(target);
        }
      });
    }
    EXPECT_EQ(result.stoppedAt, Step::Stamp);
    EXPECT_EQ(result.stamped, FALSE);
    EXPECT_EQ(Hex(result.lastError), Hex(row.lastError));
    EXPECT_EQ(ReadBytes(dir / "CertificateLog.log"), HeaderLine(target));
    if (folderBefore) {
      const FileStamps after = StampsOf(target);
      EXPECT_TRUE(after.modification == folderBefore->modification);
      EXPECT_TRUE(after.access == folderBefore->access);
    }
  }
}

// --- no query -------------------------------------------------------------------------

TEST(InspectorWithoutQuery, SignerInfoOfANullMessageIsRecordedAtSite95) {
  TempDir dir;
  DWORD code = 0;
  {
    CurrentDirectory inDir(dir.path());
    CCertificate cert;
    EXPECT_EQ(cert.ReadSignerInfo(), FALSE);
    code = GetLastError();
    EXPECT_EQ(cert.m_pSignerInfo, nullptr);
    // Nothing below runs on an inspector whose signer was not read.
    EXPECT_EQ(cert.ReadOpusInfo(), FALSE);
    EXPECT_EQ(cert.ReadCounterSignerInfo(), FALSE);
    FILETIME untouched{1, 2};
    EXPECT_EQ(cert.ReadSigningTime(&untouched), FALSE);
    EXPECT_EQ(TicksOf(untouched), (2ull << 32) | 1);
  }
  EXPECT_EQ(Hex(code), Hex(static_cast<DWORD>(E_INVALIDARG)));
  EXPECT_EQ(ReadBytes(dir / "CertificateLog.log"), Record(95, "CryptMsgGetParam", code));
}

}  // namespace
}  // namespace veltrano::testing
