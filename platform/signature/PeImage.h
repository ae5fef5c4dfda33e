// Locating the Authenticode signature of a PE32 or PE32+ image (.exe, .dll,
// .sys and the like).
#pragma once

#include "platform/signature/FileSource.h"

namespace veltrano {

// The first entry of the attribute certificate table (data directory 4), as
// a locator returns it (FileSource.h).
std::optional<std::vector<std::uint8_t>> LocatePeSignature(const FileSource& file);

}  // namespace veltrano
