#include "platform/signature/FileSource.h"

#include <cstring>
#include <limits>

namespace veltrano {

std::optional<std::vector<std::uint8_t>> FileSource::Read(std::uint64_t offset,
                                                          std::uint64_t length) const {
  const std::uint64_t size = Size();
  if (offset > size || length > size - offset) return std::nullopt;
  if (length > std::numeric_limits<std::size_t>::max()) return std::nullopt;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
  if (!ReadAt(offset, out.size(), out.data())) return std::nullopt;
  return out;
}

bool MemorySource::ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const {
  if (offset > size_ || length > size_ - offset) return false;
  if (length != 0) std::memcpy(out, data_ + offset, length);
  return true;
}

}  // namespace veltrano
