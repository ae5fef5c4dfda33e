// Finding the embedded signature of a PE image (MemorySource).
#include <gtest/gtest.h>

#include <functional>

#include "platform/signature/SignatureLocator.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/ReadCounter.h"

namespace veltrano {
namespace {

using namespace fixtures;

enum class Outcome { kSignature, kNone };

struct LocatorCase {
  const char* what;
  std::function<void(PeOptions&)> edit;
  Outcome outcome;
  // Changes the built image before it is searched.
  std::function<void(Bytes&)> patch = nullptr;
};

std::optional<Bytes> Locate(const Bytes& image) {
  const MemorySource source(image.data(), image.size());
  return LocateEmbeddedSignature(source, L"file.exe");
}

TEST(PeLocator, FindsTheFirstEntrysSignatureOrNothing) {
  const Bytes signature = BuildSignature();
  const std::uint32_t entryLength = static_cast<std::uint32_t>(8 + signature.size());
  const LocatorCase cases[] = {
      {"PE32", [](PeOptions&) {}, Outcome::kSignature},
      {"PE32+", [](PeOptions& o) { o.pe32Plus = true; }, Outcome::kSignature},
      {"revision 0x0100 is accepted", [](PeOptions& o) { o.revision = 0x0100; },
       Outcome::kSignature},
      {"no padding", [](PeOptions& o) { o.padding = 0; }, Outcome::kSignature},
      {"seven bytes of padding", [](PeOptions& o) { o.padding = 7; }, Outcome::kSignature},
      {"a second entry after the first",
       [](PeOptions& o) {
         SignatureOptions other;
         other.opus.clear();
         o.secondEntry = BuildSignature(other);
       },
       Outcome::kSignature},
      {"data after the table", [](PeOptions& o) { o.trailingData = Bytes(5000, 0xCC); },
       Outcome::kSignature},
      {"five directory entries", [](PeOptions& o) { o.numberOfRvaAndSizes = 5; },
       Outcome::kSignature},
      {"four directory entries: no security entry", [](PeOptions& o) { o.numberOfRvaAndSizes = 4; },
       Outcome::kNone},
      {"no directory entries", [](PeOptions& o) { o.numberOfRvaAndSizes = 0; }, Outcome::kNone},
      {"entry type 1 (X.509)", [](PeOptions& o) { o.certificateType = 1; }, Outcome::kNone},
      {"table offset past the end", [](PeOptions& o) { o.tableOffset = 0x7FFFFFF0u; },
       Outcome::kNone},
      {"table size past the end", [](PeOptions& o) { o.tableSize = 0x100000; }, Outcome::kNone},
      {"table one byte past the end",
       [&](PeOptions& o) { o.tableSize = (entryLength + 7) / 8 * 8 + 1; }, Outcome::kNone},
      {"table larger than the read-ahead, one byte past the end",
       [&](PeOptions& o) { o.padding = 70000, o.tableSize = entryLength + 70001; }, Outcome::kNone},
      {"table size wraps the offset", [](PeOptions& o) { o.tableSize = 0xFFFFFFFFu; },
       Outcome::kNone},
      {"table too small for an entry header", [](PeOptions& o) { o.tableSize = 7; },
       Outcome::kNone},
      {"dwLength beyond the table", [&](PeOptions& o) { o.dwLength = entryLength + 64; },
       Outcome::kNone},
      {"dwLength shorter than the signature", [&](PeOptions& o) { o.dwLength = entryLength - 1; },
       Outcome::kNone},
      {"dwLength below the header", [](PeOptions& o) { o.dwLength = 7; }, Outcome::kNone},
      {"no MZ", [](PeOptions&) {}, Outcome::kNone, [](Bytes& b) { b[0] = 'Z'; }},
      {"no PE signature", [](PeOptions&) {}, Outcome::kNone, [](Bytes& b) { b[0x81] = 'X'; }},
      {"e_lfanew past the end", [](PeOptions&) {}, Outcome::kNone,
       [](Bytes& b) { b[0x3F] = 0x7F; }},
      {"unknown optional header magic", [](PeOptions&) {}, Outcome::kNone,
       [](Bytes& b) { b[0x98] = 0x07; }},
  };
  for (const LocatorCase& c : cases) {
    SCOPED_TRACE(c.what);
    PeOptions options;
    c.edit(options);
    Bytes image = BuildPe(options, signature);
    if (c.patch) c.patch(image);
    const auto found = Locate(image);
    if (c.outcome == Outcome::kNone) {
      EXPECT_FALSE(found.has_value());
    } else {
      ASSERT_TRUE(found.has_value());
      EXPECT_EQ(*found, signature);
    }
  }
}

TEST(PeLocator, MalformedSignatureStartAndIndefiniteOuterElement) {
  const Bytes signature = BuildSignature();
  // The entry's first byte is not a SEQUENCE.
  Bytes notSequence = signature;
  notSequence[0] = 0x31;
  EXPECT_FALSE(Locate(BuildPe({}, notSequence)).has_value());
  // Only the tag fits in the entry.
  PeOptions unpadded;
  unpadded.padding = 0;
  EXPECT_FALSE(Locate(BuildPe(unpadded, Bytes{0x30})).has_value());

  // An indefinite outer element: its end is not known from the header, so the
  // whole entry (signature and padding) goes to the decoder.
  SignatureOptions berOptions;
  berOptions.berIndefinite = true;
  const Bytes ber = BuildSignature(berOptions);
  const auto found = Locate(BuildPe({}, ber));
  ASSERT_TRUE(found.has_value());
  ASSERT_GE(found->size(), ber.size());
  EXPECT_LT(found->size(), ber.size() + 8);
  EXPECT_TRUE(std::equal(ber.begin(), ber.end(), found->begin()));
}

TEST(PeLocator, TheHeadIsReadOnceForEveryFormatAndTheTableOnce) {
  PeOptions large;
  large.sectionSize = 1 << 20;
  const std::pair<Bytes, std::uint64_t> cases[] = {
      {BuildSignedPe(), 2},
      {BuildSignedPe({}, large), 2},
      {BuildPe({}, std::nullopt), 1},
      {Bytes(4096, 'x'), 1},
  };
  for (const auto& [bytes, reads] : cases) {
    CountingSource source(bytes);
    LocateEmbeddedSignature(source, L"file.exe");
    EXPECT_EQ(source.Reads(), reads) << bytes.size();
  }
}

TEST(PeLocator, UnsignedAndTinyInputs) {
  EXPECT_FALSE(Locate(BuildPe({}, std::nullopt)).has_value());
  // A full image cut at every length up to the directory entry never reads
  // out of range and finds nothing.
  const Bytes image = BuildSignedPe();
  for (std::size_t keep = 0; keep < 0x200; ++keep) {
    EXPECT_FALSE(Locate(Truncate(image, keep)).has_value()) << keep;
  }
}

}  // namespace
}  // namespace veltrano
