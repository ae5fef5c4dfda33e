// CryptDecodeObject for each structure type the inspector decodes. The first
// input byte picks the type: 0 SignerInfo, 1 opus information, 2 signing
// time; the rest is the encoded value.
#include <cstddef>
#include <cstdint>

#include "fuzz/Touch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veltrano::fuzz;
  if (size < 1) return 0;
  const BYTE* encoded = data + 1;
  const auto length = static_cast<DWORD>(size - 1);
  switch (data[0] % 3) {
    case 0:
      if (auto* block = DecodeExact(PKCS7_SIGNER_INFO, encoded, length)) {
        Touch(*reinterpret_cast<const CMSG_SIGNER_INFO*>(block));
        delete[] block;
      }
      break;
    case 1:
      if (auto* block = DecodeExact(SPC_SP_OPUS_INFO_OBJID, encoded, length)) {
        Touch(*reinterpret_cast<const SPC_SP_OPUS_INFO*>(block));
        delete[] block;
      }
      break;
    default: {
      FILETIME ft{};
      DWORD cb = sizeof ft;
      CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, szOID_RSA_signingTime, encoded,
                        length, 0, &ft, &cb);
      break;
    }
  }
  return 0;
}
