#include "run/Journal.h"

#include <string_view>
#include <unordered_map>

#include "platform/WideText.h"

namespace veltrano {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A path as the journal escapes it, back to wide text; nothing when it is
// not well formed (a bare '%', a control character).
std::optional<std::wstring> DecodePath(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) < 0x20) return std::nullopt;
    if (text[i] != '%') {
      bytes += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
    const int low = high < 0 ? -1 : HexDigit(text[i + 2]);
    if (low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (bytes.empty()) return std::nullopt;
  return WideFromWtf8(bytes);
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t at = 0;;) {
    const std::size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab - at));
    if (tab == std::string_view::npos) return fields;
    at = tab + 1;
  }
}

}  // namespace

bool JournalWriter::BeforeStamp(const std::wstring& file, const ExactTime& old,
                                const ExactTime& asked) {
  m_line = "stamp\t" + ExactTimeText(old) + '\t' + ExactTimeText(asked) + '\t';
  AppendPercentEscaped(file, m_line);
  return Write();
}

void JournalWriter::AfterStamp(const std::wstring& file, const ExactTime& readBack) {
  m_line = "read\t" + ExactTimeText(readBack) + '\t';
  AppendPercentEscaped(file, m_line);
  Write();
}

bool JournalWriter::Write() {
  m_line += kLogLineBreak;
  if (!m_failed && !(m_file.IsOpen() && m_file.Append(m_line))) m_failed = true;
  return !m_failed;
}

Journal ParseJournal(const std::string& text) {
  Journal journal;
  std::unordered_map<std::wstring, std::size_t> lastStamp;  // path -> entry
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const std::vector<std::string_view> f = Fields(line);
    bool understood = false;
    if (f[0] == "stamp" && f.size() == 4) {
      const auto old = ParseExactTime(f[1]);
      const auto asked = ParseExactTime(f[2]);
      auto path = DecodePath(f[3]);
      if (old && asked && path) {
        lastStamp[*path] = journal.entries.size();
        journal.entries.push_back({std::move(*path), *old, *asked, std::nullopt});
        understood = true;
      }
    } else if (f[0] == "read" && f.size() == 3) {
      const auto now = ParseExactTime(f[1]);
      const auto path = DecodePath(f[2]);
      const auto stamp = path ? lastStamp.find(*path) : lastStamp.end();
      if (now && stamp != lastStamp.end()) {
        journal.entries[stamp->second].readBack = *now;
        understood = true;
      }
    }
    if (!understood) journal.badLines.push_back(number);
  }
  return journal;
}

}  // namespace veltrano
