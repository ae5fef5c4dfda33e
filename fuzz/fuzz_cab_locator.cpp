// The cabinet locator over arbitrary file content.
#include <cstddef>
#include <cstdint>

#include "platform/signature/Cabinet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const veltrano::MemorySource source(data, size);
  const auto signature = veltrano::LocateCabSignature(source);
  if (signature && (signature->empty() || signature->size() > size)) __builtin_trap();
  return 0;
}
