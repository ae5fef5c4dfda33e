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
  for (const auto& signer : decoded->signers) {
    sum += veltrano::fuzz::Touch(signer.issuer.data(), signer.issuer.size());
    for (const auto& attr : signer.authenticatedAttributes) {
      veltrano::pkcs7::ForEachValue(
          attr, [&sum](veltrano::ByteView v) { sum += veltrano::fuzz::Touch(v.data(), v.size()); });
    }
  }
  return static_cast<int>(sum & 0);
}
