#include <gtest/gtest.h>

#include <functional>

#include "platform/signature/Cabinet.h"
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

// Each row changes the cabinet a signer writes; the signature's bytes are
// found, or nothing is.
TEST(CabinetSignature, SignedCabinetsGiveTheirSignatureAndMalformedOnesNothing) {
  struct Case {
    const char* what;
    bool found;
    std::function<void(CabOptions&)> change;
    std::function<void(Bytes&)> patch = nullptr;
  };
  const auto size = static_cast<std::uint32_t>(fixtures::BuildCabinet(Signed()).size());
  const Case cases[] = {
      {"as signers write it", true, [](CabOptions&) {}},
      {"a reserve larger than the signature fields", true,
       [](CabOptions& o) { o.reserveSize = 64; }},
      {"cabinet chained to a previous and a next one", true,
       [](CabOptions& o) { o.extraFlags = 3; }},
      {"signature length covering padding after the DER", true,
       [](CabOptions& o) {
         o.signature.insert(o.signature.end(), {0, 0, 0});
         o.signatureLength = static_cast<std::uint32_t>(kSignature.size() + 3);
       }},
      {"no reserve flag", false, [](CabOptions& o) { o.reserveSize.reset(); }},
      {"reserve too small for the fields", false, [](CabOptions& o) { o.reserveSize = 19; }},
      {"zero length", false, [](CabOptions& o) { o.signatureLength = 0; }},
      {"length one byte past the end", false,
       [](CabOptions& o) {
         o.signatureLength = static_cast<std::uint32_t>(kSignature.size() + 1);
       }},
      {"offset past the end", false, [size](CabOptions& o) { o.signatureOffset = size + 1; }},
      {"offset and length wrapping 32 bits", false,
       [](CabOptions& o) {
         o.signatureOffset = 0xFFFFFF00u;
         o.signatureLength = 0x200;
       }},
      {"offset inside the header", false, [](CabOptions& o) { o.signatureOffset = 8; }},
      {"offset inside the reserve's length field", false,
       [](CabOptions& o) { o.signatureOffset = 0x33; }},
      {"length over the signature limit", false,
       [](CabOptions& o) {
         o.signatureLength = static_cast<std::uint32_t>(kMaxSignatureBytes + 1);
       }},
      {"wrong magic", false, [](CabOptions&) {}, [](Bytes& b) { b[3] = 'G'; }},
      {"header cut inside the reserve", false, [](CabOptions&) {},
       [](Bytes& b) { b.resize(0x30); }},
      {"signature cut short", false, [](CabOptions&) {}, [](Bytes& b) { b.pop_back(); }},
      {"empty file", false, [](CabOptions&) {}, [](Bytes& b) { b.clear(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CabOptions o = Signed();
    c.change(o);
    Bytes file = fixtures::BuildCabinet(o);
    if (c.patch) c.patch(file);
    const auto found = Locate(file);
    ASSERT_EQ(found.has_value(), c.found);
    if (c.found) {
      EXPECT_EQ(*found, o.signature);
    }
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
