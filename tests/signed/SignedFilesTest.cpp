// The inspector over files that real signers made: osslsigncode with test
// certificates and a loopback legacy timestamp server, and Microsoft's own
// signed binaries. Each file's stamped time must equal openssl's reading of
// the same signature (the set-up tests record it in manifest.tsv).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "platform/FileTimes.h"
#include "tests/fixtures/TempDir.h"
#include "tests/support/Inspection.h"

namespace veltrano::testing {
namespace {
namespace fs = std::filesystem;
using fixtures::TempDir;

// file name -> signing time as openssl reads it (seconds since 1970 UTC), or
// nothing when the signature has no legacy counter-signature.
using Manifest = std::map<std::string, std::optional<std::int64_t>>;

Manifest ReadManifest(const fs::path& dir) {
  std::ifstream in(dir / "manifest.tsv");
  if (!in) {
    ADD_FAILURE() << (dir / "manifest.tsv")
                  << " is missing: run these tests through ctest, whose set-up tests "
                     "signed_inputs.selfmade and signed_inputs.signtool make the inputs";
    return {};
  }
  Manifest manifest;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, time;
    std::getline(fields, name, '\t');
    std::getline(fields, time);
    manifest[name] = time == "-" ? std::nullopt : std::optional<std::int64_t>(std::stoll(time));
  }
  return manifest;
}

struct Case {
  const char* file;
  // openssl's reading of the counter-signer's signing time.
  std::optional<std::int64_t> opensslTime;
  // Where the chain ends; Step::Done means stamped with opensslTime.
  Step stopsAt;
  std::optional<std::wstring> programName;
  std::optional<std::wstring> moreInfoLink;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.file; }

std::string TestName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char ch : std::string(info.param.file))
    name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
}

// Copies `file` from `dir` into a scratch folder, runs the chain on the copy
// with the log there, and checks times, content, log and the opus copies.
void CheckInspection(const fs::path& dir, const Case& c) {
  const Manifest manifest = ReadManifest(dir);
  ASSERT_TRUE(manifest.contains(c.file)) << c.file << " is not in " << dir / "manifest.tsv";
  EXPECT_EQ(manifest.at(c.file), c.opensslTime) << "openssl's reading of the signature";

  TempDir work;
  const fs::path copy = work / c.file;
  fs::copy_file(dir / c.file, copy);
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
  EXPECT_TRUE(after.access == before.access) << "access time changed";
  if (c.stopsAt == Step::Done) {
    ASSERT_TRUE(c.opensslTime.has_value());
    EXPECT_NE(result.stamped, FALSE);
    EXPECT_EQ(after.modification.tv_sec, *c.opensslTime);
    EXPECT_EQ(after.modification.tv_nsec, 0);
    EXPECT_EQ(TicksOf(result.displayed), TicksOf(FileTimeOfUnix(*c.opensslTime)));
  } else {
    EXPECT_TRUE(after.modification == before.modification) << "modification time changed";
  }
  EXPECT_EQ(result.programName, c.programName);
  EXPECT_EQ(result.moreInfoLink, c.moreInfoLink);
  EXPECT_EQ(ReadBytes(copy), content) << "content changed";
  EXPECT_EQ(ReadBytes(work / "CertificateLog.log"), HeaderLine(copy))
      << "the log holds the header line alone";
}

// --- osslsigncode with our test CA and timestamp server ---------------------

class SelfmadeSignedFiles : public ::testing::TestWithParam<Case> {};

TEST_P(SelfmadeSignedFiles, EndAsTheirTimestampSays) {
  CheckInspection(VELTRANO_SELFMADE_DIR, GetParam());
}

constexpr std::int64_t k20190405_060708 = 1554444428;

INSTANTIATE_TEST_SUITE_P(
    Osslsigncode, SelfmadeSignedFiles,
    ::testing::Values(
        // Legacy timestamps: stamped with exactly the time the server was told.
        Case{"legacy-pe32-sha1.exe", k20190405_060708, Step::Done, L"Veltrano Test Tool",
             L"https://veltrano.invalid/more-info"},
        Case{"legacy-pe32plus-sha256.exe", k20190405_060708, Step::Done, L"Veltrano x64", {}},
        // Two-digit years: 99 is 1999, 49 is 2049.
        Case{"legacy-1999.exe", 946684799, Step::Done, L"Veltrano 1999", {}},
        Case{"legacy-2049.exe", 2524607999, Step::Done, {}, L"https://veltrano.invalid/2049"},
        // 1904051407+0800: no seconds, and an offset that moves the instant.
        Case{"legacy-offset.exe", 1554444420, Step::Done, L"Veltrano +0800", {}},
        // Timestamped, but osslsigncode wrote no opus attribute without -n/-i.
        Case{"legacy-no-opus.exe", k20190405_060708, Step::OpusInfo, {}, {}},
        // An RFC 3161 timestamp is not a legacy counter-signature: no time.
        Case{"rfc3161-pe32plus.exe", {}, Step::CounterSigner, L"Veltrano RFC 3161", {}},
        Case{"untimestamped-pe32.exe", {}, Step::CounterSigner, L"Veltrano Test Tool", {}}),
    TestName);

// --- Microsoft-signed files from the npm package signtool@1.0.0 ---------------

class MicrosoftSignedFiles : public ::testing::TestWithParam<Case> {};

TEST_P(MicrosoftSignedFiles, AreStampedWithTheirCounterSignersTime) {
  CheckInspection(VELTRANO_SIGNTOOL_DIR, GetParam());
}

// The times are Microsoft's timestamps of March 2017; each must also match
// openssl's reading of the file at hand.
INSTANTIATE_TEST_SUITE_P(
    SigntoolPackage, MicrosoftSignedFiles,
    ::testing::Values(Case{"x86-signtool.exe", 1490860422, Step::Done, L"Microsoft Windows",
                           L"http://www.microsoft.com/windows"},
                      Case{"x64-signtool.exe", 1490859973, Step::Done, L"Microsoft Windows",
                           L"http://www.microsoft.com/windows"},
                      Case{"x86-wintrust.dll", 1490860444, Step::Done, L"Microsoft Windows",
                           L"http://www.microsoft.com/windows"},
                      Case{"x64-mssign32.dll", 1490859952, Step::Done, L"Microsoft Windows",
                           L"http://www.microsoft.com/windows"}),
    TestName);

}  // namespace
}  // namespace veltrano::testing
