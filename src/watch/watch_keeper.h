// Keeps the watch list: loads it, adds and removes entries, refreshes them in
// the background through the keyed API one at a time, merges the answers,
// saves, and tells the program what to notify. Portable: time, timers,
// transfers, saving and notifications come through interfaces.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

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
  // Arms the one refresh timer for that moment (replacing any earlier one);
  // nullopt: no timer needed.
  virtual void WakeAt(std::optional<UnixSeconds> when) = 0;
  // Writes the list to disk; false if it failed (the keeper tries again at
  // the next change).
  virtual bool Save(const WatchList& list) = 0;
  // A parcel moved: show a notification for it. Never a message box.
  virtual void Notify(std::string_view number, std::string_view carrier, std::string_view title,
                      std::string_view text) = 0;
  // Entries were added, removed or changed: menus and the tray icon follow.
  virtual void WatchListChanged() = 0;
};

class WatchKeeper {
 public:
  WatchKeeper(Transfers& transfers, WatchHost& host, ScheduleSettings settings,
              std::string poll_host, FetchLimits limits);

  // Background refresh happens only with complete credentials. New
  // credentials lift a pause the old ones caused.
  void SetCredentials(Credentials credentials);
  // The list read at start (already parsed); arms the timer.
  void Load(WatchList list);

  const WatchList& list() const { return list_; }
  bool empty() const { return list_.parcels.empty(); }

  // Saves at once; kFull at kMaxWatched.
  AddResult Add(WatchedParcel parcel);
  // Removes the entry (and cancels its refresh if one runs); false if none.
  bool Remove(std::string_view number, std::string_view carrier);
  // A user's query of a watched parcel gave a fresh answer: take it in
  // without a notification.
  void TakeUserResult(const TrackingResult& result, std::string_view carrier);

  // The refresh timer fired.
  void OnWake();
  // An outcome of one of the keeper's transfers; false if the id is not one.
  bool OnTransferDone(TransferId id, const FetchOutcome& outcome);
  // Cancels a running refresh; nothing starts afterwards. A list whose last
  // save failed is saved once more.
  void Stop();

 private:
  // Starts a refresh if one is due, then arms the timer for the next.
  void Advance();
  void StartDue();
  void Rearm();
  void SaveNow();
  // Takes one refresh's outcome into the entry; false when nothing about it
  // changed (the network was out of reach).
  bool TakeOutcome(WatchedParcel& parcel, const FetchOutcome& outcome, UnixSeconds now);

  Transfers& transfers_;
  WatchHost& host_;
  RefreshSchedule schedule_;
  std::string poll_host_;
  FetchLimits limits_;
  Credentials credentials_;
  WatchList list_;
  bool stopped_ = false;
  bool unsaved_ = false;  // the last Save failed
  // The one refresh in flight, if any.
  std::optional<TransferId> running_;
  std::string running_number_;
  std::string running_carrier_;
};

}  // namespace quenzil
