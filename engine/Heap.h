// Raw heap blocks for variable-sized platform results and text copies.
//
// Every block the inspector owns comes from AllocateBlock and goes back
// through ReleaseBlock. Tests install an allocation gate to make a chosen
// request fail, so the out-of-memory paths can be exercised.
#pragma once

#include <cstddef>
#include <memory>

namespace veltrano {

// No block is larger than this. A structure the platform decodes from a
// signature takes a few KiB; this bounds what one crafted file can make the
// inspector hold (its three structures at most) whatever the platform reports.
inline constexpr std::size_t kMaxBlockBytes = std::size_t{16} << 20;

// A block of exactly `bytes` zero bytes, or null when none can be had. Requests
// larger than kMaxBlockBytes fail without asking the system allocator.
void* AllocateBlock(std::size_t bytes);

// Releases a block from AllocateBlock; null does nothing.
void ReleaseBlock(void* block);

struct BlockDeleter {
  void operator()(void* block) const { ReleaseBlock(block); }
};

// An owned heap block viewed as T.
template <typename T>
using HeapPtr = std::unique_ptr<T, BlockDeleter>;

// Consulted before every allocation; returning false makes that request fail.
// Null (the default) lets every request through.
using AllocationGate = bool (*)(std::size_t bytes);
void SetAllocationGate(AllocationGate gate);

}  // namespace veltrano
