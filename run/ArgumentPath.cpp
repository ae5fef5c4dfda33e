#include "run/ArgumentPath.h"

#include <string_view>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/standin/PathAt.h"
#endif

namespace veltrano {
namespace {

using Status = ArgumentPath::Status;

#ifdef _WIN32

// As a chooser reports it: absolute, lexically normal (every separator the
// preferred one), no trailing separator except the root's.
ArgumentPath Resolve(const std::wstring& arg) {
  ArgumentPath out;
  std::error_code ec;
  const std::filesystem::file_status st =
      arg.empty() ? std::filesystem::file_status(std::filesystem::file_type::not_found)
                  : std::filesystem::status(arg, ec);
  if (st.type() == std::filesystem::file_type::not_found) return out;
  out.status = Status::kUnreachable;
  if (ec || st.type() == std::filesystem::file_type::none) return out;
  std::filesystem::path path = std::filesystem::absolute(arg, ec);
  if (ec) return out;
  path = path.lexically_normal();
  if (path.has_relative_path() && !path.has_filename()) path = path.parent_path();
  out = {Status::kFound, std::filesystem::is_directory(st), path};
  return out;
}

#else

// The status of `path` as the kernel resolves it, reached a piece at a time;
// `follow` follows a link in its last step. Nonzero: the errno.
int StatusOf(const std::string& path, struct stat& st, bool follow) {
  const PathAt at(path);
  if (at.error() != 0) return at.error();
  return fstatat(at.dir(), at.name(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

// Drops empty and "." steps and a trailing separator; a ".." drops the step
// before it, unless that step is a link (or cannot be looked at), whose ".."
// is the parent of its target.
std::string Tidy(const std::string& absolute) {
  std::string out;
  std::vector<std::size_t> steps;  // where each kept step's separator is
  for (std::size_t at = 0; at <= absolute.size();) {
    std::size_t end = absolute.find('/', at);
    if (end == std::string::npos) end = absolute.size();
    const std::string_view step(absolute.data() + at, end - at);
    at = end + 1;
    if (step.empty() || step == ".") continue;
    if (step == "..") {
      if (steps.empty()) continue;  // the root's ".." is the root
      struct stat st;
      if (out.compare(steps.back(), std::string::npos, "/..") != 0 &&
          StatusOf(out, st, false) == 0 && !S_ISLNK(st.st_mode)) {
        out.resize(steps.back());
        steps.pop_back();
        continue;
      }
    }
    steps.push_back(out.size());
    out += '/';
    out += step;
  }
  return out.empty() ? "/" : out;
}

ArgumentPath Resolve(const std::string& arg) {
  ArgumentPath out;
  if (arg.empty()) return out;
  std::string absolute = arg;
  if (arg[0] != '/') {
    std::error_code ec;
    absolute = std::filesystem::current_path(ec).native() + '/' + arg;
    if (ec) {
      out.status = Status::kUnreachable;
      return out;
    }
  }
  struct stat st;
  if (const int error = StatusOf(absolute, st, true); error != 0) {
    out.status = error == ENOENT || error == ENOTDIR ? Status::kMissing : Status::kUnreachable;
    return out;
  }
  return {Status::kFound, S_ISDIR(st.st_mode), Tidy(absolute)};
}

#endif

}  // namespace

ArgumentPath ResolveArgumentPath(const std::filesystem::path::string_type& arg) {
  return Resolve(arg);
}

}  // namespace veltrano
