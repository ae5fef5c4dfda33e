// The PE locator over arbitrary file content.
#include <cstddef>
#include <cstdint>

#include "platform/signature/Pkcs7.h"
#include "platform/signature/SignatureLocator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const veltrano::MemorySource source(data, size);
  const auto signature = veltrano::LocateEmbeddedSignature(source, L"fuzz.exe");
  if (signature) {
    if (signature->size() > size) __builtin_trap();
    static_cast<void>(veltrano::pkcs7::DecodeSignedData(veltrano::ByteView(*signature)));
  }
  return 0;
}
