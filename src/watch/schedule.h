// When each watched parcel is refreshed: when the refresh policy says it is
// due, spread out, one transfer at a time, pausing while the network is out
// of reach. Time comes in as a value, so tests run it on their own clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "watch/refresh_policy.h"
#include "watch/watch_list.h"

namespace quenzil {

// Which due entries go before the others.
struct PickOrder {
  // Not now, whatever is due: a query by hand of the number is on its way.
  std::function<bool(const WatchedParcel&)> held_back;
  // Only when nothing else is due, the first of them first: tried lately
  // without an answer while the network was out of reach.
  std::vector<ParcelKey> last;
};

// A parcel never fetched yet (just added, or imported with many others) is
// fetched this long after the start before it, at the least: a batch of
// numbers never makes a burst of requests.
inline constexpr UnixSeconds kFirstFetchGapSeconds = 10;

struct ScheduleSettings {
  UnixSeconds interval = 3600;       // the policy's base interval
  UnixSeconds first_fetch_gap = kFirstFetchGapSeconds;  // before each first fetch
  UnixSeconds offline_retry = 300;   // first pause after the network failed; doubles up to interval
  UnixSeconds requery_guard = 1800;  // see RefreshPolicy
  std::optional<QuietHours> quiet_hours = QuietHours{};
};

class RefreshSchedule {
 public:
  explicit RefreshSchedule(ScheduleSettings settings);

  void SetMode(RefreshMode mode) { policy_.mode = mode; }
  const RefreshPolicy& policy() const { return policy_; }

  // When the entry is next due (NextRefreshAt); nullopt when it is not
  // refreshed in the background.
  std::optional<UnixSeconds> DueAt(const WatchedParcel& parcel, UnixSeconds now,
                                   std::int64_t utc_offset = 0) const;

  // The entry to refresh now, the most overdue first (in the order given);
  // nullopt when none is due, the pause runs, or the last start was too
  // recent.
  std::optional<std::size_t> PickDue(const WatchList& list, UnixSeconds now, std::int64_t utc_offset = 0,
                                     const PickOrder& order = {}) const;

  // When to look again; nullopt when nothing will ever be due (entries held
  // back do not count).
  std::optional<UnixSeconds> NextWake(const WatchList& list, UnixSeconds now, std::int64_t utc_offset = 0,
                                      const PickOrder& order = {}) const;

  // A refresh started: the next may start no sooner than interval / (2 ×
  // entries refreshed) later (at least 1 s), so a full round is spread over
  // half the interval. The gap follows the list as it is when the next one
  // is due, so entries added meanwhile shorten it. An entry's first fetch
  // waits first_fetch_gap instead: new parcels come one by one, soon, and
  // never in a burst.
  void NoteStarted(UnixSeconds now);
  // The network was out of reach for every entry tried: pause them all,
  // doubling the pause each time up to the interval.
  void NoteUnreachable(UnixSeconds now);
  // An answer came: the pause is over.
  void NoteReachable();

 private:
  // The earliest start the gap and the pause allow. A gap or pause that
  // reaches further ahead than it ever could means the clock went back, and
  // is dropped rather than waited out.
  // Of an entry's first fetch, or of another refresh.
  UnixSeconds EarliestStart(const WatchList& list, UnixSeconds now, std::int64_t utc_offset, bool first_fetch) const;

  RefreshPolicy policy_;
  UnixSeconds offline_retry_;
  UnixSeconds first_fetch_gap_;
  std::optional<UnixSeconds> last_start_;
  UnixSeconds paused_until_ = 0;
  UnixSeconds next_pause_ = 0;
};

}  // namespace quenzil
