// A bounded view over untrusted bytes. Every read of file content goes
// through this type: offsets and lengths are checked in one place, and a read
// that does not fit gives nothing instead of touching memory out of range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace veltrano {

class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  ByteView(std::span<const std::uint8_t> s) : data_(s.data()), size_(s.size()) {}
  ByteView(const std::vector<std::uint8_t>& v) : data_(v.data()), size_(v.size()) {}

  constexpr const std::uint8_t* data() const { return data_; }
  constexpr std::size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }

  // True when [offset, offset + length) lies inside the view.
  constexpr bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // The sub-view [offset, offset + length), or nothing when it does not fit.
  std::optional<ByteView> Sub(std::uint64_t offset, std::uint64_t length) const {
    if (!Contains(offset, length)) return std::nullopt;
    return ByteView(data_ + offset, static_cast<std::size_t>(length));
  }
  // Everything from offset to the end, or nothing when offset is past the end.
  std::optional<ByteView> From(std::uint64_t offset) const {
    if (offset > size_) return std::nullopt;
    return ByteView(data_ + offset, size_ - static_cast<std::size_t>(offset));
  }

  std::optional<std::uint8_t> U8(std::uint64_t offset) const {
    if (!Contains(offset, 1)) return std::nullopt;
    return data_[offset];
  }
  std::optional<std::uint16_t> U16le(std::uint64_t offset) const {
    if (!Contains(offset, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  std::optional<std::uint32_t> U32le(std::uint64_t offset) const {
    if (!Contains(offset, 4)) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[offset + static_cast<unsigned>(i)];
    return v;
  }
  std::optional<std::uint64_t> U64le(std::uint64_t offset) const {
    if (!Contains(offset, 8)) return std::nullopt;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | data_[offset + static_cast<unsigned>(i)];
    return v;
  }

  std::vector<std::uint8_t> ToVector() const { return {data_, data_ + size_}; }

  friend bool operator==(ByteView a, ByteView b) {
    if (a.size_ != b.size_) return false;
    for (std::size_t i = 0; i < a.size_; ++i)
      if (a.data_[i] != b.data_[i]) return false;
    return true;
  }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace veltrano
