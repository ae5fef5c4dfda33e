// The diagnostic log as a file: number formats of the records, where it is
// opened, appending to what is there, and complete UTF-8 lines for paths
// beyond ASCII (including file names that are not valid UTF-8).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/Certificate.h"
#include "tests/engine/LogRecords.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/support/Inspection.h"

namespace veltrano::testing {
namespace {
namespace fs = std::filesystem;
using namespace fixtures;

constexpr std::int64_t k2019Seconds = 1554444428;

TEST(InspectorLog, CodesAreUnsignedLowercaseHexAndSitesStayDecimal) {
  struct Row {
    DWORD code;
    int site;
  };
  const Row rows[] = {
      {0, 74},                                      // zero is [0x0]
      {0x57, 383},                                  // no leading zeros
      {0xABCDEF, 150},                              // letters in lowercase
      {static_cast<DWORD>(CRYPT_E_NO_MATCH), 314},  // an HRESULT, unsigned
      {0xFFFFFFFF, 95},
  };
  TempDir dir;
  {
    CurrentDirectory inDir(dir.path());
    CCertificate cert;
    for (const Row& row : rows) {
      SetLastError(row.code);
      cert.ReportError(L"CryptDecodeObject failed with ErrorCode", row.site);
    }
  }
  EXPECT_EQ(ReadLog(dir / "CertificateLog.log"),
            "Certificate[74]:\nCryptDecodeObject failed with ErrorCode[0x0]\n"
            "Certificate[383]:\nCryptDecodeObject failed with ErrorCode[0x57]\n"
            "Certificate[150]:\nCryptDecodeObject failed with ErrorCode[0xabcdef]\n"
            "Certificate[314]:\nCryptDecodeObject failed with ErrorCode[0x80092009]\n"
            "Certificate[95]:\nCryptDecodeObject failed with ErrorCode[0xffffffff]\n");
}

TEST(InspectorLog, IsTheOneInTheFolderWhereTheInspectorWasBuilt) {
  TempDir first, second;
  {
    CurrentDirectory inFirst(first.path());
    CCertificate cert;
    CurrentDirectory inSecond(second.path());
    SetLastError(ERROR_ACCESS_DENIED);
    cert.ReportError(L"CryptQueryObject failed with ErrorCode", 74);
  }
  EXPECT_EQ(ReadLog(first / "CertificateLog.log"), Record(74, ERROR_ACCESS_DENIED));
  EXPECT_FALSE(fs::exists(second / "CertificateLog.log"));
}

// Every line is whole, whatever the path holds, and such files are still
// inspected and stamped; the next file's header starts on a line of its own.
// An existing log keeps its content; a last line left unfinished (a full disk
// cut it) is ended before the new lines.
TEST(InspectorLog, PathsBeyondAsciiGiveCompleteUtf8LinesAfterWhatWasThere) {
  TempDir dir;
#ifdef _WIN32
  const std::string earlier = "Analyze Signed File[C:\\earlier\\run.exe]\r\nan unfinished line";
  // Windows names are UTF-16: none is undecodable, but the ANSI code page
  // cannot hold this one.
  const fs::path invalid = dir / fs::path(u8"latin1-été-ÿþ-签.exe");
#else
  const std::string earlier = "Analyze Signed File[/earlier/run.exe]\nan unfinished line";
  const fs::path invalid = dir / "latin1-\xE9t\xE9-\xFF\xFE.exe";  // not UTF-8
#endif
  WriteBytes(dir / "CertificateLog.log", earlier);
  const fs::path chinese = dir / fs::path(u8"签名文件.exe");
  const fs::path unsignedFile = dir / fs::path(u8"未签名.exe");
  WriteFile(chinese, BuildSignedPe());
  WriteFile(invalid, BuildSignedPe());
  WriteFile(unsignedFile, BuildPe({}, std::nullopt));

  {
    CurrentDirectory inDir(dir.path());
    for (const fs::path& file : {chinese, invalid, unsignedFile}) InspectFile(file);
  }
  EXPECT_EQ(ReadLog(dir / "CertificateLog.log"),
            ReadLogText(earlier) + "\n" + HeaderLine(chinese) + HeaderLine(invalid) +
                HeaderLine(unsignedFile) + Record(74, static_cast<DWORD>(CRYPT_E_NO_MATCH)));
  EXPECT_EQ(StampsOf(chinese).modification.tv_sec, k2019Seconds);
  EXPECT_EQ(StampsOf(invalid).modification.tv_sec, k2019Seconds);
}

}  // namespace
}  // namespace veltrano::testing
