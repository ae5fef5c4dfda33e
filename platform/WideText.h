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

// WTF-8: UTF-8 that also carries a lone surrogate (a UTF-16 name that is not
// valid text, on Windows) as its three bytes, so that every wide text has a
// byte form and back. Where wchar_t is 32-bit the escape code points give
// their original bytes, as BytesFromWide does.
std::string Wtf8FromWide(std::wstring_view text);
std::wstring WideFromWtf8(std::string_view bytes);

// Appends `text` as AppendBytesFromWideReplacing does, with every control
// character (U+0000..U+001F, U+007F..U+009F) and the percent sign written as a
// percent escape: '%' and two upper-case hex digits per UTF-8 byte ("%0A" for
// a line feed, "%25" for '%'). Text that is not valid Unicode is escaped the
// same way: a file-name byte carried by an escape code point (32-bit wchar_t)
// as that byte ("%FF"), a lone surrogate (16-bit wchar_t: a UTF-16 name that
// is not valid text) as its three WTF-8 bytes ("%ED%B2%80" for U+DC80).
// Nothing else is escaped. Text escaped this way is valid UTF-8, holds no line
// break or tab, and reads back with any percent-decoder: to the name's bytes
// on Linux, to the WTF-8 of its UTF-16 on Windows.
void AppendPercentEscaped(std::wstring_view text, std::string& out);

// Encodes text that arrives in pieces exactly as AppendBytesFromWideReplacing
// (or AppendPercentEscaped) encodes the pieces joined: where wchar_t is 16-bit,
// a surrogate pair split between two pieces is still one code point, so a
// high surrogate that ends a piece waits for the next one.
class WidePieceEncoder {
 public:
  // Appends the bytes of `piece`, keeping a high surrogate at its end.
  void Append(std::wstring_view piece, std::string& out);
  // The same, percent-escaped as AppendPercentEscaped escapes.
  void AppendPercentEscaped(std::wstring_view piece, std::string& out);
  // Ends the text: a high surrogate still waiting becomes U+FFFD, or its
  // escape when it came in escaped text.
  void Finish(std::string& out);

 private:
  void Encode(std::wstring_view piece, bool escaped, std::string& out);

  wchar_t m_high = 0;          // the first half of a pair, waiting for the next piece
  bool m_highEscaped = false;  // it came in escaped text
};

}  // namespace veltrano
