// The local time zone as the time conversions see it.
#pragma once

#include <cstdint>
#include <optional>

namespace veltrano {

// FileTimeToLocalFileTime applies the bias the zone has at this moment. Tests
// pin "this moment" (seconds since 1970, UTC) so that results do not depend
// on the day they run; nothing pins it by default. The zone itself is read
// again at most once a second, and at once after this call (tests that set
// TZ make it).
void SetCurrentTimeOverride(std::optional<std::int64_t> unixSeconds);

// Local time minus UTC, in seconds, at the moment above (the zone's current
// bias, daylight saving included as in force then).
std::int64_t CurrentUtcOffsetSeconds();

}  // namespace veltrano
