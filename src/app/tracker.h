// The tracker: the one unit that owns the work of both programs. It holds
// the query flow, the kept answers (the watch list and the last queries)
// and the watch keeper, and the rules that join them: never one number
// asked twice at once, a number answered with rows not sent again for a
// while, whoever asked. The window's presenter and the console companion
// each drive it and hear from it through TrackerEvents. Portable.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/answer_book.h"
#include "app/deployment.h"
#include "app/query_flow.h"
#include "app/settings.h"
#include "app/watch_keeper.h"
#include "watch/history.h"
#include "watch/watch_store.h"

namespace quenzil {

// What the tracker tells its shell.
class TrackerEvents {
 public:
  virtual ~TrackerEvents() = default;
  // A query is starting: what was shown of the last one goes.
  virtual void QueryStarted() = 0;
  // A query's rows (fresh or kept), or its advice (no such parcel yet).
  virtual void Rows(const QueryOutcome& outcome) = 0;
  virtual void Advice(const std::vector<std::string>& rows) = 0;
  // A failure or a notice, for a box.
  virtual void Told(std::string_view prompt, std::string_view title) = 0;
  // The courier to show as picked (found for the number); empty: none.
  virtual void CourierPicked(std::string_view carrier_code) = 0;
  // The service wants the phone's last four digits. True: the shell asks
  // and answers through Tracker::PhoneDigits; false: it cannot ask.
  virtual bool PhoneWanted(std::string_view carrier_name, std::string_view number) = 0;
  // The watch list changed (entries, states, loaded).
  virtual void ListChanged() = 0;
  // A balloon; false when it could not be shown.
  virtual bool Notification(std::string_view title, std::string_view text) = 0;
  // Calls OnWake after the delay (replacing any earlier one); nullopt: not
  // needed.
  virtual void WakeAfter(std::optional<std::chrono::milliseconds> delay) = 0;
};

// The time, for the tracker: the wall clock (seconds), the local offset,
// and a steady count of milliseconds for short waits.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual UnixSeconds Now() const = 0;
  virtual std::int64_t UtcOffset(UnixSeconds at) const = 0;
  virtual std::chrono::milliseconds Ticks() const = 0;
};

class SystemClock final : public Clock {
 public:
  UnixSeconds Now() const override;
  std::int64_t UtcOffset(UnixSeconds at) const override;
  std::chrono::milliseconds Ticks() const override;
};

struct TrackerStores {
  WatchStore& watch;
  HistoryStore& history;
  SettingsStore& settings;
};

struct TrackerOptions {
  // The window keeps the watch list: saves it and refreshes it. The console
  // companion only reads it.
  bool keeps_watch_list = true;
  // The last queries' file is written after the rows are shown (the window);
  // else at once (the companion ends right after).
  bool writes_later = true;
};

class Tracker final : private QueryFlowHost, private WatchHost, private AnswerKeeping {
 public:
  Tracker(Transfers& transfers, TrackerStores stores, TrackerEvents& events, const Clock& clock,
          DeployHosts hosts, TrackerOptions options = {});
  ~Tracker() override;

  // ---- the accounts and the settings
  // The services with an account are asked in the accounts' order; without
  // any, the old public address.
  void SetAccounts(Accounts accounts);
  const Accounts& accounts() const { return accounts_; }
  bool keyed() const { return accounts_.any(); }
  // Only this service is asked (the companion's --service); empty: all.
  void OnlyService(std::string service);
  // The refresh mode and the pauses kept from an earlier run.
  void LoadSettings();
  void SetMode(RefreshMode mode);
  RefreshMode mode() const { return keeper_.mode(); }
  // The user confirmed the accounts (perhaps after topping one up):
  // detection is asked again and every service is asked again.
  void AccountConfirmed();
  // Every service with an account is paused: nothing refreshes.
  bool refresh_paused() const;

  // ---- queries
  // The same query on its way (or waiting for the refresh of its number).
  bool OnItsWay(const QueryAsk& ask) const;
  // Starts it unless it is on its way; a courier shown as picked only
  // because it was found for another number counts as no pick.
  void Query(QueryAsk ask);
  void CancelQuery();
  // A query is on its way, waits for the phone's digits or for a refresh.
  bool querying() const { return flow_.running() || waiting_ask_.has_value(); }
  // The number of the query on its way (or waiting for the phone's digits).
  std::optional<std::string> asked_number() const { return asked_number_; }
  void PhoneDigits(std::optional<std::string> digits);

  // ---- the watch list
  // Reads the file, or arranges to read it again shortly while another
  // program holds it.
  void LoadWatchList();
  const WatchList& list() const { return keeper_.list(); }
  bool loaded() const { return keeper_.loaded(); }
  // Watches the parcel of a query's rows, with the user's note.
  AddResult Watch(const QueryOutcome& shown, std::string note);
  bool Unwatch(std::string_view number, std::string_view carrier);
  // Many parcels at once (an import, the console companion's hand-over),
  // each as the keeper adds it; fetched at a gentle pace.
  std::vector<AddResult> WatchAll(std::vector<WatchedParcel> parcels) { return keeper_.AddAll(std::move(parcels)); }
  // 重新关注: a parcel put away comes back, for three days more.
  bool Rewatch(std::string_view number, std::string_view carrier) { return keeper_.Rewatch(number, carrier); }
  bool SetNote(const ParcelKey& parcel, std::string note) { return keeper_.SetNote(parcel, std::move(note)); }
  bool SetPhone(const ParcelKey& parcel, std::string digits) { return keeper_.SetPhone(parcel, std::move(digits)); }
  // 立即刷新 of the parcels: through the same guard and order as any
  // refresh, one request at a time.
  void RefreshNow(const std::vector<ParcelKey>& parcels) { keeper_.RefreshNow(parcels); }
  // How far the first fetches of the parcels added lately have got.
  FirstFetches first_fetches() const { return keeper_.first_fetches(); }
  // The parcel of the last notification, for a click on it.
  const std::optional<ParcelKey>& notified() const { return notified_; }

  // ---- the last queries
  History Recent() const { return stores_.history.Load(); }
  void ClearRecent();

  // ---- from the shell
  // Every transfer's outcome; false when it is none of the tracker's.
  bool OnTransferDone(TransferId id, const FetchOutcome& outcome);
  void OnWake();
  // The program ends: pending writes are done, nothing more starts.
  void Stop();

 private:
  // QueryFlowHost
  UnixSeconds Now() const override { return clock_.Now(); }
  void QueryDone(const QueryOutcome& outcome) override;
  void CarrierFound(std::string_view carrier_code) override;
  bool PhoneNeeded(std::string_view carrier_name, std::string_view number) override;
  void ServiceRefused(const TrackingService& service, const ServiceAnswer& answer) override;
  bool DetectionOff(const TrackingService& service) const override;
  void ServiceReached(const TrackingService& service, bool reached) override;
  void DetectionNotOffered(const TrackingService& service) override;
  // WatchHost
  std::int64_t UtcOffset(UnixSeconds at) const override { return clock_.UtcOffset(at); }
  void WakeAt(std::optional<UnixSeconds> when) override;
  bool Save(const WatchList& list) override;
  void Notify(std::string_view number, std::string_view carrier, std::string_view title,
              std::string_view text) override;
  void WatchListChanged() override;
  std::shared_ptr<const TrackingService> ServiceFor(const WatchedParcel& parcel) const override;
  bool AskedByHand(std::string_view number) const override;
  void RefreshRefused(const TrackingService& service, const ServiceAnswer& answer) override;
  std::optional<KeptAnswer> Kept(std::string_view number, std::string_view carrier) const override;
  // AnswerKeeping
  std::string PhoneFor(std::string_view number, std::string_view carrier_code) const override;
  void Keep(const QueryOutcome& outcome) override;

  void StartQuery(QueryAsk ask);
  void BuildServices();
  // The services a press asks, in order: those paused last.
  void GiveFlowServices();
  void Pause(const TrackingService& service, const ServiceAnswer& answer, bool tell);
  void Resume(std::string_view service);
  void RunWrites();
  void Rewake();

  Transfers& transfers_;
  TrackerStores stores_;
  TrackerEvents& events_;
  const Clock& clock_;
  DeployHosts hosts_;
  TrackerOptions options_;
  Accounts accounts_;
  std::string only_service_;
  ServiceList services_;  // with an account, in the accounts' order
  std::vector<std::string> paused_;  // by key
  std::vector<std::string> detection_off_;  // services whose account has no detection, this run
  // Services a press could not reach lately, by key, and until when (Ticks)
  // they are asked after the others.
  std::vector<std::pair<std::string, std::chrono::milliseconds>> unreachable_;
  AnswerBook answers_;
  WatchKeeper keeper_;
  QueryFlow flow_;
  bool stopped_ = false;

  std::optional<std::string> asked_number_;  // of the query on its way
  // A query waiting for the background refresh of its number.
  std::optional<QueryAsk> waiting_ask_;
  // The courier found for a number (number, code): for another number it
  // counts as no pick, so it is looked for again.
  std::optional<std::pair<std::string, std::string>> detected_;
  std::optional<ParcelKey> notified_;

  // When to wake: the refresh's moment, the watch file's next read, writes
  // of the last queries waiting.
  std::optional<UnixSeconds> refresh_at_;
  std::optional<std::chrono::milliseconds> file_retry_at_;  // in Ticks
  std::chrono::milliseconds file_retry_{250};
  std::vector<HistoryEntry> writes_later_;
  // The watch file is not to be written this run (a newer version, JSON of
  // another shape, one that could not be moved aside).
  bool frozen_ = false;
  bool save_failure_told_ = false;
};

}  // namespace quenzil
