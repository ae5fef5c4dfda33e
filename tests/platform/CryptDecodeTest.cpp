// CryptDecodeObject for the three structure types the inspector decodes:
// results, flat-block layout, the size protocol and the error codes.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "platform/FileTimes.h"
#include "platform/Win32.h"
#include "tests/fixtures/Authenticode.h"

namespace veltrano {
namespace {

using namespace fixtures;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A decoded structure in a block of exactly the reported size.
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
  DWORD size = 0;
  if (!CryptDecodeObject(kEncoding, type, encoded.data(), static_cast<DWORD>(encoded.size()), 0,
                         nullptr, &size)) {
    d.error = GetLastError();
    return d;
  }
  d.storage.resize(size / sizeof(std::max_align_t) + 1);
  d.size = size;
  if (!CryptDecodeObject(kEncoding, type, encoded.data(), static_cast<DWORD>(encoded.size()), 0,
                         d.storage.data(), &size)) {
    d.error = GetLastError();
  }
  EXPECT_EQ(size, d.size) << "the fetch reports the size of the size query";
  return d;
}

std::wstring WideOf(LPCWSTR p) { return p == nullptr ? L"<null>" : std::wstring(p); }

std::uint64_t Ticks(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<std::uint64_t>(timegm(&tm)) * kTicksPerSecond + kEpochDifferenceTicks;
}

// ---------------------------------------------------------------------------
// Signing time

struct TimeCase {
  const char* text;
  std::uint64_t ticks;  // 0 when the text is refused
};

TEST(SigningTimeDecode, UtcTimeTextsGiveTheirInstant) {
  const TimeCase cases[] = {
      {"190405060708Z", Ticks(2019, 4, 5, 6, 7, 8)},
      {"1904050607Z", Ticks(2019, 4, 5, 6, 7, 0)},
      {"190405080708+0200", Ticks(2019, 4, 5, 6, 7, 8)},
      {"190405010708-0500", Ticks(2019, 4, 5, 6, 7, 8)},
      {"1904050107-0500", Ticks(2019, 4, 5, 6, 7, 0)},
      {"191231230000-0130", Ticks(2020, 1, 1, 0, 30, 0)},
      {"491231235959Z", Ticks(2049, 12, 31, 23, 59, 59)},
      {"500101000000Z", Ticks(1950, 1, 1, 0, 0, 0)},
      {"500101000000+0100", Ticks(1949, 12, 31, 23, 0, 0)},
      {"000229120000Z", Ticks(2000, 2, 29, 12, 0, 0)},
      {"960229000000Z", Ticks(1996, 2, 29, 0, 0, 0)},
      {"991231235959+2359", Ticks(1999, 12, 31, 0, 0, 59)},
  };
  for (const TimeCase& c : cases) {
    SCOPED_TRACE(c.text);
    const Bytes encoded = UtcTime(c.text);
    FILETIME ft{0xDEAD, 0xBEEF};
    DWORD size = sizeof ft;
    ASSERT_TRUE(CryptDecodeObject(kEncoding, szOID_RSA_signingTime, encoded.data(),
                                  static_cast<DWORD>(encoded.size()), 0, &ft, &size))
        << std::hex << GetLastError();
    EXPECT_EQ(TicksOf(ft), c.ticks);
    EXPECT_EQ(size, 8u);
  }
}

TEST(SigningTimeDecode, InvalidTimesAreRefusedWithThePlatformsCodes) {
  const std::pair<Bytes, HRESULT> cases[] = {
      {UtcTime("190229120000Z"), CRYPT_E_ASN1_CORRUPT},      // 2019 is no leap year
      {UtcTime("190230120000Z"), CRYPT_E_ASN1_CORRUPT},      // Feb 30
      {UtcTime("191305060708Z"), CRYPT_E_ASN1_CORRUPT},      // month 13
      {UtcTime("190005060708Z"), CRYPT_E_ASN1_CORRUPT},      // month 0
      {UtcTime("190431060708Z"), CRYPT_E_ASN1_CORRUPT},      // April 31
      {UtcTime("190400060708Z"), CRYPT_E_ASN1_CORRUPT},      // day 0
      {UtcTime("190405240000Z"), CRYPT_E_ASN1_CORRUPT},      // hour 24
      {UtcTime("190405066000Z"), CRYPT_E_ASN1_CORRUPT},      // minute 60
      {UtcTime("190405060760Z"), CRYPT_E_ASN1_CORRUPT},      // second 60
      {UtcTime("190405060708"), CRYPT_E_ASN1_CORRUPT},       // no zone
      {UtcTime("190405060708+2400"), CRYPT_E_ASN1_CORRUPT},  // offset hour 24
      {UtcTime("190405060708+0060"), CRYPT_E_ASN1_CORRUPT},  // offset minute 60
      {UtcTime("190405060708+02"), CRYPT_E_ASN1_CORRUPT},    // short offset
      {UtcTime("190405060708Zjunk"), CRYPT_E_ASN1_CORRUPT},
      {UtcTime("190405060708.5Z"), CRYPT_E_ASN1_CORRUPT},
      {UtcTime("1904O5060708Z"), CRYPT_E_ASN1_CORRUPT},
      {UtcTime("19040506070Z"), CRYPT_E_ASN1_CORRUPT},  // one second digit
      {UtcTime(""), CRYPT_E_ASN1_CORRUPT},
      {GeneralizedTime("20190405060708Z"), CRYPT_E_ASN1_BADTAG},
      {OctetString(BytesOf("190405060708Z")), CRYPT_E_ASN1_BADTAG},
      {Truncate(UtcTime("190405060708Z"), 6), CRYPT_E_ASN1_EOD},
  };
  for (const auto& [encoded, code] : cases) {
    SCOPED_TRACE(std::string(encoded.begin(), encoded.end()));
    FILETIME ft{0x1234, 0x5678};
    DWORD size = sizeof ft;
    EXPECT_FALSE(CryptDecodeObject(kEncoding, szOID_RSA_signingTime, encoded.data(),
                                   static_cast<DWORD>(encoded.size()), 0, &ft, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(code));
    EXPECT_EQ(ft.dwLowDateTime, 0x1234u);
    EXPECT_EQ(ft.dwHighDateTime, 0x5678u);
  }
}

TEST(SigningTimeDecode, SizeProtocol) {
  const Bytes encoded = UtcTime("190405060708Z");
  DWORD size = 0;
  ASSERT_TRUE(CryptDecodeObject(kEncoding, szOID_RSA_signingTime, encoded.data(),
                                static_cast<DWORD>(encoded.size()), 0, nullptr, &size));
  EXPECT_EQ(size, 8u);
  std::uint8_t small[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  size = 7;
  EXPECT_FALSE(CryptDecodeObject(kEncoding, szOID_RSA_signingTime, encoded.data(),
                                 static_cast<DWORD>(encoded.size()), 0, small, &size));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(small[0], 1) << "nothing written into a buffer that is too small";
}

// ---------------------------------------------------------------------------
// Structure types and arguments

TEST(CryptDecodeObjectArguments, UnknownTypesAndEncodingsFindNoDecoder) {
  const Bytes encoded = UtcTime("190405060708Z");
  DWORD size = 0;
  const auto failsWith = [&](DWORD encoding, LPCSTR type) {
    size = 0;
    const BOOL ok = CryptDecodeObject(encoding, type, encoded.data(),
                                      static_cast<DWORD>(encoded.size()), 0, nullptr, &size);
    return ok ? 0 : GetLastError();
  };
  // Small integers must be compared, never read as text.
  EXPECT_EQ(failsWith(kEncoding, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(499))),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(failsWith(kEncoding, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(failsWith(kEncoding, "1.2.840.113549.1.9.4"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(failsWith(PKCS_7_ASN_ENCODING, szOID_RSA_signingTime), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(failsWith(X509_ASN_ENCODING, szOID_RSA_signingTime), 0u);
  // No bytes at all.
  size = 0;
  EXPECT_FALSE(
      CryptDecodeObject(kEncoding, szOID_RSA_signingTime, encoded.data(), 0, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
}

// ---------------------------------------------------------------------------
// Publisher (opus) information

struct OpusCase {
  const char* what;
  Bytes encoded;
  std::wstring programName;  // L"<null>" when absent
  std::optional<DWORD> moreInfoChoice;
  std::wstring moreInfoText;
  std::optional<DWORD> publisherChoice;
  std::wstring publisherText;
};

TEST(OpusDecode, ProgramNameAndLinksInOneBlock) {
  OpusSpec unicode;
  unicode.programName = SpcString::Unicode(u"\u6587\u4EF6 \xD83D\xDE00!");
  unicode.publisherInfo = SpcLink::File(SpcString::Unicode(u"C:\\\u8BF4\u660E.txt"));
  OpusSpec ascii;
  ascii.programName = SpcString::Ascii("Tool caf\xE9");
  ascii.moreInfo = SpcLink::Url("https://example.com/");
  ascii.publisherInfo = SpcLink::File(SpcString::Ascii("readme.txt"));
  OpusSpec linksOnly;
  linksOnly.moreInfo = SpcLink::Moniker(Bytes(16, 0x11), BytesOf("data"));
  linksOnly.publisherInfo = SpcLink::Url("http://pub/");

  std::wstring emoji = L"\u6587\u4EF6 ";
  emoji.push_back(static_cast<wchar_t>(0x1F600));
  emoji += L"!";
  const OpusCase cases[] = {
      {"empty sequence", EncodeOpus({}), L"<null>", {}, L"", {}, L""},
      {"unicode name with a surrogate pair, unicode file link",
       EncodeOpus(unicode),
       emoji,
       {},
       L"",
       SPC_FILE_LINK_CHOICE,
       L"C:\\\u8BF4\u660E.txt"},
      {"ascii name, url and ascii file", EncodeOpus(ascii), L"Tool caf\u00E9", SPC_URL_LINK_CHOICE,
       L"https://example.com/", SPC_FILE_LINK_CHOICE, L"readme.txt"},
      {"no name, moniker and url", EncodeOpus(linksOnly), L"<null>", SPC_MONIKER_LINK_CHOICE, L"",
       SPC_URL_LINK_CHOICE, L"http://pub/"},
      {"BER indefinite sequence",
       TlvIndefinite(0x30, Ctx(0, {CtxPrim(1, BytesOf("x"))})),
       L"x",
       {},
       L"",
       {},
       L""},
  };
  for (const OpusCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Decoded d = Decode(SPC_SP_OPUS_INFO_OBJID, c.encoded);
    ASSERT_TRUE(d.ok()) << std::hex << d.error;
    const auto* opus = d.As<SPC_SP_OPUS_INFO>();
    EXPECT_EQ(WideOf(opus->pwszProgramName), c.programName);
    if (opus->pwszProgramName != nullptr) {
      EXPECT_TRUE(d.Holds(opus->pwszProgramName, (c.programName.size() + 1) * sizeof(wchar_t)));
    }
    const std::pair<const SPC_LINK*, std::pair<std::optional<DWORD>, std::wstring>> links[] = {
        {opus->pMoreInfo, {c.moreInfoChoice, c.moreInfoText}},
        {opus->pPublisherInfo, {c.publisherChoice, c.publisherText}},
    };
    for (const auto& [link, expected] : links) {
      if (!expected.first) {
        EXPECT_EQ(link, nullptr);
        continue;
      }
      ASSERT_NE(link, nullptr);
      EXPECT_TRUE(d.Holds(link, sizeof(SPC_LINK)));
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(link) % alignof(SPC_LINK), 0u);
      EXPECT_EQ(link->dwLinkChoice, *expected.first);
      if (link->dwLinkChoice == SPC_MONIKER_LINK_CHOICE) {
        EXPECT_EQ(std::vector<BYTE>(link->Moniker.ClassId, link->Moniker.ClassId + 16),
                  Bytes(16, 0x11));
        ASSERT_EQ(link->Moniker.SerializedData.cbData, 4u);
        EXPECT_TRUE(d.Holds(link->Moniker.SerializedData.pbData, 4));
        EXPECT_EQ(std::memcmp(link->Moniker.SerializedData.pbData, "data", 4), 0);
      } else {
        EXPECT_EQ(WideOf(link->pwszUrl), expected.second);
        EXPECT_TRUE(d.Holds(link->pwszUrl, (expected.second.size() + 1) * sizeof(wchar_t)));
      }
    }
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
  for (const auto& [encoded, code] : cases) {
    const Decoded d = Decode(SPC_SP_OPUS_INFO_OBJID, encoded);
    EXPECT_EQ(d.error, static_cast<DWORD>(code));
  }
}

// ---------------------------------------------------------------------------
// SignerInfo (PKCS7_SIGNER_INFO and CMSG_SIGNER_INFO_PARAM share the layout)

// Checks every pointer of a CMSG_SIGNER_INFO against the block it came in.
void ExpectInsideBlock(const Decoded& d, const CMSG_SIGNER_INFO& si) {
  const CRYPTOAPI_BLOB* blobs[] = {&si.Issuer, &si.SerialNumber, &si.HashAlgorithm.Parameters,
                                   &si.HashEncryptionAlgorithm.Parameters, &si.EncryptedHash};
  for (const CRYPTOAPI_BLOB* b : blobs) {
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

Bytes BlobBytes(const CRYPTOAPI_BLOB& b) { return Bytes(b.pbData, b.pbData + b.cbData); }

TEST(SignerInfoDecode, FieldsAttributesAndSerialInPlatformOrder) {
  SignerSpec spec;
  spec.version = 1;
  spec.serial = {0x00, 0x8A, 0x3C, 0x11, 0x5E};
  spec.encryptedDigest = {1, 2, 3, 4, 5};
  const Bytes time = UtcTime("190405060708Z");
  const Bytes emptyValues = Attribute("1.2.3.4", {});
  spec.authenticatedAttributes = {Attribute(oid::kContentType, {Oid(oid::kData)}),
                                  Attribute(oid::kSigningTime, {time, UtcTime("200101000000Z")}),
                                  emptyValues};
  const Decoded d = Decode(PKCS7_SIGNER_INFO, EncodeSignerInfo(spec));
  ASSERT_TRUE(d.ok()) << std::hex << d.error;
  const auto& si = *d.As<CMSG_SIGNER_INFO>();
  ExpectInsideBlock(d, si);

  EXPECT_EQ(si.dwVersion, 1u);
  EXPECT_EQ(BlobBytes(si.Issuer), spec.issuer) << "the issuer Name's complete encoding";
  EXPECT_EQ(BlobBytes(si.SerialNumber), (Bytes{0x5E, 0x11, 0x3C, 0x8A, 0x00}))
      << "little-endian, sign byte kept";
  EXPECT_STREQ(si.HashAlgorithm.pszObjId, oid::kSha256);
  EXPECT_EQ(BlobBytes(si.HashAlgorithm.Parameters), Null());
  EXPECT_STREQ(si.HashEncryptionAlgorithm.pszObjId, oid::kRsaEncryption);
  EXPECT_EQ(BlobBytes(si.EncryptedHash), spec.encryptedDigest);

  ASSERT_EQ(si.AuthAttrs.cAttr, 3u);
  EXPECT_STREQ(si.AuthAttrs.rgAttr[0].pszObjId, oid::kContentType);
  EXPECT_STREQ(si.AuthAttrs.rgAttr[1].pszObjId, oid::kSigningTime);
  ASSERT_EQ(si.AuthAttrs.rgAttr[1].cValue, 2u);
  EXPECT_EQ(BlobBytes(si.AuthAttrs.rgAttr[1].rgValue[0]), time) << "each value's complete DER";
  EXPECT_EQ(BlobBytes(si.AuthAttrs.rgAttr[1].rgValue[1]), UtcTime("200101000000Z"));
  EXPECT_EQ(si.AuthAttrs.rgAttr[2].cValue, 0u);
  EXPECT_EQ(si.UnauthAttrs.cAttr, 0u);
}

TEST(SignerInfoDecode, AlgorithmWithoutParametersAndIndefiniteLengths) {
  SignerSpec spec;
  // No NULL parameters in the algorithms; indefinite SEQUENCE and [1].
  const Bytes content =
      Concat({Int(1), Seq({spec.issuer, IntBytes(spec.serial)}), Seq({Oid(oid::kSha1)}),
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

TEST(SignerInfoDecode, SizeProtocolAndMalformedInput) {
  const Bytes encoded = BuildCounterSigner();
  DWORD size = 0;
  ASSERT_TRUE(CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, encoded.data(),
                                static_cast<DWORD>(encoded.size()), 0, nullptr, &size));
  ASSERT_GT(size, sizeof(CMSG_SIGNER_INFO));
  std::vector<std::max_align_t> block(size / sizeof(std::max_align_t) + 2);
  DWORD smaller = size - 1;
  EXPECT_FALSE(CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, encoded.data(),
                                 static_cast<DWORD>(encoded.size()), 0, block.data(), &smaller));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(smaller, size);
  DWORD larger = size + 16;
  EXPECT_TRUE(CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, encoded.data(),
                                static_cast<DWORD>(encoded.size()), 0, block.data(), &larger));
  EXPECT_EQ(larger, size);

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
  for (const auto& [bytes, code] : cases) {
    EXPECT_EQ(Decode(PKCS7_SIGNER_INFO, bytes).error, static_cast<DWORD>(code));
  }
}

}  // namespace
}  // namespace veltrano
