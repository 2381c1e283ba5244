// When each watched parcel is refreshed: at most once an interval, spread
// out, one transfer at a time, pausing while the network is out of reach.
// Time comes in as a value, so tests run it on their own clock.
#pragma once

#include <cstddef>
#include <optional>

#include "watch/watch_list.h"

namespace quenzil {

struct ScheduleSettings {
  UnixSeconds interval = 3600;       // between two refreshes of one entry
  UnixSeconds offline_retry = 300;   // first pause after the network failed; doubles up to interval
};

class RefreshSchedule {
 public:
  explicit RefreshSchedule(ScheduleSettings settings);

  // When the entry is next due; nullopt once it is retired. Never fetched:
  // due since it was added (at once). Checked "later" than now (the clock
  // went back): due now. Otherwise last_checked + interval + a steady offset
  // of its own (under a tenth of the interval) so entries drift apart.
  std::optional<UnixSeconds> DueAt(const WatchedParcel& parcel, UnixSeconds now) const;

  // The entry to refresh now, the most overdue first; nullopt when none is
  // due, the pause runs, or the last start was too recent.
  std::optional<std::size_t> PickDue(const WatchList& list, UnixSeconds now) const;

  // When to look again; nullopt when nothing will ever be due.
  std::optional<UnixSeconds> NextWake(const WatchList& list, UnixSeconds now) const;

  // A refresh started: the next may start no sooner than interval / (2 ×
  // active entries) later (at least 1 s), so a full round is spread over
  // half the interval. The gap follows the list as it is when the next one
  // is due, so entries added meanwhile shorten it.
  void NoteStarted(UnixSeconds now);
  // The network was out of reach: pause every entry, doubling the pause
  // each time up to the interval.
  void NoteUnreachable(UnixSeconds now);
  // The service refused the key: pause every entry for an interval, so a
  // wrong key does not spend a query of each entry.
  void NoteKeyRefused(UnixSeconds now);
  // An answer came, or the key changed: the pause is over.
  void NoteReachable();

 private:
  // The earliest start the gap and the pause allow. A gap or pause that
  // reaches further ahead than it ever could means the clock went back, and
  // is dropped rather than waited out.
  UnixSeconds EarliestStart(const WatchList& list, UnixSeconds now) const;

  ScheduleSettings settings_;
  std::optional<UnixSeconds> last_start_;
  UnixSeconds paused_until_ = 0;
  UnixSeconds next_pause_ = 0;
};

}  // namespace quenzil
