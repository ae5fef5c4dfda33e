// CryptDecodeObject for the three structure types the inspector decodes:
// results, flat-block layout, the size protocol and the error codes.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/Win32.h"
#include "tests/fixtures/Authenticode.h"
#include "tests/fixtures/TestEnv.h"

namespace veltrano {
namespace {

using namespace fixtures;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

BOOL DecodeInto(LPCSTR type, const Bytes& encoded, void* out, DWORD* size) {
  return CryptDecodeObject(kEncoding, type, encoded.data(), static_cast<DWORD>(encoded.size()), 0,
                           out, size);
}

// A decoded structure, fetched with the size protocol: the size query, a
// buffer one byte short (ERROR_MORE_DATA and the size again), then a roomier
// one (the exact size reported back).
struct Decoded {
  DWORD error = 0;
  std::vector<std::max_align_t> storage;
  DWORD size = 0;

  bool ok() const { return error == 0; }
  template <typename T>
  const T* As() const {
    return reinterpret_cast<const T*>(storage.data());
  }
  // True when [p, p + bytes) lies inside the block.
  bool Holds(const void* p, std::size_t bytes) const {
    const auto* begin = reinterpret_cast<const std::uint8_t*>(storage.data());
    const auto* q = static_cast<const std::uint8_t*>(p);
    return q >= begin && q + bytes <= begin + size;
  }
};

Decoded Decode(LPCSTR type, const Bytes& encoded) {
  Decoded d;
  if (!DecodeInto(type, encoded, nullptr, &d.size)) {
    d.error = GetLastError();
    return d;
  }
  d.storage.resize(d.size / sizeof(std::max_align_t) + 2);
  DWORD size = d.size - 1;
  if (!WineGap("Wine's size query over-reports a signer's block, so one byte short still fits")) {
    EXPECT_FALSE(DecodeInto(type, encoded, d.storage.data(), &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, d.size) << "a short buffer is told the size";
  }
  size = d.size + 8;
  if (!DecodeInto(type, encoded, d.storage.data(), &size)) d.error = GetLastError();
  EXPECT_EQ(size, d.size) << "the fetch reports the size of the size query";
  return d;
}

std::uint64_t Ticks(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint64_t>(fixtures::UtcSeconds(y, mo, d, h, mi, s)) * kTicksPerSecond +
         kEpochDifferenceTicks;
}

// ---------------------------------------------------------------------------
// Signing time, decoded straight into the caller's FILETIME as the inspector
// does: the instant, or the platform's code with the FILETIME untouched.

TEST(SigningTimeDecode, UtcTimeTextsGiveTheirInstantOrThePlatformsCode) {
  struct Case {
    Bytes encoded;
    std::uint64_t ticks;  // 0 when refused with `error`
    HRESULT error = 0;
  };
  const Case cases[] = {
      {UtcTime("190405060708Z"), Ticks(2019, 4, 5, 6, 7, 8)},
      {UtcTime("1904050607Z"), Ticks(2019, 4, 5, 6, 7, 0)},
      {UtcTime("190405080708+0200"), Ticks(2019, 4, 5, 6, 7, 8)},
      {UtcTime("190405010708-0500"), Ticks(2019, 4, 5, 6, 7, 8)},
      {UtcTime("191231230000-0130"), Ticks(2020, 1, 1, 0, 30, 0)},
      {UtcTime("491231235959Z"), Ticks(2049, 12, 31, 23, 59, 59)},
      {UtcTime("500101000000Z"), Ticks(1950, 1, 1, 0, 0, 0)},
      {UtcTime("500101000000+0100"), Ticks(1949, 12, 31, 23, 0, 0)},
      {UtcTime("000229120000Z"), Ticks(2000, 2, 29, 12, 0, 0)},
      {UtcTime("991231235959+2359"), Ticks(1999, 12, 31, 0, 0, 59)},
      {UtcTime("190229120000Z"), 0, CRYPT_E_ASN1_CORRUPT},      // 2019 is no leap year
      {UtcTime("191305060708Z"), 0, CRYPT_E_ASN1_CORRUPT},      // month 13
      {UtcTime("190005060708Z"), 0, CRYPT_E_ASN1_CORRUPT},      // month 0
      {UtcTime("190431060708Z"), 0, CRYPT_E_ASN1_CORRUPT},      // April 31
      {UtcTime("190400060708Z"), 0, CRYPT_E_ASN1_CORRUPT},      // day 0
      {UtcTime("190405240000Z"), 0, CRYPT_E_ASN1_CORRUPT},      // hour 24
      {UtcTime("190405066000Z"), 0, CRYPT_E_ASN1_CORRUPT},      // minute 60
      {UtcTime("190405060760Z"), 0, CRYPT_E_ASN1_CORRUPT},      // second 60
      {UtcTime("190405060708"), 0, CRYPT_E_ASN1_CORRUPT},       // no zone
      {UtcTime("190405060708+2400"), 0, CRYPT_E_ASN1_CORRUPT},  // offset hour 24
      {UtcTime("190405060708+0060"), 0, CRYPT_E_ASN1_CORRUPT},  // offset minute 60
      {UtcTime("190405060708+02"), 0, CRYPT_E_ASN1_CORRUPT},    // short offset
      {UtcTime("190405060708Zjunk"), 0, CRYPT_E_ASN1_CORRUPT},
      {UtcTime("190405060708.5Z"), 0, CRYPT_E_ASN1_CORRUPT},
      {UtcTime("1904O5060708Z"), 0, CRYPT_E_ASN1_CORRUPT},
      {UtcTime("19040506070Z"), 0, CRYPT_E_ASN1_CORRUPT},  // one second digit
      {UtcTime(""), 0, CRYPT_E_ASN1_CORRUPT},
      {GeneralizedTime("20190405060708Z"), 0, CRYPT_E_ASN1_BADTAG},
      {OctetString(BytesOf("190405060708Z")), 0, CRYPT_E_ASN1_BADTAG},
      {Truncate(UtcTime("190405060708Z"), 6), 0, CRYPT_E_ASN1_EOD},
      {{}, 0, CRYPT_E_ASN1_EOD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.encoded.begin(), c.encoded.end()));
    const std::string text(c.encoded.begin(), c.encoded.end());
    if (c.error == 0 && text.find_first_of("+-") != std::string::npos &&
        WineGap("Wine shifts a UTCTime with an explicit offset the wrong way"))
      continue;
    if (c.error == CRYPT_E_ASN1_CORRUPT &&
        WineGap("Wine's UTCTime decoder accepts some impossible texts and refuses the others "
                "with ERROR_INVALID_PARAMETER"))
      continue;
    if (c.error == CRYPT_E_ASN1_EOD &&
        WineGap("Wine reports a time cut short as CRYPT_E_ASN1_CORRUPT, and an empty one as an "
                "access violation (0xC0000005)"))
      continue;
    FILETIME ft{0x1234, 0x5678};
    DWORD size = sizeof ft;
    const BOOL ok = DecodeInto(szOID_RSA_signingTime, c.encoded, &ft, &size);
    if (c.error != 0) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error));
      EXPECT_EQ(TicksOf(ft), 0x567800001234u) << "the FILETIME was written";
      continue;
    }
    ASSERT_TRUE(ok) << std::hex << GetLastError();
    EXPECT_EQ(TicksOf(ft), c.ticks);
    EXPECT_EQ(size, 8u);
    // The size query gives 8; under 8 bytes: ERROR_MORE_DATA and nothing written.
    size = 0;
    EXPECT_TRUE(DecodeInto(szOID_RSA_signingTime, c.encoded, nullptr, &size));
    EXPECT_EQ(size, 8u);
    std::uint8_t small[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    size = 7;
    EXPECT_FALSE(DecodeInto(szOID_RSA_signingTime, c.encoded, small, &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], 1);
  }
}

// ---------------------------------------------------------------------------
// Publisher (opus) information

// A link as "choice:text" ("-" when absent), checking that what it points to
// lies inside the block; a moniker's text is its class id in hex, "/", data.
std::wstring Describe(const Decoded& d, const SPC_LINK* link) {
  if (link == nullptr) return L"-";
  EXPECT_TRUE(d.Holds(link, sizeof(SPC_LINK)));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(link) % alignof(SPC_LINK), 0u);
  std::wstring text = std::to_wstring(link->dwLinkChoice) + L":";
  if (link->dwLinkChoice != SPC_MONIKER_LINK_CHOICE) {
    if (link->pwszUrl == nullptr) return text + L"<null>";
    EXPECT_TRUE(d.Holds(link->pwszUrl, (std::wcslen(link->pwszUrl) + 1) * sizeof(wchar_t)));
    return text + link->pwszUrl;
  }
  for (const BYTE b : link->Moniker.ClassId) {
    text += {L"0123456789abcdef"[b >> 4], L"0123456789abcdef"[b & 15]};
  }
  const CRYPT_DATA_BLOB& data = link->Moniker.SerializedData;
  EXPECT_TRUE(d.Holds(data.pbData, data.cbData));
  return text + L"/" + std::wstring(data.pbData, data.pbData + data.cbData);
}

TEST(OpusDecode, ProgramNameAndLinksInOneBlock) {
  OpusSpec unicode;
  // Surrogate pairs from the middle and both ends of their ranges.
  unicode.programName = SpcString::Unicode(u"\u6587\u4EF6 \xD83D\xDE00\xD800\xDC00\xDBFF\xDFFF!");
  unicode.publisherInfo = SpcLink::File(SpcString::Unicode(u"C:\\\u8BF4\u660E.txt"));
  OpusSpec ascii;
  ascii.programName = SpcString::Ascii("Tool caf\xE9");
  ascii.moreInfo = SpcLink::Url("https://example.com/");
  ascii.publisherInfo = SpcLink::File(SpcString::Ascii("readme.txt"));
  OpusSpec linksOnly;
  linksOnly.moreInfo = SpcLink::Moniker(Bytes(16, 0x1F), BytesOf("data"));
  linksOnly.publisherInfo = SpcLink::Url("http://pub/");

  std::wstring emoji = L"\u6587\u4EF6 ";
  for (const char32_t cp : {0x1F600, 0x10000, 0x10FFFF}) AppendWideCodePoint(cp, emoji);
  emoji += L"!";
  struct Case {
    const char* what;
    Bytes encoded;
    std::wstring programName;  // "-" when absent
    std::wstring moreInfo;     // as Describe gives it
    std::wstring publisher;
    const char* wineGap = nullptr;
  };
  const Case cases[] = {
      {"empty sequence", EncodeOpus({}), L"-", L"-", L"-"},
      {"unicode name with a surrogate pair, unicode file link", EncodeOpus(unicode), emoji, L"-",
       L"3:C:\\\u8BF4\u660E.txt"},
      {"ascii name, url and ascii file", EncodeOpus(ascii), L"Tool caf\u00E9",
       L"1:https://example.com/", L"3:readme.txt",
       "Wine decodes an ASCII program name as UTF-16 and leaves an ASCII file link's choice "
       "unset"},
      {"no name, moniker and url", EncodeOpus(linksOnly), L"-",
       L"2:1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f/data", L"1:http://pub/"},
      {"BER indefinite sequence", TlvIndefinite(0x30, Ctx(0, {CtxPrim(1, BytesOf("x"))})), L"x",
       L"-", L"-", "Wine's decoder refuses indefinite lengths here"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.wineGap != nullptr && WineGap(c.wineGap)) continue;
    const Decoded d = Decode(SPC_SP_OPUS_INFO_OBJID, c.encoded);
    ASSERT_TRUE(d.ok()) << std::hex << d.error;
    const auto* opus = d.As<SPC_SP_OPUS_INFO>();
    if (opus->pwszProgramName != nullptr) {
      EXPECT_EQ(opus->pwszProgramName, c.programName);
      EXPECT_TRUE(d.Holds(opus->pwszProgramName, (c.programName.size() + 1) * sizeof(wchar_t)));
    } else {
      EXPECT_EQ(L"-", c.programName);
    }
    EXPECT_EQ(Describe(d, opus->pMoreInfo), c.moreInfo);
    EXPECT_EQ(Describe(d, opus->pPublisherInfo), c.publisher);
  }
}

TEST(OpusDecode, MalformedEncodingsGiveThePlatformsCodes) {
  const Bytes good = EncodeOpus(DefaultOpus());
  const std::pair<Bytes, HRESULT> cases[] = {
      {Truncate(good, good.size() - 3), CRYPT_E_ASN1_EOD},
      {Set({}), CRYPT_E_ASN1_BADTAG},
      {Seq({Ctx(0, {Tlv(0x80, {0x00, 0x41, 0x00})})}), CRYPT_E_ASN1_CORRUPT},  // odd BMP length
      {Seq({Ctx(0, {CtxPrim(2, BytesOf("x"))})}), CRYPT_E_ASN1_BADTAG},        // no such SpcString
      {Seq({Ctx(1, {CtxPrim(3, BytesOf("x"))})}), CRYPT_E_ASN1_BADTAG},        // no such SpcLink
      {Seq({Ctx(1, {Ctx(1, {OctetString(Bytes(15, 0)), OctetString({})})})}),
       CRYPT_E_ASN1_CORRUPT},  // class id not 16 bytes
      {Seq({Ctx(1, {CtxPrim(0, BytesOf("u"))}), Ctx(0, {CtxPrim(1, BytesOf("n"))})}),
       CRYPT_E_ASN1_CORRUPT},  // out of order
      {Seq({Ctx(0, {CtxPrim(1, BytesOf("a")), CtxPrim(1, BytesOf("b"))})}),
       CRYPT_E_ASN1_CORRUPT},  // two strings in one field
  };
  if (WineGap("Wine's decoder accepts much malformed publisher information, and reports other "
              "codes for the rest"))
    GTEST_SKIP();
  for (const auto& [encoded, code] : cases) {
    EXPECT_EQ(Decode(SPC_SP_OPUS_INFO_OBJID, encoded).error, static_cast<DWORD>(code));
  }
}

// ---------------------------------------------------------------------------
// SignerInfo (PKCS7_SIGNER_INFO and CMSG_SIGNER_INFO_PARAM share the layout)

// Checks every pointer of a CMSG_SIGNER_INFO against the block it came in.
void ExpectInsideBlock(const Decoded& d, const CMSG_SIGNER_INFO& si) {
  const CRYPT_DATA_BLOB* blobs[] = {&si.Issuer, &si.SerialNumber, &si.HashAlgorithm.Parameters,
                                    &si.HashEncryptionAlgorithm.Parameters, &si.EncryptedHash};
  for (const CRYPT_DATA_BLOB* b : blobs) {
    if (b->cbData != 0) {
      EXPECT_TRUE(d.Holds(b->pbData, b->cbData));
    }
  }
  for (LPSTR oid : {si.HashAlgorithm.pszObjId, si.HashEncryptionAlgorithm.pszObjId}) {
    ASSERT_NE(oid, nullptr);
    EXPECT_TRUE(d.Holds(oid, std::strlen(oid) + 1));
  }
  for (const CRYPT_ATTRIBUTES* attrs : {&si.AuthAttrs, &si.UnauthAttrs}) {
    if (attrs->cAttr == 0) {
      EXPECT_EQ(attrs->rgAttr, nullptr);
      continue;
    }
    ASSERT_TRUE(d.Holds(attrs->rgAttr, attrs->cAttr * sizeof(CRYPT_ATTRIBUTE)));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(attrs->rgAttr) % alignof(CRYPT_ATTRIBUTE), 0u);
    for (DWORD i = 0; i < attrs->cAttr; ++i) {
      const CRYPT_ATTRIBUTE& a = attrs->rgAttr[i];
      EXPECT_TRUE(d.Holds(a.pszObjId, std::strlen(a.pszObjId) + 1));
      if (a.cValue == 0) continue;
      ASSERT_TRUE(d.Holds(a.rgValue, a.cValue * sizeof(CRYPT_ATTR_BLOB)));
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.rgValue) % alignof(CRYPT_ATTR_BLOB), 0u);
      for (DWORD v = 0; v < a.cValue; ++v) {
        EXPECT_TRUE(d.Holds(a.rgValue[v].pbData, a.rgValue[v].cbData));
      }
    }
  }
}

Bytes BlobBytes(const CRYPT_DATA_BLOB& b) { return Bytes(b.pbData, b.pbData + b.cbData); }

TEST(SignerInfoDecode, FieldsAttributesAndSerialInPlatformOrder) {
  SignerSpec signerSpec;
  signerSpec.version = 1;
  signerSpec.serial = {0x00, 0x8A, 0x3C, 0x11, 0x5E};
  signerSpec.encryptedDigest = {1, 2, 3, 4, 5};
  const Bytes time = UtcTime("190405060708Z");
  const Bytes emptyValues = Attribute("1.2.3.4", {});
  signerSpec.authenticatedAttributes = {
      Attribute(oid::kContentType, {Oid(oid::kData)}),
      Attribute(oid::kSigningTime, {time, UtcTime("200101000000Z")}), emptyValues};
  // A value of 40 KiB, far larger than real signer information holds.
  const Bytes large = OctetString(Bytes(40 << 10, 0xA5));
  signerSpec.unauthenticatedAttributes = {Attribute("1.2.3.5", {large})};
  const Decoded d = Decode(PKCS7_SIGNER_INFO, EncodeSignerInfo(signerSpec));
  ASSERT_TRUE(d.ok()) << std::hex << d.error;
  const auto& si = *d.As<CMSG_SIGNER_INFO>();
  ExpectInsideBlock(d, si);

  EXPECT_EQ(si.dwVersion, 1u);
  EXPECT_EQ(BlobBytes(si.Issuer), signerSpec.issuer) << "the issuer Name's complete encoding";
  EXPECT_EQ(BlobBytes(si.SerialNumber), (Bytes{0x5E, 0x11, 0x3C, 0x8A, 0x00}))
      << "little-endian, sign byte kept";
  EXPECT_STREQ(si.HashAlgorithm.pszObjId, oid::kSha256);
  EXPECT_EQ(BlobBytes(si.HashAlgorithm.Parameters), Null());
  EXPECT_STREQ(si.HashEncryptionAlgorithm.pszObjId, oid::kRsaEncryption);
  EXPECT_EQ(BlobBytes(si.EncryptedHash), signerSpec.encryptedDigest);

  ASSERT_EQ(si.AuthAttrs.cAttr, 3u);
  EXPECT_STREQ(si.AuthAttrs.rgAttr[0].pszObjId, oid::kContentType);
  EXPECT_STREQ(si.AuthAttrs.rgAttr[1].pszObjId, oid::kSigningTime);
  ASSERT_EQ(si.AuthAttrs.rgAttr[1].cValue, 2u);
  EXPECT_EQ(BlobBytes(si.AuthAttrs.rgAttr[1].rgValue[0]), time) << "each value's complete DER";
  EXPECT_EQ(BlobBytes(si.AuthAttrs.rgAttr[1].rgValue[1]), UtcTime("200101000000Z"));
  EXPECT_EQ(si.AuthAttrs.rgAttr[2].cValue, 0u);
  ASSERT_EQ(si.UnauthAttrs.cAttr, 1u);
  EXPECT_EQ(BlobBytes(si.UnauthAttrs.rgAttr[0].rgValue[0]), large);
}

TEST(SignerInfoDecode, AlgorithmWithoutParametersAndIndefiniteLengths) {
  SignerSpec signerSpec;
  // No NULL parameters in the algorithms; indefinite SEQUENCE and [1].
  const Bytes content =
      Concat({Int(1), Seq({signerSpec.issuer, IntBytes(signerSpec.serial)}), Seq({Oid(oid::kSha1)}),
              Seq({Oid(oid::kRsaEncryption)}), OctetString({9}),
              TlvIndefinite(0xA1, Attribute("1.2.3", {Int(7)}))});
  const Decoded d = Decode(PKCS7_SIGNER_INFO, TlvIndefinite(0x30, content));
  ASSERT_TRUE(d.ok()) << std::hex << d.error;
  const auto& si = *d.As<CMSG_SIGNER_INFO>();
  ExpectInsideBlock(d, si);
  EXPECT_EQ(si.HashAlgorithm.Parameters.cbData, 0u);
  EXPECT_EQ(si.HashAlgorithm.Parameters.pbData, nullptr);
  EXPECT_EQ(si.AuthAttrs.cAttr, 0u);
  ASSERT_EQ(si.UnauthAttrs.cAttr, 1u);
  EXPECT_EQ(BlobBytes(si.UnauthAttrs.rgAttr[0].rgValue[0]), Int(7));
}

TEST(SignerInfoDecode, MalformedInputGivesThePlatformsCodes) {
  const Bytes encoded = BuildCounterSigner();
  SignerSpec emptySerial;
  emptySerial.serial = {};
  SignerSpec negativeVersion;
  negativeVersion.version = -1;
  const std::pair<Bytes, HRESULT> cases[] = {
      {Truncate(encoded, encoded.size() - 1), CRYPT_E_ASN1_EOD},
      {Truncate(encoded, 40), CRYPT_E_ASN1_EOD},
      {Set({}), CRYPT_E_ASN1_BADTAG},
      {Seq({Int(1), Null()}), CRYPT_E_ASN1_BADTAG},
      {EncodeSignerInfo(emptySerial), CRYPT_E_ASN1_CORRUPT},
      {EncodeSignerInfo(negativeVersion), CRYPT_E_ASN1_CORRUPT},
      {Seq({Int(1)}), CRYPT_E_ASN1_EOD},
  };
  if (WineGap("Wine's decoder gives CRYPT_E_ASN1_CORRUPT for a signer cut short and accepts an "
              "empty serial number"))
    GTEST_SKIP();
  for (const auto& [bytes, code] : cases) {
    EXPECT_EQ(Decode(PKCS7_SIGNER_INFO, bytes).error, static_cast<DWORD>(code));
  }
}

}  // namespace
}  // namespace veltrano
