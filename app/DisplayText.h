// Wide text as the controls show it.
//
// File names that are not valid UTF-8 reach the program with their odd bytes
// carried as the code points U+DC80..U+DCFF (platform/WideText.h). A lone
// surrogate cannot be handed to the toolkit (GTK takes UTF-8), so the
// controls show U+FFFD in its place; the program's own strings keep the
// original code points. Surrogate pairs (UTF-16 on Windows) stay as they are.
#pragma once

#include <wx/string.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

inline wxString DisplayText(std::wstring_view text) {
  auto isHigh = [](wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; };
  auto isLow = [](wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
  auto isSurrogate = [](wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; };
  if (std::none_of(text.begin(), text.end(), isSurrogate)) {
    return wxString(text.data(), text.size());
  }
  std::wstring shown(text);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if constexpr (sizeof(wchar_t) == 2) {
      if (isHigh(shown[i]) && i + 1 < shown.size() && isLow(shown[i + 1])) {
        ++i;
        continue;
      }
    }
    if (isHigh(shown[i]) || isLow(shown[i])) shown[i] = L'\uFFFD';
  }
  return wxString(shown);
}
