#include "app/tracker.h"

#include <algorithm>
#include <utility>

#include "app/texts.h"
#include "common/times.h"
#include "query/carriers.h"
#include "query/couriers.h"
#include "query/services/appcode.h"
#include "query/services/kdniao.h"
#include "query/services/kuaidi100.h"
#include "query/services/kuaidi100_old.h"
#include "query/tracking_number.h"

namespace quenzil {

namespace {

// Timers are re-armed at least this often, so a wake-up is never missed
// after the machine slept.
constexpr UnixSeconds kLongestWakeSeconds = 600;
// A moment past the due second, so the keeper finds the entry due.
constexpr std::chrono::milliseconds kPastTheSecond{50};
constexpr std::chrono::milliseconds kLongestFileRetry{30000};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

UnixSeconds SystemClock::Now() const {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t SystemClock::UtcOffset(UnixSeconds at) const { return LocalUtcOffset(at); }

std::chrono::milliseconds SystemClock::Ticks() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

Tracker::Tracker(Transfers& transfers, TrackerStores stores, TrackerEvents& events, const Clock& clock,
                 DeployHosts hosts, TrackerOptions options)
    : transfers_(transfers),
      stores_(stores),
      events_(events),
      clock_(clock),
      hosts_(std::move(hosts)),
      options_(options),
      answers_(stores.history),
      keeper_(transfers, *this, hosts_.watch_schedule),
      flow_(transfers, *this, *this, hosts_.watch_schedule.requery_guard) {
  BuildServices();
}

Tracker::~Tracker() = default;

// ---- the accounts ---------------------------------------------------------------

void Tracker::SetAccounts(Accounts accounts) {
  accounts_ = std::move(accounts);
  BuildServices();
}

void Tracker::OnlyService(std::string service) {
  only_service_ = std::move(service);
  BuildServices();
}

void Tracker::BuildServices() {
  services_.clear();
  for (const std::string& key : accounts_.order) {
    if (!only_service_.empty() && key != only_service_) continue;
    if (key == Kuaidi100Service::kKey && accounts_.kuaidi100.complete()) {
      services_.push_back(std::make_shared<Kuaidi100Service>(
          Kuaidi100Hosts{hosts_.tracking_poll, hosts_.tracking_detect}, hosts_.query_limits, accounts_.kuaidi100));
    } else if (key == KdniaoService::kKey && accounts_.kdniao.complete()) {
      services_.push_back(std::make_shared<KdniaoService>(hosts_.kdniao, hosts_.query_limits, accounts_.kdniao));
    } else if (key == AppCodeService::kKey && accounts_.appcode.complete()) {
      services_.push_back(std::make_shared<AppCodeService>(hosts_.appcode, hosts_.query_limits, accounts_.appcode));
    }
  }
  GiveFlowServices();
  keeper_.Advance();
}

void Tracker::GiveFlowServices() {
  if (services_.empty()) {
    // Without an account: the old public address, as the program always did.
    flow_.SetServices({std::make_shared<OldAddressService>(hosts_.tracking_api, hosts_.query_limits)}, false);
    return;
  }
  // A service that could not be reached lately is asked after the others,
  // so that a press does not wait for its time-outs first; one that refused
  // lately is still asked, but last: it may have been topped up.
  const auto rank = [this](const TrackingService& service) {
    if (std::find(paused_.begin(), paused_.end(), service.key()) != paused_.end()) return 2;
    const auto down = std::find_if(unreachable_.begin(), unreachable_.end(),
                                   [&](const auto& entry) { return entry.first == service.key(); });
    return down != unreachable_.end() && clock_.Ticks() < down->second ? 1 : 0;
  };
  ServiceList ordered = services_;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&rank](const auto& left, const auto& right) { return rank(*left) < rank(*right); });
  // The rows name their service, unless 快递100 alone answers, as it always did.
  const bool named = services_.size() > 1 || services_.front()->key() != Kuaidi100Service::kKey;
  flow_.SetServices(std::move(ordered), named);
}

void Tracker::LoadSettings() {
  keeper_.SetMode(stores_.settings.LoadRefreshMode());
  paused_.clear();
  for (const std::string_view key : kServiceKeys) {
    if (stores_.settings.LoadPaused(key)) paused_.emplace_back(key);
  }
  GiveFlowServices();
  keeper_.Advance();
}

void Tracker::SetMode(RefreshMode mode) {
  if (mode == keeper_.mode()) return;
  keeper_.SetMode(mode);
}

void Tracker::AccountConfirmed() {
  // Perhaps the account got courier detection: it is asked again (a flag
  // left set only goes on without it).
  static_cast<void>(stores_.settings.SaveDetectionRefused(false));
  detection_off_.clear();
  const std::vector<std::string> paused = paused_;
  for (const std::string& key : paused) Resume(key);
}

bool Tracker::refresh_paused() const {
  return !services_.empty() && std::all_of(services_.begin(), services_.end(), [this](const auto& service) {
    return std::find(paused_.begin(), paused_.end(), service->key()) != paused_.end();
  });
}

void Tracker::Resume(std::string_view service) {
  const auto found = std::find(paused_.begin(), paused_.end(), service);
  if (found == paused_.end()) return;
  paused_.erase(found);
  stores_.settings.SavePaused(service, false);
  GiveFlowServices();
  keeper_.ResumeRefresh();
}

void Tracker::Pause(const TrackingService& service, const ServiceAnswer& answer, bool tell) {
  if (std::find(paused_.begin(), paused_.end(), service.key()) == paused_.end()) {
    paused_.emplace_back(service.key());
    stores_.settings.SavePaused(service.key(), true);
    GiveFlowServices();
  }
  if (!tell || stopped_) return;
  // Background work raises no box: one notification.
  events_.Notification(kRefreshPausedTitle,
                       RefreshPausedText(service.name(), FirstLine(answer.told), !refresh_paused()));
  notified_.reset();
}

// ---- queries ----------------------------------------------------------------

bool Tracker::OnItsWay(const QueryAsk& ask) const { return flow_.OnItsWay(ask) || waiting_ask_ == ask; }

void Tracker::Query(QueryAsk ask) {
  if (stopped_) return;
  // The old public address gets the text exactly as typed, as it always did.
  if (keyed()) ask.number = TrackingNumberOf(ask.number);
  const std::string_view picked =
      ask.chosen_row && *ask.chosen_row < CarrierTable.size() ? CarrierTable[*ask.chosen_row].service_code
                                                                : std::string_view(ask.carrier_code);
  if (!ask.number.empty() && !picked.empty() && detected_ && detected_->second == picked &&
      detected_->first != ask.number && keyed()) {
    // Found for another number: unpicked, so the user can pick that
    // courier for this one.
    ask.chosen_row.reset();
    ask.carrier_code.clear();
    detected_.reset();
    events_.CourierPicked({});
  }
  // Pressed again (or Enter held down) while the same query is on its way:
  // its answer is coming, nothing new is asked.
  if (OnItsWay(ask)) return;
  CancelQuery();
  GiveFlowServices();  // the order of this moment
  events_.QueryStarted();
  asked_number_ = ask.number;
  // The background refresh of this very number is on its way: its answer
  // is waited for rather than asked for twice.
  if (keyed() && keeper_.Refreshing(ask.number)) {
    waiting_ask_ = std::move(ask);
    return;
  }
  StartQuery(std::move(ask));
}

void Tracker::StartQuery(QueryAsk ask) { flow_.Start(std::move(ask)); }

void Tracker::CancelQuery() {
  flow_.Cancel();
  waiting_ask_.reset();
}

void Tracker::PhoneDigits(std::optional<std::string> digits) { flow_.PhoneDigits(std::move(digits)); }

void Tracker::QueryDone(const QueryOutcome& outcome) {
  switch (outcome.kind) {
    case QueryOutcome::Kind::kRows:
      // Rows by hand: that service's account works again.
      if (outcome.result && !outcome.kept) Resume(outcome.service);
      events_.Rows(outcome);
      break;
    case QueryOutcome::Kind::kAdvice:
      events_.Advice(outcome.rows);
      break;
    case QueryOutcome::Kind::kFailure:
    case QueryOutcome::Kind::kNotice:
      events_.Told(outcome.prompt, outcome.title);
      break;
    case QueryOutcome::Kind::kNothing:
      break;
  }
}

void Tracker::CarrierFound(std::string_view carrier_code) {
  events_.CourierPicked(carrier_code);
  if (asked_number_) detected_.emplace(*asked_number_, std::string(carrier_code));
}

bool Tracker::PhoneNeeded(std::string_view carrier_name, std::string_view number) {
  return events_.PhoneWanted(carrier_name, number);
}

// A query by hand tells the refusal in its box.
void Tracker::ServiceRefused(const TrackingService& service, const ServiceAnswer& answer) {
  Pause(service, answer, false);
}

void Tracker::RefreshRefused(const TrackingService& service, const ServiceAnswer& answer) {
  Pause(service, answer, true);
}

// 快递100's is kept across runs (a trial account never has it); another
// service's for this run.
bool Tracker::DetectionOff(const TrackingService& service) const {
  if (service.key() == Kuaidi100Service::kKey) return stores_.settings.LoadDetectionRefused();
  return std::find(detection_off_.begin(), detection_off_.end(), service.key()) != detection_off_.end();
}

void Tracker::ServiceReached(const TrackingService& service, bool reached) {
  // Five minutes: a service that is down is mostly down for a while.
  constexpr std::chrono::minutes kAskedAfterOthers{5};
  std::erase_if(unreachable_, [&](const auto& entry) { return entry.first == service.key(); });
  if (!reached) unreachable_.emplace_back(service.key(), clock_.Ticks() + kAskedAfterOthers);
}

void Tracker::DetectionNotOffered(const TrackingService& service) {
  if (service.key() == Kuaidi100Service::kKey) {
    stores_.settings.SaveDetectionRefused(true);
  } else {
    detection_off_.emplace_back(service.key());
  }
}

// ---- kept answers ----------------------------------------------------------------

std::optional<KeptAnswer> Tracker::Kept(std::string_view number, std::string_view carrier) const {
  return answers_.Kept(keeper_.list(), number, carrier);
}

std::string Tracker::PhoneFor(std::string_view number, std::string_view carrier_code) const {
  return answers_.PhoneFor(keeper_.list(), number, carrier_code);
}

void Tracker::Keep(const QueryOutcome& outcome) {
  if (outcome.result && options_.keeps_watch_list) {
    keeper_.TakeUserResult(*outcome.result, outcome.carrier_code, outcome.phone, outcome.service);
  }
  HistoryEntry entry = answers_.Record(outcome);
  if (!options_.writes_later) {
    answers_.Write(entry);
    return;
  }
  // Written once the rows are shown, off the moment they come.
  writes_later_.push_back(std::move(entry));
  Rewake();
}

void Tracker::RunWrites() {
  for (const HistoryEntry& entry : std::exchange(writes_later_, {})) answers_.Write(entry);
}

void Tracker::ClearRecent() {
  stores_.history.Update([](History& history) { history.entries.clear(); });
}

// ---- the watch list -----------------------------------------------------------------

void Tracker::LoadWatchList() {
  file_retry_at_.reset();
  WatchStore::Loaded loaded = stores_.watch.Load();
  if (loaded.busy) {
    // Another program (a scanner, a backup) holds the file for a moment: it
    // is read later, and nothing is written before.
    file_retry_at_ = clock_.Ticks() + file_retry_;
    file_retry_ = std::min(file_retry_ * 2, kLongestFileRetry);
    Rewake();
    return;
  }
  // Known before the keeper saves what was watched while the file was held:
  // a file that is not to be written is no failure to save.
  frozen_ = !options_.keeps_watch_list || loaded.newer_version || loaded.untouchable ||
            (loaded.moved_aside && loaded.moved_aside->empty());
  keeper_.Load(std::move(loaded.list));
  if (loaded.newer_version) events_.Told(kWatchFileNewerPrompt, kSystemNoticeTitle);
  if (loaded.untouchable) events_.Told(kWatchFileUntouchablePrompt, kSystemNoticeTitle);
  if (loaded.moved_aside) {
    if (loaded.moved_aside->empty()) {
      events_.Told(kWatchFileStuckPrompt, kSystemNoticeTitle);
    } else {
      events_.Told(std::string(kWatchFileMovedPrompt) + *loaded.moved_aside + std::string(kWatchFileMovedTail),
                   kSystemNoticeTitle);
    }
  }
}

AddResult Tracker::Watch(const QueryOutcome& shown, std::string note) {
  WatchedParcel entry;
  if (shown.result) {
    entry = ParcelFromResult(*shown.result, shown.carrier_name, shown.phone, note, Now());
    entry.last_answered = shown.answered_at;
  } else {
    // From the old address's rows: fetched at the first refresh.
    entry.note = std::move(note);
    entry.added = Now();
  }
  // The number as the user typed it names the parcel, whatever the answer
  // spelled.
  entry.number = shown.number;
  entry.carrier = shown.carrier_code;
  entry.carrier_name = shown.carrier_name;
  entry.phone = shown.phone.empty() ? PhoneFor(shown.number, shown.carrier_code) : shown.phone;
  if (shown.result) entry.service = shown.service;
  return keeper_.Add(std::move(entry));
}

bool Tracker::Unwatch(std::string_view number, std::string_view carrier) { return keeper_.Remove(number, carrier); }

// The first service in the order that serves the courier and is not paused.
std::shared_ptr<const TrackingService> Tracker::ServiceFor(const WatchedParcel& parcel) const {
  if (!options_.keeps_watch_list) return nullptr;
  for (const auto& service : services_) {
    const bool paused = std::find(paused_.begin(), paused_.end(), service->key()) != paused_.end();
    if (!paused && service->Serves(parcel.carrier)) return service;
  }
  return nullptr;
}

bool Tracker::AskedByHand(std::string_view number) const {
  return flow_.running() && asked_number_ == number;
}

void Tracker::WakeAt(std::optional<UnixSeconds> when) {
  refresh_at_ = when;
  Rewake();
}

bool Tracker::Save(const WatchList& list) {
  if (!options_.keeps_watch_list) return false;
  const bool saved = stores_.watch.Save(list);
  // Told once a run, never in a box: this is background work.
  if (!saved && !frozen_ && !save_failure_told_ && !stopped_) {
    save_failure_told_ = events_.Notification(kWatchNotSavedTitle, kWatchNotSavedText);
  }
  return saved;
}

void Tracker::Notify(std::string_view number, std::string_view carrier, std::string_view title,
                     std::string_view text) {
  if (stopped_) return;
  if (events_.Notification(title, text)) notified_.emplace(number, carrier);
}

void Tracker::WatchListChanged() {
  if (!stopped_) events_.ListChanged();
}

// ---- from the shell -------------------------------------------------------------------

bool Tracker::OnTransferDone(TransferId id, const FetchOutcome& outcome) {
  if (stopped_) return false;
  // A query by hand, else a refresh of a watched parcel.
  if (flow_.OnTransferDone(id, outcome)) {
    // The number asked by hand may be refreshed again.
    keeper_.OnWake();
    return true;
  }
  if (!keeper_.OnTransferDone(id, outcome)) return false;
  if (waiting_ask_) {
    // The refresh the query waited for is in: its answer is kept, or the
    // query goes out now.
    StartQuery(*std::exchange(waiting_ask_, std::nullopt));
  }
  return true;
}

void Tracker::OnWake() {
  if (stopped_) return;
  RunWrites();
  if (file_retry_at_ && clock_.Ticks() >= *file_retry_at_ && !keeper_.loaded()) LoadWatchList();
  keeper_.OnWake();
  Rewake();
}

void Tracker::Rewake() {
  if (stopped_) return;
  std::optional<std::chrono::milliseconds> delay;
  const auto sooner = [&delay](std::chrono::milliseconds wait) {
    wait = std::max(wait, std::chrono::milliseconds{0});
    if (!delay || wait < *delay) delay = wait;
  };
  if (!writes_later_.empty()) sooner(std::chrono::milliseconds{1});
  if (file_retry_at_) sooner(*file_retry_at_ - clock_.Ticks());
  if (refresh_at_) {
    const UnixSeconds wait = std::clamp<UnixSeconds>(*refresh_at_ - Now(), 0, kLongestWakeSeconds);
    sooner(std::chrono::seconds{wait} + kPastTheSecond);
  }
  events_.WakeAfter(delay);
}

void Tracker::Stop() {
  if (stopped_) return;
  RunWrites();
  CancelQuery();
  keeper_.Stop();
  // Still held by another program since the start: one more try to read it,
  // so what was watched meanwhile is saved with it.
  if (!keeper_.loaded() && options_.keeps_watch_list) {
    WatchStore::Loaded loaded = stores_.watch.Load();
    if (!loaded.busy) keeper_.Load(std::move(loaded.list));
  }
  stopped_ = true;
  events_.WakeAfter(std::nullopt);
}

}  // namespace quenzil
