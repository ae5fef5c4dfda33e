#include "platform/WideText.h"

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrano {
namespace {

constexpr char32_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length and value of one valid UTF-8 sequence at s[i], or 0 when invalid.
std::size_t DecodeOne(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (len > s.size() - i) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (!IsContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

char32_t NextCodePoint(std::string_view bytes, std::size_t& i) {
  char32_t cp = 0;
  const std::size_t len = DecodeOne(bytes, i, cp);
  if (len == 0) return kEscapeBase + static_cast<unsigned char>(bytes[i++]);
  i += len;
  return cp;
}

std::wstring WideFromBytes(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) AppendWideCodePoint(NextCodePoint(bytes, i), out);
  return out;
}

void AppendWideCodePoint(char32_t cp, std::wstring& out) {
  if constexpr (sizeof(wchar_t) >= 4) {
    out.push_back(static_cast<wchar_t>(cp));
  } else {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
  }
}

bool AppendBytesForCodePoint(char32_t cp, std::string& out) {
  if (cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF) {
    out.push_back(static_cast<char>(cp - kEscapeBase));
    return true;
  }
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
  return true;
}

namespace {

// A wchar_t as an unsigned code unit (wchar_t is signed on Linux).
char32_t Unit(wchar_t c) {
  return static_cast<char32_t>(c) & (sizeof(wchar_t) < 4 ? 0xFFFF : 0xFFFFFFFF);
}

[[maybe_unused]] bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// What becomes of a code point without an encoding (a lone surrogate, or a
// value above U+10FFFF): it stops the encoding, becomes U+FFFD, or (for
// percent-escaped text) a surrogate comes out as the percent escape of its
// three WTF-8 bytes. Escaped text also gives the file-name bytes that the
// escape code points carry (32-bit wchar_t) as percent escapes.
enum class Unencodable { kStop, kReplace, kEscape, kWtf8 };

void AppendPercentBytes(std::string_view bytes, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const unsigned char b : bytes) {
    out += '%';
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
}

// Appends cp, a code point AppendBytesForCodePoint refuses or a surrogate
// (an escape, where wchar_t is 32-bit), as `mode` says; false to stop.
bool AppendUnencodable(char32_t cp, Unencodable mode, std::string& out) {
  const bool keepsBytes = mode == Unencodable::kWtf8 || mode == Unencodable::kEscape;
  if (keepsBytes && cp >= 0xD800 && cp <= 0xDFFF) {
    // The file-name byte an escape carries, or the surrogate's three bytes.
    char bytes[3] = {static_cast<char>(cp - kEscapeBase)};
    std::size_t count = 1;
    if (sizeof(wchar_t) < 4 || cp < kEscapeBase + 0x80 || cp > kEscapeBase + 0xFF) {
      bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
      bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
      count = 3;
    }
    if (mode == Unencodable::kEscape) {
      AppendPercentBytes(std::string_view(bytes, count), out);
    } else {
      out.append(bytes, count);
    }
    return true;
  }
  if (mode == Unencodable::kStop) return false;
  AppendBytesForCodePoint(0xFFFD, out);
  return true;
}

// What a run of units goes out as bytes unchanged may hold: any ASCII (plain
// encoding), or printable ASCII but the percent sign (percent-escaped text).
enum class Run { kAscii, kPlainPrintable };

bool InRun(char32_t u, Run run) {
  return run == Run::kAscii ? u < 0x80 : u - 0x20 < 0x5F && u != U'%';
}

#if defined(__SSE2__)
// Names, paths, times and log texts are mostly such runs, so they are tested
// and narrowed eight units at a time.

// Eight units as eight 16-bit lanes. A 32-bit unit above 0x7FFF saturates to
// 0x7FFF or to a negative lane, and no run holds either.
__m128i LoadEight(const wchar_t* p) {
  if constexpr (sizeof(wchar_t) == 4) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
    return _mm_packs_epi32(low, high);
  } else {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
}

// Two set bits for each lane outside `run` (none when all eight are in it).
unsigned OutsideRun(__m128i lanes, Run run) {
  __m128i in;
  if (run == Run::kAscii) {
    const __m128i high = _mm_and_si128(lanes, _mm_set1_epi16(static_cast<short>(0xFF80)));
    in = _mm_cmpeq_epi16(high, _mm_setzero_si128());
  } else {
    const __m128i printable = _mm_and_si128(_mm_cmpgt_epi16(lanes, _mm_set1_epi16(0x1F)),
                                            _mm_cmplt_epi16(lanes, _mm_set1_epi16(0x7F)));
    in = _mm_andnot_si128(_mm_cmpeq_epi16(lanes, _mm_set1_epi16('%')), printable);
  }
  return ~static_cast<unsigned>(_mm_movemask_epi8(in)) & 0xFFFFu;
}
#endif

// The length of the run of `run` units that starts `text`.
std::size_t RunLength(std::wstring_view text, Run run) {
  std::size_t n = 0;
#if defined(__SSE2__)
  for (; text.size() - n >= 8; n += 8) {
    const unsigned outside = OutsideRun(LoadEight(text.data() + n), run);
    if (outside != 0) return n + static_cast<std::size_t>(std::countr_zero(outside)) / 2;
  }
#endif
  while (n < text.size() && InRun(Unit(text[n]), run)) ++n;
  return n;
}

// Appends the run of `run` units that starts `text` as bytes; its length.
std::size_t AppendAsciiRun(std::wstring_view text, Run run, std::string& out) {
  const std::size_t n = RunLength(text, run);
  if (n == 0) return 0;
  const std::size_t at = out.size();
  out.resize(at + n);
  // Through a local pointer: a store through out[] may alias the string's own
  // pointer, which would then be loaded again for every byte.
  char* const to = out.data() + at;
  const wchar_t* const from = text.data();
  std::size_t k = 0;
#if defined(__SSE2__)
  for (; n - k >= 8; k += 8) {
    const __m128i lanes = LoadEight(from + k);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + k), _mm_packus_epi16(lanes, lanes));
  }
#endif
  for (; k < n; ++k) to[k] = static_cast<char>(from[k]);
  return n;
}

// Encodes `text`, a code point without an encoding handled as `mode` says.
// With `high`, the text is one piece of a longer one (16-bit wchar_t): a high
// surrogate waiting in *high pairs with the low surrogate that starts the
// piece (the caller has ended a waiting one that has none), and one that ends
// the piece waits in *high for the next.
bool EncodeWide(std::wstring_view text, Unencodable mode, std::string& out,
                wchar_t* high = nullptr) {
  if (high != nullptr && *high != 0 && !text.empty()) {
    const wchar_t pair[2] = {*high, text[0]};
    *high = 0;
    EncodeWide(std::wstring_view(pair, 2), mode, out);
    text.remove_prefix(1);
  }
  out.reserve(out.size() + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A run of ASCII goes out as it is.
    const std::size_t run = AppendAsciiRun(text.substr(i), Run::kAscii, out);
    if (run != 0) {
      i += run - 1;
      continue;
    }
    char32_t cp = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) < 4) {
      cp = Unit(text[i]);
      if (IsHighSurrogate(cp) && i + 1 == text.size() && high != nullptr) {
        *high = text[i];
        return true;
      }
      // A high surrogate followed by a low one is one code point.
      if (IsHighSurrogate(cp) && i + 1 < text.size() && IsLowSurrogate(Unit(text[i + 1]))) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (Unit(text[i + 1]) - 0xDC00);
        ++i;
      }
    }
    // Escaped text and WTF-8 keep a surrogate's own bytes (on Windows, two
    // lone halves that are no pair must not become one UTF-8 character).
    const bool keepsBytes = (mode == Unencodable::kEscape || mode == Unencodable::kWtf8) &&
                            cp >= 0xD800 && cp <= 0xDFFF;
    if (!keepsBytes && AppendBytesForCodePoint(cp, out)) continue;
    if (!AppendUnencodable(cp, mode, out)) return false;
  }
  return true;
}

bool NeedsPercentEscape(wchar_t c) {
  const char32_t cp = Unit(c);
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == U'%';
}

// '%' and two hex digits for each UTF-8 byte of `c` (one of those
// NeedsPercentEscape names: one or two bytes).
void AppendPercentEscape(wchar_t c, std::string& out) {
  std::string bytes;
  AppendBytesForCodePoint(Unit(c), bytes);
  AppendPercentBytes(bytes, out);
}

}  // namespace

std::optional<std::string> BytesFromWide(std::wstring_view text) {
  std::string out;
  if (!EncodeWide(text, Unencodable::kStop, out)) return std::nullopt;
  return out;
}

std::string BytesFromWideReplacing(std::wstring_view text) {
  std::string out;
  EncodeWide(text, Unencodable::kReplace, out);
  return out;
}

void AppendBytesFromWideReplacing(std::wstring_view text, std::string& out) {
  EncodeWide(text, Unencodable::kReplace, out);
}

std::string Wtf8FromWide(std::wstring_view text) {
  std::string out;
  EncodeWide(text, Unencodable::kWtf8, out);
  return out;
}

std::wstring WideFromWtf8(std::string_view bytes) {
  if constexpr (sizeof(wchar_t) >= 4) return WideFromBytes(bytes);
  std::wstring out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    // A surrogate's three bytes: ED, then A0..BF, then a continuation byte.
    if (b0 == 0xED && bytes.size() - i >= 3 &&
        (static_cast<unsigned char>(bytes[i + 1]) & 0xE0) == 0xA0 &&
        IsContinuation(static_cast<unsigned char>(bytes[i + 2]))) {
      out += static_cast<wchar_t>(0xD000 | ((bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F));
      i += 3;
      continue;
    }
    AppendWideCodePoint(NextCodePoint(bytes, i), out);
  }
  return out;
}

void AppendPercentEscaped(std::wstring_view text, std::string& out) {
  WidePieceEncoder encoder;
  encoder.AppendPercentEscaped(text, out);
  encoder.Finish(out);
}

void WidePieceEncoder::Encode(std::wstring_view piece, bool escaped, std::string& out) {
  if (piece.empty()) return;
  // A high surrogate waiting from the last piece is encoded as that piece
  // was, unless this piece starts with its low half.
  if (m_high != 0 && !IsLowSurrogate(Unit(piece[0]))) Finish(out);
  EncodeWide(piece, escaped ? Unencodable::kEscape : Unencodable::kReplace, out, &m_high);
  m_highEscaped = escaped;
}

void WidePieceEncoder::Append(std::wstring_view piece, std::string& out) {
  Encode(piece, false, out);
}

void WidePieceEncoder::AppendPercentEscaped(std::wstring_view piece, std::string& out) {
  for (;;) {
    // Printable ASCII leaves nothing waiting and needs no escape.
    if (m_high == 0) piece.remove_prefix(AppendAsciiRun(piece, Run::kPlainPrintable, out));
    if (piece.empty()) return;
    std::size_t plain = 0;
    while (plain < piece.size() && !NeedsPercentEscape(piece[plain])) ++plain;
    Encode(piece.substr(0, plain), true, out);
    if (plain == piece.size()) return;
    Finish(out);  // a high surrogate before an escaped character stands alone
    AppendPercentEscape(piece[plain], out);
    piece.remove_prefix(plain + 1);
  }
}

void WidePieceEncoder::Finish(std::string& out) {
  if (m_high == 0) return;
  AppendUnencodable(Unit(m_high), m_highEscaped ? Unencodable::kEscape : Unencodable::kReplace,
                    out);
  m_high = 0;
}

}  // namespace veltrano
