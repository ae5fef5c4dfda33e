#include "engine/Heap.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace veltrano {
namespace {

// (The allocation gate is exercised by the inspector's chain rows.)
TEST(Heap, RequestsBeyondAnyObjectFailWithoutReachingTheAllocator) {
  EXPECT_EQ(AllocateBlock(SIZE_MAX), nullptr);
  EXPECT_EQ(AllocateBlock(static_cast<std::size_t>(PTRDIFF_MAX) + 1), nullptr);
}

}  // namespace
}  // namespace veltrano
