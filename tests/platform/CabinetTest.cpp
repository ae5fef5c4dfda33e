#include <gtest/gtest.h>

#include <functional>

#include "platform/SignatureLocator.h"
#include "tests/fixtures/CabBuilder.h"
#include "tests/fixtures/LittleEndian.h"
#include "tests/fixtures/ReadCounter.h"

namespace veltrano {
namespace {

using fixtures::Bytes;
using fixtures::CabOptions;

// Stands in for a PKCS#7: the locator hands over bytes, it does not decode.
const Bytes kSignature = fixtures::Seq({fixtures::Oid("1.2.840.113549.1.7.2"),
                                        fixtures::Ctx(0, {fixtures::OctetString(Bytes(300, 7))})});

std::optional<Bytes> Locate(const Bytes& file) {
  return LocateCabSignature(MemorySource(file.data(), file.size()));
}

CabOptions Signed() {
  CabOptions o;
  o.signature = kSignature;
  return o;
}

TEST(CabinetSignature, SignedCabinetsGiveTheirSignatureBytes) {
  struct Case {
    const char* what;
    std::function<void(CabOptions&)> change;
  };
  const Case cases[] = {
      {"as signers write it", [](CabOptions&) {}},
      {"a reserve larger than the signature fields", [](CabOptions& o) { o.reserveSize = 64; }},
      {"cabinet chained to a previous and a next one", [](CabOptions& o) { o.extraFlags = 3; }},
      {"signature length covering padding after the DER",
       [](CabOptions& o) {
         o.signature.insert(o.signature.end(), {0, 0, 0});
         o.signatureLength = static_cast<std::uint32_t>(kSignature.size() + 3);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CabOptions o = Signed();
    c.change(o);
    const auto found = Locate(fixtures::BuildCabinet(o));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, o.signature);
  }
}

TEST(CabinetSignature, UnsignedOrMalformedCabinetsGiveNothing) {
  struct Case {
    const char* what;
    std::function<void(CabOptions&)> change;
    std::function<void(Bytes&)> patch;
  };
  const Bytes plain = fixtures::BuildCabinet(Signed());
  const auto size = static_cast<std::uint32_t>(plain.size());
  const Case cases[] = {
      {"no reserve flag", [](CabOptions& o) { o.reserveSize.reset(); }, nullptr},
      {"reserve too small for the fields", [](CabOptions& o) { o.reserveSize = 19; }, nullptr},
      {"zero length", [](CabOptions& o) { o.signatureLength = 0; }, nullptr},
      {"length one byte past the end",
       [](CabOptions& o) { o.signatureLength = static_cast<std::uint32_t>(kSignature.size() + 1); },
       nullptr},
      {"offset past the end", [size](CabOptions& o) { o.signatureOffset = size + 1; }, nullptr},
      {"offset and length wrapping 32 bits",
       [](CabOptions& o) {
         o.signatureOffset = 0xFFFFFF00u;
         o.signatureLength = 0x200;
       },
       nullptr},
      {"offset inside the header", [](CabOptions& o) { o.signatureOffset = 8; }, nullptr},
      {"length over the signature limit",
       [](CabOptions& o) {
         o.signatureLength = static_cast<std::uint32_t>(kMaxSignatureBytes + 1);
       },
       nullptr},
      {"wrong magic", nullptr, [](Bytes& b) { b[3] = 'G'; }},
      {"header cut inside the reserve", nullptr, [](Bytes& b) { b.resize(0x30); }},
      {"signature cut short", nullptr, [](Bytes& b) { b.pop_back(); }},
      {"empty file", nullptr, [](Bytes& b) { b.clear(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CabOptions o = Signed();
    if (c.change) c.change(o);
    Bytes file = fixtures::BuildCabinet(o);
    if (c.patch) c.patch(file);
    EXPECT_FALSE(Locate(file).has_value());
  }
}

TEST(CabinetSignature, ReadsOnlyTheHeaderAndTheSignature) {
  CabOptions o = Signed();
  o.fileData = Bytes(60000, 'x');
  const Bytes file = fixtures::BuildCabinet(o);
  fixtures::CountingSource source(file);
  ASSERT_TRUE(LocateCabSignature(source).has_value());
  EXPECT_LE(source.BytesRead(), 64 + kSignature.size());
}

}  // namespace
}  // namespace veltrano
