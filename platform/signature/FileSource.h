// What every signature reader reads through: random access to the bytes of
// one file, and the limit on the signature it takes.
//
// A locator reads only the few ranges it needs through a FileSource, never
// the whole file, and checks every offset and length against the file's size.
// It returns the signature's bytes, starting with the outer element of the
// PKCS#7 ContentInfo (bytes after that element, such as padding, may follow
// and are ignored by the decoder), or nothing when the file is not of its
// format or carries no usable signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace veltrano {

// No embedded signature larger than this is read (real ones are a few KiB to a
// few hundred KiB).
inline constexpr std::uint64_t kMaxSignatureBytes = 64ULL << 20;

// Random access to the bytes of one file.
class FileSource {
 public:
  virtual ~FileSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `length` bytes at `offset` into `out`. False when the range
  // is not inside the file or the read fails.
  virtual bool ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const = 0;

  // The bytes [offset, offset + length), or nothing (as ReadAt).
  std::optional<std::vector<std::uint8_t>> Read(std::uint64_t offset, std::uint64_t length) const;
};

// A FileSource over bytes in memory (tests, fuzz targets).
class MemorySource final : public FileSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace veltrano
