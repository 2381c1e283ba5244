#include "common/local_time.h"

#include <chrono>
#include <ctime>

namespace quenzil {

std::int64_t LocalUtcOffset(std::int64_t unix_seconds) {
  const auto moment = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &moment) != 0) return 0;
#else
  if (localtime_r(&moment, &local) == nullptr) return 0;
#endif
  // The local calendar fields read as if they were UTC, minus the moment.
  const std::chrono::year_month_day date{std::chrono::year{local.tm_year + 1900},
                                         std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                         std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
  if (!date.ok()) return 0;
  const std::int64_t as_utc =
      static_cast<std::int64_t>(std::chrono::sys_days{date}.time_since_epoch().count()) * 86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return as_utc - unix_seconds;
}

}  // namespace quenzil
