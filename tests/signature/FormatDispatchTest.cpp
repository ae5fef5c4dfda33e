// Which locator answers for a file: binary formats are recognised by their
// content whatever the name, scripts by their extension only.
#include <gtest/gtest.h>

#include <map>

#include "platform/signature/SignatureLocator.h"
#include "tests/fixtures/FormatFixtures.h"

namespace veltrano {
namespace {

namespace fx = veltrano::fixtures;

TEST(FormatDispatch, ContentDecidesForBinaryFormatsAndTheExtensionForScripts) {
  std::map<std::string, fx::Bytes> files;
  for (auto& f : fx::CraftedFormatFiles()) files[f.name] = std::move(f.bytes);
  struct Case {
    const char* source;
    const wchar_t* path;
    bool found;
  };
  const Case cases[] = {
      {"signed.cab", L"/d/setup.exe", true},
      {"signed.cab", L"/d/notes.ps1", true},
      {"signed-mini.msi", L"/d/package.msp", true},
      {"signed-regular.msi", L"/d/no-extension", true},
      {"signed-4096.msi", L"/d/patch.mst", true},
      {"signed.js", L"/d/SIGNED.JS", true},
      {"signed.ps1xml", L"/d/types.PS1XML", true},
      {"signed.ps1", L"/d/signed.ps1.txt", false},
      {"signed.ps1", L"/d/signed.js", false},
      {"signed.vbs", L"/d/signed", false},
      {"signed.ps1", L"/d.ps1/signed", false},
      {"unsigned.cab", L"/d/unsigned.cab", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << " as " << c.path);
    const fx::Bytes& bytes = files.at(c.source);
    const auto found = LocateEmbeddedSignature(MemorySource(bytes.data(), bytes.size()), c.path);
    EXPECT_EQ(found.has_value(), c.found);
  }
}

}  // namespace
}  // namespace veltrano
