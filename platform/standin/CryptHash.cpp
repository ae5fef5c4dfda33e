// CryptHashCertificate2: the hash of any bytes by a CNG algorithm name, with
// OpenSSL's libcrypto doing the hashing. The inspector hashes a signer's
// encrypted digest with it to check an RFC 3161 timestamp's message imprint.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cwchar>

#include "platform/Win32.h"

namespace {

// The algorithms by their CNG names (BCRYPT_SHA1_ALGORITHM and the rest).
const EVP_MD* DigestNamed(LPCWSTR name) {
  if (name == nullptr) return nullptr;
  if (std::wcscmp(name, L"SHA1") == 0) return EVP_sha1();
  if (std::wcscmp(name, L"SHA256") == 0) return EVP_sha256();
  if (std::wcscmp(name, L"SHA384") == 0) return EVP_sha384();
  if (std::wcscmp(name, L"SHA512") == 0) return EVP_sha512();
  return nullptr;
}

BOOL Fail(long long code) {
  SetLastError(static_cast<DWORD>(code));
  return FALSE;
}

}  // namespace

BOOL CryptHashCertificate2(LPCWSTR pwszCNGHashAlgid, DWORD /*dwFlags*/, void* /*pvReserved*/,
                           const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
                           DWORD* pcbComputedHash) {
  if (pcbComputedHash == nullptr || (pbEncoded == nullptr && cbEncoded != 0)) {
    return Fail(E_INVALIDARG);
  }
  // The library without the system's OpenSSL configuration: the same hashes
  // whatever it says (a configuration may restrict algorithms), and no file
  // read for it.
  static const bool ready = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
  const EVP_MD* digest = ready ? DigestNamed(pwszCNGHashAlgid) : nullptr;
  // Any other name: no algorithm (the program asks for these four only).
  if (digest == nullptr) return Fail(NTE_BAD_ALGID);
  const auto size = static_cast<DWORD>(EVP_MD_get_size(digest));
  if (pbComputedHash == nullptr) {
    *pcbComputedHash = size;
    return TRUE;
  }
  if (*pcbComputedHash < size) {
    *pcbComputedHash = size;
    return Fail(ERROR_MORE_DATA);
  }
  static const BYTE kNothing = 0;
  unsigned int written = 0;
  if (EVP_Digest(cbEncoded != 0 ? pbEncoded : &kNothing, cbEncoded, pbComputedHash, &written,
                 digest, nullptr) != 1) {
    return Fail(NTE_BAD_ALGID);
  }
  *pcbComputedHash = written;
  return TRUE;
}
