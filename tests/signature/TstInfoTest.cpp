#include "platform/signature/TstInfo.h"

#include <gtest/gtest.h>

#include "platform/FileTimes.h"
#include "tests/fixtures/DerWriter.h"
#include "tests/fixtures/TestEnv.h"

namespace veltrano {
namespace {

using namespace fixtures;

// A genTime text and its 100-ns ticks past the whole seconds, or nothing
// where the text counts as damaged.
TEST(GenTime, KeepsTheFractionTo100NanosecondsAndRefusesWhatIsDamaged) {
  const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
      {"20190405060708Z", 0},
      {"20190405060708.5Z", 5000000},
      {"20190405060708.1234567Z", 1234567},
      {"20190405060708.99999999Z", 9999999},  // truncated, never rounded
      {"20190405060708.500Z", 5000000},       // trailing zeros
      {"20000229235959Z", 0},
      {"16010101000000Z", 0},
      {"20190405060708", {}},  // no Z
      {"20190405060708,5Z", {}},
      {"201904050607Z", {}},     // no seconds
      {"20190405060708.Z", {}},  // empty fraction
      {"20190405060760Z", {}},   // second 60
      {"20190229120000Z", {}},   // no such day
      {"20191305060708Z", {}},
      {"16001231235959Z", {}},  // before 1601
      {"20190405060708+0000", {}},
      {"20190405060708Zx", {}},
  };
  for (const auto& [text, fraction] : cases) {
    SCOPED_TRACE(text);
    const auto ticks = tst::GenTimeTicks(ByteView(BytesOf(text)));
    ASSERT_EQ(ticks.ok(), fraction.has_value());
    if (!fraction) {
      EXPECT_EQ(ticks.error(), der::Error::kCorrupt);
      continue;
    }
    const std::string t = text;
    const auto seconds = UtcSeconds(std::stoi(t.substr(0, 4)), std::stoi(t.substr(4, 2)),
                                    std::stoi(t.substr(6, 2)), std::stoi(t.substr(8, 2)),
                                    std::stoi(t.substr(10, 2)), std::stoi(t.substr(12, 2)));
    EXPECT_EQ(*ticks,
              static_cast<std::uint64_t>(seconds + 11644473600) * kTicksPerSecond + *fraction);
  }
}
}  // namespace
}  // namespace veltrano
