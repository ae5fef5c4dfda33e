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

// The instant as seconds and nanoseconds since 1970 (seconds may be negative;
// nanoseconds are always 0..999999999).
inline timespec TimespecOf(const FILETIME& ft) {
  const std::int64_t rel =
      static_cast<std::int64_t>(TicksOf(ft) - kEpochDifferenceTicks);  // wraps for pre-1970
  std::int64_t sec = rel / static_cast<std::int64_t>(kTicksPerSecond);
  std::int64_t rem = rel % static_cast<std::int64_t>(kTicksPerSecond);
  if (rem < 0) {
    rem += static_cast<std::int64_t>(kTicksPerSecond);
    --sec;
  }
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rem * 100);
  return ts;
}

// The FILETIME for a POSIX instant, truncated to 100 ns. Instants before 1601
// give 0.
inline FILETIME FileTimeOf(const timespec& ts) {
  const std::int64_t minSec = -static_cast<std::int64_t>(kEpochDifferenceTicks / kTicksPerSecond);
  if (ts.tv_sec < minSec) return FILETIME{0, 0};
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(static_cast<std::int64_t>(ts.tv_sec) - minSec) * kTicksPerSecond +
      static_cast<std::uint64_t>(ts.tv_nsec / 100);
  return FileTimeOf(ticks);
}

}  // namespace veltrano
