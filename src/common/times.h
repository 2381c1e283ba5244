// Local time as the system sees it, for rules that need the hour of day.
#pragma once

#include <cstdint>

namespace quenzil {

// The local time's offset from UTC at that moment (seconds since 1970 UTC),
// in seconds east of Greenwich; 0 when the system cannot tell.
std::int64_t LocalUtcOffset(std::int64_t unix_seconds);

}  // namespace quenzil
