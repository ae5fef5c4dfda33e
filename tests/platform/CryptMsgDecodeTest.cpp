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

// Each message in one final update (without streaming, a part that is not
// final is refused, and so is any after the final one): a token gives its
// type, its signers and its content with the OCTET STRING header; a nested
// signature gives its signer with the encrypted digest in encoded order.
TEST(CryptMsgDecode, TokensAndNestedSignaturesGiveWhatTheInspectorReads) {
  SignerSpec signer;
  signer.encryptedDigest = {1, 2, 3, 4, 5};
  SignatureOptions nested;
  nested.rawSigner = EncodeSignerInfo(signer);
  for (const int signers : {0, 1, 2}) {
    SCOPED_TRACE(signers);
    if (signers == 2 && WineGap("Wine's CryptMsgUpdate refuses a signed message with two signers "
                                "with ERROR_INVALID_PARAMETER"))
      continue;
    const Bytes message =
        signers == 0 ? BuildSignature(nested) : TimestampToken({.signers = signers});
    HCRYPTMSG msg =
        CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    EXPECT_FALSE(CryptMsgUpdate(msg, message.data(), 8, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_MSG_ERROR));
    ASSERT_TRUE(CryptMsgUpdate(msg, message.data(), static_cast<DWORD>(message.size()), TRUE))
        << std::hex << GetLastError();
    EXPECT_FALSE(CryptMsgUpdate(msg, message.data(), 1, TRUE));
    if (signers == 0) {
      const Bytes block = Param(msg, CMSG_SIGNER_INFO_PARAM);
      const auto& hash = reinterpret_cast<const CMSG_SIGNER_INFO*>(block.data())->EncryptedHash;
      EXPECT_EQ(Bytes(hash.pbData, hash.pbData + hash.cbData), signer.encryptedDigest);
    } else {
      EXPECT_EQ(Param(msg, CMSG_INNER_CONTENT_TYPE_PARAM),
                Bytes(std::begin(szOID_TIMESTAMP_TOKEN), std::end(szOID_TIMESTAMP_TOKEN)));
      DWORD count = 0;
      DWORD size = sizeof count;
      EXPECT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size));
      EXPECT_EQ(count, static_cast<DWORD>(signers));
      EXPECT_EQ(Param(msg, CMSG_CONTENT_PARAM), OctetString(TstInfo()));
    }
    EXPECT_TRUE(CryptMsgClose(msg));
  }
  const Bytes cut = Truncate(TimestampToken(), 200);
  HCRYPTMSG msg =
      CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
  EXPECT_FALSE(CryptMsgUpdate(msg, cut.data(), static_cast<DWORD>(cut.size()), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
  EXPECT_TRUE(CryptMsgClose(msg));
}

TEST(CryptHashCertificate2, HashesBySha1To512WithTheSizeProtocol) {
  const Bytes data(256, 0x5A);  // a signer's default encrypted digest
  for (const auto& [name, hashOid] :
       {std::pair(L"SHA1", oid::kSha1), std::pair(L"SHA256", oid::kSha256),
        std::pair(L"SHA384", oid::kSha384), std::pair(L"SHA512", oid::kSha512)}) {
    const Bytes expected = DigestOfDefaultEncryptedDigest(hashOid);
    Bytes hash(64, 0);
    DWORD size = 0;
    ASSERT_TRUE(CryptHashCertificate2(name, 0, nullptr, data.data(), 256, nullptr, &size));
    EXPECT_EQ(size, expected.size());
    --size;
    EXPECT_FALSE(CryptHashCertificate2(name, 0, nullptr, data.data(), 256, hash.data(), &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    size = 64;
    ASSERT_TRUE(CryptHashCertificate2(name, 0, nullptr, data.data(), 256, hash.data(), &size));
    EXPECT_EQ(Bytes(hash.begin(), hash.begin() + size), expected);
  }
}

}  // namespace
}  // namespace veltrano
