// Wide text as the controls show it.
//
// File names that are not valid UTF-8 reach the program with their odd bytes
// carried as the code points U+DC80..U+DCFF (platform/WideText.h). A lone
// surrogate cannot be handed to the toolkit (GTK takes UTF-8), so the
// controls show U+FFFD in its place; the program's own strings keep the
// original code points.
#pragma once

#include <wx/string.h>

#include <cstdint>
#include <string>
#include <string_view>

inline wxString DisplayText(std::wstring_view text) {
  std::wstring shown(text);
  for (wchar_t& c : shown) {
    const auto cp = static_cast<std::uint32_t>(c);
    if (cp >= 0xD800 && cp <= 0xDFFF) c = L'\uFFFD';
  }
  return wxString(shown);
}
