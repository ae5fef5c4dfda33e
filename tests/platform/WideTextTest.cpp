#include "platform/WideText.h"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(WideText, ValidUtf8DecodesToCodePoints) {
  EXPECT_EQ(WideFromBytes("abc"), L"abc");
  EXPECT_EQ(WideFromBytes("\xE6\x96\x87\xE4\xBB\xB6"), L"\u6587\u4EF6");
  std::wstring emoji;
  AppendWideCodePoint(0x1F600, emoji);  // a surrogate pair where wchar_t is 16-bit
  EXPECT_EQ(WideFromBytes("\xF0\x9F\x98\x80"), emoji);
  EXPECT_EQ(BytesFromWide(emoji), "\xF0\x9F\x98\x80");
}

TEST(WideText, EveryByteSequenceSurvivesTheRoundTrip) {
  // Invalid lead bytes, truncated sequences, overlong forms, encoded
  // surrogates and bytes that look like escapes once decoded.
  const std::string cases[] = {
      "\xFF",         "a\x80z",           "\xE6\x96",         "\xC0\xAF",
      "\xED\xB2\x80", "\xF4\x90\x80\x80", "\xE6\x96\x87\xFF", std::string("x\0y", 3),
      "\xED\xA0\x80", "\xED\xBF\xBF",  // the first and the last surrogate
  };
  for (const std::string& bytes : cases) {
    const std::wstring wide = WideFromBytes(bytes);
    const auto back = BytesFromWide(wide);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, bytes);
  }
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(BytesFromWide(WideFromBytes(all)), all);
}

TEST(WideText, InvalidBytesBecomeEscapeCodePoints) {
  EXPECT_EQ(WideFromBytes("a\xFF"), std::wstring(L"a") + static_cast<wchar_t>(0xDCFF));
}

TEST(WideText, CodePointsWithoutEncodingAreRefused) {
  EXPECT_FALSE(BytesFromWide(std::wstring(1, static_cast<wchar_t>(0xD800))).has_value());
  EXPECT_FALSE(BytesFromWide(std::wstring(1, static_cast<wchar_t>(0xDC7F))).has_value());
  EXPECT_FALSE(BytesFromWide(std::wstring(1, static_cast<wchar_t>(0xDFFF))).has_value());
  if constexpr (sizeof(wchar_t) == 4) {
    EXPECT_FALSE(BytesFromWide(std::wstring(1, static_cast<wchar_t>(0x110000))).has_value());
  }
  // For output such a code point becomes U+FFFD; escapes still give their byte.
  const std::wstring mixed =
      std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b" + static_cast<wchar_t>(0xDCFF);
  EXPECT_EQ(BytesFromWideReplacing(mixed),
            "a\xEF\xBF\xBD"
            "b\xFF");
}

// The log writes a line in pieces: a surrogate pair cut between two pieces
// (16-bit wchar_t) is still one character, escaped or not. Escaped, text that
// is not valid Unicode comes out as the percent escapes of its bytes: a lone
// surrogate as its WTF-8, an undecodable name byte (Linux) as that byte. (Wine
// cannot make a file whose name holds a lone surrogate: the Windows build
// shows its escape here only.)
TEST(WideText, TextInPiecesEncodesAsTheWhole) {
  std::wstring text = L"a";
  AppendWideCodePoint(0x1F600, text);
  text += static_cast<wchar_t>(0xD800);  // a lone high surrogate, before '%'
  text += L"%\n";
  text += static_cast<wchar_t>(0xDCFF);  // an undecodable name byte
  const std::string plain = "a\xF0\x9F\x98\x80\xEF\xBF\xBD%\n\xFF";
  const std::string escaped = std::string("a\xF0\x9F\x98\x80%ED%A0%80%25%0A") +
                              (sizeof(wchar_t) == 2 ? "%ED%B3%BF" : "%FF");
  std::string whole;
  AppendPercentEscaped(text, whole);
  EXPECT_EQ(whole, escaped);
  // Windows's arguments reach the option parser as WTF-8 and come back whole,
  // also two lone halves whose low bytes would read as one character.
  if constexpr (sizeof(wchar_t) == 2) {
    const std::wstring halves = text + L"\xDCC3\xDCA9";
    EXPECT_EQ(WideFromWtf8(Wtf8FromWide(halves)), halves);
  }
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    const std::wstring_view first = std::wstring_view(text).substr(0, cut);
    const std::wstring_view rest = std::wstring_view(text).substr(cut);
    WidePieceEncoder encoder;
    std::string bytes;
    encoder.Append(first, bytes);
    encoder.Append(rest, bytes);
    encoder.Finish(bytes);
    EXPECT_EQ(bytes, plain) << cut;
    bytes.clear();
    encoder.AppendPercentEscaped(first, bytes);
    encoder.AppendPercentEscaped(rest, bytes);
    encoder.Finish(bytes);
    EXPECT_EQ(bytes, escaped) << cut;
  }
}

// ASCII is tested and narrowed eight units at a time: a unit that ends such a
// run, at any place in a longer text, comes out as it does alone. U+10041 and
// U+FF41 hold an ASCII letter in their low bits.
TEST(WideText, AsciiRunsEndAtTheirFirstOtherUnit) {
  std::wstring others = L"\x1F\x7F%\n\x80\xFF41\x6587";
  if constexpr (sizeof(wchar_t) == 4) others += static_cast<wchar_t>(0x10041);
  const auto escaped = [](std::wstring_view text) {
    std::string out;
    AppendPercentEscaped(text, out);
    return out;
  };
  for (const wchar_t other : others) {
    for (std::size_t at = 0; at < 20; ++at) {
      std::wstring text(20, L'a');
      text[at] = other;
      const std::string before(at, 'a'), after(19 - at, 'a');
      EXPECT_EQ(escaped(text), before + escaped({&other, 1}) + after) << at;
      EXPECT_EQ(BytesFromWideReplacing(text), before + BytesFromWideReplacing({&other, 1}) + after);
    }
  }
}

}  // namespace
}  // namespace veltrano
