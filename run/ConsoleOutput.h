// The headless command's standard output and error streams. The command
// writes UTF-8; on Linux that goes out as it is. A Windows console shows
// text in its own code page, where UTF-8 bytes turn into "?" or mojibake, so
// there a stream that is a console is written as UTF-16 (WriteConsoleW); a
// stream redirected to a file or a pipe still gets the UTF-8 bytes.
#pragma once

#include <ostream>

namespace veltrano {

std::ostream& StandardOutput();
std::ostream& StandardError();

}  // namespace veltrano
