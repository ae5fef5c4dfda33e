// Time conversions: FILETIME to local file time and to calendar fields, and
// the runtime's 64-bit local-time functions with their 1970..3000 range.
#include "platform/standin/TimeZone.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include "platform/FileTimes.h"
#include "platform/Win32.h"

namespace veltrano {
namespace {

constexpr std::int64_t kUnset = INT64_MIN;
std::atomic<std::int64_t> g_nowOverride{kUnset};

// 3000-12-31 23:59:59 UTC, the last instant the runtime's 64-bit time
// functions accept.
constexpr __time64_t kMaxTime64 = 32535215999;

constexpr std::uint64_t kTicksPerDay = 864000000000ULL;

}  // namespace

void SetCurrentTimeOverride(std::optional<std::int64_t> unixSeconds) {
  g_nowOverride.store(unixSeconds ? *unixSeconds : kUnset);
}

std::int64_t CurrentUtcOffsetSeconds() {
  const std::int64_t pinned = g_nowOverride.load();
  const std::time_t now = pinned != kUnset ? static_cast<std::time_t>(pinned) : std::time(nullptr);
  // localtime_r does not have to look at TZ again; the zone may have changed.
  tzset();
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

}  // namespace veltrano

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
  if (lpFileTime == nullptr || lpLocalFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The platform adds the bias without range checks; a result that wraps
  // below zero is refused later by FileTimeToSystemTime.
  const std::uint64_t bias =
      static_cast<std::uint64_t>(veltrano::CurrentUtcOffsetSeconds()) * veltrano::kTicksPerSecond;
  *lpLocalFileTime = veltrano::FileTimeOf(veltrano::TicksOf(*lpFileTime) + bias);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::uint64_t ticks = veltrano::TicksOf(*lpFileTime);
  if (ticks >= 0x8000000000000000ULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::uint64_t days = ticks / veltrano::kTicksPerDay;
  const std::uint64_t dayTicks = ticks % veltrano::kTicksPerDay;
  // 1601-01-01 was a Monday.
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  veltrano::CivilFromDays(static_cast<std::int64_t>(days) - veltrano::kDays1601To1970, year, month,
                          day);

  const std::uint64_t ms = dayTicks / 10000;
  lpSystemTime->wYear = static_cast<WORD>(year);
  lpSystemTime->wMonth = static_cast<WORD>(month);
  lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  lpSystemTime->wDay = static_cast<WORD>(day);
  lpSystemTime->wHour = static_cast<WORD>(ms / 3600000);
  lpSystemTime->wMinute = static_cast<WORD>(ms / 60000 % 60);
  lpSystemTime->wSecond = static_cast<WORD>(ms / 1000 % 60);
  lpSystemTime->wMilliseconds = static_cast<WORD>(ms % 1000);
  return TRUE;
}

__time64_t _mktime64(struct tm* timeptr) {
  if (timeptr == nullptr) {
    errno = EINVAL;
    return -1;
  }
  std::tm normalised = *timeptr;
  const std::time_t t = std::mktime(&normalised);  // reads TZ itself
  if (t < 0 || t > veltrano::kMaxTime64) return -1;
  *timeptr = normalised;
  return static_cast<__time64_t>(t);
}

errno_t _localtime64_s(struct tm* tmDest, const __time64_t* sourceTime) {
  if (tmDest == nullptr) return EINVAL;
  std::tm local{};
  bool ok = sourceTime != nullptr && *sourceTime >= 0 && *sourceTime <= veltrano::kMaxTime64;
  if (ok) {
    tzset();
    const std::time_t t = static_cast<std::time_t>(*sourceTime);
    ok = localtime_r(&t, &local) != nullptr;
  }
  if (!ok) {
    // The runtime marks every field invalid on failure.
    tmDest->tm_sec = tmDest->tm_min = tmDest->tm_hour = -1;
    tmDest->tm_mday = tmDest->tm_mon = tmDest->tm_year = -1;
    tmDest->tm_wday = tmDest->tm_yday = tmDest->tm_isdst = -1;
    return EINVAL;
  }
  *tmDest = local;
  return 0;
}
