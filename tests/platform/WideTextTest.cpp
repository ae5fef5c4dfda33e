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

}  // namespace
}  // namespace veltrano
