// The headless command's path argument as the dialog's choosers report a
// path: absolute, without "." steps or a trailing separator, and whether it
// names a folder.
#pragma once

#include <filesystem>

namespace veltrano {

struct ArgumentPath {
  enum class Status { kFound, kMissing, kUnreachable };
  Status status = Status::kMissing;
  bool isFolder = false;       // a folder, or a link to one
  std::filesystem::path path;  // when found
};

// Resolves an argument (bytes on Linux, UTF-16 on Windows). On Linux the path
// means what the kernel resolves: it is reached a piece at a time, so a path
// longer than PATH_MAX works, and a ".." after a symbolic link is the parent
// of the link's target (the text keeps "link/.."; a ".." after a folder that
// is no link goes with that folder). On Windows the platform's rules apply.
// Missing when a step does not exist or is no folder; unreachable otherwise.
ArgumentPath ResolveArgumentPath(const std::filesystem::path::string_type& arg);

}  // namespace veltrano
