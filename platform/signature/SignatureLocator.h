// Finding the embedded PKCS#7 signature inside a file (the part of
// CryptQueryObject that depends on the file's format): the dispatch over
// the format readers (PeImage.h, Cabinet.h, CompoundFile.h,
// ScriptSignature.h), which depend only on FileSource.h.
#pragma once

#include <string_view>

#include "platform/signature/FileSource.h"

namespace veltrano {

// Tries every supported format in turn. `path` is the file's name, used only
// for formats recognised by extension. The signature as a locator returns it
// (FileSource.h).
std::optional<std::vector<std::uint8_t>> LocateEmbeddedSignature(const FileSource& file,
                                                                 std::wstring_view path);

}  // namespace veltrano
