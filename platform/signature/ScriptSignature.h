// Locating the Authenticode signature of a signed script.
#pragma once

#include <string_view>

#include "platform/signature/FileSource.h"

namespace veltrano {

// No script larger than this is read; a bigger one has no usable signature.
inline constexpr std::uint64_t kMaxScriptBytes = 16ULL << 20;

// Signed scripts, recognised by the extension of `path` (letter case
// ignored): PowerShell (.ps1 .psm1 .psd1 with "# SIG # " lines; .ps1xml
// .psc1 .cdxml with "<!-- SIG # ... -->" lines) and Windows Script Host (.js
// "// SIG // ", .vbs "'' SIG '' ", .wsf "<signature>" element with
// "** SIG ** " lines). The text is UTF-8 or an 8-bit code page, or UTF-16 with
// a byte-order mark; the block's base64 lines are decoded strictly. The
// signature as a locator returns it (FileSource.h); nothing for another
// extension, a file over kMaxScriptBytes, or a malformed block.
std::optional<std::vector<std::uint8_t>> LocateScriptSignature(const FileSource& file,
                                                               std::wstring_view path);

// True when `path` names a script (by extension) that is larger than
// kMaxScriptBytes, so its signature is not looked for.
bool IsOversizedScript(const FileSource& file, std::wstring_view path);

}  // namespace veltrano
