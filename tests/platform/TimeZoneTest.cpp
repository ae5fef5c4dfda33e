// FILETIME to calendar fields. The zone conversions below the result list's
// time text (bias, _mktime64's bounds) are covered through FormatTimeText
// (tests/run/TimeTextTest.cpp).
#include "platform/Win32.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "platform/FileTimes.h"
#include "platform/Win32.h"
#include "tests/fixtures/TestEnv.h"

namespace veltrano {
namespace {

using fixtures::UtcSeconds;

constexpr __time64_t kLastInstant = 32535215999;  // 3000-12-31 23:59:59 UTC

std::uint64_t TicksAt(std::int64_t unixSeconds, std::uint64_t extraTicks = 0) {
  return static_cast<std::uint64_t>(unixSeconds) * kTicksPerSecond + kEpochDifferenceTicks +
         extraTicks;
}

// year, month, day of week, day, hour, minute, second, ms
using Fields = std::array<WORD, 8>;

TEST(FileTimeToSystemTime, SplitsIntoCalendarFieldsAndRefusesTheTopBit) {
  const std::pair<std::uint64_t, Fields> cases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},                      // the first instant, a Monday
      {kEpochDifferenceTicks, {1970, 1, 4, 1, 0, 0, 0, 0}},  // the 1970 epoch, a Thursday
      // A leap day's last millisecond; ticks below 1 ms are dropped.
      {TicksAt(UtcSeconds(2024, 2, 29, 23, 59, 59), 9999999), {2024, 2, 4, 29, 23, 59, 59, 999}},
      {TicksAt(kLastInstant), {3000, 12, 3, 31, 23, 59, 59, 0}},
      {0x7FFFFFFFFFFFFFFFULL, {30828, 9, 4, 14, 2, 48, 5, 477}},  // the last value accepted
  };
  for (const auto& [ticks, expected] : cases) {
    SCOPED_TRACE(ticks);
    const FILETIME ft = FileTimeOf(ticks);
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ((Fields{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond,
                      st.wMilliseconds}),
              expected);
  }
  for (std::uint64_t ticks : {0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL}) {
    const FILETIME ft = FileTimeOf(ticks);
    SYSTEMTIME st{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

}  // namespace
}  // namespace veltrano
