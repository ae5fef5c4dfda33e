#include "engine/Heap.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace veltrano {
namespace {

TEST(Heap, RequestsBeyondAnyObjectFailWithoutReachingTheAllocator) {
  EXPECT_EQ(AllocateBlock(SIZE_MAX), nullptr);
}

TEST(Heap, GateDecidesEachRequest) {
  SetAllocationGate([](std::size_t bytes) { return bytes != 48; });
  EXPECT_EQ(AllocateBlock(48), nullptr);
  void* block = AllocateBlock(16);
  EXPECT_NE(block, nullptr);
  ReleaseBlock(block);
  SetAllocationGate(nullptr);
}

}  // namespace
}  // namespace veltrano
