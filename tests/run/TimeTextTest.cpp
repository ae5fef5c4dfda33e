#include "run/TimeText.h"

#include <gtest/gtest.h>

#include <string_view>

#include <cstdint>
#include <cwchar>

#include "platform/FileTimes.h"
#include "tests/fixtures/TestEnv.h"

namespace {

using veltrano::FileTimeOf;
using veltrano::fixtures::ScopedTimeZone;
using veltrano::fixtures::UtcSeconds;
using veltrano::fixtures::WineGap;

constexpr std::int64_t kJanuary2024 = 1705000000;  // standard time in New York

FILETIME AtUtc(std::int64_t unixSeconds, std::uint64_t extraTicks = 0) {
  return FileTimeOf(static_cast<std::uint64_t>(unixSeconds) * veltrano::kTicksPerSecond +
                    veltrano::kEpochDifferenceTicks + extraTicks);
}

// The text, or the error's status code as "<0x........>".
template <typename F>
std::wstring Convert(F&& format) {
  try {
    return format();
  } catch (const CTimeTextException& e) {
    wchar_t code[16];
    std::swprintf(code, 16, L"<0x%08X>", static_cast<unsigned>(e.m_sc));
    return code;
  }
}
constexpr wchar_t kInvalidArg[] = L"<0x80070057>";
constexpr wchar_t kFail[] = L"<0x80004005>";

TEST(FormatTimeText, LocalTextInSeveralZonesWithItsBoundsAndErrors) {
  struct Case {
    const char* what;
    const char* tz;
    FILETIME utc;
    const wchar_t* expected;
  } cases[] = {
      {"UTC+8", "Asia/Shanghai", AtUtc(UtcSeconds(2024, 5, 20, 16, 30, 5)), L"2024/05/21 00:30:05"},
      {"sub-second ticks are dropped", "UTC", AtUtc(UtcSeconds(2024, 5, 20, 16, 30, 5), 9999999),
       L"2024/05/20 16:30:05"},
      {"1899 shows the epoch", "UTC", AtUtc(UtcSeconds(1899, 12, 31, 23, 59, 59)),
       L"1970/01/01 00:00:00"},
      {"1900 up to the epoch cannot be shown", "UTC", AtUtc(UtcSeconds(1900, 1, 1)), kInvalidArg},
      {"the first instant", "UTC", AtUtc(0), L"1970/01/01 00:00:00"},
      {"the bounds are UTC instants: the epoch shows as 1969 in New York", "America/New_York",
       AtUtc(0), L"1969/12/31 19:00:00"},
      {"an hour before the epoch cannot be shown", "America/New_York", AtUtc(-3600), kInvalidArg},
      {"west of UTC the zero FILETIME has no local date", "America/New_York", FILETIME{0, 0},
       kInvalidArg},
      {"the last instant", "UTC", AtUtc(UtcSeconds(3000, 12, 31, 23, 59, 59)),
       L"3000/12/31 23:59:59"},
      {"one second later", "UTC", AtUtc(UtcSeconds(3001, 1, 1)), kInvalidArg},
      {"UTC+8 shows the last instant as 3001", "Asia/Shanghai",
       AtUtc(UtcSeconds(3000, 12, 31, 23, 59, 59)), L"3001/01/01 07:59:59"},
      {"a value beyond any date", "UTC", FILETIME{0, 0x80000000u}, kInvalidArg},
      {"east of UTC, the bias does not wrap the largest value into a date", "Asia/Shanghai",
       FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu}, kInvalidArg},
      {"a file time 2^64 ticks past 2020 does not wrap into 2020", "UTC",
       FileTimeOf(timespec{1844674407371 + UtcSeconds(2020, 1, 1), 0}), kInvalidArg},
      // The zone's current bias, not the date's own, turns UTC into local time.
      {"summer time read in winter", "America/New_York", AtUtc(UtcSeconds(2024, 7, 15, 12)),
       L"2024/07/15 07:00:00"},
      // 02:30 local, which the clocks skip that night, is read as standard time.
      {"a time the clocks skip", "America/New_York", AtUtc(UtcSeconds(2024, 3, 10, 7, 30)),
       L"2024/03/10 03:30:00"},
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.tz, kJanuary2024);
    if (!zone.Holds()) continue;  // Windows: only the run's own zone (see ScopedTimeZone)
    if (std::wstring_view(c.expected).starts_with(L"3001") &&
        WineGap("Wine's _localtime64_s refuses an instant whose local time lies past 3000"))
      continue;
    EXPECT_EQ(Convert([&] { return FormatTimeText(c.utc); }), c.expected) << c.what;
  }
}

TEST(FormatLocalTimeText, FieldsOutOfRangeAreAnUnspecifiedErrorExceptBefore1900) {
  ScopedTimeZone zone("UTC");
  const std::pair<SYSTEMTIME, const wchar_t*> cases[] = {
      {{2024, 5, 0, 20, 16, 30, 5, 999}, L"2024/05/20 16:30:05"},
      {{2024, 0, 0, 20, 16, 30, 5, 0}, kFail},
      {{2024, 13, 0, 20, 16, 30, 5, 0}, kFail},
      {{2024, 5, 0, 0, 16, 30, 5, 0}, kFail},
      {{2024, 5, 0, 32, 16, 30, 5, 0}, kFail},
      {{2024, 5, 0, 20, 24, 30, 5, 0}, kFail},
      {{2024, 5, 0, 20, 16, 60, 5, 0}, kFail},
      {{2024, 5, 0, 20, 16, 30, 60, 0}, kFail},  // second 60
      {{1899, 13, 9, 40, 99, 99, 99, 0}, L"1970/01/01 00:00:00"},
  };
  for (const auto& [local, expected] : cases) {
    EXPECT_EQ(Convert([&] { return FormatLocalTimeText(local); }), expected)
        << local.wYear << "-" << local.wMonth << "-" << local.wDay << " " << local.wHour << ":"
        << local.wMinute << ":" << local.wSecond;
  }
}

TEST(CTimeTextException, CarriesThePlatformsWording) {
  EXPECT_EQ(CTimeTextException(E_INVALIDARG).Message(), L"参数错误。");
  EXPECT_EQ(CTimeTextException(E_FAIL).Message(), L"未指定的错误");
  EXPECT_STREQ(CTimeTextException(E_INVALIDARG).what(), "参数错误。");
}

}  // namespace
