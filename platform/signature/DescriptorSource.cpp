#include "platform/signature/DescriptorSource.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <limits>

namespace veltrano {
namespace {
std::atomic<std::uint64_t> g_bytesReadFromFiles{0};
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

}  // namespace veltrano
