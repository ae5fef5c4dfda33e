// The calls between which the stand-in hands state on (EntryContext.h), made
// out of the program's order and with another path in between: each gives
// what it gives on its own. Win32 calls only, so the real API is held to the
// same.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileTimes.h"
#include "platform/Win32.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"

namespace veltrano {
namespace {

using namespace fixtures;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
using Block = std::vector<std::max_align_t>;

struct Signed {
  HCRYPTMSG msg = nullptr;
  HCERTSTORE store = nullptr;
  DWORD signerSize = 0;
  Block signer;
};

void Query(const std::filesystem::path& file, Signed& s) {
  const std::wstring path = testing::WidePath(file);
  DWORD encoding = 0, content = 0, format = 0;
  ASSERT_TRUE(CryptQueryObject(
      CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
      CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, &s.store, &s.msg, nullptr))
      << std::hex << GetLastError();
}

// The first value of `oid` among `attrs`.
CRYPT_ATTR_BLOB Value(const CRYPT_ATTRIBUTES& attrs, const char* oid) {
  for (DWORD i = 0; i < attrs.cAttr; ++i) {
    if (std::string(attrs.rgAttr[i].pszObjId) == oid) return attrs.rgAttr[i].rgValue[0];
  }
  ADD_FAILURE() << "no " << oid;
  return {};
}

BOOL Decode(LPCSTR type, const CRYPT_ATTR_BLOB& in, void* out, DWORD* size) {
  return CryptDecodeObject(kEncoding, type, in.pbData, in.cbData, 0, out, size);
}

HANDLE OpenForStamping(const std::filesystem::path& file) {
  return CreateFileW(testing::WidePath(file).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(CallOrder, CallsOutOfOrderWithAnotherPathBetweenGiveWhatEachGivesAlone) {
  TempDir root;
  const std::filesystem::path a = root / "A" / "a.exe", b = root / "B" / "b.exe";
  std::filesystem::create_directories(a.parent_path());
  std::filesystem::create_directories(b.parent_path());
  WriteFile(a, BuildSignedPe());
  SignatureOptions other;
  other.signingTime = UtcTime("200102030405Z");
  WriteFile(b, BuildSignedPe(other));

  // Folder A's search stops at a.exe; B's file is queried, A's entry opened
  // for stamping, then queried, after its search was closed.
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(testing::WidePath(root / "A" / "*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  while (std::wstring(found.cFileName) != L"a.exe") ASSERT_TRUE(FindNextFileW(search, &found));
  Signed sa, sb;
  Query(b, sb);
  HANDLE stampA = OpenForStamping(a);
  ASSERT_NE(stampA, INVALID_HANDLE_VALUE);
  Query(a, sa);
  EXPECT_TRUE(FindClose(search));

  // Both signers' sizes, then both fetches in the other order.
  for (Signed* s : {&sa, &sb}) {
    ASSERT_TRUE(CryptMsgGetParam(s->msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &s->signerSize));
  }
  for (Signed* s : {&sb, &sa}) {
    s->signer.resize(s->signerSize / sizeof(std::max_align_t) + 1);
    ASSERT_TRUE(
        CryptMsgGetParam(s->msg, CMSG_SIGNER_INFO_PARAM, 0, s->signer.data(), &s->signerSize));
  }
  // The counter-signers decoded with their size queries and fetches crossed.
  CRYPT_ATTR_BLOB counter[2];
  DWORD size[2];
  Block block[2];
  for (int i = 0; i < 2; ++i) {
    const auto& si = *reinterpret_cast<const CMSG_SIGNER_INFO*>((i == 0 ? sa : sb).signer.data());
    counter[i] = Value(si.UnauthAttrs, szOID_RSA_counterSign);
    ASSERT_TRUE(Decode(PKCS7_SIGNER_INFO, counter[i], nullptr, &size[i]));
  }
  FILETIME signed_[2];
  for (int i : {1, 0}) {
    block[i].resize(size[i] / sizeof(std::max_align_t) + 1);
    ASSERT_TRUE(Decode(PKCS7_SIGNER_INFO, counter[i], block[i].data(), &size[i]));
    const auto& cs = *reinterpret_cast<const CMSG_SIGNER_INFO*>(block[i].data());
    DWORD timeSize = sizeof(FILETIME);
    ASSERT_TRUE(Decode(szOID_RSA_signingTime, Value(cs.AuthAttrs, szOID_RSA_signingTime),
                       &signed_[i], &timeSize));
  }
  EXPECT_EQ(TicksOf(signed_[0]), kDefaultSigningTimeTicks);
  EXPECT_EQ(TicksOf(signed_[1]), TicksOf(testing::FileTimeOfUnix(UtcSeconds(2020, 1, 2, 3, 4, 5))));

  // B is opened for stamping after A was queried; everything closes in
  // another order than it opened.
  HANDLE stampB = OpenForStamping(b);
  ASSERT_NE(stampB, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(stampB, nullptr, nullptr, &signed_[1]));
  EXPECT_TRUE(CryptMsgClose(sa.msg));
  EXPECT_TRUE(SetFileTime(stampA, nullptr, nullptr, &signed_[0]));
  EXPECT_TRUE(CloseHandle(stampB));
  EXPECT_TRUE(CertCloseStore(sa.store, 0));
  EXPECT_TRUE(CryptMsgClose(sb.msg));
  EXPECT_TRUE(CloseHandle(stampA));
  EXPECT_TRUE(CertCloseStore(sb.store, 0));
  EXPECT_EQ(TicksOf(FileTimeOf(testing::StampsOf(a).modification)), TicksOf(signed_[0]));
  EXPECT_EQ(TicksOf(FileTimeOf(testing::StampsOf(b).modification)), TicksOf(signed_[1]));
}

}  // namespace
}  // namespace veltrano
