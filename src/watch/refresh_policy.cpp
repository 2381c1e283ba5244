#include "watch/refresh_policy.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/times.h"
#include "query/parcel_state.h"

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

template <std::size_t N>
bool Says(std::string_view text, const std::array<std::string_view, N>& words) {
  return std::any_of(words.begin(), words.end(), [text](std::string_view word) { return text.find(word) != std::string_view::npos; });
}

using namespace courier_words;

// States of the model that say as much. An event's own status word, where
// a service gives one, is the model's text of such a state.
constexpr std::array<std::string_view, 2> kPickupStates = {states::kAtPickupPoint, states::kNotCollectedInTime};

bool IsPickupState(std::string_view state, std::string_view status) {
  return std::any_of(kPickupStates.begin(), kPickupStates.end(), [&](std::string_view pickup) {
    return state == pickup || (!status.empty() && status == StateText(pickup));
  });
}

// A place named with one of the words, and not as a sorting centre.
template <std::size_t N>
bool Names(std::string_view place, const std::array<std::string_view, N>& words) {
  return Says(place, words) && !Says(place, kCentres);
}

// True when one of the words stands outside every one of the names: 派送 in
// 派送站 names a place, not a round.
template <std::size_t N, std::size_t M>
bool SaysOutside(std::string_view text, const std::array<std::string_view, N>& words,
                 const std::array<std::string_view, M>& names) {
  const auto inside_a_name = [&](std::size_t at, std::size_t size) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
      for (std::size_t from = text.find(name); from != std::string_view::npos && from <= at;
           from = text.find(name, from + 1)) {
        if (from + name.size() >= at + size) return true;
      }
      return false;
    });
  };
  return std::any_of(words.begin(), words.end(), [&](std::string_view word) {
    for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
      if (!inside_a_name(at, word.size())) return true;
    }
    return false;
  });
}

// The text before the first of the words (all of it without them).
template <std::size_t N>
std::string_view Before(std::string_view text, const std::array<std::string_view, N>& words) {
  std::size_t end = text.size();
  for (const std::string_view word : words) end = std::min(end, text.find(word));
  return text.substr(0, end);
}

// The text after the first of the words, or nullopt.
template <std::size_t N>
std::optional<std::string_view> After(std::string_view text, const std::array<std::string_view, N>& words) {
  std::optional<std::string_view> rest;
  for (const std::string_view word : words) {
    const std::size_t at = text.find(word);
    if (at != std::string_view::npos && (!rest || at + word.size() < text.size() - rest->size())) {
      rest = text.substr(at + word.size());
    }
  }
  return rest;
}

Stage StageOfWords(std::string_view newest) {
  // Where it came from is no part of where it is.
  newest = newest.substr(0, newest.find("上一站"));
  if (Says(newest, kCollected)) return Stage::kOnItsWay;
  // A pickup place it is bound for is not where it is yet; a sender's drop
  // into a locker or at a 驿站 waits for the courier, not for the owner.
  const std::string_view here = Before(newest, kBoundFor);
  if (!Says(newest, kSendersSide) &&
      (Says(here, kWaitingForOwner) || (Says(here, kPickupPlaces) && Says(here, kLeftThere)))) {
    return Stage::kAtPickupPoint;
  }
  if (SaysOutside(newest, kDelivering, kOutlets) && !Says(newest, kTrouble)) return Stage::kOutForDelivery;
  if (const std::optional<std::string_view> bound = After(newest, kBoundFor)) {
    return Names(*bound, kOutlets) || Names(*bound, kBranches) ? Stage::kHeadingForItsOutlet : Stage::kOnItsWay;
  }
  if (Says(newest, kArrived) && Names(newest, kOutlets)) return Stage::kAtItsOutlet;
  if (Says(newest, kArrived) && Names(newest, kBranches)) return Stage::kHeadingForItsOutlet;
  return Stage::kOnItsWay;
}

Stage StageOfState(std::string_view state, std::string_view status) {
  if (IsPickupState(state, status)) return Stage::kAtPickupPoint;
  // 派件 and its finer states but 501; a finer one this program does not
  // know yet still counts as 派件.
  const std::string_view delivering = states::kOutForDelivery;
  if ((state.size() == 1 || state.size() == 3) && state.substr(0, 1) == delivering) return Stage::kOutForDelivery;
  if (!status.empty() && status == StateText(delivering)) return Stage::kOutForDelivery;
  if (state == states::kInDeliveryCity) return Stage::kHeadingForItsOutlet;
  return Stage::kOnItsWay;
}

// Smart mode, in quarters of the interval: 5 (75 min) while the parcel is
// out for delivery or at the outlet that delivers it, or moved lately; 7
// for the first day it waits at a pickup point, so that its 签收 is seen
// within 2 h (with the offset under 6 min); else as long as it has been
// quiet (its nights not counted), at least 5 quarters, at most
// kLongestGapSeconds, and at most two intervals once it is on its way to
// the outlet that delivers it.
constexpr UnixSeconds kNearQuarters = 5;
constexpr UnixSeconds kPickupQuarters = 7;

UnixSeconds CadenceGap(const WatchedParcel& parcel, UnixSeconds interval, std::int64_t utc_offset,
                       const std::optional<QuietHours>& quiet_hours) {
  const UnixSeconds near = interval * kNearQuarters / 4;
  const Stage stage = StageOf(parcel);
  if (stage == Stage::kAtPickupPoint) {
    // Most owners come within a day; one who has not come by then may take
    // days, and each of them costs the user: from then on the parcel slows
    // like a quiet one, never below the pickup cadence.
    const UnixSeconds pickup = interval * kPickupQuarters / 4;
    const UnixSeconds first_day_ends = QuietSince(parcel) + kDaySeconds;
    if (parcel.last_checked < first_day_ends) return pickup;
    const UnixSeconds waited = AwakeSeconds(first_day_ends, parcel.last_checked, utc_offset, quiet_hours);
    return std::max(pickup, std::min(waited, kLongestGapSeconds));
  }
  if (stage == Stage::kOutForDelivery || stage == Stage::kAtItsOutlet) return near;
  const UnixSeconds quiet = AwakeSeconds(QuietSince(parcel), parcel.last_checked, utc_offset, quiet_hours);
  if (quiet < kRecentChangeSeconds) return near;
  const UnixSeconds longest = stage == Stage::kHeadingForItsOutlet ? 2 * interval : kLongestGapSeconds;
  return std::max(near, std::min(quiet, longest));
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

Stage StageOf(const WatchedParcel& parcel) {
  const TrackingEvent* newest = parcel.events.empty() ? nullptr : &parcel.events.back();
  const Stage by_words = newest ? StageOfWords(newest->context) : Stage::kOnItsWay;
  const Stage by_state = StageOfState(parcel.state, newest ? std::string_view(newest->status) : std::string_view());
  // The nearer to its owner wins: the words often say more than the state.
  return std::max(by_words, by_state);
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
