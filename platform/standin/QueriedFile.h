// The file a signature query has just read, handed on to the open for
// attribute writing that follows it (the inspector stamps the file it has
// just inspected): that open then only checks that the path still names that
// file instead of opening it a second time, and it sets the time of the very
// file whose signature was read.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string_view>

namespace veltrano {

struct QueriedFile {
  int fd;  // open for reading; the taker closes it
  struct stat st;
};

// The file when the last successful query on this thread read `path` and its
// message is still open, and only once; nothing otherwise.
std::optional<QueriedFile> TakeQueriedFile(std::string_view path);

}  // namespace veltrano
