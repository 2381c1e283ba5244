#include "app/watch_desk.h"

#include <algorithm>
#include <utility>

#include "app/texts.h"
#include "common/local_time.h"

namespace quenzil {

namespace {

// Timers are re-armed at least this often, so a wake-up is never missed
// after the machine slept.
constexpr UnixSeconds kLongestWakeSeconds = 600;
constexpr std::chrono::milliseconds kLongestRetry{30000};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

WatchDesk::WatchDesk(FormView& view, Transfers& transfers, WatchStore& store, SettingsStore& settings,
                     const ScheduleSettings& schedule, std::string poll_host, FetchLimits limits, Callbacks callbacks)
    : view_(view),
      store_(store),
      settings_(settings),
      callbacks_(std::move(callbacks)),
      keeper_(transfers, *this, schedule, std::move(poll_host), limits) {}

void WatchDesk::Load() {
  WatchStore::Loaded loaded = store_.Load();
  if (loaded.busy) {
    // Another program (a scanner, a backup) holds the file for a moment: it
    // is read later, and nothing is written before.
    view_.StartTimer(FormTimer::kWatchFileRetry, retry_);
    retry_ = std::min(retry_ * 2, kLongestRetry);
    return;
  }
  // Known before the keeper saves what was watched while the file was held:
  // a file that is not to be written is no failure to save.
  frozen_ = loaded.newer_version || loaded.untouchable || (loaded.moved_aside && loaded.moved_aside->empty());
  keeper_.Load(std::move(loaded.list));  // the icon follows through WatchListChanged
  if (loaded.newer_version) callbacks_.tell(kWatchFileNewerPrompt);
  if (loaded.untouchable) callbacks_.tell(kWatchFileUntouchablePrompt);
  if (loaded.moved_aside) {
    if (loaded.moved_aside->empty()) {
      callbacks_.tell(kWatchFileStuckPrompt);
    } else {
      callbacks_.tell(std::string(kWatchFileMovedPrompt) + *loaded.moved_aside + std::string(kWatchFileMovedTail));
    }
  }
}

void WatchDesk::OnTimer(FormTimer timer) {
  if (stopped_) return;
  if (timer == FormTimer::kWatchWake) keeper_.OnWake();
  if (timer == FormTimer::kWatchFileRetry && !keeper_.loaded()) Load();
}

void WatchDesk::Stop() {
  keeper_.Stop();
  // Still held by another program since the start: one more try to read it,
  // so what was watched meanwhile is saved with it.
  if (!keeper_.loaded() && !stopped_) {
    WatchStore::Loaded loaded = store_.Load();
    if (!loaded.busy) keeper_.Load(std::move(loaded.list));
  }
  stopped_ = true;
}

UnixSeconds WatchDesk::Now() const {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t WatchDesk::UtcOffset(UnixSeconds at) const { return LocalUtcOffset(at); }

void WatchDesk::WakeAt(std::optional<UnixSeconds> when) {
  if (stopped_) return;
  if (!when) {
    view_.StopTimer(FormTimer::kWatchWake);
    return;
  }
  const UnixSeconds wait = std::clamp<UnixSeconds>(*when - Now(), 0, kLongestWakeSeconds);
  // A moment past the due second, so the keeper finds the entry due.
  view_.StartTimer(FormTimer::kWatchWake, std::chrono::seconds{wait} + std::chrono::milliseconds{50});
}

bool WatchDesk::Save(const WatchList& list) {
  const bool saved = store_.Save(list);
  // Told once a run, never in a box: this is background work.
  if (!saved && !frozen_ && !save_failure_told_) {
    save_failure_told_ = view_.ShowNotification(kWatchNotSavedTitle, kWatchNotSavedText);
  }
  return saved;
}

void WatchDesk::Notify(std::string_view number, std::string_view carrier, std::string_view title,
                       std::string_view text) {
  if (stopped_) return;
  if (view_.ShowNotification(title, text)) notified_.emplace(number, carrier);
}

void WatchDesk::WatchListChanged() {
  if (!stopped_) callbacks_.list_changed();
}

void WatchDesk::RefreshPausedForAccount(const ServiceFailure& failure) {
  settings_.SaveRefreshPaused(true);
  if (stopped_) return;
  view_.ShowNotification(kRefreshPausedTitle,
                         RefreshPausedText(FirstLine(ServiceFailureText(failure, keeper_.credentials().key))));
  notified_.reset();
}

}  // namespace quenzil
