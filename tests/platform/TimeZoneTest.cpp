#include "platform/TimeZone.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "platform/FileTimes.h"
#include "platform/Win32.h"
#include "tests/fixtures/TestEnv.h"

namespace veltrano {
namespace {

using fixtures::ScopedTimeZone;
using fixtures::UtcSeconds;

constexpr std::int64_t kJuly2024 = 1720000000;     // 2024-07-03, daylight saving in New York
constexpr std::int64_t kJanuary2024 = 1705000000;  // 2024-01-11, standard time
constexpr __time64_t kLastInstant = 32535215999;   // 3000-12-31 23:59:59 UTC

std::uint64_t TicksAt(std::int64_t unixSeconds, std::uint64_t extraTicks = 0) {
  return static_cast<std::uint64_t>(unixSeconds) * kTicksPerSecond + kEpochDifferenceTicks +
         extraTicks;
}

TEST(FileTimeToSystemTime, SplitsIntoCalendarFields) {
  struct Case {
    const char* what;
    std::uint64_t ticks;
    SYSTEMTIME expected;  // year, month, day of week, day, hour, minute, second, ms
  } cases[] = {
      {"the first instant, a Monday", 0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {"the 1970 epoch, a Thursday", kEpochDifferenceTicks, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {"a leap day's last millisecond; ticks below 1 ms are dropped",
       TicksAt(UtcSeconds(2024, 2, 29, 23, 59, 59), 9999999),
       {2024, 2, 4, 29, 23, 59, 59, 999}},
      {"the end of 3000", TicksAt(kLastInstant), {3000, 12, 3, 31, 23, 59, 59, 0}},
      {"the last value the platform accepts",
       0x7FFFFFFFFFFFFFFFULL,
       {30828, 9, 4, 14, 2, 48, 5, 477}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FILETIME ft = FileTimeOf(c.ticks);
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, c.expected.wYear);
    EXPECT_EQ(st.wMonth, c.expected.wMonth);
    EXPECT_EQ(st.wDayOfWeek, c.expected.wDayOfWeek);
    EXPECT_EQ(st.wDay, c.expected.wDay);
    EXPECT_EQ(st.wHour, c.expected.wHour);
    EXPECT_EQ(st.wMinute, c.expected.wMinute);
    EXPECT_EQ(st.wSecond, c.expected.wSecond);
    EXPECT_EQ(st.wMilliseconds, c.expected.wMilliseconds);
  }
}

TEST(FileTimeToSystemTime, RefusesValuesWithTheTopBitSet) {
  for (std::uint64_t ticks : {0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL}) {
    const FILETIME ft = FileTimeOf(ticks);
    SYSTEMTIME st{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

TEST(FileTimeToLocalFileTime, AppliesTheBiasInForceNowNotAtTheGivenInstant) {
  const std::uint64_t winterInstant = TicksAt(UtcSeconds(2024, 1, 15, 12));
  const std::uint64_t hour = 3600 * kTicksPerSecond;
  struct Case {
    const char* tz;
    std::int64_t now;
    std::int64_t shiftHours;
  } cases[] = {
      {"Asia/Shanghai", kJanuary2024, 8},
      {"UTC", kJuly2024, 0},
      {"America/New_York", kJanuary2024, -5},
      // Summer now: a winter instant still gets the summer bias.
      {"America/New_York", kJuly2024, -4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    ScopedTimeZone zone(c.tz, c.now);
    const FILETIME utc = FileTimeOf(winterInstant);
    FILETIME local{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(TicksOf(local), winterInstant + static_cast<std::uint64_t>(c.shiftHours) * hour);
  }
}

std::tm Fields(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return t;
}

TEST(Mktime64, AcceptsOnly1970To3000Utc) {
  struct Case {
    const char* tz;
    std::tm local;
    __time64_t expected;
  } cases[] = {
      {"UTC", Fields(1970, 1, 1, 0, 0, 0), 0},
      {"UTC", Fields(1969, 12, 31, 23, 59, 59), -1},
      {"UTC", Fields(3000, 12, 31, 23, 59, 59), kLastInstant},
      {"UTC", Fields(3001, 1, 1, 0, 0, 0), -1},
      {"UTC", Fields(1900, 1, 1, 0, 0, 0), -1},
      {"Asia/Shanghai", Fields(1970, 1, 1, 7, 59, 59), -1},
      {"Asia/Shanghai", Fields(1970, 1, 1, 8, 0, 0), 0},
      {"Asia/Shanghai", Fields(3001, 1, 1, 7, 59, 59), kLastInstant},
      {"America/New_York", Fields(1969, 12, 31, 19, 0, 0), 0},
      {"America/New_York", Fields(1969, 12, 31, 18, 59, 59), -1},
      // The runtime decides daylight saving by the date itself.
      {"America/New_York", Fields(2024, 7, 15, 8, 0, 0), UtcSeconds(2024, 7, 15, 12)},
      {"America/New_York", Fields(2024, 1, 15, 7, 0, 0), UtcSeconds(2024, 1, 15, 12)},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(std::string(c.tz) + " " + std::to_string(c.local.tm_year + 1900));
    ScopedTimeZone zone(c.tz);
    EXPECT_EQ(_mktime64(&c.local), c.expected);
  }
}

TEST(Localtime64s, SplitsInRangeAndMarksEverythingInvalidOutside) {
  ScopedTimeZone zone("Asia/Shanghai");
  std::tm t{};
  const __time64_t zero = 0;
  ASSERT_EQ(_localtime64_s(&t, &zero), 0);
  EXPECT_EQ(t.tm_year, 70);
  EXPECT_EQ(t.tm_hour, 8);

  for (__time64_t bad : {__time64_t{-1}, kLastInstant + 1}) {
    std::tm out{};
    EXPECT_EQ(_localtime64_s(&out, &bad), EINVAL);
    EXPECT_EQ(out.tm_year, -1);
    EXPECT_EQ(out.tm_mday, -1);
  }
  EXPECT_EQ(_localtime64_s(&t, nullptr), EINVAL);
  EXPECT_EQ(_localtime64_s(nullptr, &zero), EINVAL);
}

}  // namespace
}  // namespace veltrano
