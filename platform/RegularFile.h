// Reading a whole file that must be a regular one (a journal to undo):
// nothing waits, so a FIFO or device of that name is refused at once.
#pragma once

#include <optional>
#include <string>

#include "platform/Win32.h"

namespace veltrano {

// The content of `name` (bytes on Linux, WTF-8 on Windows; relative to the
// current folder), or nothing with the platform's error code in `error` when
// it cannot be opened or read or is no regular file (ERROR_ACCESS_DENIED).
std::optional<std::string> ReadRegularFile(const std::string& name, DWORD& error);

}  // namespace veltrano
