// Locating the Authenticode signature of a cabinet (.cab) file.
#pragma once

#include "platform/signature/FileSource.h"

namespace veltrano {

// The "MSCF" header's per-cabinet reserve area (flag 0x0004, at least 20
// bytes) holds the signature's file offset and length; the signature as a
// locator returns it (FileSource.h).
std::optional<std::vector<std::uint8_t>> LocateCabSignature(const FileSource& file);

}  // namespace veltrano
