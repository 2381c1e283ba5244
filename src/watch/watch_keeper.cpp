#include "watch/watch_keeper.h"

#include <utility>

namespace quenzil {

namespace {

// No result for the number yet: a normal answer for a parcel just handed in.
constexpr std::string_view kNoResultYet = "500";
// The key is wrong or has run out: every entry would fail the same way.
constexpr std::string_view kKeyRefused = "503";
constexpr std::string_view kKeyExpired = "601";

constexpr std::string_view kMalformedProblem = "快递100返回的内容无法识别";

// The service's words without the hint below them: the entry keeps one line.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

WatchKeeper::WatchKeeper(Transfers& transfers, WatchHost& host, ScheduleSettings settings,
                         std::string poll_host, FetchLimits limits)
    : transfers_(transfers), host_(host), schedule_(settings), poll_host_(std::move(poll_host)),
      limits_(limits) {}

void WatchKeeper::SetCredentials(Credentials credentials) {
  const bool changed =
      credentials.customer != credentials_.customer || credentials.key != credentials_.key;
  credentials_ = std::move(credentials);
  if (changed) schedule_.NoteReachable();
  Advance();
}

void WatchKeeper::Load(WatchList list) {
  if (running_) {
    transfers_.Cancel(*running_);
    running_.reset();
  }
  list_ = std::move(list);
  // Entries without a date (written by hand) start their 30 days now.
  const UnixSeconds now = host_.Now();
  for (WatchedParcel& parcel : list_.parcels) {
    if (parcel.added == 0) parcel.added = now;
  }
  host_.WatchListChanged();
  Advance();
}

AddResult WatchKeeper::Add(WatchedParcel parcel) {
  if (parcel.added == 0) parcel.added = host_.Now();
  const AddResult result = AddParcel(list_, std::move(parcel));
  if (result != AddResult::kAdded) return result;
  SaveNow();
  host_.WatchListChanged();
  Advance();
  return result;
}

bool WatchKeeper::Remove(std::string_view number, std::string_view carrier) {
  const std::optional<std::size_t> index = FindParcel(list_, number, carrier);
  if (!index) return false;
  if (running_ && running_number_ == number && running_carrier_ == carrier) {
    transfers_.Cancel(*running_);
    running_.reset();
  }
  list_.parcels.erase(list_.parcels.begin() + static_cast<std::ptrdiff_t>(*index));
  SaveNow();
  host_.WatchListChanged();
  Advance();
  return true;
}

void WatchKeeper::TakeUserResult(const TrackingResult& result, std::string_view carrier) {
  const std::optional<std::size_t> index = FindParcel(list_, result.number, carrier);
  if (!index) return;
  MergeResult(list_.parcels[*index], result, host_.Now());
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
  const UnixSeconds now = host_.Now();
  const std::optional<std::size_t> index = FindParcel(list_, running_number_, running_carrier_);
  if (index && TakeOutcome(list_.parcels[*index], outcome, now)) {
    SaveNow();
    host_.WatchListChanged();
  }
  Advance();
  return true;
}

bool WatchKeeper::TakeOutcome(WatchedParcel& parcel, const FetchOutcome& outcome,
                              UnixSeconds now) {
  if (!outcome.ok && IsUnreachable(outcome.failure)) {
    // Not the entry's fault: it stays due and everything waits.
    schedule_.NoteUnreachable(now);
    return false;
  }
  schedule_.NoteReachable();
  if (!outcome.ok) {
    parcel.last_problem = FetchFailureMessage(outcome.failure);
    parcel.last_checked = now;
    return true;
  }
  const PollAnswer answer = ReadPollAnswer(outcome.text);
  switch (answer.kind) {
    case PollAnswer::Kind::kResult: {
      const MergeOutcome merged = MergeResult(parcel, answer.result, now);
      if (merged.notify) {
        host_.Notify(parcel.number, parcel.carrier, NotificationTitle(parcel),
                     NotificationText(parcel));
      }
      return true;
    }
    case PollAnswer::Kind::kFailure: {
      const std::string& code = answer.failure.return_code;
      if (code == kNoResultYet) {
        parcel.last_problem.clear();
        parcel.last_checked = now;
        return true;
      }
      parcel.last_problem = FirstLine(ServiceFailureText(answer.failure, credentials_.key));
      if (code == kKeyRefused || code == kKeyExpired) {
        // The entry stays due; it goes first once the pause is over.
        schedule_.NoteKeyRefused(now);
      } else {
        parcel.last_checked = now;
      }
      return true;
    }
    case PollAnswer::Kind::kMalformed:
      break;
  }
  parcel.last_problem = std::string(kMalformedProblem);
  parcel.last_checked = now;
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
  if (stopped_ || running_ || !credentials_.complete()) return;
  const UnixSeconds now = host_.Now();
  const std::optional<std::size_t> index = schedule_.PickDue(list_, now);
  if (!index) return;
  const WatchedParcel& parcel = list_.parcels[*index];
  running_number_ = parcel.number;
  running_carrier_ = parcel.carrier;
  running_ = transfers_.Start(BuildPollRequest(poll_host_, credentials_, parcel.carrier,
                                               parcel.number, parcel.phone, limits_));
  schedule_.NoteStarted(now);
}

void WatchKeeper::Advance() {
  StartDue();
  Rearm();
}

// While a refresh runs its outcome is the next event, so no timer is needed.
void WatchKeeper::Rearm() {
  if (stopped_ || running_ || !credentials_.complete()) {
    host_.WakeAt(std::nullopt);
    return;
  }
  host_.WakeAt(schedule_.NextWake(list_, host_.Now()));
}

void WatchKeeper::SaveNow() { unsaved_ = !host_.Save(list_); }

}  // namespace quenzil
