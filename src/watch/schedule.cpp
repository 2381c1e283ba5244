#include "watch/schedule.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace quenzil {

namespace {

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

ScheduleSettings Sane(ScheduleSettings settings) {
  settings.interval = std::max<UnixSeconds>(settings.interval, 1);
  settings.offline_retry = std::clamp<UnixSeconds>(settings.offline_retry, 1, settings.interval);
  return settings;
}

}  // namespace

RefreshSchedule::RefreshSchedule(ScheduleSettings settings) : settings_(Sane(settings)) {}

std::optional<UnixSeconds> RefreshSchedule::DueAt(const WatchedParcel& parcel,
                                                  UnixSeconds now) const {
  if (IsRetired(parcel, now)) return std::nullopt;
  // Never fetched: waiting since it was added, so it goes before entries
  // that only just became due.
  if (!parcel.fetched()) return parcel.added > 0 ? std::min(parcel.added, now) : now;
  if (parcel.last_checked > now) return now;
  const UnixSeconds spread = std::max<UnixSeconds>(settings_.interval / 10, 1);
  const auto offset = static_cast<UnixSeconds>(SteadyHash(parcel.number, parcel.carrier) %
                                               static_cast<std::uint32_t>(spread));
  return parcel.last_checked + settings_.interval + offset;
}

UnixSeconds RefreshSchedule::EarliestStart(const WatchList& list, UnixSeconds now) const {
  UnixSeconds earliest = now;
  if (paused_until_ > now && paused_until_ - now <= settings_.interval) earliest = paused_until_;
  if (last_start_ && *last_start_ <= now) {
    const auto active = std::count_if(list.parcels.begin(), list.parcels.end(),
                                      [&](const WatchedParcel& parcel) { return !IsRetired(parcel, now); });
    const UnixSeconds gap = settings_.interval / (2 * std::max<UnixSeconds>(active, 1));
    earliest = std::max(earliest, *last_start_ + std::max<UnixSeconds>(gap, 1));
  }
  return earliest;
}

std::optional<std::size_t> RefreshSchedule::PickDue(const WatchList& list, UnixSeconds now) const {
  if (EarliestStart(list, now) > now) return std::nullopt;
  std::optional<std::size_t> pick;
  UnixSeconds pick_due = 0;
  for (std::size_t index = 0; index < list.parcels.size(); ++index) {
    const std::optional<UnixSeconds> due = DueAt(list.parcels[index], now);
    if (!due || *due > now) continue;
    if (!pick || *due < pick_due) {
      pick = index;
      pick_due = *due;
    }
  }
  return pick;
}

std::optional<UnixSeconds> RefreshSchedule::NextWake(const WatchList& list,
                                                     UnixSeconds now) const {
  std::optional<UnixSeconds> soonest;
  for (const WatchedParcel& parcel : list.parcels) {
    const std::optional<UnixSeconds> due = DueAt(parcel, now);
    if (due && (!soonest || *due < *soonest)) soonest = due;
  }
  if (!soonest) return std::nullopt;
  return std::max(*soonest, EarliestStart(list, now));
}

void RefreshSchedule::NoteStarted(UnixSeconds now) { last_start_ = now; }

void RefreshSchedule::NoteUnreachable(UnixSeconds now) {
  next_pause_ = next_pause_ == 0 ? settings_.offline_retry
                                 : std::min(next_pause_ * 2, settings_.interval);
  paused_until_ = std::max(paused_until_, now + next_pause_);
}

void RefreshSchedule::NoteKeyRefused(UnixSeconds now) {
  paused_until_ = std::max(paused_until_, now + settings_.interval);
}

void RefreshSchedule::NoteReachable() {
  paused_until_ = 0;
  next_pause_ = 0;
}

}  // namespace quenzil
