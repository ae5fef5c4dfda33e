// The inspector's chain over crafted files, run as the batch run runs it for
// one entry: where it stops, the whole log, the last-error code, the file's
// times to the nanosecond and its content. Every row runs twice: with a
// working log, and with the log's name taken by a folder, where every result
// and time must be the same and nothing is written.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "engine/Certificate.h"
#include "platform/FileTimes.h"
#include "tests/engine/LogRecords.h"
#include "tests/fixtures/Authenticode.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/support/Inspection.h"

namespace veltrano::testing {
namespace {
namespace fs = std::filesystem;
using namespace fixtures;

constexpr std::int64_t k2019Seconds = 1554444428;  // the composer's default signing time

const DWORD kNoMatch = static_cast<DWORD>(CRYPT_E_NO_MATCH);
const DWORD kBadTag = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
const DWORD kCorrupt = static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
const DWORD kInvalidIndex = static_cast<DWORD>(CRYPT_E_INVALID_INDEX);

// A PE32 image signed with the composer's defaults as `edit` changes them.
Bytes Image(const std::function<void(SignatureOptions&)>& edit) {
  SignatureOptions options;
  edit(options);
  return BuildSignedPe(options);
}

OpusSpec Opus(std::optional<SpcString> programName, std::optional<SpcLink> moreInfo = {},
              std::optional<SpcLink> publisherInfo = {}) {
  return {std::move(programName), std::move(moreInfo), std::move(publisherInfo)};
}

enum class Input { File, Missing, MissingFolder, Directory };

struct Texts {
  std::optional<std::wstring> programName{};
  std::optional<std::wstring> publisherLink{};
  std::optional<std::wstring> moreInfoLink{};
};

struct ChainCase {
  const char* name = "";
  std::function<Bytes()> bytes{};  // the file's content (Input::File)
  Input input = Input::File;
  Step stopsAt = Step::Done;
  std::string records{};                    // the log after the header line
  std::optional<DWORD> lastError{};         // checked when given
  std::optional<std::int64_t> stampedAt{};  // Step::Done: seconds since 1970 UTC
  Texts opus{};                             // the inspector's copies
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

// The default signature: DefaultOpus() and a counter-signer timestamped
// 2019-04-05 06:07:08Z.
const Texts kDefaultOpus = {L"Veltrano Sample", std::nullopt, L"https://example.com/veltrano"};

std::vector<ChainCase> ChainCases() {
  using O = SignatureOptions;
  return {
      // Stamped files.
      {.name = "Pe32Stamped",
       .bytes = [] { return BuildSignedPe(); },
       .stampedAt = k2019Seconds,
       .opus = kDefaultOpus},
      {.name = "Pe32PlusStamped",
       .bytes =
           [] {
             PeOptions pe;
             pe.pe32Plus = true;
             return BuildSignedPe({}, pe);
           },
       .stampedAt = k2019Seconds,
       .opus = kDefaultOpus},
      {.name = "BerIndefiniteLengths",
       .bytes = [] { return Image([](O& o) { o.berIndefinite = true; }); },
       .stampedAt = k2019Seconds,
       .opus = kDefaultOpus},
      {.name = "SigningTimeBefore1970",
       .bytes = [] { return Image([](O& o) { o.signingTime = UtcTime("691231235959Z"); }); },
       .stampedAt = -1,
       .opus = kDefaultOpus},
      {.name = "UnicodeProgramNameUrlAndFileLinks",
       .bytes =
           [] {
             return Image([](O& o) {
               o.opus = {Opus(SpcString::Unicode(u"Veltrano \u6D4B\u8BD5 \U0001F600"),
                              SpcLink::Url("https://veltrano.invalid/info"),
                              SpcLink::File(SpcString::Unicode(u"\u53D1\u5E03.txt")))};
             });
           },
       .stampedAt = k2019Seconds,
       .opus = {L"Veltrano \u6D4B\u8BD5 \U0001F600", L"\u53D1\u5E03.txt",
                L"https://veltrano.invalid/info"}},
      {.name = "MonikerLinkAndNoProgramName",
       .bytes =
           [] {
             return Image([](O& o) {
               o.opus = {Opus(std::nullopt, SpcLink::Moniker(Bytes(16, 0xA6), Bytes(8, 0x11)),
                              SpcLink::File(SpcString::Ascii("publisher.txt")))};
             });
           },
       .stampedAt = k2019Seconds,
       .opus = {std::nullopt, L"publisher.txt", std::nullopt}},
      {.name = "EmptyOpus",
       .bytes = [] { return Image([](O& o) { o.opus = {OpusSpec{}}; }); },
       .stampedAt = k2019Seconds},
      {.name = "FirstOfTwoOpusAttributes",
       .bytes =
           [] {
             return Image([](O& o) {
               o.opus = {Opus(SpcString::Ascii("first")), Opus(SpcString::Ascii("second"))};
             });
           },
       .stampedAt = k2019Seconds,
       .opus = {L"first"}},
      {.name = "FirstValueOfTheOpusAttribute",
       .bytes =
           [] {
             return Image([](O& o) {
               o.opus = {};
               o.extraAuthenticatedAttributes = {
                   Attribute(oid::kOpusInfo, {EncodeOpus(Opus(SpcString::Ascii("first"))),
                                              EncodeOpus(Opus(SpcString::Ascii("second")))})};
             });
           },
       .stampedAt = k2019Seconds,
       .opus = {L"first"}},

      // Silent failures: the header line alone, the file untouched.
      {.name = "NoOpusAttribute",
       .bytes = [] { return Image([](O& o) { o.opus = {}; }); },
       .stopsAt = Step::OpusInfo},
      {.name = "OpusAttributeWithoutValues",
       .bytes =
           [] {
             return Image([](O& o) {
               o.opus = {};
               o.extraAuthenticatedAttributes = {Attribute(oid::kOpusInfo, {})};
             });
           },
       .stopsAt = Step::OpusInfo},
      {.name = "NoUnauthenticatedAttributes",
       .bytes = [] { return Image([](O& o) { o.counterSignature = false; }); },
       .stopsAt = Step::CounterSigner,
       .opus = kDefaultOpus},
      {.name = "Rfc3161TimestampOnly",
       .bytes =
           [] {
             return Image([](O& o) {
               o.counterSignature = false;
               o.extraUnauthenticatedAttributes = {
                   Attribute("1.3.6.1.4.1.311.3.3.1", {BuildSignature()})};
             });
           },
       .stopsAt = Step::CounterSigner,
       .opus = kDefaultOpus},
      {.name = "CounterSignatureWithoutValues",
       .bytes =
           [] {
             return Image([](O& o) {
               o.counterSignature = false;
               o.extraUnauthenticatedAttributes = {Attribute(oid::kCounterSignature, {})};
             });
           },
       .stopsAt = Step::CounterSigner,
       .opus = kDefaultOpus},
      {.name = "CounterSignerWithoutSigningTime",
       .bytes = [] { return Image([](O& o) { o.signingTime = std::nullopt; }); },
       .stopsAt = Step::Stamp,
       .opus = kDefaultOpus},

      // The query fails: a site-74 record with the cause.
      {.name = "NotAnImage",
       .bytes = [] { return BytesOf("MZ is not enough to make an image\n"); },
       .stopsAt = Step::Query,
       .records = Record(74, "CryptQueryObject", kNoMatch),
       .lastError = kNoMatch},
      {.name = "EmptyFile",
       .bytes = [] { return Bytes{}; },
       .stopsAt = Step::Query,
       .records = Record(74, "CryptQueryObject", kNoMatch),
       .lastError = kNoMatch},
      {.name = "UnsignedImage",
       .bytes = [] { return BuildPe({}, std::nullopt); },
       .stopsAt = Step::Query,
       .records = Record(74, "CryptQueryObject", kNoMatch),
       .lastError = kNoMatch},
      {.name = "SignatureCutShort",
       .bytes =
           [] {
             const Bytes image = BuildSignedPe();
             return Truncate(image, image.size() - 64);
           },
       .stopsAt = Step::Query,
       .records = Record(74, "CryptQueryObject", kNoMatch),
       .lastError = kNoMatch},
      {.name = "MissingFile",
       .input = Input::Missing,
       .stopsAt = Step::Query,
       .records = Record(74, "CryptQueryObject", ERROR_FILE_NOT_FOUND),
       .lastError = ERROR_FILE_NOT_FOUND},
      {.name = "MissingFolder",
       .input = Input::MissingFolder,
       .stopsAt = Step::Query,
       .records = Record(74, "CryptQueryObject", ERROR_PATH_NOT_FOUND),
       .lastError = ERROR_PATH_NOT_FOUND},
      {.name = "Directory",
       .input = Input::Directory,
       .stopsAt = Step::Query,
       .records = Record(74, "CryptQueryObject", ERROR_ACCESS_DENIED),
       .lastError = ERROR_ACCESS_DENIED},

      // Later platform calls fail: their records.
      {.name = "NoSigner",
       .bytes = [] { return Image([](O& o) { o.signers = 0; }); },
       .stopsAt = Step::SignerInfo,
       .records = Record(95, "CryptMsgGetParam", kInvalidIndex),
       .lastError = kInvalidIndex},
      {.name = "OpusNotASequence",
       .bytes = [] { return Image([](O& o) { o.rawOpusValue = Int(7); }); },
       .stopsAt = Step::OpusInfo,
       .records = Record(150, "CryptDecodeObject", kBadTag),
       .lastError = kBadTag},
      {.name = "CounterSignatureNotASignerInfo",
       .bytes =
           [] { return Image([](O& o) { o.rawCounterSignature = OctetString(Bytes(8, 1)); }); },
       .stopsAt = Step::CounterSigner,
       .records = Record(314, "CryptDecodeObject", kBadTag),
       .lastError = kBadTag,
       .opus = kDefaultOpus},
      {.name = "SigningTimeAsGeneralizedTime",
       .bytes =
           [] { return Image([](O& o) { o.signingTime = GeneralizedTime("20190405060708Z"); }); },
       .stopsAt = Step::Stamp,
       .records = Record(383, "CryptDecodeObject", kBadTag),
       .lastError = kBadTag,
       .opus = kDefaultOpus},
      {.name = "SigningTimeInMonth13",
       .bytes = [] { return Image([](O& o) { o.signingTime = UtcTime("191305060708Z"); }); },
       .stopsAt = Step::Stamp,
       .records = Record(383, "CryptDecodeObject", kCorrupt),
       .lastError = kCorrupt,
       .opus = kDefaultOpus},
  };
}

class InspectorChain : public ::testing::TestWithParam<ChainCase> {
 protected:
  // Runs the row in a fresh folder that is also the current directory; with
  // `blockLog` the log's name is taken by a folder first.
  void RunAndCheck(bool blockLog) {
    const ChainCase& c = GetParam();
    TempDir dir;
    fs::path target = dir / "input.exe";
    std::string content;
    switch (c.input) {
      case Input::File: {
        const Bytes bytes = c.bytes();
        content.assign(bytes.begin(), bytes.end());
        WriteFile(target, bytes);
        SetStamps(target, DistinctStamps());
        break;
      }
      case Input::Directory:
        fs::create_directory(target);
        SetStamps(target, DistinctStamps());
        break;
      case Input::MissingFolder:
        target = dir / "absent" / "input.exe";
        break;
      case Input::Missing:
        break;
    }
    if (blockLog) fs::create_directory(dir / "CertificateLog.log");
    const bool exists = fs::exists(target);
    const FileStamps before = exists ? StampsOf(target) : FileStamps{};

    Inspection result;
    {
      CurrentDirectory inDir(dir.path());
      result = InspectFile(target);
    }

    EXPECT_EQ(result.logOpen, !blockLog);
    EXPECT_EQ(result.stoppedAt, c.stopsAt);
    if (c.lastError) {
      EXPECT_EQ(Hex(result.lastError), Hex(*c.lastError));
    }
    EXPECT_EQ(result.programName, c.opus.programName);
    EXPECT_EQ(result.publisherLink, c.opus.publisherLink);
    EXPECT_EQ(result.moreInfoLink, c.opus.moreInfoLink);

    if (exists) {
      const FileStamps after = StampsOf(target);
      EXPECT_TRUE(after.access == before.access) << "access time changed";
      if (c.stopsAt == Step::Done) {
        ASSERT_TRUE(c.stampedAt.has_value());
        EXPECT_NE(result.stamped, FALSE);
        EXPECT_EQ(after.modification.tv_sec, *c.stampedAt);
        EXPECT_EQ(after.modification.tv_nsec, 0);
        EXPECT_EQ(TicksOf(result.displayed), TicksOf(FileTimeOfUnix(*c.stampedAt)));
      } else {
        EXPECT_EQ(result.stamped, FALSE);
        EXPECT_TRUE(after.modification == before.modification) << "modification time changed";
        EXPECT_EQ(TicksOf(result.displayed), 0u);
      }
      if (c.input == Input::File) {
        EXPECT_EQ(ReadBytes(target), content) << "content changed";
      }
    }

    const fs::path log = dir / "CertificateLog.log";
    if (blockLog) {
      EXPECT_TRUE(fs::is_directory(log) && fs::is_empty(log)) << "something was written";
    } else {
      EXPECT_EQ(ReadBytes(log), HeaderLine(target) + c.records);
    }
  }
};

TEST_P(InspectorChain, EndsAsItsInputSays) { RunAndCheck(false); }

TEST_P(InspectorChain, GivesTheSameResultsWhenTheLogCannotBeOpened) { RunAndCheck(true); }

INSTANTIATE_TEST_SUITE_P(Crafted, InspectorChain, ::testing::ValuesIn(ChainCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltrano::testing
