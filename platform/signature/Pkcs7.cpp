#include "platform/signature/Pkcs7.h"

#include <array>

#include "platform/FileTimes.h"

namespace veltrano::pkcs7 {
namespace {

using der::Element;
using der::Error;
using der::Reader;
using der::Result;
namespace tag = der::tag;

// Evaluates a Result-returning expression; returns its error from the
// enclosing function on failure, else binds the value.
#define VELTRANO_TRY(name, expr) \
  auto name = (expr);            \
  if (!name) return name.error()

// Checks that every element inside `element` is well formed.
Result<bool> CheckChildren(const Reader& parent, const Element& element) {
  Reader r = parent.Enter(element);
  while (!r.AtEnd()) {
    VELTRANO_TRY(child, r.Next());
  }
  return true;
}

Result<Algorithm> DecodeAlgorithm(Reader& reader) {
  VELTRANO_TRY(seq, reader.Expect(tag::kSequence));
  Reader r = reader.Enter(*seq);
  VELTRANO_TRY(oid, r.Expect(tag::kOid));
  if (!der::IsValidOid(oid->content)) return Error::kCorrupt;
  Algorithm alg;
  alg.oid = oid->content;
  alg.parameters = r.Rest();
  VELTRANO_TRY(ok, CheckChildren(reader, *seq));
  return alg;
}

// Checks every Attribute of a SET OF Attribute: SEQUENCE { OID, SET OF ANY }.
Result<AttributeList> DecodeAttributes(const Reader& parent, const Element& set) {
  AttributeList out{set.content, 0};
  for (Reader r = parent.Enter(set); !r.AtEnd(); ++out.count) {
    VELTRANO_TRY(seq, r.Expect(tag::kSequence));
    Reader a = r.Enter(*seq);
    VELTRANO_TRY(oid, a.Expect(tag::kOid));
    if (!der::IsValidOid(oid->content)) return Error::kCorrupt;
    VELTRANO_TRY(values, a.Expect(tag::kSet));
    if (!a.AtEnd()) return Error::kCorrupt;
    VELTRANO_TRY(ok, CheckChildren(a, *values));
  }
  return out;
}

// SpcString ::= CHOICE { unicode [0] IMPLICIT BMPString, ascii [1] IMPLICIT
// IA5String }, the only element of `r`.
Result<Text> DecodeSpcString(Reader& r) {
  VELTRANO_TRY(e, r.Next());
  if (!r.AtEnd()) return Error::kCorrupt;
  if (e->tag == tag::ContextPrimitive(0)) {
    if (e->content.size() % 2 != 0) return Error::kCorrupt;
    return Text{e->content, true};
  }
  if (e->tag == tag::ContextPrimitive(1)) return Text{e->content, false};
  return Error::kBadTag;
}

// SpcLink ::= CHOICE { url [0] IMPLICIT IA5String, moniker [1] IMPLICIT
// SpcSerializedObject, file [2] EXPLICIT SpcString }, the only element of `r`.
Result<Link> DecodeSpcLink(Reader& r) {
  VELTRANO_TRY(e, r.Next());
  if (!r.AtEnd()) return Error::kCorrupt;
  Link link;
  if (e->tag == tag::ContextPrimitive(0)) {
    link.choice = Link::Choice::kUrl;
    link.text = Text{e->content, false};
  } else if (e->tag == tag::Context(1)) {
    link.choice = Link::Choice::kMoniker;
    Reader m = r.Enter(*e);
    VELTRANO_TRY(classId, m.Expect(tag::kOctetString));
    if (classId->content.size() != 16) return Error::kCorrupt;
    VELTRANO_TRY(data, m.Expect(tag::kOctetString));
    if (!m.AtEnd()) return Error::kCorrupt;
    link.classId = classId->content;
    link.serializedData = data->content;
  } else if (e->tag == tag::Context(2)) {
    link.choice = Link::Choice::kFile;
    Reader f = r.Enter(*e);
    VELTRANO_TRY(text, DecodeSpcString(f));
    link.text = *text;
  } else {
    return Error::kBadTag;
  }
  return link;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr std::array<unsigned, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))) return 29;
  return kDays[month - 1];
}

}  // namespace

Result<SignerInfo> DecodeSignerInfo(Reader& reader) {
  VELTRANO_TRY(seq, reader.Expect(tag::kSequence));
  Reader r = reader.Enter(*seq);
  SignerInfo si;

  VELTRANO_TRY(version, r.Expect(tag::kInteger));
  VELTRANO_TRY(versionValue, der::SmallUnsigned(version->content));
  si.version = *versionValue;

  VELTRANO_TRY(issuerAndSerial, r.Expect(tag::kSequence));
  Reader ias = r.Enter(*issuerAndSerial);
  VELTRANO_TRY(issuer, ias.Expect(tag::kSequence));
  VELTRANO_TRY(serial, ias.Expect(tag::kInteger));
  if (!ias.AtEnd() || serial->content.empty()) return Error::kCorrupt;
  si.issuer = issuer->encoding;
  si.serialNumber = serial->content;

  VELTRANO_TRY(digest, DecodeAlgorithm(r));
  si.digestAlgorithm = std::move(*digest);

  VELTRANO_TRY(auth, r.Optional(tag::Context(0)));
  if (*auth) {
    VELTRANO_TRY(attrs, DecodeAttributes(r, **auth));
    si.authenticatedAttributes = *attrs;
  }

  VELTRANO_TRY(encryption, DecodeAlgorithm(r));
  si.digestEncryptionAlgorithm = std::move(*encryption);

  VELTRANO_TRY(encrypted, r.Expect(tag::kOctetString));
  si.encryptedDigest = encrypted->content;

  VELTRANO_TRY(unauth, r.Optional(tag::Context(1)));
  if (*unauth) {
    VELTRANO_TRY(attrs, DecodeAttributes(r, **unauth));
    si.unauthenticatedAttributes = *attrs;
  }
  if (!r.AtEnd()) return Error::kCorrupt;
  return si;
}

Result<SignerInfo> DecodeSignerInfo(ByteView data) {
  Reader r(data);
  return DecodeSignerInfo(r);
}

Result<SignedData> DecodeSignedData(ByteView data) {
  Reader top(data);
  VELTRANO_TRY(contentInfo, top.Expect(tag::kSequence));
  Reader ci = top.Enter(*contentInfo);
  VELTRANO_TRY(type, ci.Expect(tag::kOid));
  if (!der::OidTextEquals(type->content, kSignedDataOid)) return Error::kCorrupt;
  VELTRANO_TRY(explicitContent, ci.Expect(tag::Context(0)));
  if (!ci.AtEnd()) return Error::kCorrupt;

  Reader ec = ci.Enter(*explicitContent);
  VELTRANO_TRY(signedData, ec.Expect(tag::kSequence));
  if (!ec.AtEnd()) return Error::kCorrupt;

  Reader sd = ec.Enter(*signedData);
  SignedData out;
  VELTRANO_TRY(version, sd.Expect(tag::kInteger));
  VELTRANO_TRY(versionValue, der::SmallUnsigned(version->content));
  out.version = *versionValue;

  VELTRANO_TRY(digestAlgorithms, sd.Expect(tag::kSet));
  {
    Reader d = sd.Enter(*digestAlgorithms);
    while (!d.AtEnd()) {
      VELTRANO_TRY(alg, DecodeAlgorithm(d));
    }
  }

  // The signed content (SpcIndirectDataContent in Authenticode): a
  // ContentInfo that only has to be well formed here.
  VELTRANO_TRY(inner, sd.Expect(tag::kSequence));
  {
    Reader i = sd.Enter(*inner);
    VELTRANO_TRY(innerType, i.Expect(tag::kOid));
    if (!der::IsValidOid(innerType->content)) return Error::kCorrupt;
    VELTRANO_TRY(innerContent, i.Optional(tag::Context(0)));
    if (*innerContent) {
      VELTRANO_TRY(ok, CheckChildren(i, **innerContent));
      out.content = (*innerContent)->content;
    }
    if (!i.AtEnd()) return Error::kCorrupt;
    out.contentType = innerType->content;
  }

  VELTRANO_TRY(certificates, sd.Optional(tag::Context(0)));
  if (*certificates) {
    VELTRANO_TRY(ok, CheckChildren(sd, **certificates));
    out.certificates = (*certificates)->content;
  }
  VELTRANO_TRY(crls, sd.Optional(tag::Context(1)));
  if (*crls) {
    VELTRANO_TRY(ok, CheckChildren(sd, **crls));
  }

  VELTRANO_TRY(signerInfos, sd.Expect(tag::kSet));
  out.signerInfos = signerInfos->content;
  for (Reader s = sd.Enter(*signerInfos); !s.AtEnd(); ++out.signerCount) {
    VELTRANO_TRY(signer, DecodeSignerInfo(s));
    if (out.signerCount == 0) out.firstSigner = *signer;
  }
  if (!sd.AtEnd()) return Error::kCorrupt;
  return out;
}

SignerInfo SignerAt(const SignedData& data, std::size_t index) {
  if (index == 0) return data.firstSigner;
  Reader s(data.signerInfos);
  for (std::size_t i = 0; i < index; ++i) s.Next();
  return *DecodeSignerInfo(s);
}

Result<OpusInfo> DecodeOpusInfo(ByteView data) {
  Reader top(data);
  VELTRANO_TRY(seq, top.Expect(tag::kSequence));
  Reader r = top.Enter(*seq);
  OpusInfo info;

  VELTRANO_TRY(name, r.Optional(tag::Context(0)));
  if (*name) {
    Reader n = r.Enter(**name);
    VELTRANO_TRY(text, DecodeSpcString(n));
    info.programName = *text;
  }
  VELTRANO_TRY(moreInfo, r.Optional(tag::Context(1)));
  if (*moreInfo) {
    Reader m = r.Enter(**moreInfo);
    VELTRANO_TRY(link, DecodeSpcLink(m));
    info.moreInfo = *link;
  }
  VELTRANO_TRY(publisher, r.Optional(tag::Context(2)));
  if (*publisher) {
    Reader p = r.Enter(**publisher);
    VELTRANO_TRY(link, DecodeSpcLink(p));
    info.publisherInfo = *link;
  }
  if (!r.AtEnd()) return Error::kCorrupt;
  return info;
}

Result<std::uint64_t> DecodeUtcTime(ByteView data) {
  Reader top(data);
  VELTRANO_TRY(e, top.Expect(tag::kUtcTime));
  const ByteView text = e->content;
  std::size_t pos = 0;
  // Two decimal digits at pos, or nothing.
  auto twoDigits = [&text, &pos]() -> std::optional<unsigned> {
    if (!text.Contains(pos, 2)) return std::nullopt;
    const std::uint8_t a = text.data()[pos];
    const std::uint8_t b = text.data()[pos + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    pos += 2;
    return static_cast<unsigned>((a - '0') * 10 + (b - '0'));
  };
  auto isDigitAt = [&text](std::size_t at) {
    const auto c = text.U8(at);
    return c && *c >= '0' && *c <= '9';
  };

  const auto yy = twoDigits();
  const auto month = twoDigits();
  const auto day = twoDigits();
  const auto hour = twoDigits();
  const auto minute = twoDigits();
  if (!yy || !month || !day || !hour || !minute) return Error::kCorrupt;
  unsigned second = 0;
  if (isDigitAt(pos)) {
    const auto s = twoDigits();
    if (!s) return Error::kCorrupt;
    second = *s;
  }
  std::int64_t offsetMinutes = 0;
  const auto zone = text.U8(pos);
  if (!zone) return Error::kCorrupt;
  ++pos;
  if (*zone == '+' || *zone == '-') {
    const auto oh = twoDigits();
    const auto om = twoDigits();
    if (!oh || !om || *oh > 23 || *om > 59) return Error::kCorrupt;
    offsetMinutes = static_cast<std::int64_t>(*oh) * 60 + *om;
    if (*zone == '-') offsetMinutes = -offsetMinutes;
  } else if (*zone != 'Z') {
    return Error::kCorrupt;
  }
  if (pos != text.size()) return Error::kCorrupt;

  const unsigned year = *yy < 50 ? 2000 + *yy : 1900 + *yy;
  if (*month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(year, *month) || *hour > 23 ||
      *minute > 59 || second > 59) {
    return Error::kCorrupt;
  }
  const std::int64_t seconds = (DaysFromCivil(year, *month, *day) + kDays1601To1970) * 86400 +
                               static_cast<std::int64_t>(*hour) * 3600 +
                               static_cast<std::int64_t>(*minute) * 60 + second -
                               offsetMinutes * 60;
  return static_cast<std::uint64_t>(seconds) * 10000000ULL;
}

#undef VELTRANO_TRY

}  // namespace veltrano::pkcs7
