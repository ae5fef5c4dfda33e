#include "run/TimeText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "platform/FileTimes.h"
#include "tests/fixtures/TestEnv.h"

namespace {

using veltrano::FileTimeOf;
using veltrano::fixtures::ScopedTimeZone;
using veltrano::fixtures::UtcSeconds;

constexpr std::int64_t kJuly2024 = 1720000000;     // daylight saving in New York
constexpr std::int64_t kJanuary2024 = 1705000000;  // standard time

FILETIME AtUtc(std::int64_t unixSeconds, std::uint64_t extraTicks = 0) {
  return FileTimeOf(static_cast<std::uint64_t>(unixSeconds) * veltrano::kTicksPerSecond +
                    veltrano::kEpochDifferenceTicks + extraTicks);
}

// The text, or the error's status code.
struct Outcome {
  std::optional<std::wstring> text;
  HRESULT error = S_OK;
};

template <typename F>
Outcome Convert(F&& format) {
  try {
    return {format(), S_OK};
  } catch (const CTimeTextException& e) {
    return {std::nullopt, e.m_sc};
  }
}

TEST(FormatTimeText, LocalTextInSeveralZonesWithItsBoundsAndErrors) {
  struct Case {
    const char* what;
    const char* tz;
    std::int64_t now;
    FILETIME utc;
    const wchar_t* text;  // null: the error below is expected
    HRESULT error;
  } cases[] = {
      {"UTC+8", "Asia/Shanghai", kJanuary2024, AtUtc(UtcSeconds(2024, 5, 20, 16, 30, 5)),
       L"2024/05/21 00:30:05", S_OK},
      {"sub-second ticks are dropped", "UTC", kJanuary2024,
       AtUtc(UtcSeconds(2024, 5, 20, 16, 30, 5), 9999999), L"2024/05/20 16:30:05", S_OK},
      {"the zero FILETIME is before 1900: the epoch in local time", "Asia/Shanghai", kJanuary2024,
       FILETIME{0, 0}, L"1970/01/01 08:00:00", S_OK},
      {"1899 in UTC shows the epoch", "UTC", kJanuary2024,
       AtUtc(UtcSeconds(1899, 12, 31, 23, 59, 59)), L"1970/01/01 00:00:00", S_OK},
      {"1900 up to the epoch cannot be shown", "UTC", kJanuary2024, AtUtc(UtcSeconds(1900, 1, 1)),
       nullptr, E_INVALIDARG},
      {"the bounds are UTC instants: the epoch shows as 1969 in New York", "America/New_York",
       kJanuary2024, AtUtc(0), L"1969/12/31 19:00:00", S_OK},
      {"an hour before the epoch cannot be shown", "America/New_York", kJanuary2024, AtUtc(-3600),
       nullptr, E_INVALIDARG},
      {"west of UTC the zero FILETIME has no local date", "America/New_York", kJanuary2024,
       FILETIME{0, 0}, nullptr, E_INVALIDARG},
      {"the first instant", "UTC", kJanuary2024, AtUtc(0), L"1970/01/01 00:00:00", S_OK},
      {"the last instant", "UTC", kJanuary2024, AtUtc(UtcSeconds(3000, 12, 31, 23, 59, 59)),
       L"3000/12/31 23:59:59", S_OK},
      {"one second later", "UTC", kJanuary2024, AtUtc(UtcSeconds(3001, 1, 1)), nullptr,
       E_INVALIDARG},
      {"UTC+8 shows the last instant as 3001", "Asia/Shanghai", kJanuary2024,
       AtUtc(UtcSeconds(3000, 12, 31, 23, 59, 59)), L"3001/01/01 07:59:59", S_OK},
      {"a value beyond any date", "UTC", kJanuary2024, FILETIME{0, 0x80000000u}, nullptr,
       E_INVALIDARG},
      // The zone's current bias turns UTC into local fields; the runtime then
      // reads those fields with the date's own daylight-saving rule.
      {"winter time in winter", "America/New_York", kJanuary2024,
       AtUtc(UtcSeconds(2024, 1, 15, 12)), L"2024/01/15 07:00:00", S_OK},
      {"winter time read in summer", "America/New_York", kJuly2024,
       AtUtc(UtcSeconds(2024, 1, 15, 12)), L"2024/01/15 08:00:00", S_OK},
      {"summer time read in winter", "America/New_York", kJanuary2024,
       AtUtc(UtcSeconds(2024, 7, 15, 12)), L"2024/07/15 07:00:00", S_OK},
      {"summer time in summer", "America/New_York", kJuly2024, AtUtc(UtcSeconds(2024, 7, 15, 12)),
       L"2024/07/15 08:00:00", S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTimeZone zone(c.tz, c.now);
    const Outcome outcome = Convert([&] { return FormatTimeText(c.utc); });
    if (c.text != nullptr) {
      EXPECT_EQ(outcome.text, std::wstring(c.text));
    } else {
      EXPECT_EQ(outcome.text, std::nullopt);
      EXPECT_EQ(outcome.error, c.error);
    }
  }
}

TEST(FormatLocalTimeText, FieldsOutOfRangeAreAnUnspecifiedError) {
  ScopedTimeZone zone("UTC");
  const SYSTEMTIME valid{2024, 5, 0, 20, 16, 30, 5, 999};
  EXPECT_EQ(Convert([&] { return FormatLocalTimeText(valid); }).text, L"2024/05/20 16:30:05");

  struct Case {
    const char* what;
    SYSTEMTIME local;
  } cases[] = {
      {"month 0", {2024, 0, 0, 20, 16, 30, 5, 0}},    {"month 13", {2024, 13, 0, 20, 16, 30, 5, 0}},
      {"day 0", {2024, 5, 0, 0, 16, 30, 5, 0}},       {"day 32", {2024, 5, 0, 32, 16, 30, 5, 0}},
      {"hour 24", {2024, 5, 0, 20, 24, 30, 5, 0}},    {"minute 60", {2024, 5, 0, 20, 16, 60, 5, 0}},
      {"second 60", {2024, 5, 0, 20, 16, 30, 60, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Convert([&] { return FormatLocalTimeText(c.local); }).error, E_FAIL);
  }
  // Before 1900 the fields are not looked at.
  const SYSTEMTIME old{1899, 13, 9, 40, 99, 99, 99, 0};
  EXPECT_EQ(Convert([&] { return FormatLocalTimeText(old); }).text, L"1970/01/01 00:00:00");
}

TEST(CTimeTextException, CarriesThePlatformsWording) {
  EXPECT_EQ(CTimeTextException(E_INVALIDARG).Message(), L"参数错误。");
  EXPECT_EQ(CTimeTextException(E_FAIL).Message(), L"未指定的错误");
  EXPECT_STREQ(CTimeTextException(E_INVALIDARG).what(), "参数错误。");
  EXPECT_EQ(static_cast<std::uint32_t>(E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(static_cast<std::uint32_t>(E_FAIL), 0x80004005u);
}

}  // namespace
