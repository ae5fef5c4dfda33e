#include "engine/Heap.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace veltrano {
namespace {

// (The allocation gate is exercised by the inspector's chain rows.)
TEST(Heap, RequestsBeyondTheLargestBlockFailWithoutReachingTheAllocator) {
  EXPECT_EQ(AllocateBlock(SIZE_MAX), nullptr);
  EXPECT_EQ(AllocateBlock(static_cast<std::size_t>(PTRDIFF_MAX) + 1), nullptr);
  EXPECT_EQ(AllocateBlock(kMaxBlockBytes + 1), nullptr);
  HeapPtr<char> largest(static_cast<char*>(AllocateBlock(kMaxBlockBytes)));
  EXPECT_NE(largest, nullptr);
}

}  // namespace
}  // namespace veltrano
