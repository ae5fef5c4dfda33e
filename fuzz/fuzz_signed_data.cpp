// The SignedData decode behind CryptQueryObject, over arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/Touch.h"
#include "platform/signature/Pkcs7.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto decoded = veltrano::pkcs7::DecodeSignedData(veltrano::ByteView(data, size));
  if (!decoded) return 0;
  unsigned sum = 0;
  sum += veltrano::fuzz::Touch(decoded->certificates.data(), decoded->certificates.size());
  for (std::size_t i = 0; i < decoded->signerCount; ++i) {
    const auto signer = veltrano::pkcs7::SignerAt(*decoded, i);
    sum += veltrano::fuzz::Touch(signer.issuer.data(), signer.issuer.size());
    veltrano::pkcs7::ForEachAttribute(
        signer.authenticatedAttributes, [&sum](const veltrano::pkcs7::Attribute& attr) {
          veltrano::pkcs7::ForEachValue(attr, [&sum](veltrano::ByteView v) {
            sum += veltrano::fuzz::Touch(v.data(), v.size());
          });
        });
  }
  return static_cast<int>(sum & 0);
}
