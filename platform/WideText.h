// Wide text <-> the bytes the file system and the log store.
//
// Text is UTF-8 on disk. Bytes that are not valid UTF-8 (file names on Linux
// may hold any byte but '/' and NUL) are carried through wide text as the
// code points U+DC80..U+DCFF, one per byte, and turned back into the same
// byte on the way out, so every name survives the round trip.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// Decodes bytes to wide text; never fails (invalid bytes become escapes).
std::wstring WideFromBytes(std::string_view bytes);

// The code point that starts at bytes[i] (i below the size) as WideFromBytes
// decodes it, an escape for an invalid byte; moves i past its bytes.
char32_t NextCodePoint(std::string_view bytes, std::size_t& i);

// Encodes wide text to bytes; escapes become their original bytes. Returns
// nothing when the text holds a code point no byte sequence stands for (a
// surrogate outside the escape range, or a value above U+10FFFF).
std::optional<std::string> BytesFromWide(std::wstring_view text);

// Appends one code point as wide text: one unit where wchar_t is 32-bit, a
// UTF-16 surrogate pair above U+FFFF where it is 16-bit.
void AppendWideCodePoint(char32_t cp, std::wstring& out);

// As BytesFromWide, but a code point without an encoding becomes U+FFFD, so
// the text always comes out whole (for output, never for paths).
std::string BytesFromWideReplacing(std::wstring_view text);
// The same, appended to `out`.
void AppendBytesFromWideReplacing(std::wstring_view text, std::string& out);

// Appends the bytes for one code point. Returns false (and appends nothing)
// for a code point that has no encoding, as above.
bool AppendBytesForCodePoint(char32_t cp, std::string& out);

}  // namespace veltrano
