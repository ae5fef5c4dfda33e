// FILETIME (100 ns ticks since 1601-01-01 UTC) and POSIX time values.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/Win32.h"

namespace veltrano {

// Ticks between 1601-01-01 and 1970-01-01.
inline constexpr std::uint64_t kEpochDifferenceTicks = 116444736000000000ULL;
inline constexpr std::uint64_t kTicksPerSecond = 10000000ULL;

constexpr std::uint64_t TicksOf(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

constexpr FILETIME FileTimeOf(std::uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// Days between 1601-01-01 and 1970-01-01.
inline constexpr std::int64_t kDays1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The proleptic Gregorian date `days` after 1970-01-01.
constexpr void CivilFromDays(std::int64_t days, std::int64_t& y, unsigned& m, unsigned& d) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

// The instant as seconds and nanoseconds since 1970 (seconds may be negative;
// nanoseconds are always 0..999999999), for every FILETIME.
inline timespec TimespecOf(const FILETIME& ft) {
  static_assert(kEpochDifferenceTicks % kTicksPerSecond == 0);
  constexpr auto kEpochSeconds = static_cast<std::int64_t>(kEpochDifferenceTicks / kTicksPerSecond);
  const std::uint64_t ticks = TicksOf(ft);
  timespec ts{};
  ts.tv_sec =
      static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochSeconds);
  ts.tv_nsec = static_cast<long>(ticks % kTicksPerSecond * 100);
  return ts;
}

// The FILETIME for a POSIX instant, truncated to 100 ns. Instants before 1601
// give 0; instants past the last one a FILETIME holds (file systems such as
// tmpfs keep times up to 2^42 s and beyond) give the largest FILETIME, a value
// past every date, which no time text shows, instead of wrapping into a date.
inline FILETIME FileTimeOf(const timespec& ts) {
  const std::int64_t minSec = -static_cast<std::int64_t>(kEpochDifferenceTicks / kTicksPerSecond);
  if (ts.tv_sec < minSec) return FILETIME{0, 0};
  // Seconds since 1601; the sum cannot pass 2^64 (tv_sec is at most 2^63 - 1).
  const std::uint64_t seconds =
      static_cast<std::uint64_t>(ts.tv_sec) + static_cast<std::uint64_t>(-minSec);
  const auto hundreds = static_cast<std::uint64_t>(ts.tv_nsec / 100);
  if (seconds > (~std::uint64_t{0} - hundreds) / kTicksPerSecond)
    return FileTimeOf(~std::uint64_t{0});
  return FileTimeOf(seconds * kTicksPerSecond + hundreds);
}

}  // namespace veltrano
