#include "platform/signature/SignatureLocator.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/signature/DescriptorSource.h"

namespace veltrano {
namespace {
std::atomic<std::uint64_t> g_bytesReadFromFiles{0};
}

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

bool DescriptorSource::ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const {
  if (offset > size_ || length > size_ - offset) return false;
  std::size_t done = 0;
  while (done < length) {
    const std::uint64_t at = offset + done;
    if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(at));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // the file shrank since it was opened
    done += static_cast<std::size_t>(n);
    g_bytesReadFromFiles.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
  }
  return true;
}

std::uint64_t BytesReadFromFiles() { return g_bytesReadFromFiles.load(std::memory_order_relaxed); }

namespace {

// The first bytes of a file, read once when first asked for: every format
// probe starts by reading the file's head (the PE, cabinet and compound-file
// headers all lie in the first 512 bytes), and a file of no format is read
// once in all. Other reads go to the file.
class HeadCachedSource final : public FileSource {
 public:
  static constexpr std::size_t kHeadBytes = 512;

  explicit HeadCachedSource(const FileSource& file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }
  bool ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const override {
    if (!loaded_) {
      loaded_ = true;
      headSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(kHeadBytes, Size()));
      if (!file_.ReadAt(0, headSize_, head_)) headSize_ = 0;
    }
    if (offset > headSize_ || length > headSize_ - offset) return file_.ReadAt(offset, length, out);
    if (length != 0) std::memcpy(out, head_ + offset, length);
    return true;
  }

 private:
  const FileSource& file_;
  mutable bool loaded_ = false;
  mutable std::size_t headSize_ = 0;
  mutable std::uint8_t head_[kHeadBytes];
};

}  // namespace

std::optional<std::vector<std::uint8_t>> LocateEmbeddedSignature(const FileSource& file,
                                                                 std::wstring_view path) {
  // Formats recognised by their content come first, then those recognised
  // by the file name. The first locator that finds a signature wins.
  const HeadCachedSource source(file);
  if (auto signature = LocatePeSignature(source)) return signature;
  if (auto signature = LocateCabSignature(source)) return signature;
  if (auto signature = LocateMsiSignature(source)) return signature;
  return LocateScriptSignature(source, path);
}

}  // namespace veltrano
