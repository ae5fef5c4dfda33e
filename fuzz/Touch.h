// Reads every byte a decoded structure points to, so the sanitizers notice
// any pointer that leaves the block it was delivered in.
#pragma once

#include <cstring>
#include <cwchar>

#include "platform/Win32.h"

namespace veltrano::fuzz {

inline unsigned Touch(const void* p, std::size_t n) {
  unsigned sum = 0;
  const auto* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) sum += b[i];
  return sum;
}

inline unsigned Touch(const CRYPTOAPI_BLOB& blob) { return Touch(blob.pbData, blob.cbData); }

inline unsigned Touch(LPCSTR text) { return text ? Touch(text, std::strlen(text) + 1) : 0; }

inline unsigned Touch(LPCWSTR text) {
  return text ? Touch(text, (std::wcslen(text) + 1) * sizeof(wchar_t)) : 0;
}

inline unsigned Touch(const CRYPT_ATTRIBUTES& attrs) {
  unsigned sum = 0;
  for (DWORD i = 0; i < attrs.cAttr; ++i) {
    sum += Touch(attrs.rgAttr[i].pszObjId);
    for (DWORD v = 0; v < attrs.rgAttr[i].cValue; ++v) sum += Touch(attrs.rgAttr[i].rgValue[v]);
  }
  return sum;
}

inline unsigned Touch(const CMSG_SIGNER_INFO& si) {
  return Touch(si.Issuer) + Touch(si.SerialNumber) + Touch(si.HashAlgorithm.pszObjId) +
         Touch(si.HashAlgorithm.Parameters) + Touch(si.HashEncryptionAlgorithm.pszObjId) +
         Touch(si.HashEncryptionAlgorithm.Parameters) + Touch(si.EncryptedHash) +
         Touch(si.AuthAttrs) + Touch(si.UnauthAttrs);
}

inline unsigned Touch(const SPC_LINK* link) {
  if (link == nullptr) return 0;
  if (link->dwLinkChoice == SPC_MONIKER_LINK_CHOICE) {
    return Touch(link->Moniker.ClassId, sizeof link->Moniker.ClassId) +
           Touch(link->Moniker.SerializedData);
  }
  return Touch(link->pwszUrl);
}

inline unsigned Touch(const SPC_SP_OPUS_INFO& opus) {
  return Touch(opus.pwszProgramName) + Touch(opus.pMoreInfo) + Touch(opus.pPublisherInfo);
}

// Size query, then a decode into a heap block of exactly that size (so
// AddressSanitizer sees the block's real bounds). Returns the block or null.
inline unsigned char* DecodeExact(LPCSTR type, const BYTE* data, DWORD size) {
  constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  DWORD needed = 0;
  if (!CryptDecodeObject(kEncoding, type, data, size, 0, nullptr, &needed)) return nullptr;
  auto* block = new unsigned char[needed == 0 ? 1 : needed];
  if (!CryptDecodeObject(kEncoding, type, data, size, 0, block, &needed)) __builtin_trap();
  return block;
}

}  // namespace veltrano::fuzz
