// Reaching a file by a path of any length, and who may change its metadata.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/standin/UniqueFd.h"

namespace veltrano {

// A path in the form the *at() calls take: a folder descriptor and a name
// relative to it. A path shorter than PATH_MAX is used as it is (AT_FDCWD and
// the whole path). A longer one, which the kernel refuses whole, has its
// folder opened a piece at a time and keeps only its last step as the name.
class PathAt {
 public:
  explicit PathAt(const std::string& path);

  // 0, or the errno of the step that could not be reached.
  int error() const { return m_error; }
  int dir() const { return m_dir ? m_dir.get() : AT_FDCWD; }
  const char* name() const { return m_name.c_str(); }

 private:
  UniqueFd m_dir;  // none: AT_FDCWD
  int m_error = 0;
  std::string m_name;
};

// True when this process may do what only a file's owner may: set its times to
// chosen values, or read it without updating its access time. That is the
// owner, or a process holding CAP_FOWNER (root).
bool MayActAsOwner(const struct stat& st);

// True when the file system holding the open file `fd` (device `dev`) is
// mounted read-only. The answer for the last device asked about is kept, so a
// run over one folder asks the system once.
bool IsOnReadOnlyMount(int fd, dev_t dev);

}  // namespace veltrano
