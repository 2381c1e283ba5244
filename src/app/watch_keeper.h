// Keeps the watch list: loads it, adds and removes entries, refreshes them in
// the background through the keyed API one at a time, merges the answers,
// saves, and tells the program what to notify. Portable: time, timers,
// transfers, saving and notifications come through interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/query_flow.h"
#include "query/keyed_api.h"
#include "watch/schedule.h"
#include "watch/watch_list.h"
#include "web/fetch.h"

namespace quenzil {

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
  // The service refused the account in the background (spent, expired,
  // wrong key): background refresh stops until ResumeRefresh. The failure
  // as the service told it.
  virtual void RefreshPausedForAccount(const ServiceFailure& failure) = 0;
};

class WatchKeeper {
 public:
  WatchKeeper(Transfers& transfers, WatchHost& host, ScheduleSettings settings,
              std::string poll_host, FetchLimits limits);

  // Background refresh happens only with complete credentials.
  void SetCredentials(Credentials credentials);
  const Credentials& credentials() const { return credentials_; }
  void SetMode(RefreshMode mode);
  RefreshMode mode() const { return schedule_.policy().mode; }
  // Paused for the account (as kept from an earlier run), or not.
  void SetPausedForAccount(bool paused);
  bool paused_for_account() const { return paused_for_account_; }
  // The account may work again (its settings were confirmed, or a query by
  // hand got rows): background refresh goes on.
  void ResumeRefresh();
  // The answers kept by every program of the user (the last queries, the
  // console companion's among them): one newer than an entry's own and
  // inside the requery guard is taken in instead of asking again.
  void SetKeptAnswers(const AnswerKeeping* answers) { answers_ = answers; }
  // True while a query by hand of the number is on its way: the number is
  // not refreshed meanwhile.
  void SetAskedByHand(std::function<bool(std::string_view number)> asked) { asked_by_hand_ = std::move(asked); }
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
  // Removes the entry (and cancels its refresh if one runs); false if none.
  bool Remove(std::string_view number, std::string_view carrier);
  // A user's query of a watched parcel got rows: taken in without a
  // notification, with the phone's digits that got them (if any).
  void TakeUserResult(const TrackingResult& result, std::string_view carrier, std::string_view phone = {});

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

  // Starts a refresh if one is due, then arms the timer for the next.
  void Advance();
  void StartDue();
  void Rearm();
  void SaveNow();
  PickOrder Order() const;
  // Takes in an answer kept elsewhere that is newer than the entry's own and
  // inside the guard; false when there is none.
  bool TakeKeptAnswer(WatchedParcel& parcel, UnixSeconds now);
  // Takes one refresh's outcome into the entry; false when nothing about it
  // changed.
  bool TakeOutcome(WatchedParcel& parcel, const FetchOutcome& outcome, UnixSeconds now);
  void NoteFailure(WatchedParcel& parcel, std::string problem, UnixSeconds now);
  // Connection-level failures: the entry's own back-off, unless every entry
  // tried lately failed the same way (offline).
  bool NoteTransportFailure(WatchedParcel& parcel, std::string problem, UnixSeconds now);
  std::size_t ActiveEntries(UnixSeconds now) const;

  Transfers& transfers_;
  WatchHost& host_;
  RefreshSchedule schedule_;
  std::string poll_host_;
  FetchLimits limits_;
  Credentials credentials_;
  WatchList list_;
  bool loaded_ = false;
  std::vector<ParcelKey> removed_before_load_;
  bool stopped_ = false;
  bool unsaved_ = false;  // the last Save failed or was held back
  bool paused_for_account_ = false;
  bool offline_ = false;  // every entry tried lately was out of reach
  std::vector<Penalty> failing_in_a_row_;
  // Tried while offline, least lately first: each retry goes to another
  // entry, so one that can answer ends the pause.
  std::vector<ParcelKey> tried_while_offline_;
  const AnswerKeeping* answers_ = nullptr;
  std::function<bool(std::string_view)> asked_by_hand_;
  // The one refresh in flight, if any.
  std::optional<TransferId> running_;
  ParcelKey running_parcel_;
};

}  // namespace quenzil
