// A FileSource over an open file descriptor, read with pread.
#pragma once

#include <cstdint>

#include "platform/signature/FileSource.h"

namespace veltrano {

class DescriptorSource final : public FileSource {
 public:
  // `fd` stays owned by the caller; `size` is the file's size when opened.
  DescriptorSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const override;

 private:
  int fd_;
  std::uint64_t size_;
};

// Bytes read through every DescriptorSource since the process started: lets
// tests and benchmarks show how much of a file a query reads.
std::uint64_t BytesReadFromFiles();

}  // namespace veltrano
