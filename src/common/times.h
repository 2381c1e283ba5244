// Times as the program writes and reads them, in one place: seconds since
// 1970, the ISO texts of its own files, the services' local times, and the
// local time's offset for rules that need the hour of day.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenzil {

// Seconds since 1970-01-01 00:00 UTC.
using UnixSeconds = std::int64_t;

// "2026-12-08T09:30:00Z" and back; "" for 0 and for a year past 9999, 0
// for an empty or unreadable text (no other form is taken).
std::string IsoUtc(UnixSeconds seconds);
UnixSeconds ParseIsoUtc(std::string_view text);

// A tracking service's time, in Beijing time: "2026-12-01 08:00:00" (the
// seconds may be left out); 0 for another text.
UnixSeconds ParseServiceTime(std::string_view text);

// The local time's offset from UTC at that moment, in seconds east of
// Greenwich; 0 when the system cannot tell.
std::int64_t LocalUtcOffset(UnixSeconds unix_seconds);

}  // namespace quenzil
