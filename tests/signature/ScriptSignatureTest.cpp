#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/signature/ScriptSignature.h"
#include "tests/fixtures/ReadCounter.h"
#include "tests/fixtures/ScriptBuilder.h"

namespace veltrano {
namespace {

using fixtures::Bytes;
using fixtures::ScriptForm;
using fixtures::TextEncoding;

// Any bytes do; 301 bytes make the base64 end in padding and span lines.
Bytes Pkcs7(std::uint8_t seed = 0) {
  Bytes b(301);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13);
  b[0] = 0x30;
  return b;
}

std::optional<Bytes> Locate(const Bytes& file, std::wstring_view path) {
  return LocateScriptSignature(MemorySource(file.data(), file.size()), path);
}

std::string Replace(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Each extension reads its signer's comment form, in any letter case, in
// each text encoding and with each kind of line break.
TEST(ScriptSignature, EachExtensionFormEncodingAndLineBreakIsRead) {
  using enum ScriptForm;
  using enum TextEncoding;
  struct Case {
    const wchar_t* path;
    ScriptForm form = kHash;
    TextEncoding encoding = kUtf8;
    const char* newline = "\r\n";
    const char* body = "Write-Host 'hi'";
  };
  const Case cases[] = {
      {L"/scripts/setup.ps1"},
      {L"module.psm1"},
      {L"manifest.psd1"},
      {L"types.ps1xml", kXmlComment},
      {L"console.psc1", kXmlComment},
      {L"cmdlets.cdxml", kXmlComment},
      {L"tool.js", kJScript},
      {L"tool.vbs", kVbScript},
      {L"job.wsf", kWsfElement},
      {L"job.wsf", kXmlComment},
      {L"/A.B/SETUP.PS1"},
      {L"Types.Ps1Xml", kXmlComment},
      {L"TOOL.JS", kJScript},
      {L".ps1"},
      {L"bom.ps1", kHash, kUtf8Bom, "\r\n", "Write-Host '\xE4\xBD\xA0'"},
      {L"le.ps1", kHash, kUtf16Le, "\r\n", "Write-Host '\xE6\x96\x87\xE4\xBB\xB6'"},
      {L"be.ps1", kHash, kUtf16Be, "\r\n", "Write-Host '\xF0\x9F\x98\x80'"},
      {L"lf.ps1", kHash, kUtf8, "\n"},
      {L"cr.ps1", kHash, kUtf16Le, "\r"},
      {L"empty.ps1", kHash, kUtf8, "\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.path << " form " << static_cast<int>(c.form));
    fixtures::ScriptOptions o;
    o.form = c.form;
    o.encoding = c.encoding;
    o.newline = c.newline;
    o.body = c.body;
    if (c.form == kWsfElement) {
      o.body = "<job id=\"main\">\r\n<script language=\"JScript\">WScript.Echo(1);</script>";
      o.trailer = "</job>\r\n";
    }
    const auto found = Locate(fixtures::BuildSignedScript(Pkcs7(), o), c.path);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, Pkcs7());
  }
}

TEST(ScriptSignature, TheLastBlockCountsAndTextAfterItIsIgnored) {
  const std::string first = fixtures::SignatureBlock(Pkcs7(1), ScriptForm::kHash);
  const std::string last = fixtures::SignatureBlock(Pkcs7(2), ScriptForm::kHash);
  const std::string text =
      "Write-Host 1\r\n" + first + "Write-Host 2\r\n" + last + "\r\n# done\r\n";
  const auto found = Locate(fixtures::EncodeText(text, TextEncoding::kUtf8), L"a.ps1");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, Pkcs7(2));

  // A broken last block is not rescued by an earlier good one.
  const std::string broken = Replace(last, "# SIG # End signature block", "");
  EXPECT_FALSE(
      Locate(fixtures::EncodeText(first + broken, TextEncoding::kUtf8), L"a.ps1").has_value());
}

TEST(ScriptSignature, WsfElementMayBeIndented) {
  std::string block = fixtures::SignatureBlock(Pkcs7(), ScriptForm::kWsfElement);
  std::string indented;
  for (std::size_t start = 0; start < block.size();) {
    const std::size_t end = block.find("\r\n", start) + 2;
    indented += "\t  " + block.substr(start, end - start);
    start = end;
  }
  const std::string text = "<job>\r\n<script>x();</script>\r\n" + indented + "</job>\r\n";
  const auto found = Locate(fixtures::EncodeText(text, TextEncoding::kUtf8), L"a.wsf");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, Pkcs7());
}

TEST(ScriptSignature, MalformedOrMismatchedScriptsGiveNothing) {
  const std::string good =
      "Write-Host 1\r\n" + fixtures::SignatureBlock(Pkcs7(), ScriptForm::kHash);
  const std::string b64 = fixtures::Base64Encode(Pkcs7());
  const std::string firstData = "# " + b64.substr(0, 64);
  const std::string lastData = "# " + b64.substr(b64.size() - b64.size() % 64);
  struct Case {
    const char* what;
    const wchar_t* path;
    std::function<Bytes()> file;
  };
  auto utf8 = [](const std::string& s) { return fixtures::EncodeText(s, TextEncoding::kUtf8); };
  const Case cases[] = {
      {"unknown extension", L"a.txt", [&] { return utf8(good); }},
      {"extension of a folder", L"dir.ps1/readme", [&] { return utf8(good); }},
      {"extension not last", L"a.ps1.bak", [&] { return utf8(good); }},
      {"PowerShell block in a JScript file", L"a.js", [&] { return utf8(good); }},
      {"no block", L"a.ps1", [&] { return utf8("Write-Host 1\r\n"); }},
      {"missing end line", L"a.ps1",
       [&] { return utf8(Replace(good, "# SIG # End signature block\r\n", "")); }},
      {"empty block", L"a.ps1",
       [&] { return utf8("# SIG # Begin signature block\r\n# SIG # End signature block\r\n"); }},
      {"blank line inside the block", L"a.ps1",
       [&] { return utf8(Replace(good, firstData, firstData + "\r\n")); }},
      {"other comment inside the block", L"a.ps1",
       [&] { return utf8(Replace(good, firstData, firstData + "\r\n# -- note --")); }},
      {"character outside base64", L"a.ps1",
       [&] { return utf8(Replace(good, firstData, "# !" + firstData.substr(3))); }},
      {"base64 length not a multiple of four", L"a.ps1",
       [&] { return utf8(Replace(good, firstData, firstData.substr(0, firstData.size() - 1))); }},
      {"padding in the middle", L"a.ps1",
       [&] { return utf8(Replace(good, firstData, firstData.substr(0, 62) + "==")); }},
      {"non-zero bits under the padding", L"a.ps1",
       [&] {
         std::string changed = lastData;
         changed[changed.size() - 3] = changed[changed.size() - 3] == 'B' ? 'C' : 'B';
         return utf8(Replace(good, lastData, changed));
       }},
      {"UTF-16 without a byte-order mark", L"a.ps1",
       [&] {
         Bytes b = fixtures::EncodeText(good, TextEncoding::kUtf16Le);
         return Bytes(b.begin() + 2, b.end());
       }},
      {"big-endian mark on little-endian text", L"a.ps1",
       [&] {
         Bytes b = fixtures::EncodeText(good, TextEncoding::kUtf16Le);
         b[0] = 0xFE;
         b[1] = 0xFF;
         return b;
       }},
      {"marker lines in another letter case", L"a.ps1",
       [&] { return utf8(Replace(good, "Begin signature block", "begin signature block")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(Locate(c.file(), c.path).has_value());
  }
}

TEST(ScriptSignature, SizeLimitIsCheckedBeforeReading) {
  // A script exactly at the limit is read; the signature ends it.
  const std::string block = fixtures::SignatureBlock(Pkcs7(), ScriptForm::kHash);
  std::string text(kMaxScriptBytes - block.size() - 2, 'x');
  text += "\r\n" + block;
  ASSERT_EQ(text.size(), kMaxScriptBytes);
  const Bytes atLimit = fixtures::EncodeText(text, TextEncoding::kUtf8);
  EXPECT_TRUE(Locate(atLimit, L"big.ps1").has_value());

  // One byte more is refused without reading anything.
  fixtures::CountingSource over(atLimit, kMaxScriptBytes + 1);
  EXPECT_FALSE(LocateScriptSignature(over, L"big.ps1").has_value());
  EXPECT_EQ(over.Reads(), 0u);
}

}  // namespace
}  // namespace veltrano
