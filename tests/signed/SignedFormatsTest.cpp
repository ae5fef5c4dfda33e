// Cabinets, installer packages and scripts signed by real tools (gcab,
// msibuild and osslsigncode, with the loopback legacy timestamp server)
// through the inspector's chain: each is stamped with openssl's reading of
// its counter-signature, and the malformed copies are refused by the query
// and left exactly as they were.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "platform/Win32.h"
#include "tests/fixtures/TempDir.h"
#include "tests/support/Inspection.h"

namespace veltrano::testing {
namespace {
namespace fs = std::filesystem;

struct FormatCase {
  const char* file;
  Step stopsAt;
  std::optional<std::wstring> programName;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.file; }

std::string CaseName(const ::testing::TestParamInfo<FormatCase>& info) {
  std::string name;
  for (const unsigned char ch : std::string(info.param.file))
    name += std::isalnum(ch) ? static_cast<char>(ch) : '_';
  return name + "_" + std::to_string(info.index);
}

// file name -> openssl's reading of the signing time ("-" for none).
std::map<std::string, std::string> ReadManifest() {
  const fs::path manifest = fs::path(VELTRANO_FORMATS_DIR) / "manifest.tsv";
  std::ifstream in(manifest);
  std::map<std::string, std::string> out;
  for (std::string line; std::getline(in, line);) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) out[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return out;
}

class SignedFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SignedFormats, AreStampedOrLeftAlone) {
  const FormatCase& c = GetParam();
  const auto manifest = ReadManifest();
  ASSERT_TRUE(manifest.contains(c.file))
      << c.file << " is not in the manifest: run through ctest, whose set-up test "
      << "signed_inputs.formats makes the inputs";
  const std::string opensslTime = manifest.at(c.file);

  fixtures::TempDir work;
  const fs::path copy = work / c.file;
  fs::copy_file(fs::path(VELTRANO_FORMATS_DIR) / c.file, copy);
  const std::string content = ReadBytes(copy);
  SetStamps(copy, DistinctStamps());
  const FileStamps before = StampsOf(copy);

  Inspection result;
  {
    CurrentDirectory inWork(work.path());
    result = InspectFile(copy);
  }
  const FileStamps after = StampsOf(copy);

  EXPECT_EQ(result.stoppedAt, c.stopsAt);
  EXPECT_EQ(result.programName, c.programName);
  EXPECT_TRUE(after.access == before.access) << "access time changed";
  EXPECT_EQ(ReadBytes(copy), content) << "content changed";
  std::string log = HeaderLine(copy);
  if (c.stopsAt == Step::Done) {
    ASSERT_NE(opensslTime, "-");
    EXPECT_EQ(after.modification.tv_sec, std::stoll(opensslTime));
    EXPECT_EQ(after.modification.tv_nsec, 0);
  } else {
    EXPECT_TRUE(after.modification == before.modification) << "modification time changed";
  }
  if (c.stopsAt == Step::Query) {
    EXPECT_EQ(result.lastError, static_cast<DWORD>(CRYPT_E_NO_MATCH));
    log += "Certificate[74]:\nCryptQueryObject failed with ErrorCode[0x80092009]\n";
  }
  EXPECT_EQ(ReadBytes(work / "CertificateLog.log"), log);
}

const std::wstring kCab = L"Veltrano CAB";
const std::wstring kMsi = L"Veltrano MSI";
const std::wstring kScript = L"Veltrano Script";
const std::wstring kWsh = L"Veltrano WSH";

INSTANTIATE_TEST_SUITE_P(
    RealTools, SignedFormats,
    ::testing::Values(
        // gcab + osslsigncode: the reserve area points past the cabinet data.
        FormatCase{"signed.cab", Step::Done, kCab}, FormatCase{"signed-2049.cab", Step::Done, {}},
        FormatCase{"untimestamped.cab", Step::CounterSigner, kCab},
        // msibuild + osslsigncode; with and without the extended signature
        // stream; a 3 MiB package.
        FormatCase{"signed.msi", Step::Done, kMsi}, FormatCase{"signed-dse.msi", Step::Done, kMsi},
        FormatCase{"signed-large.msi", Step::Done, kMsi},
        // PowerShell: UTF-8 with and without a byte-order mark, UTF-16, an
        // upper-case extension, a Chinese name, and the XML comment form.
        FormatCase{"signed.ps1", Step::Done, kScript},
        FormatCase{"signed-bom.psm1", Step::Done, kScript},
        FormatCase{"signed.psd1", Step::Done, kScript},
        FormatCase{"signed-utf16.PS1", Step::Done, kScript},
        FormatCase{"\xE7\xAD\xBE\xE5\x90\x8D\xE8\x84\x9A\xE6\x9C\xAC.ps1", Step::Done, kScript},
        FormatCase{"signed.ps1xml", Step::Done, kScript},
        FormatCase{"signed.psc1", Step::Done, kScript},
        FormatCase{"signed.cdxml", Step::Done, kScript},
        // Windows Script Host forms around a real signer's PKCS#7.
        FormatCase{"signed.js", Step::Done, kWsh}, FormatCase{"signed.vbs", Step::Done, kWsh},
        FormatCase{"signed.wsf", Step::Done, kWsh},
        // Malformed and unsigned: the query fails, nothing changes.
        FormatCase{"cut-in-half.msi", Step::Query, {}},
        FormatCase{"reserve-past-end.cab", Step::Query, {}},
        FormatCase{"broken-base64.ps1", Step::Query, {}},
        FormatCase{"no-end-line.ps1", Step::Query, {}}, FormatCase{"unsigned.cab", Step::Query, {}},
        FormatCase{"unsigned.msi", Step::Query, {}}),
    CaseName);

// The headless command over a folder holding all of them: one row per file,
// the new time in cell 2 for the stamped ones and "-" for the rest.
TEST(SignedFormatsBatch, TheHeadlessCommandStampsTheFolder) {
  const auto manifest = ReadManifest();
  ASSERT_FALSE(manifest.empty()) << "run through ctest (set-up test signed_inputs.formats)";
  fixtures::TempDir data;
  fixtures::TempDir work;
  std::map<std::string, std::string> contents;
  for (const auto& [name, time] : manifest) {
    fs::copy_file(fs::path(VELTRANO_FORMATS_DIR) / name, data / name);
    contents[name] = ReadBytes(data / name);
    SetStamps(data / name, DistinctStamps());
  }
  const FileStamps before = StampsOf(data / manifest.begin()->first);

  const std::string command = "cd '" + work.path().string() + "' && TZ=UTC '" + VELTRANO_BATCH_EXE +
                              "' '" + data.path().string() + "'";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // The old time is the same for every file (UTC, as set above).
  char oldText[32];
  const std::time_t oldTime = before.modification.tv_sec;
  std::strftime(oldText, sizeof oldText, "%Y/%m/%d %H:%M:%S", std::gmtime(&oldTime));
  std::string expected = "文件名\t原时间\t新时间\t路径\n";
  std::map<std::string, std::string> sorted;  // the walk lists names ignoring letter case
  for (const auto& [name, time] : manifest) {
    std::string key = name;
    for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string newText = "-";
    if (time != "-") {
      char text[32];
      const std::time_t t = std::stoll(time);
      std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", std::gmtime(&t));
      newText = text;
    }
    sorted[key] = name + "\t" + oldText + "\t" + newText + "\t" + data.path().string() + "\n";
  }
  for (const auto& [key, row] : sorted) expected += row;
  EXPECT_EQ(out, expected);

  for (const auto& [name, time] : manifest) {
    SCOPED_TRACE(name);
    const FileStamps after = StampsOf(data / name);
    EXPECT_EQ(ReadBytes(data / name), contents[name]) << "content changed";
    EXPECT_TRUE(after.access == before.access) << "access time changed";
    if (time == "-") {
      EXPECT_TRUE(after.modification == before.modification) << "modification time changed";
    } else {
      EXPECT_EQ(after.modification.tv_sec, std::stoll(time));
      EXPECT_EQ(after.modification.tv_nsec, 0);
    }
  }
}

}  // namespace
}  // namespace veltrano::testing
