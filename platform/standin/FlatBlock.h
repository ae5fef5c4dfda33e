// The CryptoAPI's size protocol for a structure that comes in one caller
// block holding the structure and everything it points to: a size query (no
// buffer) reports the bytes needed; a fetch fills the block.
//
// A structure is placed by walking what it is made of (its decoded form),
// once to measure and once to write. The program always asks for the size,
// then fetches, so the first walk also writes into a scratch block of this
// thread when it fits there, and the fetch that follows copies that block and
// moves its pointers instead of walking again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/Win32.h"

namespace veltrano {

// Places a structure and the data it points to in one block, or measures it
// (no block). Every piece starts at a multiple of 8 from the block's start;
// a piece past the block's capacity is not written, and the measure goes on.
class FlatBlock {
 public:
  FlatBlock(std::uint8_t* base, std::size_t capacity) : base_(base), capacity_(capacity) {}

  std::size_t size() const { return used_; }
  // True when every piece written so far lies in the block.
  bool fits() const { return used_ <= capacity_; }

  template <typename T>
  T* Take(std::size_t count = 1) {
    return static_cast<T*>(Reserve(sizeof(T) * count));
  }
  // Room for `bytes` bytes, or null (measuring, or past the capacity).
  void* Reserve(std::size_t bytes) {
    used_ = (used_ + 7) & ~static_cast<std::size_t>(7);
    void* p = base_ == nullptr || bytes > capacity_ || used_ > capacity_ - bytes ? nullptr
                                                                                 : base_ + used_;
    used_ += bytes;
    return p;
  }

 private:
  std::uint8_t* base_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// Moves the pointers of a block copied from `from` to `to`: each keeps its
// offset from the block's start.
class Rebase {
 public:
  Rebase(const std::uint8_t* from, std::uint8_t* to) : from_(from), to_(to) {}

  template <typename T>
  void operator()(T*& p) const {
    if (p == nullptr) return;
    const auto offset = reinterpret_cast<const std::uint8_t*>(p) - from_;
    p = reinterpret_cast<T*>(to_ + offset);
  }

 private:
  const std::uint8_t* from_;
  std::uint8_t* to_;
};

// What is known of one structure's placement, kept with its decoded form:
// its size once measured (0: not yet), and which of this thread's scratch
// placements holds it written (0: none).
struct Placement {
  std::size_t size = 0;
  std::uint64_t scratch = 0;
};

// This thread's scratch block (real signer information takes a few KiB) and
// the number of its current placement.
struct ScratchBlock {
  static ScratchBlock& OfThisThread() {
    thread_local ScratchBlock scratch{std::vector<std::uint8_t>(32 << 10)};
    return scratch;
  }

  std::vector<std::uint8_t> bytes;
  std::uint64_t placement = 0;
};

// The size protocol for a value of `size` bytes that `write` puts in place
// (given the caller's block): with no buffer, the size; with one too small,
// ERROR_MORE_DATA and the size.
template <typename Write>
BOOL Deliver(std::size_t size, Write write, void* pvData, DWORD* pcbData) {
  if (size > std::numeric_limits<DWORD>::max()) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_LARGE));
    return FALSE;
  }
  const auto needed = static_cast<DWORD>(size);
  if (pvData != nullptr && *pcbData < needed) {
    *pcbData = needed;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  if (pvData != nullptr) write(static_cast<std::uint8_t*>(pvData));
  *pcbData = needed;
  return TRUE;
}

// Size query or fetch of the structure `place` writes into a FlatBlock and
// `rebase` moves (given the copied block, the scratch block's start and the
// copy's), by the size protocol above. `kept`, when given, remembers the
// placement for the next call about the same structure.
template <typename Place, typename RebaseBlock>
BOOL DeliverPlaced(Place place, RebaseBlock rebase, void* pvData, DWORD* pcbData,
                   Placement* kept = nullptr) {
  Placement local;
  Placement& placement = kept != nullptr ? *kept : local;
  ScratchBlock& scratch = ScratchBlock::OfThisThread();
  if (placement.size == 0) {
    // Whatever the scratch block held before is overwritten, whole or not.
    const std::uint64_t number = ++scratch.placement;
    FlatBlock block(scratch.bytes.data(), scratch.bytes.size());
    place(block);
    placement.size = block.size();
    placement.scratch = block.fits() ? number : 0;
  }
  const auto write = [&](std::uint8_t* to) {
    if (placement.scratch != 0 && placement.scratch == scratch.placement) {
      std::memcpy(to, scratch.bytes.data(), placement.size);
      rebase(to, Rebase(scratch.bytes.data(), to));
    } else {
      FlatBlock block(to, placement.size);
      place(block);
    }
  };
  return Deliver(placement.size, write, pvData, pcbData);
}

}  // namespace veltrano
