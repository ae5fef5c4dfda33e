// Time conversions: FILETIME to local file time and to calendar fields, and
// the runtime's 64-bit local-time functions with their 1970..3000 range.
#include "platform/standin/TimeZone.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <optional>

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

// The zone as the conversions here see it. The C library reads it (the TZ
// variable, or /etc/localtime, which it checks with a stat) on every tzset
// and mktime; here it is read again at most once a second, and at once after
// SetCurrentTimeOverride, so that showing thousands of times does not look at
// /etc/localtime for each of them. Each reading has a new generation.
struct ZoneReading {
  std::mutex mutex;
  std::atomic<bool> stale{true};
  std::atomic<std::int64_t> at{0};  // coarse monotonic seconds
  std::atomic<std::uint64_t> generation{0};
};
ZoneReading g_zone;

void RefreshZone() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  if (!g_zone.stale && now.tv_sec - g_zone.at < 1) return;
  std::lock_guard lock(g_zone.mutex);
  tzset();
  g_zone.at = now.tv_sec;
  g_zone.stale = false;
  ++g_zone.generation;
}

// localtime_r with the zone as last read, remembering the last instant split:
// one time text asks for the same one twice.
bool LocalTime(std::time_t t, std::tm& out) {
  thread_local struct {
    std::uint64_t generation = 0;
    std::time_t t = 0;
    std::tm fields{};
  } last;
  const std::uint64_t generation = g_zone.generation;
  if (last.generation == generation && generation != 0 && last.t == t) {
    out = last.fields;
    return true;
  }
  if (localtime_r(&t, &out) == nullptr) return false;
  last = {generation, t, out};
  return true;
}

// Seconds east of UTC in force at `t`; false when the instant has no date.
bool OffsetAt(std::time_t t, long& offset) {
  std::tm local{};
  if (!LocalTime(t, local)) return false;
  offset = local.tm_gmtoff;
  return true;
}

// The fields read as UTC, normalised as timegm does.
std::int64_t WallSeconds(const std::tm& fields) {
  std::int64_t year = static_cast<std::int64_t>(fields.tm_year) + 1900 + fields.tm_mon / 12;
  int month = fields.tm_mon % 12;
  if (month < 0) {
    month += 12;
    --year;
  }
  const std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month + 1), 1) + fields.tm_mday - 1;
  return days * 86400 + static_cast<std::int64_t>(fields.tm_hour) * 3600 +
         static_cast<std::int64_t>(fields.tm_min) * 60 + fields.tm_sec;
}

// Local time minus UTC now, with the zone as last read. The bias changes at
// most with the zone or the second.
std::int64_t OffsetNow() {
  const std::int64_t pinned = g_nowOverride.load();
  const std::time_t now = pinned != kUnset ? static_cast<std::time_t>(pinned) : std::time(nullptr);
  thread_local struct {
    std::uint64_t generation = 0;
    std::time_t now = 0;
    std::int64_t offset = 0;
  } last;
  const std::uint64_t generation = g_zone.generation;
  if (last.generation == generation && last.now == now) return last.offset;
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  last = {generation, now, local.tm_gmtoff};
  return local.tm_gmtoff;
}

// Local calendar fields to a time value and its own normalised fields, with
// the zone's rules as mktime with tm_isdst -1 applies them. A local time that
// occurs twice (clocks set back) gives the instant with the offset in force
// now when that is one of the two, else the earlier one; one that the clocks
// skip is read with the offset in force before, so 02:30 on a night that
// jumps from 02:00 to 03:00 is 03:30.
bool TimeFromLocalFields(const std::tm& fields, std::time_t& result, std::tm& normalised) {
  const std::int64_t wall = WallSeconds(fields);
  const auto now = static_cast<long>(OffsetNow());
  if (LocalTime(wall - now, normalised) && normalised.tm_gmtoff == now) {
    result = wall - now;
    return true;
  }
  long before = 0;
  long after = 0;
  if (!OffsetAt(wall - 86400, before) || !OffsetAt(wall + 86400, after)) return false;
  for (const long offset : {before, after}) {
    if (LocalTime(wall - offset, normalised) && normalised.tm_gmtoff == offset) {
      result = wall - offset;
      return true;
    }
  }
  result = wall - before;
  return LocalTime(result, normalised);
}

}  // namespace

void SetCurrentTimeOverride(std::optional<std::int64_t> unixSeconds) {
  g_nowOverride.store(unixSeconds ? *unixSeconds : kUnset);
  g_zone.stale = true;
}

std::int64_t CurrentUtcOffsetSeconds() {
  RefreshZone();
  return OffsetNow();
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
  std::time_t t = -1;
  if (normalised.tm_isdst < 0) {
    veltrano::RefreshZone();
    if (!veltrano::TimeFromLocalFields(*timeptr, t, normalised)) return -1;
  } else {
    t = std::mktime(&normalised);  // a daylight-saving flag given: the library's own rules
  }
  if (t < 0 || t > veltrano::kMaxTime64) return -1;
  *timeptr = normalised;
  return static_cast<__time64_t>(t);
}

errno_t _localtime64_s(struct tm* tmDest, const __time64_t* sourceTime) {
  if (tmDest == nullptr) return EINVAL;
  std::tm local{};
  bool ok = sourceTime != nullptr && *sourceTime >= 0 && *sourceTime <= veltrano::kMaxTime64;
  if (ok) {
    veltrano::RefreshZone();
    ok = veltrano::LocalTime(static_cast<std::time_t>(*sourceTime), local);
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
