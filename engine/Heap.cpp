#include "engine/Heap.h"

#include <cstdint>
#include <cstdlib>

namespace veltrano {
namespace {
AllocationGate g_gate = nullptr;
}

void* AllocateBlock(std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(PTRDIFF_MAX)) return nullptr;
  if (g_gate != nullptr && !g_gate(bytes)) return nullptr;
  // malloc(0) may return null; a zero-sized request still gets a block.
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void ReleaseBlock(void* block) { std::free(block); }

void SetAllocationGate(AllocationGate gate) { g_gate = gate; }

}  // namespace veltrano
