// The compound-file reader over arbitrary file content: the installer
// signature lookup, and a second lookup of another root stream with a small
// size limit and any root class, so that the mini stream and the limit are
// exercised whatever class the input's root has.
#include <cstddef>
#include <cstdint>

#include "platform/signature/CompoundFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const veltrano::MemorySource source(data, size);
  const auto signature = veltrano::LocateMsiSignature(source);
  if (signature && (signature->empty() || signature->size() > size)) __builtin_trap();

  if (const auto file = veltrano::CompoundFile::Open(source)) {
    constexpr std::uint64_t kLimit = 2048;
    const auto stream = file->ReadRootStream(u"\x05SummaryInformation", kLimit, {});
    if (stream && (stream->empty() || stream->size() > kLimit)) __builtin_trap();
  }
  return 0;
}
