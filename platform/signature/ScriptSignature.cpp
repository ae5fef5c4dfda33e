// Locating the Authenticode signature of a signed script.
//
// Script signers append the PKCS#7 as base64 text in the script's own comment
// syntax, one line at a time, between a begin line and an end line:
//
//   # SIG # Begin signature block          (.ps1 .psm1 .psd1)
//   # MIIF...
//   # SIG # End signature block
//
//   <!-- SIG # Begin signature block -->   (.ps1xml .psc1 .cdxml, and .wsf)
//   <!-- MIIF... -->
//   <!-- SIG # End signature block -->
//
//   // SIG // Begin signature block        (.js; .vbs the same with '' SIG '')
//   // SIG // MIIF...
//   // SIG // End signature block
//
//   <signature>                            (.wsf, inside its <job> element)
//   ** SIG ** MIIF...
//   </signature>
//
// The block read is the last begin line in the file and the lines up to its
// end line; every line in between must be a data line. Text after the end
// line is ignored.
#include "platform/signature/ScriptSignature.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace veltrano {
namespace {

struct BlockForm {
  std::string_view begin;
  std::string_view end;
  std::string_view prefix;  // a data line is prefix + base64 + suffix
  std::string_view suffix;
  bool indented;  // XML element form: lines may be indented
};

constexpr BlockForm kHashForm{"# SIG # Begin signature block", "# SIG # End signature block", "# ",
                              "", false};
constexpr BlockForm kXmlCommentForm{"<!-- SIG # Begin signature block -->",
                                    "<!-- SIG # End signature block -->", "<!-- ", " -->", false};
constexpr BlockForm kJScriptForm{"// SIG // Begin signature block", "// SIG // End signature block",
                                 "// SIG // ", "", false};
constexpr BlockForm kVbScriptForm{"'' SIG '' Begin signature block",
                                  "'' SIG '' End signature block", "'' SIG '' ", "", false};
constexpr BlockForm kWsfElementForm{"<signature>", "</signature>", "** SIG ** ", "", true};

struct ExtensionForms {
  std::wstring_view extension;  // lower case, with the dot
  const BlockForm* first;
  const BlockForm* second;  // or null
};

constexpr std::array<ExtensionForms, 9> kExtensions = {{
    {L".ps1", &kHashForm, nullptr},
    {L".psm1", &kHashForm, nullptr},
    {L".psd1", &kHashForm, nullptr},
    {L".ps1xml", &kXmlCommentForm, nullptr},
    {L".psc1", &kXmlCommentForm, nullptr},
    {L".cdxml", &kXmlCommentForm, nullptr},
    {L".js", &kJScriptForm, nullptr},
    {L".vbs", &kVbScriptForm, nullptr},
    {L".wsf", &kWsfElementForm, &kXmlCommentForm},
}};

const ExtensionForms* FormsFor(std::wstring_view path) {
  std::size_t nameStart = path.find_last_of(L'/');
#ifdef _WIN32
  const std::size_t backslash = path.find_last_of(L'\\');
  if (backslash != std::wstring_view::npos &&
      (nameStart == std::wstring_view::npos || backslash > nameStart))
    nameStart = backslash;
#endif
  const std::wstring_view name =
      nameStart == std::wstring_view::npos ? path : path.substr(nameStart + 1);
  const std::size_t dot = name.find_last_of(L'.');
  if (dot == std::wstring_view::npos) return nullptr;
  const std::wstring_view extension = name.substr(dot);
  const auto lower = [](wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
  };
  for (const ExtensionForms& e : kExtensions) {
    if (std::equal(e.extension.begin(), e.extension.end(), extension.begin(), extension.end(),
                   [&lower](wchar_t known, wchar_t c) { return known == lower(c); })) {
      return &e;
    }
  }
  return nullptr;
}

// The script as one byte per character. UTF-16 text (recognised by its
// byte-order mark) keeps its ASCII characters and turns every other code
// unit into 0xFF, which no marker or base64 line contains; 8-bit text (UTF-8
// or a code page) is used as it is, without a UTF-8 byte-order mark.
std::string NarrowText(const std::vector<std::uint8_t>& bytes) {
  const std::size_t n = bytes.size();
  const bool le = n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  const bool be = n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
  std::string text;
  if (le || be) {
    text.reserve(n / 2);
    for (std::size_t i = 2; i + 1 < n; i += 2) {
      const unsigned unit =
          le ? (bytes[i] | (bytes[i + 1] << 8)) : ((bytes[i] << 8) | bytes[i + 1]);
      text.push_back(unit < 0x80 ? static_cast<char>(unit) : '\xFF');
    }
    return text;
  }
  const std::size_t skip = (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF);
  text.assign(bytes.begin() + static_cast<std::ptrdiff_t>(skip * 3), bytes.end());
  return text;
}

// Walks the lines of a text; CR LF, LF and CR each end a line.
class LineReader {
 public:
  explicit LineReader(std::string_view text, std::size_t from = 0) : text_(text), pos_(from) {}
  // The next line without its line break, or false at the end of the text.
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t stop = pos_;
    while (stop < text_.size() && text_[stop] != '\n' && text_[stop] != '\r') ++stop;
    line = text_.substr(pos_, stop - pos_);
    if (stop == text_.size()) {
      pos_ = stop;
    } else {
      pos_ = stop + 1;
      if (text_[stop] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    }
    return true;
  }
  std::size_t Position() const { return pos_; }

 private:
  std::string_view text_;
  std::size_t pos_;
};

std::string_view TrimBlanks(std::string_view s, bool leading) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  while (leading && !s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base64 with padding; nothing for any other character, a length
// that is not a multiple of four, misplaced padding or non-zero pad bits.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view s) {
  if (s.empty() || s.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (s.back() == '=') padding = s[s.size() - 2] == '=' ? 2 : 1;
  std::vector<std::uint8_t> out;
  out.reserve(s.size() / 4 * 3);
  for (std::size_t i = 0; i < s.size(); i += 4) {
    const bool last = i + 4 == s.size();
    const std::size_t digits = last ? 4 - padding : 4;
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      int v = 0;
      if (j < digits) {
        v = Base64Value(s[i + j]);
        if (v < 0) return std::nullopt;
      }
      group = (group << 6) | static_cast<std::uint32_t>(v);
    }
    if (digits == 2 && (group & 0xFFFF) != 0) return std::nullopt;
    if (digits == 3 && (group & 0xFF) != 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(group >> 16));
    if (digits >= 3) out.push_back(static_cast<std::uint8_t>(group >> 8));
    if (digits == 4) out.push_back(static_cast<std::uint8_t>(group));
  }
  return out;
}

// Whether `line` is the marker line `wanted`, under the form's indentation rule.
bool IsLine(std::string_view line, std::string_view wanted, const BlockForm& form) {
  return TrimBlanks(line, form.indented) == wanted;
}

}  // namespace

bool IsOversizedScript(const FileSource& file, std::wstring_view path) {
  return FormsFor(path) != nullptr && file.Size() > kMaxScriptBytes;
}

std::optional<std::vector<std::uint8_t>> LocateScriptSignature(const FileSource& file,
                                                               std::wstring_view path) {
  const ExtensionForms* forms = FormsFor(path);
  if (forms == nullptr) return std::nullopt;
  if (file.Size() > kMaxScriptBytes) return std::nullopt;
  const auto bytes = file.Read(0, file.Size());
  if (!bytes) return std::nullopt;
  const std::string text = NarrowText(*bytes);

  // Find the last begin line of either form.
  const BlockForm* form = nullptr;
  std::size_t blockStart = 0;
  LineReader scan(text);
  for (std::string_view line; scan.Next(line);) {
    for (const BlockForm* f : {forms->first, forms->second}) {
      if (f != nullptr && IsLine(line, f->begin, *f)) {
        form = f;
        blockStart = scan.Position();
      }
    }
  }
  if (form == nullptr) return std::nullopt;

  std::string base64;
  LineReader block(text, blockStart);
  for (std::string_view line; block.Next(line);) {
    line = TrimBlanks(line, form->indented);
    if (line == form->end) return DecodeBase64(base64);
    if (line.size() <= form->prefix.size() + form->suffix.size() ||
        !line.starts_with(form->prefix) || !line.ends_with(form->suffix))
      return std::nullopt;
    line.remove_prefix(form->prefix.size());
    line.remove_suffix(form->suffix.size());
    base64.append(line);
  }
  return std::nullopt;  // no end line
}

}  // namespace veltrano
