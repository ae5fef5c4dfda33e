#include "engine/Heap.h"

#include <cstdlib>

namespace veltrano {
namespace {
AllocationGate g_gate = nullptr;
}

void* AllocateBlock(std::size_t bytes) {
  if (bytes > kMaxBlockBytes) return nullptr;
  if (g_gate != nullptr && !g_gate(bytes)) return nullptr;
  // Zero-filled, so a field the platform leaves unwritten reads as empty,
  // never as a stray pointer (Wine leaves an ASCII file link's choice and an
  // empty attribute's value list unwritten). A zero-sized request still gets
  // a block.
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void ReleaseBlock(void* block) { std::free(block); }

void SetAllocationGate(AllocationGate gate) { g_gate = gate; }

}  // namespace veltrano
