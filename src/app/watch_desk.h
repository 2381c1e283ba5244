// The watch list as the window keeps it: the keeper, and what it asks of
// the program. The file is read once the window is up, and read again a
// little later while another program holds it; saving that fails is told
// once by a notification; the refresh timer; the notifications, and the
// one that says refresh is paused for the account. Background work here
// never raises a box.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/form_view.h"
#include "app/settings.h"
#include "app/watch_keeper.h"
#include "watch/watch_store.h"

namespace quenzil {

class WatchDesk final : private WatchHost {
 public:
  struct Callbacks {
    std::function<void()> list_changed;            // the tray icon follows the list
    std::function<void(std::string_view)> tell;    // a box about the file as it was read
  };

  WatchDesk(FormView& view, Transfers& transfers, WatchStore& store, SettingsStore& settings,
            const ScheduleSettings& schedule, std::string poll_host, FetchLimits limits, Callbacks callbacks);

  WatchKeeper& keeper() { return keeper_; }
  const WatchKeeper& keeper() const { return keeper_; }
  UnixSeconds Now() const override;

  // Reads the file, or arranges to read it again shortly.
  void Load();
  // kWatchWake and kWatchFileRetry.
  void OnTimer(FormTimer timer);
  // The parcel of the last notification, for a click on it.
  const std::optional<ParcelKey>& notified() const { return notified_; }
  // The program ends: nothing more is shown or armed.
  void Stop();

 private:
  // WatchHost
  std::int64_t UtcOffset(UnixSeconds at) const override;
  void WakeAt(std::optional<UnixSeconds> when) override;
  bool Save(const WatchList& list) override;
  void Notify(std::string_view number, std::string_view carrier, std::string_view title,
              std::string_view text) override;
  void WatchListChanged() override;
  void RefreshPausedForAccount(const ServiceFailure& failure) override;

  FormView& view_;
  WatchStore& store_;
  SettingsStore& settings_;
  Callbacks callbacks_;
  WatchKeeper keeper_;
  bool stopped_ = false;
  std::optional<ParcelKey> notified_;
  // Read again less and less often while another program holds the file;
  // never written when it cannot be taken as ours.
  std::chrono::milliseconds retry_{250};
  bool frozen_ = false;
  bool save_failure_told_ = false;
};

}  // namespace quenzil
