#include "watch/schedule.h"

#include <algorithm>

namespace quenzil {

namespace {

RefreshPolicy PolicyOf(const ScheduleSettings& settings) {
  RefreshPolicy policy;
  policy.interval = std::max<UnixSeconds>(settings.interval, 1);
  policy.requery_guard = std::max<UnixSeconds>(settings.requery_guard, 0);
  policy.quiet_hours = settings.quiet_hours;
  return policy;
}

}  // namespace

RefreshSchedule::RefreshSchedule(ScheduleSettings settings)
    : policy_(PolicyOf(settings)),
      offline_retry_(std::clamp<UnixSeconds>(settings.offline_retry, 1, policy_.interval)),
      first_fetch_gap_(std::max<UnixSeconds>(settings.first_fetch_gap, 1)) {}

std::optional<UnixSeconds> RefreshSchedule::DueAt(const WatchedParcel& parcel, UnixSeconds now,
                                                  std::int64_t utc_offset) const {
  return NextRefreshAt(parcel, now, utc_offset, policy_);
}

UnixSeconds RefreshSchedule::EarliestStart(const WatchList& list, UnixSeconds now, std::int64_t utc_offset,
                                           bool first_fetch) const {
  UnixSeconds earliest = now;
  if (paused_until_ > now && paused_until_ - now <= policy_.interval) earliest = paused_until_;
  if (last_start_ && *last_start_ <= now) {
    UnixSeconds gap = first_fetch_gap_;
    if (!first_fetch) {
      const auto active = std::count_if(list.parcels.begin(), list.parcels.end(), [&](const WatchedParcel& parcel) {
        return DueAt(parcel, now, utc_offset).has_value();
      });
      gap = std::max<UnixSeconds>(policy_.interval / (2 * std::max<UnixSeconds>(active, 1)), 1);
    }
    earliest = std::max(earliest, *last_start_ + gap);
  }
  return earliest;
}

std::optional<std::size_t> RefreshSchedule::PickDue(const WatchList& list, UnixSeconds now, std::int64_t utc_offset,
                                                    const PickOrder& order) const {
  // Whether each kind may start now.
  const bool first_fetch_may = EarliestStart(list, now, utc_offset, true) <= now;
  const bool refresh_may = EarliestStart(list, now, utc_offset, false) <= now;
  if (!first_fetch_may && !refresh_may) return std::nullopt;
  std::optional<std::size_t> pick;
  std::size_t pick_rank = 0;  // 0: not among the last; else its place among them, from 1
  UnixSeconds pick_due = 0;
  for (std::size_t index = 0; index < list.parcels.size(); ++index) {
    const WatchedParcel& parcel = list.parcels[index];
    if (order.held_back && order.held_back(parcel)) continue;
    if (!(parcel.fetched() ? refresh_may : first_fetch_may)) continue;
    const std::optional<UnixSeconds> due = DueAt(parcel, now, utc_offset);
    if (!due || *due > now) continue;
    const auto last = std::find(order.last.begin(), order.last.end(), ParcelKey{parcel.number, parcel.carrier});
    const std::size_t rank = last == order.last.end() ? 0 : static_cast<std::size_t>(last - order.last.begin()) + 1;
    if (!pick || rank < pick_rank || (rank == pick_rank && *due < pick_due)) {
      pick = index;
      pick_rank = rank;
      pick_due = *due;
    }
  }
  return pick;
}

std::optional<UnixSeconds> RefreshSchedule::NextWake(const WatchList& list, UnixSeconds now,
                                                     std::int64_t utc_offset, const PickOrder& order) const {
  // The soonest due of the entries never fetched, and of the others.
  std::optional<UnixSeconds> soonest[2];
  for (const WatchedParcel& parcel : list.parcels) {
    if (order.held_back && order.held_back(parcel)) continue;
    const std::optional<UnixSeconds> due = DueAt(parcel, now, utc_offset);
    std::optional<UnixSeconds>& kind = soonest[parcel.fetched() ? 1 : 0];
    if (due && (!kind || *due < *kind)) kind = due;
  }
  std::optional<UnixSeconds> wake;
  for (const bool first_fetch : {true, false}) {
    const std::optional<UnixSeconds>& due = soonest[first_fetch ? 0 : 1];
    if (!due) continue;
    const UnixSeconds start = std::max(*due, EarliestStart(list, now, utc_offset, first_fetch));
    if (!wake || start < *wake) wake = start;
  }
  return wake;
}

void RefreshSchedule::NoteStarted(UnixSeconds now) { last_start_ = now; }

void RefreshSchedule::NoteUnreachable(UnixSeconds now) {
  next_pause_ = next_pause_ == 0 ? offline_retry_ : std::min(next_pause_ * 2, policy_.interval);
  paused_until_ = std::max(paused_until_, now + next_pause_);
}

void RefreshSchedule::NoteReachable() {
  paused_until_ = 0;
  next_pause_ = 0;
}

}  // namespace quenzil
