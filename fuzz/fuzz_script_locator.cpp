// The script locator over arbitrary text; the input's first byte picks the
// file name's extension.
#include <cstddef>
#include <cstdint>

#include "platform/signature/ScriptSignature.h"
#include "tests/fixtures/FormatFixtures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& names = veltrano::fixtures::kScriptFuzzNames;
  const std::wstring_view name = names[data[0] % names.size()];
  const veltrano::MemorySource source(data + 1, size - 1);
  const auto signature = veltrano::LocateScriptSignature(source, name);
  // Base64 makes three bytes of every four characters.
  if (signature && (signature->empty() || signature->size() > size * 3 / 4)) __builtin_trap();
  return 0;
}
