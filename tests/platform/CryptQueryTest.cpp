// CryptQueryObject on files, the message and store handles it gives, and
// CryptMsgGetParam's signer information.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/DescriptorSource.h"
#include "platform/SignatureLocator.h"
#include "platform/WideText.h"
#include "platform/Win32.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"

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

std::wstring Wide(const std::filesystem::path& p) { return WideFromBytes(p.string()); }

// Signer `index` fetched with the size-then-fetch protocol.
std::vector<std::max_align_t> SignerBlock(HCRYPTMSG msg, DWORD index, DWORD* size) {
  *size = 0;
  if (!CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, index, nullptr, size)) return {};
  std::vector<std::max_align_t> block(*size / sizeof(std::max_align_t) + 1);
  EXPECT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, index, block.data(), size));
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
  PeOptions plus;
  plus.pe32Plus = true;
  SignatureOptions ber;
  ber.berIndefinite = true;
  const std::pair<const char*, Bytes> files[] = {
      {"pe32.exe", BuildSignedPe()},
      {"pe32plus.dll", BuildSignedPe({}, plus)},
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

    DWORD count = 0;
    DWORD size = sizeof count;
    ASSERT_TRUE(CryptMsgGetParam(r.msg, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size));
    EXPECT_EQ(count, 1u);

    DWORD signerSize = 0;
    const auto block = SignerBlock(r.msg, 0, &signerSize);
    ASSERT_FALSE(block.empty());
    const auto& si = *reinterpret_cast<const CMSG_SIGNER_INFO*>(block.data());
    // The signer's information equals the SignerInfo's own decode.
    const Bytes expectedSigner = EncodeSignerInfo(BuildSignerSpec(SignatureOptions{}));
    DWORD decodedSize = 0;
    ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS7_SIGNER_INFO,
                                  expectedSigner.data(), static_cast<DWORD>(expectedSigner.size()),
                                  0, nullptr, &decodedSize));
    EXPECT_EQ(signerSize, decodedSize);
    ASSERT_EQ(si.AuthAttrs.cAttr, 4u);
    EXPECT_STREQ(si.AuthAttrs.rgAttr[2].pszObjId, SPC_SP_OPUS_INFO_OBJID);
    EXPECT_EQ(
        Bytes(si.AuthAttrs.rgAttr[2].rgValue[0].pbData,
              si.AuthAttrs.rgAttr[2].rgValue[0].pbData + si.AuthAttrs.rgAttr[2].rgValue[0].cbData),
        EncodeOpus(DefaultOpus()));
    ASSERT_EQ(si.UnauthAttrs.cAttr, 1u);
    EXPECT_STREQ(si.UnauthAttrs.rgAttr[0].pszObjId, szOID_RSA_counterSign);
    EXPECT_EQ(Bytes(si.UnauthAttrs.rgAttr[0].rgValue[0].pbData,
                    si.UnauthAttrs.rgAttr[0].rgValue[0].pbData +
                        si.UnauthAttrs.rgAttr[0].rgValue[0].cbData),
              BuildCounterSigner());
  }
}

TEST_F(CryptQueryTest, SignerFetchProtocol) {
  QueryResult r;
  Query(Write("a.exe", BuildSignedPe()), r);
  ASSERT_TRUE(r.ok);
  DWORD size = 0;
  ASSERT_TRUE(CryptMsgGetParam(r.msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size));
  std::vector<std::max_align_t> block(size / sizeof(std::max_align_t) + 2);
  DWORD tooSmall = size - 1;
  EXPECT_FALSE(CryptMsgGetParam(r.msg, CMSG_SIGNER_INFO_PARAM, 0, block.data(), &tooSmall));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(tooSmall, size);
  DWORD roomy = size + 64;
  EXPECT_TRUE(CryptMsgGetParam(r.msg, CMSG_SIGNER_INFO_PARAM, 0, block.data(), &roomy));
  EXPECT_EQ(roomy, size);

  EXPECT_FALSE(CryptMsgGetParam(r.msg, CMSG_SIGNER_INFO_PARAM, 1, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
  EXPECT_FALSE(CryptMsgGetParam(r.msg, 29, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
  EXPECT_FALSE(CryptMsgGetParam(nullptr, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  // A store handle is no message handle.
  EXPECT_FALSE(CryptMsgGetParam(r.store, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

TEST_F(CryptQueryTest, MessageWithoutSignersHasNoSignerZero) {
  SignatureOptions none;
  none.signers = 0;
  QueryResult r;
  Query(Write("nosigner.exe", BuildSignedPe(none)), r);
  ASSERT_TRUE(r.ok);
  DWORD size = 0;
  EXPECT_FALSE(CryptMsgGetParam(r.msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
}

TEST_F(CryptQueryTest, FailuresLeaveTheOutputsAloneAndSetTheCode) {
  std::filesystem::create_directory(dir_ / "folder");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const Bytes signature = BuildSignature();
  // A signer whose serial number is empty: the message is decoded when it
  // is queried, so the query itself fails.
  SignerSpec emptySerial;
  emptySerial.serial = {};
  SignatureOptions badSigner;
  badSigner.rawSigner = EncodeSignerInfo(emptySerial);
  // Scripts past the size limit are not read; other files that size are.
  const std::wstring hugeScript = Write("huge.ps1", BytesOf("# text\n"));
  const std::wstring hugeText = Write("huge.txt", BytesOf("# text\n"));
  std::filesystem::resize_file(dir_ / "huge.ps1", kMaxScriptBytes + 1);
  std::filesystem::resize_file(dir_ / "huge.txt", kMaxScriptBytes + 1);
  const std::pair<std::wstring, DWORD> cases[] = {
      {Wide(dir_ / "missing.exe"), ERROR_FILE_NOT_FOUND},
      {Wide(dir_ / "nofolder" / "a.exe"), ERROR_PATH_NOT_FOUND},
      {Write("plain.exe", BytesOf("x")) + L"/inner", ERROR_PATH_NOT_FOUND},
      {L"", ERROR_PATH_NOT_FOUND},
      {Wide(dir_ / "folder"), ERROR_ACCESS_DENIED},
      {Wide(dir_ / "fifo"), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("empty.exe", {}), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("unsigned.exe", BuildPe({}, std::nullopt)), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("text.txt", BytesOf("MZ but not really")), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("cut.exe", BuildPe({}, Truncate(signature, 200))),
       static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("notsigned.exe", BuildPe({}, Seq({Oid("1.2.840.113549.1.7.1"), Ctx(0, {Null()})}))),
       static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {Write("badsigner.exe", BuildSignedPe(badSigner)), static_cast<DWORD>(CRYPT_E_NO_MATCH)},
      {std::wstring(L"bad") + static_cast<wchar_t>(0xD800), ERROR_INVALID_NAME},
      {hugeScript, ERROR_FILE_TOO_LARGE},
      {hugeText, static_cast<DWORD>(CRYPT_E_NO_MATCH)},
  };
  for (const auto& [path, code] : cases) {
    SCOPED_TRACE(BytesFromWide(path).value_or("<unencodable>"));
    QueryResult r;
    Query(path, r);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, code);
    EXPECT_EQ(r.store, nullptr);
    EXPECT_EQ(r.msg, nullptr);
    EXPECT_EQ(r.encoding, 0xEEEEu);
  }
}

TEST_F(CryptQueryTest, ArgumentsOtherThanAnEmbeddedFileSignature) {
  const std::wstring path = Write("a.exe", BuildSignedPe());
  {
    QueryResult r;
    Query(path, r, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED | (1u << 8));
    EXPECT_TRUE(r.ok) << "other content flags beside the embedded one are fine";
  }
  {
    QueryResult r;
    Query(path, r, 1u << 8);
    EXPECT_EQ(r.error, static_cast<DWORD>(CRYPT_E_NO_MATCH));
  }
  {
    QueryResult r;
    Query(path, r, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_OBJECT_BLOB);
    EXPECT_EQ(r.error, static_cast<DWORD>(CRYPT_E_NO_MATCH));
  }
  {
    QueryResult r;
    Query(path, r, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, 7);
    EXPECT_EQ(r.error, static_cast<DWORD>(E_INVALIDARG));
  }
  // Only the outputs asked for are filled.
  HCRYPTMSG msg = nullptr;
  ASSERT_TRUE(CryptQueryObject(
      CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
      CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, nullptr, &msg, nullptr));
  EXPECT_TRUE(CryptMsgClose(msg));
}

TEST_F(CryptQueryTest, ClosingHandles) {
  EXPECT_TRUE(CryptMsgClose(nullptr));
  EXPECT_TRUE(CertCloseStore(nullptr, 0));
  HCERTSTORE store = nullptr;
  HCRYPTMSG msg = nullptr;
  const std::wstring path = Write("a.exe", BuildSignedPe());
  ASSERT_TRUE(CryptQueryObject(
      CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
      CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &msg, nullptr));
  EXPECT_FALSE(CryptMsgClose(store)) << "wrong kind of handle";
  EXPECT_FALSE(CertCloseStore(msg, 0)) << "wrong kind of handle";
  EXPECT_TRUE(CryptMsgClose(msg));
  EXPECT_TRUE(CertCloseStore(store, 0));
  EXPECT_FALSE(CryptMsgClose(msg)) << "already closed";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

TEST_F(CryptQueryTest, NonUtf8FileNameIsFound) {
  const std::filesystem::path name = dir_ / std::string("sig\xFF\xFE.exe");
  WriteFile(name, BuildSignedPe());
  QueryResult r;
  Query(WideFromBytes(name.string()), r);
  EXPECT_TRUE(r.ok) << std::hex << r.error;
}

TEST_F(CryptQueryTest, ReadingTheSignatureLeavesTheAccessTimeAlone) {
  // An access time older than the modification time is one that a relatime
  // mount would update on the next read.
  const std::wstring path = Write("signed.exe", BuildSignedPe());
  const std::string bytes = *BytesFromWide(path);
  const timespec times[2] = {{1000000000, 123456700}, {1100000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, bytes.c_str(), times, 0), 0);
  QueryResult r;
  Query(path, r);
  ASSERT_TRUE(r.ok) << std::hex << r.error;
  struct stat st {};
  ASSERT_EQ(::stat(bytes.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_EQ(st.st_atim.tv_nsec, times[0].tv_nsec);
}

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
}

}  // namespace
}  // namespace veltrano
