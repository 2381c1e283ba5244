// The handlers of the main window form1, free of the platform: they reach the
// window through FormView, the network through Transfers and the disk
// through the stores, so their logic runs natively against fakes. No handler
// waits: a transfer is started, and its outcome comes back later through
// OnTransferDone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/keyed_api.h"
#include "watch/watch_keeper.h"
#include "watch/watch_store.h"
#include "web/fetch.h"
#include "window/form_view.h"
#include "window/texts.h"

namespace quenzil {

struct DeployHosts {
  std::string tracking_api;     // the old query address
  std::string tracking_home;    // Label3
  std::string maker;            // update flag, Label5
  std::string tracking_poll;    // the keyed API (https)
  std::string tracking_detect;  // courier detection (https)
  // How long a query may take; the update check has its own, shorter limits.
  FetchLimits query_limits{};
  // Background refresh of watched parcels.
  ScheduleSettings watch_schedule{};
};

// Commands of the menus (system menu ids are multiples of 16).
namespace commands {
inline constexpr int kKeySettings = 0x0110;
inline constexpr int kWatch = 0x0120;
inline constexpr int kCopy = 0x0130;
inline constexpr int kShowWindow = 0x0140;
inline constexpr int kExit = 0x0150;
inline constexpr int kShowParcelFirst = 0x1000;  // + index in the watch list
inline constexpr int kUnwatchFirst = 0x2000;     // + index in the watch list
}  // namespace commands

class Form1 final : private WatchHost {
 public:
  Form1(FormView& view, Transfers& transfers, CredentialStore& credentials, WatchStore& watch_store,
        DeployHosts hosts);

  // Start: reads the settings and starts the update check. The window is
  // shown once the check has answered or given up.
  void Form_Load();
  // Every transfer's outcome, on the window's thread.
  void OnTransferDone(TransferId id, const FetchOutcome& outcome);
  // A close request. True refuses the close.
  bool Form_QueryUnload();
  // The session ends (logoff, shutdown): no question, no box.
  void Form_EndSession();
  // The pointer over the window's bare surface.
  void Form_MouseMove();
  // A report of the notification-area icon (WM_LBUTTONDOWN, WM_RBUTTONUP,
  // a balloon click, ...).
  void TrayIcon_Notify(std::uint32_t mouse_message);
  // The shell restarted and the icon was added again, or could not be.
  void TrayIcon_Recreated(bool added);
  // A second start of the program asked this one to come forward.
  void SecondInstance_Activate();
  void Timer1_Timer(const LocalDateTime& now);
  void OnTimer(FormTimer timer);
  void chaxun_Click();
  void Command1_Click();
  void Command2_Click();
  void Command4_Click();
  void Label3_Click();
  void Label3_MouseMove();
  void Label5_Click();
  void Label5_MouseMove();
  // The system menu's and the list's commands.
  void KeySettings_Click();
  void Watch_Click();
  void List1_ContextMenu();
  // Whether 关注此单号 can act now.
  bool CanWatchShown() const { return shown_.has_value(); }

  std::string UpdateCheckUrl() const;
  std::string MakerHomeUrl() const;      // "http://host/" (update branch)
  std::string MakerLinkUrl() const;      // "http://host"  (Label5)
  std::string TrackingHomeUrl() const;   // "http://host"  (Label3)

  const WatchKeeper& watch() const { return keeper_; }

 private:
  enum class QueryKind { kOld, kDetect, kPoll };
  // The one query from the window that is on its way.
  struct ActiveQuery {
    QueryKind kind = QueryKind::kOld;
    TransferId transfer = 0;
    std::string number;
    std::optional<std::size_t> chosen_row;  // the courier picked when it started
    std::string carrier_code;  // kPoll
    std::string carrier_name;  // kPoll
    std::string phone;         // kPoll
    bool phone_asked = false;  // the phone was asked for once already
  };
  // What List1 shows after a query that gave rows: the parcel 关注此单号 takes.
  struct ShownParcel {
    std::string number;
    std::string carrier_code;
    std::string carrier_name;
    std::string phone;
    std::optional<TrackingResult> result;  // none after the old API's rows
  };

  // Queries.
  void StartOldQuery(const std::string& number, std::size_t row);
  void StartDetect(const std::string& number, std::optional<std::size_t> chosen_row);
  void StartPoll(ActiveQuery query);
  void CancelQuery();
  void FinishOldQuery(const ActiveQuery& query, const FetchOutcome& outcome);
  void FinishDetect(const ActiveQuery& query, const FetchOutcome& outcome);
  void FinishPoll(ActiveQuery query, const FetchOutcome& outcome);
  void FinishUpdateCheck(const FetchOutcome& outcome);
  void ShowQueryFailure(std::string_view sentence, std::string_view detail);
  std::string PhoneFor(std::string_view number, std::string_view carrier_code) const;

  // The window, the icon, the watch list.
  void ShowMessage(std::string_view prompt, std::string_view title = kSystemNoticeTitle);
  void RestoreWindow();
  bool UpdateTrayIcon();
  void TrayMenu();
  void ShowWatchedParcel(std::size_t index);
  void RunMenuCommand(int command, const std::vector<std::pair<std::string, std::string>>& parcels);
  void LoadWatchList();
  void EndProgram();

  // WatchHost
  UnixSeconds Now() const override;
  std::int64_t UtcOffset(UnixSeconds at) const override;
  void RefreshPausedForAccount(const ServiceFailure& failure) override;
  void WakeAt(std::optional<UnixSeconds> when) override;
  bool Save(const WatchList& list) override;
  void Notify(std::string_view number, std::string_view carrier, std::string_view title,
              std::string_view text) override;
  void WatchListChanged() override;

  FormView& view_;
  Transfers& transfers_;
  CredentialStore& credential_store_;
  WatchStore& watch_store_;
  DeployHosts hosts_;
  WatchKeeper keeper_;

  Credentials credentials_;
  bool credentials_unreadable_ = false;
  std::optional<TransferId> update_check_;
  std::optional<ActiveQuery> query_;
  std::optional<ShownParcel> shown_;
  // The courier detection picked, and for which number: for another number
  // it counts as no pick, so detection runs again.
  std::optional<std::pair<std::string, std::size_t>> detected_;
  bool hidden_to_tray_ = false;
  bool ended_ = false;
  // Modal boxes and dialogs up now: other handlers still run meanwhile, but
  // must not open menus or boxes on top of them.
  int modal_depth_ = 0;
  std::string shown_title_;
  // Copying while another program holds the clipboard is retried briefly.
  std::string pending_copy_;
  int copy_attempts_ = 0;
  // The parcel of the last notification, for a click on it.
  std::optional<std::pair<std::string, std::string>> notified_parcel_;
};

}  // namespace quenzil
