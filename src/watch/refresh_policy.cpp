#include "watch/refresh_policy.h"

#include <algorithm>
#include <cstdint>

namespace quenzil {

namespace {

constexpr UnixSeconds kDaySeconds = 24 * kHourSeconds;

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

// Smart mode: the interval while something happens, then longer the longer
// the parcel has been quiet at its last check.
UnixSeconds CadenceGap(const WatchedParcel& parcel, UnixSeconds interval) {
  const UnixSeconds since = std::max(parcel.added, parcel.last_changed);
  const UnixSeconds quiet = since > 0 && parcel.last_checked > since ? parcel.last_checked - since : 0;
  if (IsOutForDelivery(parcel) || quiet < kRecentChangeSeconds) return interval;
  return std::max(interval, std::min(quiet / 2, kLongestGapSeconds));
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

bool IsOutForDelivery(const WatchedParcel& parcel) {
  if (!parcel.state.empty() && parcel.state.front() == '5') return true;
  if (parcel.events.empty()) return false;
  const std::string& newest = parcel.events.back().context;
  for (const std::string_view word : {"派件", "派送"}) {
    if (newest.find(word) != std::string::npos) return true;
  }
  return false;
}

std::optional<UnixSeconds> NextRefreshAt(const WatchedParcel& parcel, UnixSeconds now,
                                         std::int64_t utc_offset, const RefreshPolicy& policy) {
  if (policy.mode == RefreshMode::kOff || parcel.needs_phone || IsRetired(parcel, now)) return std::nullopt;
  const UnixSeconds interval = std::max<UnixSeconds>(policy.interval, 1);
  UnixSeconds due = now;
  if (!parcel.fetched()) {
    // Waiting since it was added, so it goes before entries that only just
    // became due.
    if (parcel.added > 0) due = std::min(parcel.added, now);
  } else if (parcel.last_checked <= now) {
    const UnixSeconds gap = parcel.failures > 0 ? FailureGap(parcel.failures, interval)
                            : policy.mode == RefreshMode::kSmart ? CadenceGap(parcel, interval)
                                                                 : interval;
    due = parcel.last_checked + gap + SteadyOffset(parcel, interval);
  }
  if (WithinRequeryGuard(parcel.last_answered, now, policy.requery_guard)) {
    due = std::max(due, parcel.last_answered + policy.requery_guard);
  }
  if (policy.mode == RefreshMode::kSmart && policy.quiet_hours) {
    due = OutOfQuietHours(due, utc_offset, *policy.quiet_hours);
  }
  return due;
}

}  // namespace quenzil
