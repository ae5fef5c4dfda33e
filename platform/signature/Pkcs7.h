// Decoding of the PKCS#7 and Authenticode structures behind the CryptoAPI
// stand-in: the SignedData of an embedded signature, SignerInfo, the
// publisher (opus) information and the UTCTime signing time.
//
// Every decoder works on untrusted bytes through der::Reader and returns
// views into the bytes it was given; the caller keeps those bytes alive.
// Lists (signers, attributes, values) and texts stay views too, checked when
// decoded and read again where they are used, so a decode takes the same
// small memory whatever its input holds. Failures carry the der::Error that
// the platform's code is chosen from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

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

// A SET OF Attribute: its content, each attribute checked to be one;
// ForEachAttribute visits them.
struct AttributeList {
  ByteView elements;
  std::size_t count = 0;
};

// Calls `visit` with each attribute, in order.
template <typename Visit>
void ForEachAttribute(const AttributeList& list, Visit visit) {
  der::Reader r(list.elements);
  for (std::size_t i = 0; i < list.count; ++i) {
    const der::Element seq = *r.Next();
    der::Reader a(seq.content);
    Attribute attr;
    attr.oid = a.Next()->content;
    const der::Element values = *a.Next();
    attr.values = values.content;
    for (der::Reader v(values.content); !v.AtEnd() && v.Next(); ++attr.valueCount) {
    }
    visit(attr);
  }
}

struct SignerInfo {
  std::uint32_t version = 0;
  ByteView issuer;        // the issuer Name's complete encoding
  ByteView serialNumber;  // the INTEGER's content, big-endian as encoded
  Algorithm digestAlgorithm;
  Algorithm digestEncryptionAlgorithm;
  ByteView encryptedDigest;  // the OCTET STRING's content
  AttributeList authenticatedAttributes;
  AttributeList unauthenticatedAttributes;
};

struct SignedData {
  std::uint32_t version = 0;
  // The certificates' complete encodings, one after another in the order
  // carried, each checked to be one element.
  ByteView certificates;
  // The SignerInfo elements, one after another, each checked; SignerAt
  // gives one. The first, which is the one asked for, is kept decoded.
  ByteView signerInfos;
  std::size_t signerCount = 0;
  SignerInfo firstSigner;
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

// Signer `index` (below signerCount) of a decoded SignedData.
SignerInfo SignerAt(const SignedData& data, std::size_t index);

// One SignerInfo element (PKCS#7 version 1: issuer and serial number).
der::Result<SignerInfo> DecodeSignerInfo(der::Reader& reader);
// A SignerInfo at the start of `data`.
der::Result<SignerInfo> DecodeSignerInfo(ByteView data);

// The text of an SpcString or a URL: BMPString content (UTF-16BE, checked to
// be of even length) or IA5String content; ForEachWideChar reads it.
struct Text {
  ByteView content;
  bool utf16 = false;
};

// Calls `put` with each wide character of `text`: a BMPString's surrogate
// pairs become one character where wchar_t holds 32 bits (a lone surrogate
// stays the unit it is); IA5String bytes map to the code points of the same
// value. The number of calls is the text's length.
template <typename Put>
void ForEachWideChar(const Text& text, Put put) {
  const std::uint8_t* p = text.content.data();
  const std::size_t n = text.content.size();
  if (!text.utf16) {
    for (std::size_t i = 0; i < n; ++i) put(static_cast<wchar_t>(p[i]));
    return;
  }
  auto unit = [p](std::size_t i) { return static_cast<char32_t>((p[2 * i] << 8) | p[2 * i + 1]); };
  for (std::size_t i = 0; i < n / 2; ++i) {
    const char32_t u = unit(i);
    if (sizeof(wchar_t) == 4 && u >= 0xD800 && u <= 0xDBFF && i + 1 < n / 2 &&
        unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      put(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (unit(++i) - 0xDC00)));
    } else {
      put(static_cast<wchar_t>(u));
    }
  }
}

// SpcLink of the publisher information.
struct Link {
  enum class Choice : std::uint32_t { kUrl = 1, kMoniker = 2, kFile = 3 };
  Choice choice = Choice::kUrl;
  Text text;         // the URL or file name
  ByteView classId;  // moniker: 16 bytes
  ByteView serializedData;
};

struct OpusInfo {
  std::optional<Text> programName;
  std::optional<Link> moreInfo;
  std::optional<Link> publisherInfo;
};

// SpcSpOpusInfo ::= SEQUENCE { programName [0] EXPLICIT SpcString OPTIONAL,
//   moreInfo [1] EXPLICIT SpcLink OPTIONAL, publisherInfo [2] EXPLICIT
//   SpcLink OPTIONAL }.
der::Result<OpusInfo> DecodeOpusInfo(ByteView data);

// A UTCTime element as 100-ns ticks since 1601-01-01 UTC: YYMMDDhhmm, optional
// ss, then Z or an offset +hhmm/-hhmm (the instant is the local time minus the
// offset). Two-digit years below 50 are 20YY, others 19YY. Another tag
// (GeneralizedTime included) is kBadTag; a text that is not a valid time is
// kCorrupt.
der::Result<std::uint64_t> DecodeUtcTime(ByteView data);

}  // namespace veltrano::pkcs7
