// CryptQueryObject on files, the message and store handles it gives, and
// CryptMsgGetParam's signer information.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstring>
#include <tuple>
#include <vector>

#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/Win32.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"
#ifndef _WIN32
#include "platform/signature/DescriptorSource.h"
#include "platform/signature/ScriptSignature.h"
#endif

namespace veltrano {
namespace {

using namespace fixtures;

struct QueryResult {
  BOOL ok = FALSE;
  DWORD error = 0;
  DWORD encoding = 0xEEEE;
  DWORD contentType = 0xEEEE;
  DWORD formatType = 0xEEEE;
  HCERTSTORE store = nullptr;
  HCRYPTMSG msg = nullptr;

  QueryResult() = default;
  QueryResult(const QueryResult&) = delete;
  ~QueryResult() {
    EXPECT_TRUE(CryptMsgClose(msg));
    EXPECT_TRUE(CertCloseStore(store, 0));
  }
};

void Query(const std::wstring& path, QueryResult& r,
           DWORD content = CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
           DWORD objectType = CERT_QUERY_OBJECT_FILE) {
  SetLastError(0);
  r.ok = CryptQueryObject(objectType, path.c_str(), content, CERT_QUERY_FORMAT_FLAG_BINARY, 0,
                          &r.encoding, &r.contentType, &r.formatType, &r.store, &r.msg, nullptr);
  r.error = r.ok ? 0 : GetLastError();
}

std::wstring Wide(const std::filesystem::path& p) { return testing::WidePath(p); }

// Signer 0 fetched with the size protocol: the size query, a buffer one byte
// short (ERROR_MORE_DATA and the size again), then a roomier one (the exact
// size reported back).
std::vector<std::max_align_t> SignerBlock(HCRYPTMSG msg, DWORD* size) {
  *size = 0;
  if (!CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, size)) return {};
  std::vector<std::max_align_t> block(*size / sizeof(std::max_align_t) + 2);
  DWORD offered = *size - 1;
  EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, block.data(), &offered));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(offered, *size);
  offered = *size + 64;
  EXPECT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, block.data(), &offered));
  EXPECT_EQ(offered, *size);
  return block;
}

class CryptQueryTest : public ::testing::Test {
 protected:
  std::wstring Write(const std::string& name, const Bytes& bytes) {
    WriteFile(dir_ / name, bytes);
    return Wide(dir_ / name);
  }
  TempDir dir_;
};

TEST_F(CryptQueryTest, SignedImagesGiveMessageAndStore) {
  SignatureOptions ber;
  ber.berIndefinite = true;
  const std::pair<const char*, Bytes> files[] = {
      {"pe32.exe", BuildSignedPe()},
      {"ber.exe", BuildSignedPe(ber)},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    QueryResult r;
    Query(Write(name, bytes), r);
    ASSERT_TRUE(r.ok) << std::hex << r.error;
    EXPECT_EQ(r.encoding, 0x10001u);
    EXPECT_EQ(r.contentType, CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED);
    EXPECT_EQ(r.formatType, CERT_QUERY_FORMAT_BINARY);
    EXPECT_NE(r.store, nullptr);
    ASSERT_NE(r.msg, nullptr);

    DWORD signerSize = 0;
    const auto block = SignerBlock(r.msg, &signerSize);
    ASSERT_FALSE(block.empty());
    const auto& si = *reinterpret_cast<const CMSG_SIGNER_INFO*>(block.data());
    // The signer's information equals the SignerInfo's own decode.
    const Bytes expectedSigner = EncodeSignerInfo(BuildSignerSpec(SignatureOptions{}));
    DWORD decodedSize = 0;
    ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS7_SIGNER_INFO,
                                  expectedSigner.data(), static_cast<DWORD>(expectedSigner.size()),
                                  0, nullptr, &decodedSize));
    if (!WineGap("Wine's signer-information sizes over-report, each by its own amount")) {
      EXPECT_EQ(signerSize, decodedSize);
    }
    const auto firstValue = [](const CRYPT_ATTRIBUTE& a) {
      return Bytes(a.rgValue[0].pbData, a.rgValue[0].pbData + a.rgValue[0].cbData);
    };
    ASSERT_EQ(si.AuthAttrs.cAttr, 4u);
    EXPECT_STREQ(si.AuthAttrs.rgAttr[2].pszObjId, SPC_SP_OPUS_INFO_OBJID);
    EXPECT_EQ(firstValue(si.AuthAttrs.rgAttr[2]), EncodeOpus(DefaultOpus()));
    ASSERT_EQ(si.UnauthAttrs.cAttr, 1u);
    EXPECT_STREQ(si.UnauthAttrs.rgAttr[0].pszObjId, szOID_RSA_counterSign);
    EXPECT_EQ(firstValue(si.UnauthAttrs.rgAttr[0]), BuildCounterSigner());
  }
}

TEST_F(CryptQueryTest, FailuresLeaveTheOutputsAloneAndSetTheCode) {
  std::filesystem::create_directory(dir_ / "folder");
  const Bytes signature = BuildSignature();
  // A signer whose serial number is empty: the message is decoded when it
  // is queried, so the query itself fails.
  SignerSpec emptySerial;
  emptySerial.serial = {};
  SignatureOptions badSigner;
  badSigner.rawSigner = EncodeSignerInfo(emptySerial);
  std::vector<std::pair<std::wstring, DWORD>> cases = {
      {Wide(dir_ / "missing.exe"), ERROR_FILE_NOT_FOUND},
      {Wide(dir_ / "nofolder" / "a.exe"), ERROR_PATH_NOT_FOUND},
      {Write("plain.exe", BytesOf("x")) +
           static_cast<wchar_t>(std::filesystem::path::preferred_separator) + L"inner",
       ERROR_PATH_NOT_FOUND},
      {L"", ERROR_PATH_NOT_FOUND},
      {Wide(dir_ / "folder"), ERROR_ACCESS_DENIED},
      {Write("empty.exe", {}), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("unsigned.exe", BuildPe({}, std::nullopt)), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("text.txt", BytesOf("MZ but not really")), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("cut.exe", BuildPe({}, Truncate(signature, 200))),
       static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("notsigned.exe", BuildPe({}, Seq({Oid("1.2.840.113549.1.7.1"), Ctx(0, {Null()})}))),
       static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("badsigner.exe", BuildSignedPe(badSigner)), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
  };
#ifndef _WIN32
  // Linux only: a FIFO; a name no bytes stand for (valid on Windows); the
  // stand-in's script size limit (Windows's script subject interfaces have
  // their own, and Wine has none).
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  cases.emplace_back(Wide(dir_ / "fifo"), static_cast<DWORD>(CRYPT_E_NO_MATCH));
  cases.emplace_back(std::wstring(L"bad") + static_cast<wchar_t>(0xD800), ERROR_INVALID_NAME);
  // Scripts past the size limit are not read; other files that size are.
  cases.emplace_back(Write("huge.ps1", BytesOf("# text\n")), ERROR_FILE_TOO_LARGE);
  cases.emplace_back(Write("huge.txt", BytesOf("# text\n")), static_cast<DWORD>(CRYPT_E_NO_MATCH));
  std::filesystem::resize_file(dir_ / "huge.ps1", kMaxScriptBytes + 1);
  std::filesystem::resize_file(dir_ / "huge.txt", kMaxScriptBytes + 1);
#endif
  for (const auto& [path, code] : cases) {
    SCOPED_TRACE(BytesFromWide(path).value_or("<unencodable>"));
    QueryResult r;
    Query(path, r);
    EXPECT_FALSE(r.ok);
    if (code == static_cast<DWORD>(CRYPT_E_NO_MATCH) ||
        !WineGap("Wine's CryptQueryObject gives CRYPT_E_NO_MATCH for a file it cannot open")) {
      EXPECT_EQ(r.error, code);
    }
    EXPECT_EQ(r.store, nullptr);
    EXPECT_EQ(r.msg, nullptr);
    EXPECT_EQ(r.encoding, 0xEEEEu);
  }
}

TEST_F(CryptQueryTest, ReadingTheSignatureLeavesTheAccessTimeAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows reads through the file system, whose volume policy decides whether a "
                  "read updates the access time (and Wine's host file system updates it)";
#endif
  // An access time older than the modification time is one that a relatime
  // mount would update on the next read.
  const std::wstring path = Write("signed.exe", BuildSignedPe());
  const testing::FileStamps stamps{{1000000000, 123456700}, {1100000000, 0}};
  testing::SetStamps(dir_ / "signed.exe", stamps);
  QueryResult r;
  Query(path, r);
  ASSERT_TRUE(r.ok) << std::hex << r.error;
  EXPECT_EQ(TicksOf(FileTimeOf(testing::StampsOf(dir_ / "signed.exe").access)),
            TicksOf(FileTimeOf(stamps.access)));
}

#ifndef _WIN32  // counts the stand-in's own reads
TEST_F(CryptQueryTest, LargeSparseImageIsReadOnlyWhereItMatters) {
  // 3.75 GiB of which only the headers and the table at the end hold data.
  const std::uint64_t size = 0xF0000000ULL;
  const Bytes signature = BuildSignature();
  WriteSparseSignedPe(dir_ / "big.exe", size, signature);
  ASSERT_EQ(std::filesystem::file_size(dir_ / "big.exe"), size);
  const std::uint64_t before = BytesReadFromFiles();
  QueryResult r;
  Query(Wide(dir_ / "big.exe"), r);
  ASSERT_TRUE(r.ok) << std::hex << r.error;
  const std::uint64_t read = BytesReadFromFiles() - before;
  EXPECT_GE(read, signature.size());
  EXPECT_LT(read, signature.size() + 1024) << "headers, entry header and signature only";
  // A 100 KB image with the same table reads just as much.
  WriteSparseSignedPe(dir_ / "small.exe", 100 * 1024, signature);
  QueryResult small;
  const std::uint64_t beforeSmall = BytesReadFromFiles();
  Query(Wide(dir_ / "small.exe"), small);
  ASSERT_TRUE(small.ok) << std::hex << small.error;
  EXPECT_EQ(BytesReadFromFiles() - beforeSmall, read);
}
#endif

}  // namespace
}  // namespace veltrano
