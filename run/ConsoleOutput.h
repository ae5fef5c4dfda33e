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

// A closed standard stream would be taken by the next file opened (the log
// could receive the rows). Each is held by /dev/null opened read-only, so
// writes to a closed output still fail. Nothing to do on Windows.
void HoldClosedStandardStreams();

}  // namespace veltrano
