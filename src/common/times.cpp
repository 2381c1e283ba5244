#include "common/times.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace quenzil {

namespace {

// 10000-01-01T00:00:00Z: four digits of year and no more.
constexpr UnixSeconds kYear10000 = 253402300800;
constexpr UnixSeconds kDaySeconds = 86400;

// Digits at [at, at + count) as a number; -1 if any is not a digit.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

UnixSeconds DaysSince1970(const std::chrono::year_month_day& date) {
  return static_cast<UnixSeconds>(std::chrono::sys_days{date}.time_since_epoch().count());
}

// Seconds since 1970 of a UTC calendar time; 0 when a field is out of range.
UnixSeconds FromFields(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59) {
    return 0;
  }
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return 0;  // 30 February and the like
  return DaysSince1970(date) * kDaySeconds + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::string IsoUtc(UnixSeconds seconds) {
  if (seconds <= 0 || seconds >= kYear10000) return {};
  const std::chrono::sys_days days{std::chrono::days{seconds / kDaySeconds}};
  const std::chrono::year_month_day date{days};
  const UnixSeconds rest = seconds % kDaySeconds;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

UnixSeconds ParseIsoUtc(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
    return 0;
  }
  return FromFields(Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2), Digits(text, 11, 2),
                    Digits(text, 14, 2), Digits(text, 17, 2));
}

UnixSeconds ParseServiceTime(std::string_view text) {
  // YYYY-MM-DD HH:MM[:SS]
  constexpr UnixSeconds kBeijing = 8 * 3600;
  const bool seconds = text.size() == 19 && text[16] == ':';
  if ((text.size() != 16 && !seconds) || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':') {
    return 0;
  }
  const UnixSeconds local = FromFields(Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2),
                                       Digits(text, 11, 2), Digits(text, 14, 2), seconds ? Digits(text, 17, 2) : 0);
  return local > kBeijing ? local - kBeijing : 0;
}

std::int64_t LocalUtcOffset(UnixSeconds unix_seconds) {
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
      DaysSince1970(date) * kDaySeconds + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return as_utc - unix_seconds;
}

}  // namespace quenzil
