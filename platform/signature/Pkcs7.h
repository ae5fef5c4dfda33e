// Decoding of the PKCS#7 and Authenticode structures behind the CryptoAPI
// stand-in: the SignedData of an embedded signature, SignerInfo, the
// publisher (opus) information and the UTCTime signing time.
//
// Every decoder works on untrusted bytes through der::Reader and returns
// views into the bytes it was given; the caller keeps those bytes alive.
// Failures carry the der::Error that the platform's code is chosen from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/signature/Der.h"

namespace veltrano::pkcs7 {

inline constexpr char kSignedDataOid[] = "1.2.840.113549.1.7.2";

// Object identifiers are kept as their content, checked to have a dotted
// text (der::WriteOidText writes it where it is needed).
struct Algorithm {
  ByteView oid;
  // The encoding of the parameters (everything after the identifier inside
  // the AlgorithmIdentifier), empty when there are none.
  ByteView parameters;
};

struct Attribute {
  ByteView oid;
  // The values' complete encodings (tag, length, content), one after another,
  // each checked to be one element; ForEachValue visits them.
  ByteView values;
  std::size_t valueCount = 0;
};

// Calls `visit` with each value's complete encoding, in order.
template <typename Visit>
void ForEachValue(const Attribute& attribute, Visit visit) {
  der::Reader r(attribute.values);
  for (std::size_t i = 0; i < attribute.valueCount; ++i) visit(r.Next()->encoding);
}

struct SignerInfo {
  std::uint32_t version = 0;
  ByteView issuer;        // the issuer Name's complete encoding
  ByteView serialNumber;  // the INTEGER's content, big-endian as encoded
  Algorithm digestAlgorithm;
  Algorithm digestEncryptionAlgorithm;
  ByteView encryptedDigest;  // the OCTET STRING's content
  std::vector<Attribute> authenticatedAttributes;
  std::vector<Attribute> unauthenticatedAttributes;
};

struct SignedData {
  std::uint32_t version = 0;
  // The certificates' complete encodings, one after another in the order
  // carried, each checked to be one element.
  ByteView certificates;
  std::vector<SignerInfo> signers;
  // The signed content: its type (the identifier's content) and what its
  // [0] EXPLICIT holds, the inner element's complete encoding (empty when
  // the content is absent).
  ByteView contentType;
  ByteView content;
};

// A PKCS#7 ContentInfo whose content type is signedData, read from the start
// of `data` (bytes after the ContentInfo are ignored). Every part the
// platform's message decode reads is checked, down to each signer's
// attributes; certificates and the inner content are checked as elements.
der::Result<SignedData> DecodeSignedData(ByteView data);

// One SignerInfo element (PKCS#7 version 1: issuer and serial number).
der::Result<SignerInfo> DecodeSignerInfo(der::Reader& reader);
// A SignerInfo at the start of `data`.
der::Result<SignerInfo> DecodeSignerInfo(ByteView data);

// SpcString and SpcLink of the publisher information, as wide text.
struct Link {
  enum class Choice : std::uint32_t { kUrl = 1, kMoniker = 2, kFile = 3 };
  Choice choice = Choice::kUrl;
  std::wstring text;  // the URL or file name
  ByteView classId;   // moniker: 16 bytes
  ByteView serializedData;
};

struct OpusInfo {
  std::optional<std::wstring> programName;
  std::optional<Link> moreInfo;
  std::optional<Link> publisherInfo;
};

// SpcSpOpusInfo ::= SEQUENCE { programName [0] EXPLICIT SpcString OPTIONAL,
//   moreInfo [1] EXPLICIT SpcLink OPTIONAL, publisherInfo [2] EXPLICIT
//   SpcLink OPTIONAL }. BMPString text is UTF-16BE (surrogate pairs become one
// wide character where wchar_t holds 32 bits); IA5String bytes map to the
// code points of the same value.
der::Result<OpusInfo> DecodeOpusInfo(ByteView data);

// A UTCTime element as 100-ns ticks since 1601-01-01 UTC: YYMMDDhhmm, optional
// ss, then Z or an offset +hhmm/-hhmm (the instant is the local time minus the
// offset). Two-digit years below 50 are 20YY, others 19YY. Another tag
// (GeneralizedTime included) is kBadTag; a text that is not a valid time is
// kCorrupt.
der::Result<std::uint64_t> DecodeUtcTime(ByteView data);

}  // namespace veltrano::pkcs7
