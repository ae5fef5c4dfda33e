#include "platform/standin/PlacedStructures.h"

#include <cstring>
#include <optional>

namespace veltrano {
namespace {

CRYPTOAPI_BLOB PlaceBlob(FlatBlock& block, ByteView bytes) {
  auto* p = static_cast<BYTE*>(block.Reserve(bytes.size()));
  if (p != nullptr && !bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  return CRYPTOAPI_BLOB{static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : p};
}

// The bytes in reverse order (INTEGER content to little-endian).
CRYPTOAPI_BLOB PlaceReversedBlob(FlatBlock& block, ByteView bytes) {
  auto* p = static_cast<BYTE*>(block.Reserve(bytes.size()));
  if (p != nullptr) {
    for (std::size_t i = 0; i < bytes.size(); ++i) p[i] = bytes.data()[bytes.size() - 1 - i];
  }
  return CRYPTOAPI_BLOB{static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : p};
}

// The dotted text of an identifier's (checked) content, with a terminator,
// written straight into place.
LPSTR PlaceOidText(FlatBlock& block, ByteView content) {
  const std::size_t length = der::WriteOidText(content, nullptr);
  auto* p = static_cast<char*>(block.Reserve(length + 1));
  if (p != nullptr) p[der::WriteOidText(content, p)] = '\0';
  return p;
}

// The text as wide characters with a terminator, converted straight into
// place (measured by counting them).
LPWSTR PlaceText(FlatBlock& block, const pkcs7::Text& text) {
  std::size_t length = 0;
  pkcs7::ForEachWideChar(text, [&length](wchar_t) { ++length; });
  auto* p = static_cast<wchar_t*>(block.Reserve((length + 1) * sizeof(wchar_t)));
  if (p == nullptr) return nullptr;
  wchar_t* out = p;
  pkcs7::ForEachWideChar(text, [&out](wchar_t c) { *out++ = c; });
  *out = L'\0';
  return p;
}

CRYPT_ALGORITHM_IDENTIFIER PlaceAlgorithm(FlatBlock& block, const pkcs7::Algorithm& alg) {
  CRYPT_ALGORITHM_IDENTIFIER out{};
  out.pszObjId = PlaceOidText(block, alg.oid);
  out.Parameters = PlaceBlob(block, alg.parameters);
  return out;
}

void RebaseAlgorithm(CRYPT_ALGORITHM_IDENTIFIER& alg, const Rebase& rebase) {
  rebase(alg.pszObjId);
  rebase(alg.Parameters.pbData);
}

CRYPT_ATTRIBUTES PlaceAttributes(FlatBlock& block, const pkcs7::AttributeList& attrs) {
  CRYPT_ATTRIBUTES out{static_cast<DWORD>(attrs.count), nullptr};
  if (attrs.count == 0) return out;
  out.rgAttr = block.Take<CRYPT_ATTRIBUTE>(attrs.count);
  std::size_t i = 0;
  pkcs7::ForEachAttribute(attrs, [&](const pkcs7::Attribute& a) {
    CRYPT_ATTRIBUTE attr{};
    attr.pszObjId = PlaceOidText(block, a.oid);
    attr.cValue = static_cast<DWORD>(a.valueCount);
    if (a.valueCount != 0) {
      attr.rgValue = block.Take<CRYPT_ATTR_BLOB>(a.valueCount);
      std::size_t v = 0;
      pkcs7::ForEachValue(a, [&](ByteView value) {
        const CRYPT_ATTR_BLOB blob = PlaceBlob(block, value);
        if (attr.rgValue != nullptr) attr.rgValue[v] = blob;
        ++v;
      });
    }
    if (out.rgAttr != nullptr) out.rgAttr[i] = attr;
    ++i;
  });
  return out;
}

void RebaseAttributes(CRYPT_ATTRIBUTES& attrs, const Rebase& rebase) {
  rebase(attrs.rgAttr);
  for (DWORD i = 0; i < attrs.cAttr; ++i) {
    CRYPT_ATTRIBUTE& attr = attrs.rgAttr[i];
    rebase(attr.pszObjId);
    rebase(attr.rgValue);
    for (DWORD v = 0; v < attr.cValue; ++v) rebase(attr.rgValue[v].pbData);
  }
}

SPC_LINK* PlaceLink(FlatBlock& block, const std::optional<pkcs7::Link>& link) {
  if (!link) return nullptr;
  auto* place = block.Take<SPC_LINK>();
  SPC_LINK out{};
  out.dwLinkChoice = static_cast<DWORD>(link->choice);
  switch (link->choice) {
    case pkcs7::Link::Choice::kUrl:
      out.pwszUrl = PlaceText(block, link->text);
      break;
    case pkcs7::Link::Choice::kFile:
      out.pwszFile = PlaceText(block, link->text);
      break;
    case pkcs7::Link::Choice::kMoniker:
      std::memcpy(out.Moniker.ClassId, link->classId.data(), sizeof(out.Moniker.ClassId));
      out.Moniker.SerializedData = PlaceBlob(block, link->serializedData);
      break;
  }
  if (place != nullptr) *place = out;
  return place;
}

void RebaseLink(SPC_LINK*& link, const Rebase& rebase) {
  rebase(link);
  if (link == nullptr) return;
  switch (link->dwLinkChoice) {
    case SPC_URL_LINK_CHOICE:
      rebase(link->pwszUrl);
      break;
    case SPC_FILE_LINK_CHOICE:
      rebase(link->pwszFile);
      break;
    default:
      rebase(link->Moniker.SerializedData.pbData);
      break;
  }
}

}  // namespace

void PlaceSignerInfo(FlatBlock& block, const pkcs7::SignerInfo& si) {
  auto* info = block.Take<CMSG_SIGNER_INFO>();
  CMSG_SIGNER_INFO out{};
  out.dwVersion = si.version;
  out.Issuer = PlaceBlob(block, si.issuer);
  out.SerialNumber = PlaceReversedBlob(block, si.serialNumber);
  out.HashAlgorithm = PlaceAlgorithm(block, si.digestAlgorithm);
  out.HashEncryptionAlgorithm = PlaceAlgorithm(block, si.digestEncryptionAlgorithm);
  out.EncryptedHash = PlaceBlob(block, si.encryptedDigest);
  out.AuthAttrs = PlaceAttributes(block, si.authenticatedAttributes);
  out.UnauthAttrs = PlaceAttributes(block, si.unauthenticatedAttributes);
  if (info != nullptr) *info = out;
}

void RebaseSignerInfo(std::uint8_t* block, const Rebase& rebase) {
  auto* info = reinterpret_cast<CMSG_SIGNER_INFO*>(block);
  rebase(info->Issuer.pbData);
  rebase(info->SerialNumber.pbData);
  RebaseAlgorithm(info->HashAlgorithm, rebase);
  RebaseAlgorithm(info->HashEncryptionAlgorithm, rebase);
  rebase(info->EncryptedHash.pbData);
  RebaseAttributes(info->AuthAttrs, rebase);
  RebaseAttributes(info->UnauthAttrs, rebase);
}

void PlaceOpusInfo(FlatBlock& block, const pkcs7::OpusInfo& opus) {
  auto* info = block.Take<SPC_SP_OPUS_INFO>();
  SPC_SP_OPUS_INFO out{};
  if (opus.programName) out.pwszProgramName = PlaceText(block, *opus.programName);
  out.pMoreInfo = PlaceLink(block, opus.moreInfo);
  out.pPublisherInfo = PlaceLink(block, opus.publisherInfo);
  if (info != nullptr) *info = out;
}

void RebaseOpusInfo(std::uint8_t* block, const Rebase& rebase) {
  auto* info = reinterpret_cast<SPC_SP_OPUS_INFO*>(block);
  rebase(info->pwszProgramName);
  RebaseLink(info->pMoreInfo, rebase);
  RebaseLink(info->pPublisherInfo, rebase);
}

}  // namespace veltrano
