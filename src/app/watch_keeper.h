// Keeps the watch list: loads it, adds and removes entries, refreshes them in
// the background one at a time, each through the service the program picks,
// merges the answers, saves, and tells the program what to notify. Portable: time, timers,
// transfers, saving and notifications come through interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/query_flow.h"
#include "query/services/service.h"
#include "watch/schedule.h"
#include "watch/watch_list.h"
#include "web/fetch.h"

namespace quenzil {

// The first fetches of a batch of parcels added: "等待首次查询（12/40）".
struct FirstFetches {
  std::size_t fetched = 0;
  std::size_t added = 0;  // 0: none waits
  bool operator==(const FirstFetches&) const = default;
};

// What the keeper needs of the program.
class WatchHost {
 public:
  virtual ~WatchHost() = default;
  virtual UnixSeconds Now() const = 0;
  // The local time's offset from UTC at that moment, in seconds east.
  virtual std::int64_t UtcOffset(UnixSeconds at) const = 0;
  // Arms the one refresh timer for that moment (replacing any earlier one);
  // nullopt: no timer needed.
  virtual void WakeAt(std::optional<UnixSeconds> when) = 0;
  // Writes the list to disk; false if it failed (the keeper tries again at
  // the next change and when it stops).
  virtual bool Save(const WatchList& list) = 0;
  // A parcel moved: show a notification for it. Never a message box.
  virtual void Notify(std::string_view number, std::string_view carrier, std::string_view title,
                      std::string_view text) = 0;
  // Entries were added, removed or changed: menus and the tray icon follow.
  virtual void WatchListChanged() = 0;
  // The service to refresh the entry with now; null when none may.
  virtual std::shared_ptr<const TrackingService> ServiceFor(const WatchedParcel& parcel) const = 0;
  // True while a query by hand of the number is on its way (or waits for
  // the phone's digits): it is not refreshed meanwhile.
  virtual bool AskedByHand(std::string_view number) const = 0;
  // The newest answer any program of the user kept for the parcel (the
  // last queries, the console companion's among them).
  virtual std::optional<KeptAnswer> Kept(std::string_view number, std::string_view carrier) const = 0;
  // The service refused the account in the background (spent, expired,
  // wrong key): it is not asked again until the account is confirmed.
  virtual void RefreshRefused(const TrackingService& service, const ServiceAnswer& answer) = 0;
};

class WatchKeeper {
 public:
  WatchKeeper(Transfers& transfers, WatchHost& host, ScheduleSettings settings);

  void SetMode(RefreshMode mode);
  RefreshMode mode() const { return schedule_.policy().mode; }
  // The services may serve again (an account was confirmed, or a query by
  // hand got rows): background refresh goes on at once.
  void ResumeRefresh();
  // Something the host decides changed (the services, a query by hand
  // ended): looks again for what is due.
  void Advance();
  // True while the background refresh of the number is on its way.
  bool Refreshing(std::string_view number) const;

  // The list read at start (already parsed); arms the timer. Entries added
  // before it was read join it; until then nothing is saved, so the file
  // is never written over before it has been read.
  void Load(WatchList list);
  bool loaded() const { return loaded_; }

  const WatchList& list() const { return list_; }
  bool empty() const { return list_.parcels.empty(); }

  // Saves at once; kFull at kMaxWatched.
  AddResult Add(WatchedParcel parcel);
  // Many at once (an import, the console companion's hand-over), each as
  // Add would take it, in order; saved once.
  std::vector<AddResult> AddAll(std::vector<WatchedParcel> parcels);
  // 重新关注: the parcel is no longer put away, and its three days start
  // again; false if it is not watched.
  bool Rewatch(std::string_view number, std::string_view carrier);
  // How far the first fetches of the parcels added lately have got: those
  // fetched and those added since the last time none was waiting.
  FirstFetches first_fetches() const;
  // 修改备注 and 手机后四位 of one entry, saved at once; false if it is not
  // watched. New digits let a parcel that asked for them be refreshed again.
  bool SetNote(const ParcelKey& parcel, std::string note);
  bool SetPhone(const ParcelKey& parcel, std::string digits);
  // 立即刷新: these parcels are asked next, one request at a time, before
  // anything due. One answered within the requery guard is not sent again,
  // and one asked by hand right now waits for that query.
  void RefreshNow(const std::vector<ParcelKey>& parcels);
  // Removes the entry (and cancels its refresh if one runs); false if none.
  bool Remove(std::string_view number, std::string_view carrier);
  // A user's query of a watched parcel got rows: taken in without a
  // notification, with the phone's digits that got them (if any).
  void TakeUserResult(const TrackingResult& result, std::string_view carrier, std::string_view phone = {},
                      std::string_view service = {});

  // The refresh timer fired.
  void OnWake();
  // An outcome of one of the keeper's transfers; false if the id is not one.
  bool OnTransferDone(TransferId id, const FetchOutcome& outcome);
  // Cancels a running refresh; nothing starts afterwards. A list whose last
  // save failed is saved once more.
  void Stop();

 private:
  // What a transport failure changed in an entry, to be undone when it
  // turns out the whole network was out of reach: the entry's failure
  // fields as they were before it, and when it failed.
  struct Penalty {
    ParcelKey parcel;
    UnixSeconds failed_at = 0;
    std::string last_problem;
    UnixSeconds last_checked = 0;
    int failures = 0;
    UnixSeconds failing_since = 0;
  };

  void StartDue();
  std::optional<std::size_t> NextAskedNow(UnixSeconds now);
  // Puts away what is due (PutAwayAt); false when nothing was.
  bool PutAwayDue(UnixSeconds now);
  void Rearm();
  std::size_t WaitingForFirstFetch() const;
  void SaveNow();
  PickOrder Order() const;
  // Takes in an answer kept elsewhere that is newer than the entry's own and
  // inside the guard; false when there is none.
  bool TakeKeptAnswer(WatchedParcel& parcel, UnixSeconds now);
  // Takes one refresh's outcome into the entry; false when nothing about it
  // changed.
  bool TakeOutcome(WatchedParcel& parcel, const TrackingService& service, const FetchOutcome& outcome,
                   UnixSeconds now);
  void NoteFailure(WatchedParcel& parcel, std::string problem, UnixSeconds now);
  // Connection-level failures: the entry's own back-off, unless every entry
  // tried lately failed the same way (offline).
  bool NoteTransportFailure(WatchedParcel& parcel, std::string problem, UnixSeconds now);
  std::size_t ActiveEntries(UnixSeconds now) const;

  Transfers& transfers_;
  WatchHost& host_;
  RefreshSchedule schedule_;
  WatchList list_;
  bool loaded_ = false;
  std::vector<ParcelKey> removed_before_load_;
  bool stopped_ = false;
  bool unsaved_ = false;  // the last Save failed or was held back
  // Parcels added since the last time none waited for its first fetch,
  // those waiting among them.
  std::size_t batch_ = 0;
  bool offline_ = false;  // every entry tried lately was out of reach
  std::vector<Penalty> failing_in_a_row_;
  // Tried while offline, least lately first: each retry goes to another
  // entry, so one that can answer ends the pause.
  std::vector<ParcelKey> tried_while_offline_;
  // The one refresh in flight, if any, and the service asked.
  std::optional<TransferId> running_;
  ParcelKey running_parcel_;
  std::deque<ParcelKey> asked_now_;  // by 立即刷新, in the user's order
  std::shared_ptr<const TrackingService> running_service_;
};

}  // namespace quenzil
