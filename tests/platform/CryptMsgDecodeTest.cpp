// A signed message opened for decoding (an RFC 3161 timestamp token, a nested
// signature), the parameters the inspector reads of it, and
// CryptHashCertificate2, which hashes a signer's encrypted digest.
#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "tests/fixtures/Authenticode.h"
#include "tests/fixtures/TestEnv.h"

namespace veltrano {
namespace {

using namespace fixtures;

// The message decoded from `encoded`, in one final update (without
// streaming a part that is not final is refused); null when refused.
HCRYPTMSG Decoded(const Bytes& encoded) {
  HCRYPTMSG msg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr,
                                       nullptr);
  const auto size = static_cast<DWORD>(encoded.size());
  EXPECT_FALSE(CryptMsgUpdate(msg, encoded.data(), 8, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_MSG_ERROR));
  if (msg != nullptr && CryptMsgUpdate(msg, encoded.data(), size, TRUE)) return msg;
  CryptMsgClose(msg);
  return nullptr;
}

// A parameter by the size protocol: size, one byte short, then the value.
Bytes Param(HCRYPTMSG msg, DWORD param) {
  DWORD size = 0;
  EXPECT_TRUE(CryptMsgGetParam(msg, param, 0, nullptr, &size)) << std::hex << GetLastError();
  Bytes value(size + 1);
  DWORD offered = size - 1;
  EXPECT_FALSE(CryptMsgGetParam(msg, param, 0, value.data(), &offered));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  offered = size + 1;
  EXPECT_TRUE(CryptMsgGetParam(msg, param, 0, value.data(), &offered));
  value.resize(offered);
  return value;
}

TEST(CryptMsgDecode, ATokenGivesItsTypeItsSignersAndItsContentWithTheOctetStringHeader) {
  for (const int signers : {1, 2}) {
    SCOPED_TRACE(signers);
    if (signers == 2 && WineGap("Wine's CryptMsgUpdate refuses a signed message with two signers "
                                "with ERROR_INVALID_PARAMETER"))
      continue;
    HCRYPTMSG msg = Decoded(TimestampToken({.signers = signers}));
    ASSERT_NE(msg, nullptr) << std::hex << GetLastError();
    const Bytes type = Param(msg, CMSG_INNER_CONTENT_TYPE_PARAM);
    EXPECT_STREQ(reinterpret_cast<const char*>(type.data()), szOID_TIMESTAMP_TOKEN);
    EXPECT_EQ(type.size(), sizeof szOID_TIMESTAMP_TOKEN);
    DWORD count = 0;
    DWORD size = sizeof count;
    EXPECT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size));
    EXPECT_EQ(count, static_cast<DWORD>(signers));
    EXPECT_EQ(Param(msg, CMSG_CONTENT_PARAM), OctetString(TstInfo()));
    EXPECT_TRUE(CryptMsgClose(msg));
  }
}

TEST(CryptMsgDecode, ANestedSignatureGivesItsSignerWithTheEncryptedDigestInEncodedOrder) {
  SignerSpec signer;
  signer.encryptedDigest = {1, 2, 3, 4, 5};
  SignatureOptions options;
  options.rawSigner = EncodeSignerInfo(signer);
  HCRYPTMSG msg = Decoded(BuildSignature(options));
  ASSERT_NE(msg, nullptr) << std::hex << GetLastError();
  const Bytes block = Param(msg, CMSG_SIGNER_INFO_PARAM);
  const CRYPT_DATA_BLOB& hash = reinterpret_cast<const CMSG_SIGNER_INFO*>(block.data())->EncryptedHash;
  EXPECT_EQ(Bytes(hash.pbData, hash.pbData + hash.cbData), signer.encryptedDigest);
  // Fed whole already: one more part is refused.
  EXPECT_FALSE(CryptMsgUpdate(msg, block.data(), 1, TRUE));
  EXPECT_TRUE(CryptMsgClose(msg));
  EXPECT_EQ(Decoded(Truncate(TimestampToken(), 200)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
}

TEST(CryptHashCertificate2, HashesBySha1To512) {
  const Bytes data(256, 0x5A);  // a signer's default encrypted digest
  const std::pair<LPCWSTR, const char*> cases[] = {
      {L"SHA1", oid::kSha1}, {L"SHA256", oid::kSha256}, {L"SHA384", oid::kSha384},
      {L"SHA512", oid::kSha512}};
  for (const auto& [name, hashOid] : cases) {
    const Bytes expected = DigestOfDefaultEncryptedDigest(hashOid);
    Bytes hash(64, 0);
    DWORD size = 0;
    ASSERT_TRUE(CryptHashCertificate2(name, 0, nullptr, data.data(), 256, nullptr, &size));
    EXPECT_EQ(size, expected.size());
    size = static_cast<DWORD>(expected.size() - 1);
    EXPECT_FALSE(CryptHashCertificate2(name, 0, nullptr, data.data(), 256, hash.data(), &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    size = 64;
    ASSERT_TRUE(CryptHashCertificate2(name, 0, nullptr, data.data(), 256, hash.data(), &size));
    EXPECT_EQ(Bytes(hash.begin(), hash.begin() + size), expected);
  }
}

}  // namespace
}  // namespace veltrano
