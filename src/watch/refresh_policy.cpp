#include "watch/refresh_policy.h"

#include <algorithm>
#include <cstdint>

#include "watch/watch_file.h"

namespace quenzil {

namespace {

constexpr UnixSeconds kDaySeconds = 24 * kHourSeconds;
// In a locker or a pickup station: the owner fetches it when they like.
constexpr std::string_view kStateAtPickupPoint = "501";

// FNV-1a: the same offset for an entry on every run and every platform.
std::uint32_t SteadyHash(std::string_view number, std::string_view carrier) {
  std::uint32_t hash = 2166136261u;
  const auto mix = [&hash](std::string_view text) {
    for (const char character : text) {
      hash ^= static_cast<unsigned char>(character);
      hash *= 16777619u;
    }
  };
  mix(number);
  mix(std::string_view("\0", 1));
  mix(carrier);
  return hash;
}

// Entries checked together drift apart by this much.
UnixSeconds SteadyOffset(const WatchedParcel& parcel, UnixSeconds interval) {
  const UnixSeconds spread = std::max<UnixSeconds>(interval / 10, 1);
  return static_cast<UnixSeconds>(SteadyHash(parcel.number, parcel.carrier) % static_cast<std::uint32_t>(spread));
}

UnixSeconds FailureGap(int failures, UnixSeconds interval) {
  UnixSeconds gap = std::max<UnixSeconds>(interval / 2, 1);
  for (int doubled = 1; doubled < failures && gap < kLongestGapSeconds; ++doubled) gap *= 2;
  return std::min(gap, kLongestGapSeconds);
}

// Since when the parcel has been quiet: since its newest event as the
// service dates it, if this program saw that event come (else since it saw
// the last change, or added the entry). An event dated before the entry was
// added counts from the adding: the quiet before is not this program's to
// judge.
UnixSeconds QuietSince(const WatchedParcel& parcel) {
  const UnixSeconds seen = std::max(parcel.added, parcel.last_changed);
  if (parcel.events.empty()) return seen;
  const UnixSeconds happened = ParseServiceTime(parcel.events.back().time);
  if (happened == 0 || happened > seen) return seen;
  return std::max(happened, parcel.added);
}

std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return value % divisor < 0 ? quotient - 1 : quotient;
}

bool IsQuietHour(int hour, const QuietHours& quiet) {
  if (quiet.from < quiet.to) return hour >= quiet.from && hour < quiet.to;
  return hour >= quiet.from || hour < quiet.to;
}

// A moment inside the quiet hours moves to their end.
UnixSeconds OutOfQuietHours(UnixSeconds due, std::int64_t utc_offset, const QuietHours& quiet) {
  const std::int64_t local = due + utc_offset;
  const std::int64_t midnight = FloorDiv(local, kDaySeconds) * kDaySeconds;
  if (!IsQuietHour(static_cast<int>((local - midnight) / kHourSeconds), quiet)) return due;
  std::int64_t end = midnight + quiet.to * kHourSeconds;
  if (end <= local) end += kDaySeconds;
  return end - utc_offset;
}

// Seconds from `from` to `to` outside the quiet hours: a night without
// refreshes is no sign that the parcel has gone quiet.
UnixSeconds AwakeSeconds(UnixSeconds from, UnixSeconds to, std::int64_t utc_offset,
                         const std::optional<QuietHours>& quiet) {
  if (to <= from) return 0;
  // Beyond a few days the answer no longer matters: the gap is at its longest.
  if (!quiet || to - from > 3 * kDaySeconds) return to - from;
  UnixSeconds awake = 0;
  for (UnixSeconds at = from; at < to;) {
    const std::int64_t local = at + utc_offset;
    const std::int64_t next_hour = (FloorDiv(local, kHourSeconds) + 1) * kHourSeconds - utc_offset;
    const UnixSeconds until = std::min<UnixSeconds>(next_hour, to);
    const int hour = static_cast<int>((local - FloorDiv(local, kDaySeconds) * kDaySeconds) / kHourSeconds);
    if (!IsQuietHour(hour, *quiet)) awake += until - at;
    at = until;
  }
  return awake;
}

// Smart mode: every interval while the parcel is out for delivery or moved
// lately; a little less often while it waits in a locker or a pickup
// station for its owner; else after as long as it has been quiet (its
// nights not counted), at most kLongestGapSeconds, and at most two
// intervals once it is on its way to the outlet that delivers it.
bool HeadingForItsOutlet(const WatchedParcel& parcel);

UnixSeconds CadenceGap(const WatchedParcel& parcel, UnixSeconds interval, std::int64_t utc_offset,
                       const std::optional<QuietHours>& quiet_hours) {
  if (parcel.state == kStateAtPickupPoint) return interval * 7 / 4;
  if (IsOutForDelivery(parcel)) return interval;
  const UnixSeconds quiet = AwakeSeconds(QuietSince(parcel), parcel.last_checked, utc_offset, quiet_hours);
  if (quiet < kRecentChangeSeconds) return interval;
  const UnixSeconds longest = HeadingForItsOutlet(parcel) ? 2 * interval : kLongestGapSeconds;
  return std::max(interval, std::min(quiet, longest));
}

// A refresh due in the quiet hours moves to their end; for a parcel asked
// about every interval or two it is pulled back to just before they begin
// instead, so what happened late in the evening is not held until morning.
UnixSeconds OutsideQuietHours(UnixSeconds due, UnixSeconds gap, UnixSeconds last_checked, UnixSeconds interval,
                              std::int64_t utc_offset, const QuietHours& quiet) {
  const UnixSeconds after = OutOfQuietHours(due, utc_offset, quiet);
  if (after == due || gap > 2 * interval) return after;
  // The quiet hours begin (end − their length) before they end.
  const int length = ((quiet.to - quiet.from) % 24 + 24) % 24;
  const UnixSeconds begin = after - length * kHourSeconds;
  const UnixSeconds last_look = begin - 60;
  return last_look - last_checked >= interval / 2 ? last_look : after;
}

bool IsBlank(char character) { return character == ' ' || character == '\t'; }

std::optional<int> ParseHour(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty() || text.size() > 2) return std::nullopt;
  int hour = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return std::nullopt;
    hour = hour * 10 + (digit - '0');
  }
  if (hour > 23) return std::nullopt;
  return hour;
}

}  // namespace

std::optional<QuietHours> ParseQuietHours(std::string_view text) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::optional<int> from = ParseHour(text.substr(0, dash));
  const std::optional<int> to = ParseHour(text.substr(dash + 1));
  if (!from || !to || *from == *to) return std::nullopt;
  return QuietHours{*from, *to};
}

bool WithinRequeryGuard(UnixSeconds answered, UnixSeconds now, UnixSeconds guard) {
  return answered > 0 && guard > 0 && answered <= now && now - answered < guard;
}

namespace {

bool Says(std::string_view text, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(), [text](std::string_view word) { return text.find(word) != std::string_view::npos; });
}

// Words that name the outlet delivering a parcel, as couriers write them.
bool NamesAnOutlet(std::string_view text) {
  return Says(text, {"营业部", "营业点", "网点", "站点", "服务部", "服务站", "派送站", "快递站"});
}

// On its way from the last sorting centre to the outlet that delivers it.
bool HeadingForItsOutlet(const WatchedParcel& parcel) {
  if (parcel.events.empty()) return false;
  const std::string_view newest = parcel.events.back().context;
  const std::size_t next = newest.find("下一站");
  return next != std::string_view::npos && NamesAnOutlet(newest.substr(next));
}

}  // namespace

bool IsOutForDelivery(const WatchedParcel& parcel) {
  if (parcel.state == kStateAtPickupPoint) return false;
  if (!parcel.state.empty() && parcel.state.front() == '5') return true;
  if (parcel.events.empty()) return false;
  const std::string_view newest = parcel.events.back().context;
  if (Says(newest, {"派件", "派送"})) return true;
  // Arrived at the outlet that delivers it: the round is hours away at most.
  return Says(newest, {"到达", "到件"}) && NamesAnOutlet(newest) && newest.find("下一站") == std::string_view::npos;
}

std::optional<UnixSeconds> NextRefreshAt(const WatchedParcel& parcel, UnixSeconds now,
                                         std::int64_t utc_offset, const RefreshPolicy& policy) {
  if (policy.mode == RefreshMode::kOff || parcel.needs_phone || IsRetired(parcel, now)) return std::nullopt;
  const bool smart = policy.mode == RefreshMode::kSmart;
  const UnixSeconds interval = std::max<UnixSeconds>(policy.interval, 1);
  UnixSeconds due = now;
  UnixSeconds gap = 0;
  if (!parcel.fetched()) {
    // Waiting since it was added, so it goes before entries that only just
    // became due.
    if (parcel.added > 0) due = std::min(parcel.added, now);
  } else if (parcel.last_checked <= now) {
    gap = parcel.failures > 0 ? FailureGap(parcel.failures, interval)
          : smart             ? CadenceGap(parcel, interval, utc_offset, policy.quiet_hours)
                              : interval;
    due = parcel.last_checked + gap + SteadyOffset(parcel, interval);
  }
  if (WithinRequeryGuard(parcel.last_answered, now, policy.requery_guard)) {
    due = std::max(due, parcel.last_answered + policy.requery_guard);
  }
  if (smart && policy.quiet_hours) {
    due = parcel.fetched() && parcel.failures == 0
              ? OutsideQuietHours(due, gap, parcel.last_checked, interval, utc_offset, *policy.quiet_hours)
              : OutOfQuietHours(due, utc_offset, *policy.quiet_hours);
  }
  return due;
}

}  // namespace quenzil
