#include "platform/signature/CompoundFile.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/fixtures/CompoundFileBuilder.h"
#include "tests/fixtures/LittleEndian.h"
#include "tests/fixtures/ReadCounter.h"

namespace veltrano {
namespace {

using fixtures::Bytes;
using fixtures::CfbImage;
using fixtures::CfbOptions;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return b;
}

// An MSI-like package: a few tables, a summary stream, the signature and
// its extended companion. Index 2 is the signature.
CfbOptions Package(unsigned version, std::size_t signatureSize) {
  CfbOptions o;
  o.majorVersion = version;
  o.entries = {
      {u"\x05SummaryInformation", Pattern(400, 1)},
      {u"Binary.bigdata", Pattern(9000, 2)},
      {fixtures::SignatureStreamName(), Pattern(signatureSize, 3)},
      {std::u16string(u"\x05") + u"MsiDigitalSignatureEx", Pattern(32, 4)},
      {u"Property", Pattern(130, 5)},
      {u"File", Pattern(70, 6)},
      {u"Component", Pattern(90, 7)},
      {u"Directory", Pattern(50, 8)},
      {u"Feature", Pattern(60, 9)},
  };
  return o;
}
constexpr std::size_t kSignatureIndex = 2;

std::optional<Bytes> Locate(const Bytes& file) {
  return LocateMsiSignature(MemorySource(file.data(), file.size()));
}

TEST(CompoundFileSignature, FindsTheSignatureStreamInEveryLayoutByItsName) {
  struct Case {
    const char* what;
    unsigned version;
    std::size_t signatureSize;
    std::function<void(fixtures::CfbEntry&)> edit = nullptr;  // changes the signature's entry
    bool found = true;
    fixtures::CfbClass rootClass = fixtures::kCfbInstallerDatabase;
  };
  const Case cases[] = {
      {"512-byte sectors, regular stream", 3, 6000},
      {"512-byte sectors, mini stream", 3, 1500},
      {"4096-byte sectors, regular stream", 4, 9000},
      {"4096-byte sectors, mini stream", 4, 1500},
      {"stream exactly at the mini stream cutoff", 3, 4096},
      {"stream one byte below the cutoff", 3, 4095},
      {"name in other letter case", 3, 500,
       [](fixtures::CfbEntry& e) { e.name = std::u16string(u"\x05") + u"digitalSIGNATURE"; }},
      {"name without its mark", 3, 500, [](fixtures::CfbEntry& e) { e.name = u"DigitalSignature"; },
       false},
      {"a storage of that name", 3, 500,
       [](fixtures::CfbEntry& e) {
         e.type = 1;
         e.data.clear();
       },
       false},
      {"an installer patch", 3, 500, nullptr, true, fixtures::kCfbInstallerPatch},
      {"an installer transform", 4, 500, nullptr, true, fixtures::kCfbInstallerTransform},
      {"a compound file of no installer class", 3, 500, nullptr, false, fixtures::kCfbNoClass},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CfbOptions o = Package(c.version, c.signatureSize);
    o.rootClass = c.rootClass;
    if (c.edit) c.edit(o.entries[kSignatureIndex]);
    const auto found = Locate(fixtures::BuildCompoundFile(o).bytes);
    ASSERT_EQ(found.has_value(), c.found);
    if (c.found) {
      EXPECT_EQ(*found, o.entries[kSignatureIndex].data);
    }
  }
  CfbOptions unsignedPackage = Package(3, 500);
  unsignedPackage.entries.erase(unsignedPackage.entries.begin() + kSignatureIndex);
  EXPECT_FALSE(Locate(fixtures::BuildCompoundFile(unsignedPackage).bytes).has_value());
}

// Each case damages one structure of a valid package; every one of them
// must give nothing (and, under the sanitizers, touch nothing out of range).
TEST(CompoundFileSignature, MalformedStructuresGiveNothing) {
  struct Case {
    const char* what;
    unsigned version;
    std::size_t signatureSize;
    std::function<void(const CfbImage&, Bytes&)> damage;
  };
  auto sig = [](const CfbImage& img) { return img.placements[kSignatureIndex]; };
  const Case cases[] = {
      {"regular chain loops back", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         const auto s = sig(img).sectors;
         fixtures::SetU32(b, img.FatEntryOffset(s[5]), s[1]);
       }},
      {"regular chain ends early", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU32(b, img.FatEntryOffset(sig(img).sectors[3]), fixtures::kCfbEndOfChain);
       }},
      {"regular chain leaves the file", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU32(b, img.FatEntryOffset(sig(img).sectors[3]), 0x00FFFFFF);
       }},
      {"start sector outside the file", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU32(b, img.DirectoryEntryOffset(sig(img).id) + fixtures::kCfbEntryStart,
                          0x7FFFFFFF);
       }},
      {"stream size past the end of the file", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU64(b, img.DirectoryEntryOffset(sig(img).id) + fixtures::kCfbEntrySize,
                          b.size() + 1);
       }},
      {"stream size over the signature limit", 4, 9000,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU64(b, img.DirectoryEntryOffset(sig(img).id) + fixtures::kCfbEntrySize,
                          kMaxSignatureBytes + 1);
       }},
      {"empty stream", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU64(b, img.DirectoryEntryOffset(sig(img).id) + fixtures::kCfbEntrySize, 0);
       }},
      {"mini sector beyond the mini stream", 3, 1500,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU32(b, img.MiniFatEntryOffset(sig(img).sectors[4]), 5000);
       }},
      {"mini stream larger than the file", 3, 1500,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU64(b, img.DirectoryEntryOffset(0) + fixtures::kCfbEntrySize, 1u << 30);
       }},
      {"mini stream chain loops", 3, 1500,
       [&](const CfbImage& img, Bytes& b) {
         const auto s = img.miniStreamSectors;
         fixtures::SetU32(b, img.FatEntryOffset(s[0]), s[0]);
       }},
      {"directory chain loops", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         const auto d = img.directorySectors;
         fixtures::SetU32(b, img.FatEntryOffset(d[0]), d[0]);
       }},
      {"sibling link loops to an ancestor", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         // The signature sits below the top's right child; that child's
         // right link now leads back to the top before the search gets there.
         using fixtures::GetU32;
         const std::uint32_t top =
             GetU32(b, img.DirectoryEntryOffset(0) + fixtures::kCfbEntryChild);
         const std::uint32_t right =
             GetU32(b, img.DirectoryEntryOffset(top) + fixtures::kCfbEntryRight);
         fixtures::SetU32(b, img.DirectoryEntryOffset(right) + fixtures::kCfbEntryRight, top);
       }},
      {"sibling link to a missing entry", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         fixtures::SetU32(b, img.DirectoryEntryOffset(0) + fixtures::kCfbEntryChild, 900000);
       }},
      {"root entry is not a root", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         b[img.DirectoryEntryOffset(0) + fixtures::kCfbEntryType] = 1;
       }},
      {"version 3 with 4096-byte sectors", 3, 6000,
       [](const CfbImage&, Bytes& b) { fixtures::SetU16(b, 0x1E, 12); }},
      {"more FAT sectors than the file has", 3, 6000,
       [](const CfbImage&, Bytes& b) { fixtures::SetU32(b, 0x2C, 0x10000000); }},
      {"FAT sector listed outside the file", 3, 6000,
       [](const CfbImage&, Bytes& b) { fixtures::SetU32(b, 0x4C, 0x00FFFFFF); }},
      {"file cut inside the signature", 3, 6000,
       [&](const CfbImage& img, Bytes& b) {
         b.resize(img.SectorOffset(sig(img).sectors[5]) + 10);
       }},
      {"file cut inside the header", 3, 6000, [](const CfbImage&, Bytes& b) { b.resize(300); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CfbImage img = fixtures::BuildCompoundFile(Package(c.version, c.signatureSize));
    ASSERT_TRUE(Locate(img.bytes).has_value());  // the undamaged file reads
    Bytes damaged = img.bytes;
    c.damage(img, damaged);
    ASSERT_NE(damaged, img.bytes);
    EXPECT_FALSE(Locate(damaged).has_value());
  }
}

TEST(CompoundFileSignature, FollowsTheDifatAndRefusesItsDamage) {
  // Over 236 FAT sectors need two DIFAT sectors; the signature's FAT sector
  // is listed in the second.
  CfbOptions o = Package(3, 20000);
  o.paddingSectors = 128 * 260;
  const CfbImage img = fixtures::BuildCompoundFile(o);
  ASSERT_GE(img.difatSectors.size(), 2u);
  const std::uint32_t sigFatIndex = img.placements[kSignatureIndex].sectors.back() / 128;
  ASSERT_GE(sigFatIndex, 109u + 127u);
  const auto found = Locate(img.bytes);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, o.entries[kSignatureIndex].data);
  const std::size_t nextLink = img.SectorOffset(img.difatSectors[0]) + 127 * 4;

  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"DIFAT count says none", [](Bytes& b) { fixtures::SetU32(b, 0x48, 0); }},
      {"DIFAT chain loops", [&](Bytes& b) { fixtures::SetU32(b, nextLink, img.difatSectors[0]); }},
      {"DIFAT chain ends early",
       [&](Bytes& b) { fixtures::SetU32(b, nextLink, fixtures::kCfbEndOfChain); }},
      {"FAT sector location outside the file",
       [&](Bytes& b) { fixtures::SetU32(b, img.FatLocationOffset(sigFatIndex), 0x7FFFFFF0); }},
      {"first DIFAT sector outside the file",
       [](Bytes& b) { fixtures::SetU32(b, 0x44, 0x7FFFFFF0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes damaged = img.bytes;
    c.damage(damaged);
    EXPECT_FALSE(Locate(damaged).has_value());
  }
}

TEST(CompoundFileSignature, ReadsOnlyTheStructuresOnItsWay) {
  CfbOptions o = Package(3, 6000);
  o.entries.push_back({u"Binary.payload", Pattern(4 << 20, 9)});
  const CfbImage img = fixtures::BuildCompoundFile(o);
  fixtures::CountingSource source(img.bytes);
  ASSERT_TRUE(LocateMsiSignature(source).has_value());
  // Header, a few FAT and directory sectors and the signature's sectors.
  EXPECT_LT(source.BytesRead(), 6000u + 16 * 512);
}

}  // namespace
}  // namespace veltrano
