#include "platform/standin/PathAt.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <mutex>

namespace veltrano {
namespace {

bool HoldsCapFowner() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
  return (data[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER)) != 0;
}

}  // namespace

PathAt::PathAt(const std::string& path) : m_name(path) {
  if (path.size() < PATH_MAX) return;
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::size_t slash = folder.rfind('/');
  m_name = folder.substr(slash + 1);
  folder.resize(slash + 1);
  // Each piece ends at a separator and stays below the limit; a single step
  // longer than that is refused by the kernel as it would be anyway.
  std::size_t at = 0;
  while (at < folder.size()) {
    std::size_t end = std::min(folder.size(), at + PATH_MAX - 1);
    if (end < folder.size()) {
      const std::size_t cut = folder.rfind('/', end - 1);
      end = cut == std::string::npos || cut < at ? end : cut + 1;
    }
    const std::string piece = folder.substr(at, end - at);
    m_dir.reset(::openat(dir(), piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!m_dir) {
      m_error = errno;
      return;
    }
    at = end;
  }
}

bool MayActAsOwner(const struct stat& st) {
  static const uid_t euid = geteuid();
  static const bool fowner = HoldsCapFowner();
  return st.st_uid == euid || fowner;
}

bool IsOnReadOnlyMount(int fd, dev_t dev) {
  static std::mutex mutex;
  static bool known = false;
  static dev_t lastDev = 0;
  static bool lastReadOnly = false;
  std::lock_guard lock(mutex);
  if (!known || lastDev != dev) {
    struct statvfs vfs {};
    if (::fstatvfs(fd, &vfs) != 0) return false;  // let the change itself find out
    known = true;
    lastDev = dev;
    lastReadOnly = (vfs.f_flag & ST_RDONLY) != 0;
  }
  return lastReadOnly;
}

}  // namespace veltrano
