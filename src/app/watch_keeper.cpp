#include "app/watch_keeper.h"

#include <algorithm>
#include <utility>

namespace quenzil {

namespace {

constexpr std::string_view kPhoneProblem = "需要手机号后四位";
// Entries that must have failed one after another, each for its own
// connection, before the network counts as out of reach.
constexpr std::size_t kOfflineAfterEntries = 3;

// The service's words without the hint below them: the entry keeps one line.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

WatchKeeper::WatchKeeper(Transfers& transfers, WatchHost& host, ScheduleSettings settings)
    : transfers_(transfers), host_(host), schedule_(settings) {}

void WatchKeeper::SetMode(RefreshMode mode) {
  schedule_.SetMode(mode);
  Advance();
}

void WatchKeeper::ResumeRefresh() {
  schedule_.NoteReachable();
  Advance();
}

void WatchKeeper::Load(WatchList list) {
  if (running_) {
    transfers_.Cancel(*running_);
    running_.reset();
  }
  // What the user did before the file was read goes on top of it.
  std::vector<WatchedParcel> added_meanwhile = std::move(list_.parcels);
  list_ = std::move(list);
  for (const ParcelKey& removed : removed_before_load_) {
    if (const auto index = FindParcel(list_, removed.first, removed.second)) {
      list_.parcels.erase(list_.parcels.begin() + static_cast<std::ptrdiff_t>(*index));
    }
  }
  bool changed = !removed_before_load_.empty();
  removed_before_load_.clear();
  for (WatchedParcel& parcel : added_meanwhile) {
    changed = AddParcel(list_, std::move(parcel)) == AddResult::kAdded || changed;
  }
  loaded_ = true;
  batch_ = WaitingForFirstFetch();
  // Entries without a date (written by hand) start their 30 days now.
  const UnixSeconds now = host_.Now();
  for (WatchedParcel& parcel : list_.parcels) {
    if (parcel.added == 0) parcel.added = now;
  }
  if (changed || unsaved_) SaveNow();
  host_.WatchListChanged();
  Advance();
}

AddResult WatchKeeper::Add(WatchedParcel parcel) {
  std::vector<WatchedParcel> one;
  one.push_back(std::move(parcel));
  return AddAll(std::move(one)).front();
}

std::vector<AddResult> WatchKeeper::AddAll(std::vector<WatchedParcel> parcels) {
  std::vector<AddResult> results;
  results.reserve(parcels.size());
  const UnixSeconds now = host_.Now();
  if (WaitingForFirstFetch() == 0) batch_ = 0;
  for (WatchedParcel& parcel : parcels) {
    if (parcel.added == 0) parcel.added = now;
    const bool waits = !parcel.fetched();
    results.push_back(AddParcel(list_, std::move(parcel)));
    if (results.back() == AddResult::kAdded && waits) ++batch_;
  }
  if (std::find(results.begin(), results.end(), AddResult::kAdded) == results.end()) return results;
  SaveNow();
  host_.WatchListChanged();
  Advance();
  return results;
}

bool WatchKeeper::Rewatch(std::string_view number, std::string_view carrier) {
  const std::optional<std::size_t> index = FindParcel(list_, number, carrier);
  if (!index) return false;
  WatchedParcel& parcel = list_.parcels[*index];
  parcel.put_away = 0;
  parcel.last_changed = host_.Now();
  SaveNow();
  host_.WatchListChanged();
  Advance();
  return true;
}

bool WatchKeeper::SetNote(const ParcelKey& key, std::string note) {
  const std::optional<std::size_t> index = FindParcel(list_, key.first, key.second);
  if (!index) return false;
  list_.parcels[*index].note = std::move(note);
  SaveNow();
  host_.WatchListChanged();
  return true;
}

bool WatchKeeper::SetPhone(const ParcelKey& key, std::string digits) {
  const std::optional<std::size_t> index = FindParcel(list_, key.first, key.second);
  if (!index) return false;
  WatchedParcel& parcel = list_.parcels[*index];
  parcel.phone = std::move(digits);
  if (parcel.needs_phone && !parcel.phone.empty()) {
    parcel.needs_phone = false;
    parcel.last_problem.clear();
  }
  SaveNow();
  host_.WatchListChanged();
  Advance();
  return true;
}

void WatchKeeper::RefreshNow(const std::vector<ParcelKey>& parcels) {
  for (const ParcelKey& parcel : parcels) {
    if (std::find(asked_now_.begin(), asked_now_.end(), parcel) == asked_now_.end()) asked_now_.push_back(parcel);
  }
  Advance();
}

std::size_t WatchKeeper::WaitingForFirstFetch() const {
  return static_cast<std::size_t>(std::count_if(list_.parcels.begin(), list_.parcels.end(), [](const WatchedParcel& parcel) {
    return !parcel.fetched() && parcel.put_away == 0;
  }));
}

FirstFetches WatchKeeper::first_fetches() const {
  const std::size_t waiting = WaitingForFirstFetch();
  if (waiting == 0) return {};
  // Entries removed, or read from the file, may leave the count behind.
  const std::size_t added = std::max(batch_, waiting);
  return {added - waiting, added};
}

bool WatchKeeper::PutAwayDue(UnixSeconds now) {
  if (!loaded_) return false;
  bool changed = false;
  for (WatchedParcel& parcel : list_.parcels) {
    const std::optional<UnixSeconds> at = PutAwayAt(parcel);
    if (!at || *at > now) continue;
    parcel.put_away = now;
    changed = true;
  }
  if (!changed) return false;
  SaveNow();
  host_.WatchListChanged();
  return true;
}

bool WatchKeeper::Remove(std::string_view number, std::string_view carrier) {
  if (!FindParcel(list_, number, carrier)) return false;
  if (running_ && running_parcel_.first == number && running_parcel_.second == carrier) {
    transfers_.Cancel(*running_);
    running_.reset();
    running_service_.reset();
  }
  if (!list_.parcels[*FindParcel(list_, number, carrier)].fetched() && batch_ > 0) --batch_;
  std::erase(asked_now_, ParcelKey{std::string(number), std::string(carrier)});
  RemoveParcel(list_, number, carrier);
  if (!loaded_) removed_before_load_.emplace_back(std::string(number), std::string(carrier));
  SaveNow();
  host_.WatchListChanged();
  Advance();
  return true;
}

void WatchKeeper::TakeUserResult(const TrackingResult& result, std::string_view carrier, std::string_view phone,
                                 std::string_view service) {
  const std::optional<std::size_t> index = FindParcel(list_, result.number, carrier);
  if (!index) return;
  WatchedParcel& parcel = list_.parcels[*index];
  MergeResult(parcel, result, host_.Now());
  if (!phone.empty()) parcel.phone = std::string(phone);
  if (!service.empty()) parcel.service = std::string(service);
  SaveNow();
  host_.WatchListChanged();
  Rearm();
}

void WatchKeeper::OnWake() {
  if (unsaved_) SaveNow();
  Advance();
}

bool WatchKeeper::OnTransferDone(TransferId id, const FetchOutcome& outcome) {
  if (!running_ || *running_ != id) return false;
  running_.reset();
  const std::shared_ptr<const TrackingService> service = std::move(running_service_);
  const UnixSeconds now = host_.Now();
  const std::optional<std::size_t> index = FindParcel(list_, running_parcel_.first, running_parcel_.second);
  if (index && TakeOutcome(list_.parcels[*index], *service, outcome, now)) {
    SaveNow();
    host_.WatchListChanged();
  }
  Advance();
  return true;
}

void WatchKeeper::NoteFailure(WatchedParcel& parcel, std::string problem, UnixSeconds now) {
  parcel.last_problem = std::move(problem);
  parcel.last_checked = now;
  ++parcel.failures;
  if (parcel.failing_since == 0) parcel.failing_since = now;
}

std::size_t WatchKeeper::ActiveEntries(UnixSeconds now) const {
  const std::int64_t offset = host_.UtcOffset(now);
  return static_cast<std::size_t>(std::count_if(list_.parcels.begin(), list_.parcels.end(), [&](const WatchedParcel& parcel) {
    return schedule_.DueAt(parcel, now, offset).has_value();
  }));
}

bool WatchKeeper::NoteTransportFailure(WatchedParcel& parcel, std::string problem, UnixSeconds now) {
  ParcelKey key{parcel.number, parcel.carrier};
  if (offline_) {
    // Still out of reach: not this entry's fault; it stays due, behind the
    // others, so that one which can answer ends the pause.
    std::erase(tried_while_offline_, key);
    tried_while_offline_.push_back(std::move(key));
    schedule_.NoteUnreachable(now);
    return false;
  }
  std::erase_if(failing_in_a_row_, [&](const Penalty& penalty) { return penalty.parcel == key; });
  failing_in_a_row_.push_back(
      {key, now, parcel.last_problem, parcel.last_checked, parcel.failures, parcel.failing_since});
  NoteFailure(parcel, std::move(problem), now);
  // One entry alone cannot tell an outage from its own failures: it backs
  // off on its own.
  const std::size_t needed = std::clamp<std::size_t>(ActiveEntries(now), 2, kOfflineAfterEntries);
  if (failing_in_a_row_.size() < needed) return true;
  // Every entry tried failed the same way: the network is out, not the
  // entries. Their own back-off is undone (unless something newer came
  // meanwhile, a query by hand) and the whole list waits.
  for (const Penalty& penalty : failing_in_a_row_) {
    tried_while_offline_.push_back(penalty.parcel);
    const auto index = FindParcel(list_, penalty.parcel.first, penalty.parcel.second);
    if (!index) continue;
    WatchedParcel& entry = list_.parcels[*index];
    if (entry.failures == 0 || entry.last_checked != penalty.failed_at) continue;
    entry.last_problem = penalty.last_problem;
    entry.last_checked = penalty.last_checked;
    entry.failures = penalty.failures;
    entry.failing_since = penalty.failing_since;
  }
  failing_in_a_row_.clear();
  offline_ = true;
  schedule_.NoteUnreachable(now);
  return true;
}

bool WatchKeeper::TakeKeptAnswer(WatchedParcel& parcel, UnixSeconds now) {
  const std::optional<KeptAnswer> kept = host_.Kept(parcel.number, parcel.carrier);
  if (!kept || kept->answered_at <= parcel.last_answered ||
      !WithinRequeryGuard(kept->answered_at, now, schedule_.policy().requery_guard)) {
    return false;
  }
  const UnixSeconds checked = std::max(parcel.last_checked, kept->answered_at);
  const MergeOutcome merged = MergeResult(parcel, kept->result, kept->answered_at);
  parcel.last_checked = checked;
  if (parcel.phone.empty()) parcel.phone = kept->phone;
  if (!kept->service.empty()) parcel.service = kept->service;
  if (merged.notify) host_.Notify(parcel.number, parcel.carrier, NotificationTitle(parcel), NotificationText(parcel));
  return true;
}

bool WatchKeeper::Refreshing(std::string_view number) const { return running_ && running_parcel_.first == number; }

PickOrder WatchKeeper::Order() const {
  PickOrder order;
  // Not now: a query by hand of it is on its way, or no service may refresh it.
  order.held_back = [this](const WatchedParcel& parcel) {
    return host_.AskedByHand(parcel.number) || host_.ServiceFor(parcel) == nullptr;
  };
  order.last = tried_while_offline_;
  return order;
}

bool WatchKeeper::TakeOutcome(WatchedParcel& parcel, const TrackingService& service, const FetchOutcome& fetched,
                              UnixSeconds now) {
  const ServiceAnswer answer = service.Read(fetched);
  if (answer.outcome == Outcome::kNotReached) {
    std::string problem = FetchFailureMessage(answer.failure);
    if (IsUnreachable(answer.failure) || answer.failure == FetchFailure::kBadStatus) {
      return NoteTransportFailure(parcel, std::move(problem), now);
    }
    NoteFailure(parcel, std::move(problem), now);
    return true;
  }
  // An answer came: the network is there.
  offline_ = false;
  failing_in_a_row_.clear();
  tried_while_offline_.clear();
  schedule_.NoteReachable();
  switch (answer.outcome) {
    case Outcome::kRows: {
      TrackingResult result = answer.result;
      result.carrier_code = parcel.carrier;
      const MergeOutcome merged = MergeResult(parcel, result, now);
      parcel.service = std::string(service.key());
      if (merged.notify) {
        host_.Notify(parcel.number, parcel.carrier, NotificationTitle(parcel), NotificationText(parcel));
      }
      return true;
    }
    case Outcome::kNoResultYet:
      // A normal answer for a parcel just handed in.
      parcel.last_problem.clear();
      parcel.last_checked = now;
      parcel.failures = 0;
      parcel.failing_since = 0;
      return true;
    case Outcome::kPhoneNeeded:
      // Asked again only once a query by hand has the digits.
      parcel.needs_phone = true;
      parcel.last_problem = std::string(kPhoneProblem);
      parcel.last_checked = now;
      return true;
    case Outcome::kAccountRefused:
    case Outcome::kQuotaSpent:
      // Every entry would fail the same way, and each try may cost. The
      // entry stays due; it goes first once another service or the
      // account serves again.
      host_.RefreshRefused(service, answer);
      return false;
    case Outcome::kUnreadable:
      NoteFailure(parcel, std::string(service.name()) + "返回的内容无法识别", now);
      return true;
    case Outcome::kCourierNotServed:
    case Outcome::kBadRequest:
    case Outcome::kServerError:
    case Outcome::kNotReached:
      break;
  }
  NoteFailure(parcel, FirstLine(answer.told), now);
  return true;
}

void WatchKeeper::Stop() {
  stopped_ = true;
  if (running_) {
    transfers_.Cancel(*running_);
    running_.reset();
  }
  if (unsaved_) SaveNow();
  host_.WakeAt(std::nullopt);
}

void WatchKeeper::StartDue() {
  if (stopped_ || running_ || !loaded_) return;
  const UnixSeconds now = host_.Now();
  const std::int64_t offset = host_.UtcOffset(now);
  // An entry that takes an answer kept elsewhere is done without asking,
  // and the next due one goes instead.
  for (std::size_t tried = 0; tried <= list_.parcels.size() + asked_now_.size(); ++tried) {
    std::optional<std::size_t> index = NextAskedNow(now);
    if (!index) index = schedule_.PickDue(list_, now, offset, Order());
    if (!index) return;
    WatchedParcel& parcel = list_.parcels[*index];
    if (TakeKeptAnswer(parcel, now)) {
      SaveNow();
      host_.WatchListChanged();
      continue;
    }
    running_service_ = host_.ServiceFor(parcel);
    running_parcel_ = {parcel.number, parcel.carrier};
    running_ = transfers_.Start(running_service_->Query({parcel.number, parcel.carrier, parcel.phone}));
    schedule_.NoteStarted(now);
    return;
  }
}

// The next parcel of 立即刷新 that may go now. Those no service can ask,
// and those answered within the guard, leave the queue unasked; one asked
// by hand waits behind the others.
std::optional<std::size_t> WatchKeeper::NextAskedNow(UnixSeconds now) {
  for (std::size_t looked = asked_now_.size(); looked > 0; --looked) {
    const ParcelKey key = asked_now_.front();
    asked_now_.pop_front();
    const std::optional<std::size_t> index = FindParcel(list_, key.first, key.second);
    if (!index) continue;
    const WatchedParcel& parcel = list_.parcels[*index];
    if (host_.ServiceFor(parcel) == nullptr ||
        WithinRequeryGuard(parcel.last_answered, now, schedule_.policy().requery_guard)) {
      continue;
    }
    if (host_.AskedByHand(parcel.number)) {
      asked_now_.push_back(key);
      continue;
    }
    return index;
  }
  return std::nullopt;
}

void WatchKeeper::Advance() {
  if (!stopped_) PutAwayDue(host_.Now());
  StartDue();
  Rearm();
}

// While a refresh runs its outcome is the next event, so no timer is needed.
void WatchKeeper::Rearm() {
  if (stopped_ || running_ || !loaded_) {
    host_.WakeAt(std::nullopt);
    return;
  }
  const UnixSeconds now = host_.Now();
  std::optional<UnixSeconds> wake = schedule_.NextWake(list_, now, host_.UtcOffset(now), Order());
  for (const WatchedParcel& parcel : list_.parcels) {
    if (const std::optional<UnixSeconds> at = PutAwayAt(parcel); at && (!wake || *at < *wake)) wake = at;
  }
  host_.WakeAt(wake);
}

void WatchKeeper::SaveNow() {
  if (!loaded_) {
    unsaved_ = true;
    return;
  }
  unsaved_ = !host_.Save(list_);
}

}  // namespace quenzil
