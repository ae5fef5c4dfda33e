// The inspector's chain over crafted files, run by the batch run's own
// ProcessFile for one entry: where it stops, the whole log, the last-error code, the file's
// times to the nanosecond and its content. Besides what the file holds, a row
// may refuse a heap request through the allocation seam, spoil a value
// between a size query and its decode, or remove or replace the file after
// the query. Every row runs twice: with a working log, and with the log's
// name taken by a folder, where every result and time must be the same and
// nothing is written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "engine/Certificate.h"
#include "engine/Heap.h"
#include "platform/FileTimes.h"
#include "tests/engine/LogRecords.h"
#include "tests/fixtures/Authenticode.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"

namespace veltrano::testing {
namespace {
namespace fs = std::filesystem;
using namespace fixtures;

constexpr std::int64_t k2019Seconds = 1554444428;  // the composer's default signing time

const DWORD kNoMatch = static_cast<DWORD>(CRYPT_E_NO_MATCH);
const DWORD kBadTag = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
const DWORD kInvalidIndex = static_cast<DWORD>(CRYPT_E_INVALID_INDEX);

OpusSpec Opus(std::optional<SpcString> programName, std::optional<SpcLink> moreInfo = {},
              std::optional<SpcLink> publisherInfo = {}) {
  return {std::move(programName), std::move(moreInfo), std::move(publisherInfo)};
}

// --- the allocation seam --------------------------------------------------------

// The inspector's heap requests for the default signature, in order: 1 signer
// info, 2 opus block, 3 program-name copy, 4 more-info copy, 5 counter-signer.
struct Gate {
  int requests = 0;
  int failAt = 0;                  // the request refused
  int spoilAt = 0;                 // the request at which a value is spoiled
  const char* spoilOid = nullptr;  // whose first value loses its tag
  CCertificate* cert = nullptr;
  // Runs at the first request (the signer information's block), which
  // follows the signature query.
  std::function<void()> afterQuery{};
};
Gate g_gate;

// Replaces the tag of the attribute's first value by INTEGER's, so the
// decode that follows the heap request meets a wrong tag.
void Spoil(CRYPT_ATTRIBUTES& attributes, const char* oid) {
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    if (std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
      attributes.rgAttr[i].rgValue[0].pbData[0] = 0x02;
  }
}

bool CountingGate(std::size_t) {
  ++g_gate.requests;
  if (g_gate.requests == 1 && g_gate.afterQuery) g_gate.afterQuery();
  if (g_gate.requests == g_gate.spoilAt && g_gate.cert && g_gate.cert->m_pSignerInfo) {
    Spoil(g_gate.cert->m_pSignerInfo->AuthAttrs, g_gate.spoilOid);
    Spoil(g_gate.cert->m_pSignerInfo->UnauthAttrs, g_gate.spoilOid);
  }
  return g_gate.requests != g_gate.failAt;
}

// --- the rows -------------------------------------------------------------------

enum class Input { Signed, Unsigned, Missing, Directory };

struct Texts {
  std::optional<std::wstring> programName{};
  std::optional<std::wstring> publisherLink{};
  std::optional<std::wstring> moreInfoLink{};
};
// DefaultOpus(): what the inspector copies once the opus is read.
const Texts kDefaultOpus = {L"Veltrano Sample", std::nullopt, L"https://example.com/veltrano"};

// Runs right after the query, with the file and its times before the run.
using AfterQueryChange = std::function<void(const fs::path&, const FileStamps&)>;

struct ChainCase {
  const char* name = "";
  std::function<void(SignatureOptions&)> sign = [](SignatureOptions&) {};  // a PE32's signature
  Input input = Input::Signed;
  Step stopsAt = Step::Done;
  std::string records{};                  // the log after the header line
  std::optional<DWORD> lastError{};       // checked when given
  std::int64_t stampedAt = k2019Seconds;  // Step::Done: seconds since 1970 UTC
  long stampedNanos = 0;                  // and the fraction
  bool rfc3161 = false;                   // the run's opt-in for modern timestamps
  Texts opus = kDefaultOpus;              // checked once the chain passed ReadOpusInfo
  Gate gate{};                            // heap requests refused or spoiled
  AfterQueryChange afterQuery{};
  const char* wineGap = nullptr;   // the publisher link Wine does not decode, and why
  const char* wineSkip = nullptr;  // why the whole row cannot hold under Wine
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

void RemoveFile(const fs::path& target, const FileStamps&) { fs::remove(target); }

// Signer 0 without a legacy counter-signature, with these unauthenticated
// attributes, or with an RFC 3161 timestamp alone.
SignatureOptions With(std::vector<Bytes> attributes) {
  SignatureOptions o;
  o.counterSignature = false;
  o.extraUnauthenticatedAttributes = std::move(attributes);
  return o;
}
SignatureOptions TokenOnly(const TokenOptions& token = {}) {
  return With({Attribute(oid::kRfc3161Timestamp, {TimestampToken(token)})});
}

// A row run with the opt-in for modern timestamps.
ChainCase Modern(const char* name, const SignatureOptions& options, long nanos = 0,
                 Step stopsAt = Step::Done, std::string records = "",
                 std::int64_t at = k2019Seconds, const char* wineSkip = nullptr) {
  return {.name = name,
          .sign = [options](SignatureOptions& o) { o = options; },
          .stopsAt = stopsAt,
          .records = std::move(records),
          .stampedAt = at,
          .stampedNanos = nanos,
          .rfc3161 = true,
          .wineSkip = wineSkip};
}

std::vector<ChainCase> ChainCases() {
  using O = SignatureOptions;
  const auto noCounterSignature = [](O& o) { o.counterSignature = false; };
  O legacy2005;
  legacy2005.signingTime = UtcTime("050607080910Z");
  const O token2020 = TokenOnly({.genTime = "20200101000000Z"});
  O legacyAndToken = token2020;
  legacyAndToken.counterSignature = true;
  O damagedLegacy = TokenOnly();
  damagedLegacy.rawCounterSignature = OctetString(Bytes(8, 1));
  return {
      // With the opt-in for modern timestamps (the file gets genTime to 100 ns).
      Modern("Rfc3161Fraction75", TokenOnly({.genTime = "20190405060708.75Z"}), 750000000),
      Modern("Rfc3161Fraction042", TokenOnly({.genTime = "20190405060708.042Z"}), 42000000),
      Modern("Rfc3161NineFractionDigits", TokenOnly({.genTime = "20190405060708.123456789Z"}),
             123456700),
      Modern("Rfc3161FirstOfTwoValues",
             With({Attribute(oid::kRfc3161Timestamp,
                             {TimestampToken(), TimestampToken({.genTime = "20010101000000Z"})})})),
      Modern("Rfc3161ImprintBySha512UnderASha256Signer", TokenOnly({.imprintOid = oid::kSha512})),
      // A legacy counter-signature wins, even when it cannot be used.
      Modern("LegacyAndRfc3161OnOneSigner", legacyAndToken),
      Modern("DamagedLegacyBesideRfc3161", damagedLegacy, 0, Step::CounterSigner,
             Record(314, kBadTag)),
      Modern("EarliestOfTwoNestedSignatures",
             With({Attribute(oid::kNestedSignature,
                             {BuildSignature(token2020), BuildSignature(legacy2005)})}),
             0, Step::Done, "", UtcSeconds(2005, 6, 7, 8, 9, 10)),
      Modern("Rfc3161WithoutZ", TokenOnly({.genTime = "20190405060708"}), 0, Step::CounterSigner,
             Record(416, static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT))),
      Modern("Rfc3161ImprintOfAnotherSignature", TokenOnly({.imprint = Bytes(32, 0x5A)}), 0,
             Step::CounterSigner, Record(415, static_cast<DWORD>(CRYPT_E_HASH_VALUE))),
      Modern("Rfc3161TokenOfAnotherContentType", TokenOnly({.contentType = oid::kData}), 0,
             Step::CounterSigner, Record(406, static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE))),
      Modern("Rfc3161TokenWithTwoSigners", TokenOnly({.signers = 2}), 0, Step::CounterSigner,
             Record(408, static_cast<DWORD>(CRYPT_E_BAD_MSG)), k2019Seconds,
             "Wine's CryptMsgUpdate refuses a signed message with a second signer"),

      // Stamped files.
      {.name = "Stamped"},
      {.name = "SigningTimeBefore1970",
       .sign = [](O& o) { o.signingTime = UtcTime("691231235959Z"); },
       .stampedAt = -1},
      {.name = "UnicodeProgramNameUrlAndFileLinks",
       .sign =
           [](O& o) {
             o.opus = {Opus(SpcString::Unicode(u"Veltrano \u6D4B\u8BD5 \U0001F600"),
                            SpcLink::Url("https://veltrano.invalid/info"),
                            SpcLink::File(SpcString::Unicode(u"\u53D1\u5E03.txt")))};
           },
       .opus = {L"Veltrano \u6D4B\u8BD5 \U0001F600", L"\u53D1\u5E03.txt",
                L"https://veltrano.invalid/info"}},
      {.name = "MonikerLinkAndNoProgramName",
       .sign =
           [](O& o) {
             o.opus = {Opus(std::nullopt, SpcLink::Moniker(Bytes(16, 0xA6), Bytes(8, 0x11)),
                            SpcLink::File(SpcString::Ascii("publisher.txt")))};
           },
       .opus = {std::nullopt, L"publisher.txt", std::nullopt},
       .wineGap = "Wine leaves an ASCII file link's choice unwritten (no link once zeroed)"},
      {.name = "EmptyOpus", .sign = [](O& o) { o.opus = {OpusSpec{}}; }, .opus = {}},
      // Identifiers match whole: 1.2.840.113549.1.9.52 (which signers add)
      // starts with the signing time's, and 1.2.840.113549.1.9 begins it.
      {.name = "SigningTimeAfterIdentifiersThatShareItsStart",
       .sign =
           [](O& o) {
             o.counterSignerAttributes = {Attribute("1.2.840.113549.1.9.52", {Seq({})}),
                                          Attribute("1.2.840.113549.1.9", {Null()})};
           }},
      // Signer 0 counts, not a later one.
      {.name = "SecondSignerTimestampedOtherwise",
       .sign =
           [](O& o) {
             O other;
             other.signingTime = UtcTime("010203040506Z");
             o.moreSigners = {EncodeSignerInfo(BuildSignerSpec(other))};
           },
       .wineSkip = "Wine's CryptQueryObject refuses a signature with a second signer"},
      {.name = "FirstOfTwoOpusAttributes",
       .sign =
           [](O& o) {
             o.opus = {Opus(SpcString::Ascii("first")), Opus(SpcString::Ascii("second"))};
           },
       .opus = {L"first"}},
      {.name = "FirstValueOfTheOpusAttribute",
       .sign =
           [](O& o) {
             o.opus = {};
             o.extraAuthenticatedAttributes = {
                 Attribute(oid::kOpusInfo, {EncodeOpus(Opus(SpcString::Ascii("first"))),
                                            EncodeOpus(Opus(SpcString::Ascii("second")))})};
           },
       .opus = {L"first"}},
      // A text copy that cannot be made leaves its member null and is no failure.
      {.name = "ProgramNameCopyRefused",
       .opus = {std::nullopt, std::nullopt, L"https://example.com/veltrano"},
       .gate = {.failAt = 3}},

      // Silent failures: the header line alone, the file untouched.
      {.name = "NoOpusAttribute", .sign = [](O& o) { o.opus = {}; }, .stopsAt = Step::OpusInfo},
      {.name = "OpusAttributeWithoutValues",
       .sign =
           [](O& o) {
             o.opus = {};
             o.extraAuthenticatedAttributes = {Attribute(oid::kOpusInfo, {})};
           },
       .stopsAt = Step::OpusInfo},
      {.name = "NoUnauthenticatedAttributes",
       .sign = noCounterSignature,
       .stopsAt = Step::CounterSigner},
      {.name = "Rfc3161TimestampOnly",
       .sign =
           [=](O& o) {
             noCounterSignature(o);
             o.extraUnauthenticatedAttributes = {
                 Attribute("1.3.6.1.4.1.311.3.3.1", {BuildSignature()})};
           },
       .stopsAt = Step::CounterSigner},
      {.name = "CounterSignatureWithoutValues",
       .sign =
           [=](O& o) {
             noCounterSignature(o);
             o.extraUnauthenticatedAttributes = {Attribute(oid::kCounterSignature, {})};
           },
       .stopsAt = Step::CounterSigner},
      {.name = "CounterSignerWithoutSigningTime",
       .sign = [](O& o) { o.signingTime = std::nullopt; },
       .stopsAt = Step::Stamp},
      // The file cannot be opened for the stamp: no record. It is opened
      // before the time is read, so an unusable time gives no site-383 record.
      {.name = "RemovedAfterTheQuery",
       .stopsAt = Step::Stamp,
       .lastError = ERROR_FILE_NOT_FOUND,
       .afterQuery = RemoveFile},
      {.name = "RemovedAfterTheQueryWithAnUnusableSigningTime",
       .sign = [](O& o) { o.signingTime = GeneralizedTime("20190405060708Z"); },
       .stopsAt = Step::Stamp,
       .lastError = ERROR_FILE_NOT_FOUND,
       .afterQuery = RemoveFile},
      {.name = "ReplacedByAFolderAfterTheQuery",
       .stopsAt = Step::Stamp,
       .lastError = ERROR_ACCESS_DENIED,
       .afterQuery =
           [](const fs::path& target, const FileStamps& before) {
             fs::remove(target);
             fs::create_directory(target);
             SetStamps(target, before);
           }},

      // The query fails: a site-74 record with the cause.
      {.name = "UnsignedImage",
       .input = Input::Unsigned,
       .stopsAt = Step::Query,
       .records = Record(74, kNoMatch),
       .lastError = kNoMatch},
      {.name = "MissingFile",
       .input = Input::Missing,
       .stopsAt = Step::Query,
       .records = Record(74, ERROR_FILE_NOT_FOUND),
       .lastError = ERROR_FILE_NOT_FOUND},
      {.name = "Directory",
       .input = Input::Directory,
       .stopsAt = Step::Query,
       .records = Record(74, ERROR_ACCESS_DENIED),
       .lastError = ERROR_ACCESS_DENIED},

      // Later platform calls fail: their records.
      {.name = "NoSigner",
       .sign = [](O& o) { o.signers = 0; },
       .stopsAt = Step::SignerInfo,
       .records = Record(95, kInvalidIndex),
       .lastError = kInvalidIndex},
      {.name = "OpusNotASequence",
       .sign = [](O& o) { o.rawOpusValue = Int(7); },
       .stopsAt = Step::OpusInfo,
       .records = Record(150, kBadTag),
       .lastError = kBadTag},
      {.name = "OpusSpoiledBeforeItsDecode",
       .stopsAt = Step::OpusInfo,
       .records = Record(174, kBadTag),
       .lastError = kBadTag,
       .gate = {.spoilAt = 2, .spoilOid = oid::kOpusInfo}},
      {.name = "CounterSignatureNotASignerInfo",
       .sign = [](O& o) { o.rawCounterSignature = OctetString(Bytes(8, 1)); },
       .stopsAt = Step::CounterSigner,
       .records = Record(314, kBadTag),
       .lastError = kBadTag},
      {.name = "CounterSignatureSpoiledBeforeItsDecode",
       .stopsAt = Step::CounterSigner,
       .records = Record(337, kBadTag),
       .lastError = kBadTag,
       .gate = {.spoilAt = 5, .spoilOid = oid::kCounterSignature}},
      {.name = "SigningTimeAsGeneralizedTime",
       .sign = [](O& o) { o.signingTime = GeneralizedTime("20190405060708Z"); },
       .stopsAt = Step::Stamp,
       .records = Record(383, kBadTag),
       .lastError = kBadTag},

      // Heap blocks for decoded structures refused: allocation records.
      {.name = "SignerInfoBlockRefused",
       .stopsAt = Step::SignerInfo,
       .records = AllocationRecord(105, "Unable to allocate memory for Signer Info."),
       .gate = {.failAt = 1}},
      // A signer's information beyond any block: refused on both builds alike.
      {.name = "SignerInfoLargerThanAnyBlock",
       .sign =
           [](O& o) {
             o.extraUnauthenticatedAttributes = {
                 Attribute("1.2.3", {OctetString(Bytes(kMaxBlockBytes, 0))})};
           },
       .stopsAt = Step::SignerInfo,
       .records = AllocationRecord(105, "Unable to allocate memory for Signer Info.")},
      {.name = "PublisherInfoBlockRefused",
       .stopsAt = Step::OpusInfo,
       .records = AllocationRecord(159, "Unable to allocate memory for Publisher Info."),
       .gate = {.failAt = 2}},
      {.name = "TimestampInfoBlockRefused",
       .stopsAt = Step::CounterSigner,
       .records = AllocationRecord(322, "Unable to allocate memory for timestamp Info."),
       .gate = {.failAt = 5}},
  };
}

class InspectorChain : public ::testing::TestWithParam<ChainCase> {
 protected:
  void TearDown() override {
    SetAllocationGate(nullptr);
    g_gate = {};
  }

  // Runs the row in a fresh folder that is also the current directory; with
  // `blockLog` the log's name is taken by a folder first.
  void RunAndCheck(bool blockLog) {
    const ChainCase& c = GetParam();
    if (c.wineSkip != nullptr && WineGap(c.wineSkip)) GTEST_SKIP();
    TempDir dir;
    const fs::path target = dir / "input.exe";
    std::string content;
    if (c.input == Input::Signed || c.input == Input::Unsigned) {
      SignatureOptions options;
      c.sign(options);
      const Bytes bytes =
          c.input == Input::Signed ? BuildSignedPe(options) : BuildPe({}, std::nullopt);
      content.assign(bytes.begin(), bytes.end());
      WriteFile(target, bytes);
    }
    if (c.input == Input::Directory) fs::create_directory(target);
    if (c.input != Input::Missing) SetStamps(target, DistinctStamps());
    if (blockLog) fs::create_directory(dir / "CertificateLog.log");
    const FileStamps before = c.input != Input::Missing ? StampsOf(target) : FileStamps{};

    g_gate = c.gate;
    if (c.afterQuery) g_gate.afterQuery = [&] { c.afterQuery(target, before); };
    SetAllocationGate(CountingGate);
    Inspection result;
    {
      CurrentDirectory inDir(dir.path());
      result = InspectFile(
          target, [](CCertificate& cert) { g_gate.cert = &cert; }, c.rfc3161);
    }
    SetAllocationGate(nullptr);

    EXPECT_EQ(result.logOpen, !blockLog);
    if (c.stopsAt == Step::Query && c.lastError &&
        *c.lastError != static_cast<DWORD>(CRYPT_E_NO_MATCH) &&
        WineGap("Wine's CryptQueryObject gives CRYPT_E_NO_MATCH for a file it cannot open"))
      return;
    EXPECT_EQ(result.stoppedAt, c.stopsAt);
    if (c.lastError) {
      EXPECT_EQ(Hex(result.lastError), Hex(*c.lastError));
    }
    const Texts opus = c.stopsAt > Step::OpusInfo ? c.opus : Texts{};
    if (!opus.programName || !WineGap("Wine decodes an ASCII program name as UTF-16")) {
      EXPECT_EQ(result.programName, opus.programName);
    }
    if (c.wineGap == nullptr || !WineGap(c.wineGap)) {
      EXPECT_EQ(result.publisherLink, opus.publisherLink);
    }
    EXPECT_EQ(result.moreInfoLink, opus.moreInfoLink);

    if (fs::exists(target)) {
      const FileStamps after = StampsOf(target);
      EXPECT_TRUE(after.access == before.access) << "access time changed";
      if (c.stopsAt == Step::Done) {
        EXPECT_NE(result.stamped, FALSE);
        EXPECT_EQ(after.modification.tv_sec, c.stampedAt);
        EXPECT_EQ(after.modification.tv_nsec, c.stampedNanos);
        EXPECT_EQ(result.newTime, TimeTextOfUnix(c.stampedAt));
        EXPECT_EQ(TicksOf(result.oldTime), TicksOf(FileTimeOf(before.modification)));
        EXPECT_EQ(TicksOf(result.readBack.value_or(FILETIME{})),
                  TicksOf(FileTimeOfUnix(c.stampedAt)) + c.stampedNanos / 100);
      } else {
        EXPECT_EQ(result.stamped, FALSE);
        EXPECT_TRUE(after.modification == before.modification) << "modification time changed";
        EXPECT_EQ(result.newTime, L"-");
      }
      if (fs::is_regular_file(target)) {
        EXPECT_EQ(ReadBytes(target), content) << "content changed";
      }
    }

    const fs::path log = dir / "CertificateLog.log";
    if (blockLog) {
      EXPECT_TRUE(fs::is_directory(log) && fs::is_empty(log)) << "something was written";
    } else {
      EXPECT_EQ(ReadLog(log), HeaderLine(target) + c.records);
    }
  }
};

TEST_P(InspectorChain, EndsAsItsInputSays) { RunAndCheck(false); }

TEST_P(InspectorChain, GivesTheSameResultsWhenTheLogCannotBeOpened) { RunAndCheck(true); }

INSTANTIATE_TEST_SUITE_P(Crafted, InspectorChain, ::testing::ValuesIn(ChainCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltrano::testing
