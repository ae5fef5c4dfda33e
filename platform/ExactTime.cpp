#include "platform/ExactTime.h"

#include <charconv>
#include <cstdio>

#include "platform/FileTimes.h"

namespace veltrano {

ExactTime ExactTimeOf(const FILETIME& ft) {
  const timespec ts = TimespecOf(ft);
  return ExactTime{ts.tv_sec, static_cast<std::int32_t>(ts.tv_nsec)};
}

FILETIME FileTimeOfExact(const ExactTime& time) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(time.sec);
  ts.tv_nsec = time.nsec;
  return FileTimeOf(ts);
}

std::string ExactTimeText(const ExactTime& time) {
  char text[40];
  std::snprintf(text, sizeof text, "%lld.%09ld", static_cast<long long>(time.sec),
                static_cast<long>(time.nsec));
  return text;
}

std::optional<ExactTime> ParseExactTime(std::string_view text) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos || text.size() - point != 10 || point == 0) return {};
  ExactTime time;
  const char* end = text.data() + point;
  // from_chars takes a leading minus and no plus sign.
  if (std::from_chars(text.data(), end, time.sec).ptr != end) return {};
  std::int32_t nsec = 0;
  for (const char c : text.substr(point + 1)) {
    if (c < '0' || c > '9') return {};
    nsec = nsec * 10 + (c - '0');
  }
  time.nsec = nsec;
  return time;
}

}  // namespace veltrano
