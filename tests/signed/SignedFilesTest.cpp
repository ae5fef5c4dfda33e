// The inspector over files that real signers made: PE images signed by
// osslsigncode with test certificates and a loopback legacy timestamp server,
// Microsoft's own signed binaries, and cabinets, installer packages and
// scripts (gcab, msibuild, osslsigncode). Each file's stamped time must equal
// openssl's reading of the same signature (the set-up tests record it in each
// folder's manifest.tsv); the rest are left exactly as they were.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "platform/FileTimes.h"
#include "tests/fixtures/TempDir.h"
#include "tests/support/Inspection.h"

namespace veltrano::testing {
namespace {
namespace fs = std::filesystem;
using fixtures::TempDir;

// file name -> openssl's reading of the counter-signer's signing time
// (seconds since 1970 UTC), or nothing when it finds no legacy timestamp; and
// of the time the opt-in for modern timestamps takes (seconds, nanoseconds).
struct Times {
  std::optional<std::int64_t> legacy;
  std::optional<std::pair<std::int64_t, long>> modern;
};
using Manifest = std::map<std::string, Times>;

Manifest ReadManifest(const fs::path& dir) {
  std::ifstream in(dir / "manifest.tsv");
  Manifest manifest;
  for (std::string name, legacy, modern;
       std::getline(std::getline(std::getline(in, name, '\t'), legacy, '\t'), modern);) {
    Times& times = manifest[name];
    if (legacy != "-") times.legacy = std::stoll(legacy);
    // The fraction truncated to the 100 ns a file time holds.
    const std::string fraction =
        (modern.find('.') == std::string::npos ? "" : modern.substr(modern.find('.') + 1)) +
        "0000000";
    if (modern != "-") times.modern = {std::stoll(modern), std::stol(fraction.substr(0, 7)) * 100};
  }
  if (manifest.empty()) {
    ADD_FAILURE() << dir / "manifest.tsv"
                  << " is missing: run these tests through ctest, whose set-up tests "
                     "signed_inputs.* make the inputs";
  }
  return manifest;
}

struct Case {
  const char* file;
  std::optional<std::int64_t> time;  // what openssl must read (the time the signer was given)
  Step stopsAt;                      // Step::Done: stamped with that time
  std::optional<std::wstring> programName = {};
  std::optional<std::wstring> moreInfoLink = {};
  // The RFC 3161 or nested timestamp's time the opt-in stamps it with instead
  // (openssl must read its whole seconds).
  std::optional<std::int64_t> modernTime = {};
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.file; }

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const unsigned char ch : std::string(info.param.file))
    name += std::isalnum(ch) ? static_cast<char>(ch) : '_';
  return name + "_" + std::to_string(info.index);
}

// Copies the case's file from `dir` into a scratch folder, runs the chain on
// the copy with the log there, and checks times, content, log and opus copies;
// once as by default and once with the opt-in for modern timestamps.
void CheckInspection(const fs::path& dir, const Case& c) {
  const Manifest manifest = ReadManifest(dir);
  ASSERT_TRUE(manifest.contains(c.file)) << c.file << " is not in " << dir / "manifest.tsv";
  const Times& times = manifest.at(c.file);
  EXPECT_EQ(times.legacy, c.time) << "openssl's reading of the signature";
  EXPECT_EQ(times.modern ? std::optional(times.modern->first) : std::nullopt, c.modernTime);

  for (const bool rfc3161 : {false, true}) {
    SCOPED_TRACE(rfc3161 ? "with --rfc3161" : "by default");
    const bool modern = rfc3161 && times.modern;
    const Step stopsAt = modern ? Step::Done : c.stopsAt;
    const std::int64_t seconds = modern ? times.modern->first : c.time.value_or(0);
    TempDir work;
    const fs::path copy = work / c.file;
    fs::copy_file(dir / c.file, copy);
    const std::string content = ReadBytes(copy);
    SetStamps(copy, DistinctStamps());
    const FileStamps before = StampsOf(copy);

    Inspection result;
    {
      CurrentDirectory inWork(work.path());
      result = InspectFile(copy, {}, rfc3161);
    }
    const FileStamps after = StampsOf(copy);

    EXPECT_EQ(result.stoppedAt, stopsAt);
    EXPECT_EQ(result.programName, c.programName);
    EXPECT_EQ(result.moreInfoLink, c.moreInfoLink);
    EXPECT_TRUE(after.access == before.access) << "access time changed";
    EXPECT_EQ(ReadBytes(copy), content) << "content changed";
    std::string log = HeaderLine(copy);
    if (stopsAt == Step::Done) {
      ASSERT_TRUE(c.time.has_value() || modern);
      EXPECT_NE(result.stamped, FALSE);
      EXPECT_EQ(after.modification.tv_sec, seconds);
      EXPECT_EQ(after.modification.tv_nsec, modern ? times.modern->second : 0);
      EXPECT_EQ(result.newTime, TimeTextOfUnix(seconds));
    } else {
      EXPECT_TRUE(after.modification == before.modification) << "modification time changed";
    }
    if (stopsAt == Step::Query) {
      EXPECT_EQ(result.lastError, static_cast<DWORD>(CRYPT_E_NO_MATCH));
      log += "Certificate[74]:\nCryptQueryObject failed with ErrorCode[0x80092009]\n";
    }
    EXPECT_EQ(ReadBytes(work / "CertificateLog.log"), log);
  }
}

constexpr std::int64_t k20190405_060708 = 1554444428;  // the timestamp server's default
constexpr std::int64_t k19991231_235959 = 946684799;
constexpr std::int64_t k20491231_235959 = 2524607999;
const std::wstring kTestTool = L"Veltrano Test Tool";

// --- osslsigncode with our test CA and timestamp server ---------------------

class SelfmadeSignedFiles : public ::testing::TestWithParam<Case> {};

TEST_P(SelfmadeSignedFiles, EndAsTheirTimestampSays) {
  CheckInspection(VELTRANO_SELFMADE_DIR, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Osslsigncode, SelfmadeSignedFiles,
    ::testing::Values(
        Case{"legacy-pe32-sha1.exe", k20190405_060708, Step::Done, kTestTool,
             L"https://veltrano.invalid/more-info"},
        Case{"legacy-pe32plus-sha256.exe", k20190405_060708, Step::Done, L"Veltrano x64"},
        // Two-digit years: 99 is 1999, 49 is 2049.
        Case{"legacy-1999.exe", k19991231_235959, Step::Done, L"Veltrano 1999"},
        Case{"legacy-2049.exe", k20491231_235959, Step::Done, std::nullopt,
             L"https://veltrano.invalid/2049"},
        // 1904051407+0800: no seconds, and an offset that moves the instant.
        Case{"legacy-offset.exe", 1554444420, Step::Done, L"Veltrano +0800"},
        // Timestamped, but osslsigncode wrote no opus attribute without -n/-i.
        Case{"legacy-no-opus.exe", k20190405_060708, Step::OpusInfo},
        // An RFC 3161 timestamp is not a legacy counter-signature: no time
        // but with the opt-in; nor are nested signatures', the earlier of
        // which the opt-in takes only where signer 0 has no timestamp.
        Case{"rfc3161-pe32plus.exe", std::nullopt, Step::CounterSigner, L"Veltrano RFC 3161",
             std::nullopt, k20190405_060708},
        Case{"nested-rfc3161.exe", std::nullopt, Step::CounterSigner, L"Veltrano Nested",
             std::nullopt, 1554400000},
        Case{"legacy-nested-rfc3161.exe", k20190405_060708, Step::Done, L"Veltrano Dual"},
        Case{"untimestamped-pe32.exe", std::nullopt, Step::CounterSigner, kTestTool}),
    CaseName);

// --- Microsoft-signed files from the npm package signtool@1.0.0 ---------------

class MicrosoftSignedFiles : public ::testing::TestWithParam<Case> {};

TEST_P(MicrosoftSignedFiles, AreStampedWithTheirCounterSignersTime) {
  CheckInspection(VELTRANO_SIGNTOOL_DIR, GetParam());
}

// Microsoft's timestamps of March 2017.
const std::wstring kWindows = L"Microsoft Windows";
const std::wstring kWindowsLink = L"http://www.microsoft.com/windows";
INSTANTIATE_TEST_SUITE_P(
    SigntoolPackage, MicrosoftSignedFiles,
    ::testing::Values(Case{"x86-signtool.exe", 1490860422, Step::Done, kWindows, kWindowsLink},
                      Case{"x64-signtool.exe", 1490859973, Step::Done, kWindows, kWindowsLink},
                      Case{"x86-wintrust.dll", 1490860444, Step::Done, kWindows, kWindowsLink},
                      Case{"x64-mssign32.dll", 1490859952, Step::Done, kWindows, kWindowsLink},
                      // @vscode/vsce-sign-win32-x64: RFC 3161 only, genTime
                      // 2026-11-12 05:08:40.681Z.
                      Case{"vsce-sign.exe", std::nullopt, Step::CounterSigner, L"VS Code",
                           L"https://code.visualstudio.com/", 1794460120}),
    CaseName);

// --- cabinets, installer packages and scripts --------------------------------

class SignedFormats : public ::testing::TestWithParam<Case> {};

TEST_P(SignedFormats, AreStampedOrLeftAlone) { CheckInspection(VELTRANO_FORMATS_DIR, GetParam()); }

const std::wstring kCab = L"Veltrano CAB";
const std::wstring kMsi = L"Veltrano MSI";
const std::wstring kScript = L"Veltrano Script";
const std::wstring kWsh = L"Veltrano WSH";
constexpr std::int64_t k20350704_120000 = 2067163200;  // the script donor's timestamp
constexpr std::int64_t k20200913_122640 = 1600000000;

INSTANTIATE_TEST_SUITE_P(
    RealTools, SignedFormats,
    ::testing::Values(
        // gcab + osslsigncode: the reserve area points past the cabinet data.
        Case{"signed.cab", k20190405_060708, Step::Done, kCab},
        Case{"signed-2049.cab", k20491231_235959, Step::Done, {}, L"https://veltrano.invalid/cab"},
        Case{"untimestamped.cab", {}, Step::CounterSigner, kCab},
        // osslsigncode's own RFC 3161 timestamping authority, at 2020-09-13.
        Case{"rfc3161.cab", {}, Step::CounterSigner, kCab, {}, k20200913_122640},
        Case{"rfc3161.msi", {}, Step::CounterSigner, kMsi, {}, k20200913_122640},
        Case{"nested-rfc3161.msi", {}, Step::CounterSigner, kMsi, {}, k20200913_122640},
        Case{"rfc3161.ps1", {}, Step::CounterSigner, kScript, {}, k20200913_122640},
        // msibuild + osslsigncode; with and without the extended signature
        // stream; a 3 MiB package.
        Case{"signed.msi", k20190405_060708, Step::Done, kMsi},
        Case{"signed-dse.msi", k19991231_235959, Step::Done, kMsi},
        Case{"signed-large.msi", k20190405_060708, Step::Done, kMsi},
        // PowerShell: UTF-8 with and without a byte-order mark, UTF-16, an
        // upper-case extension, a Chinese name, and the XML comment form.
        Case{"signed.ps1", k20190405_060708, Step::Done, kScript},
        Case{"signed-bom.psm1", k20190405_060708, Step::Done, kScript},
        Case{"signed.psd1", k20190405_060708, Step::Done, kScript},
        Case{"signed-utf16.PS1", k20190405_060708, Step::Done, kScript},
        Case{"\xE7\xAD\xBE\xE5\x90\x8D\xE8\x84\x9A\xE6\x9C\xAC.ps1", k20190405_060708, Step::Done,
             kScript},
        Case{"signed.ps1xml", k20190405_060708, Step::Done, kScript},
        Case{"signed.psc1", k20190405_060708, Step::Done, kScript},
        Case{"signed.cdxml", k20190405_060708, Step::Done, kScript},
        // Windows Script Host forms around a real signer's PKCS#7.
        Case{"signed.js", k20350704_120000, Step::Done, kWsh},
        Case{"signed.vbs", k20350704_120000, Step::Done, kWsh},
        Case{"signed.wsf", k20350704_120000, Step::Done, kWsh},
        // Malformed and unsigned: the query fails, nothing changes.
        Case{"cut-in-half.msi", {}, Step::Query}, Case{"reserve-past-end.cab", {}, Step::Query},
        Case{"broken-base64.ps1", {}, Step::Query}, Case{"no-end-line.ps1", {}, Step::Query},
        Case{"unsigned.cab", {}, Step::Query}, Case{"unsigned.msi", {}, Step::Query}),
    CaseName);

std::string UtcText(std::time_t t) {
  char text[32];
  std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", std::gmtime(&t));
  return text;
}

// The headless command over a folder holding all the formats, by default and
// with --rfc3161: one row per file, the new time in cell 2 for the stamped
// ones and "-" for the rest.
TEST(SignedFormatsBatch, TheHeadlessCommandStampsTheFolder) {
  const Manifest manifest = ReadManifest(VELTRANO_FORMATS_DIR);
  ASSERT_FALSE(manifest.empty());
  TempDir data;
  std::map<std::string, std::string> contents;
  for (const auto& [name, times] : manifest) {
    fs::copy_file(fs::path(VELTRANO_FORMATS_DIR) / name, data / name);
    contents[name] = ReadBytes(data / name);
  }
  for (const std::string option : {"", "--rfc3161 "}) {
    SCOPED_TRACE(option);
    TempDir work;
    // One set of stamps for every file, so they all share the same old time.
    const FileStamps stamps = DistinctStamps();
    for (const auto& [name, times] : manifest) SetStamps(data / name, stamps);
    const FileStamps before = StampsOf(data / manifest.begin()->first);

    const int status =
        std::system(("cd '" + work.path().string() + "' && TZ=UTC '" + VELTRANO_BATCH_EXE + "' " +
                     option + "'" + data.path().string() + "' >rows")
                        .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string out = ReadBytes(work / "rows");

    // The time each file gets: its legacy timestamp's, or with the option
    // its modern one's (to 100 ns; the row shows whole seconds). Every file
    // had the same old time; the walk lists names ignoring case.
    std::map<std::string, std::optional<std::pair<std::int64_t, long>>> stamped;
    std::map<std::string, std::string> sorted;
    for (const auto& [name, times] : manifest) {
      auto& time = stamped[name];
      if (times.legacy) time = std::pair(*times.legacy, 0L);
      if (!times.legacy && !option.empty()) time = times.modern;
      std::string key = name;
      for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      sorted[key] = name + "\t" + UtcText(before.modification.tv_sec) + "\t" +
                    (time ? UtcText(time->first) : "-") + "\t" + data.path().string() + "\n";
    }
    std::string expected = "文件名\t原时间\t新时间\t路径\n";
    for (const auto& [key, row] : sorted) expected += row;
    EXPECT_EQ(out, expected);

    for (const auto& [name, time] : stamped) {
      SCOPED_TRACE(name);
      const FileStamps after = StampsOf(data / name);
      EXPECT_EQ(ReadBytes(data / name), contents[name]) << "content changed";
      EXPECT_TRUE(after.access == before.access) << "access time changed";
      EXPECT_EQ(after.modification.tv_sec, time ? time->first : before.modification.tv_sec);
      EXPECT_EQ(after.modification.tv_nsec, time ? time->second : before.modification.tv_nsec);
    }
  }
}

}  // namespace
}  // namespace veltrano::testing
