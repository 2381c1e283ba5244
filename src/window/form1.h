// The handlers of the main window form1, free of the platform: a presenter.
// Control events become calls of the tracker, which owns the queries, the
// kept answers and the watch list; the tracker's events become calls of
// the window, reached through FormView, so the handlers run natively
// against fakes. No handler waits: a transfer is started, and its outcome
// comes back later through OnTransferDone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/clipboard_offer.h"
#include "app/command_line.h"
#include "app/deployment.h"
#include "app/form_view.h"
#include "app/menus.h"
#include "app/modal_gate.h"
#include "app/one_shot_timers.h"
#include "app/settings.h"
#include "app/texts.h"
#include "app/tracker.h"
#include "watch/history.h"
#include "watch/watch_store.h"
#include "web/fetch.h"
#include "window/watch_list_form.h"

namespace quenzil {

// Where the form keeps what outlives a run.
struct FormStores {
  CredentialStore& credentials;
  WatchStore& watch;
  HistoryStore& history;
  SettingsStore& settings;
  QueryCounter& counter;
  Autostart& autostart;
};

// What the system menu shows when it opens.
struct SystemMenuState {
  bool can_watch = false;
  bool autostart_on = false;
  MenuItem recent;  // the 最近查询 submenu
};

class Form1 final : private TrackerEvents {
 public:
  Form1(FormView& view, Transfers& transfers, FormStores stores, const Clock& clock, DeployHosts hosts,
        StartOptions start = {});

  // Start: reads the settings and starts the update check. The window is
  // shown once the check has answered or given up (or stays in the
  // notification area for a start in the background).
  void Form_Load();
  // Every transfer's outcome, on the window's thread.
  void OnTransferDone(TransferId id, const FetchOutcome& outcome);
  // A close request. True refuses the close.
  bool Form_QueryUnload();
  // The session ends (logoff, shutdown): no question, no box.
  void Form_EndSession();
  // The window became the active one: the clipboard may offer a number.
  void Form_Activate();
  // The pointer over the window's bare surface.
  void Form_MouseMove();
  // A report of the notification-area icon (WM_LBUTTONDOWN, WM_RBUTTONUP,
  // a balloon click, ...).
  void TrayIcon_Notify(std::uint32_t mouse_message);
  // The shell restarted and the icon was added again, or could not be.
  void TrayIcon_Recreated(bool added);
  // A second start of the program asked this one to come forward, with the
  // text it was given (a number to query) or without.
  void SecondInstance_Activate(std::optional<std::string> handed_over = std::nullopt);
  // A second start with /list: the 关注列表 window comes forward.
  void SecondInstance_ShowList();
  void Timer1_Timer(const LocalDateTime& now);
  // A one-shot timer fired; false when the number is not the form's.
  bool OnTimer(unsigned timer_id);
  // The machine woke up: timers may have slept through their moment.
  void Resumed();
  void chaxun_Click();
  // One of the ten option buttons was chosen.
  void Carrier_Click();
  // The choice in 其他快递公司 changed.
  void Combo1_Click();
  // A character typed in 其他快递公司 (UTF-8): with those typed just before
  // it, it finds a courier by code, name or short name.
  void Combo1_KeyPress(std::string_view character);
  void Command1_Click();
  void Command2_Click();
  void Command4_Click();
  void Label3_Click();
  void Label3_MouseMove();
  void Label5_Click();
  void Label5_MouseMove();
  void List1_ContextMenu();
  // The console companion handed parcels over to watch: what became of
  // each, in order.
  std::vector<AddResult> Companion_Watch(std::vector<WatchedParcel> parcels);
  // The system menu: what it shows as it opens, and its commands; false for
  // a command that is not the form's.
  SystemMenuState SystemMenuOpening();
  bool SystemMenu_Click(int command);

  std::string UpdateCheckUrl() const;
  std::string MakerHomeUrl() const;      // "http://host/" (update branch)
  std::string MakerLinkUrl() const;      // "http://host"  (Label5)
  std::string TrackingHomeUrl() const;   // "http://host"  (Label3)

  const Tracker& tracker() const { return tracker_; }
  // The 关注列表 window's handlers; null when the shell has no such window.
  WatchListForm* watch_list() { return list_form_ ? &*list_form_ : nullptr; }

  // The first number of the form's one-shot timers.
  static constexpr unsigned kFirstTimerId = 16;

 private:
  void RunQuery(QueryAsk ask);
  // Shows the courier as picked: its button, or its line in 其他快递公司;
  // none for a courier outside the table, or an empty code.
  void ShowPicked(std::string_view carrier_code);
  void HandOver(const std::string& text);
  void RunRecent(const ParcelMenu& menu, int command);
  // Copies, retrying briefly while another program holds the clipboard.
  void PutOnClipboard(std::string text);
  void RetryCopy();

  // Boxes: one at a time; what would open another waits for it.
  void ShowMessage(std::string_view prompt, std::string_view title = kSystemNoticeTitle);
  void KeySettings_Click();
  void Watch_Click();
  void WatchList_Click();
  void Autostart_Click();
  void OfferAutostartOnce();

  // The window, the icon, the watch list.
  void FinishUpdateCheck(const FetchOutcome& outcome);
  void LoadAccounts();
  void DeferredStart();
  void RestoreWindow();
  bool UpdateTrayIcon();
  void TrayMenu();
  void ShowWatchedParcel(std::size_t index);
  void EndProgram();

  // TrackerEvents
  void QueryStarted() override;
  void Rows(const QueryOutcome& outcome) override;
  void Advice(const std::vector<std::string>& rows) override;
  void Told(std::string_view prompt, std::string_view title) override { ShowMessage(prompt, title); }
  void CourierPicked(std::string_view carrier_code) override { ShowPicked(carrier_code); }
  bool PhoneWanted(std::string_view carrier_name, std::string_view number) override;
  void ListChanged() override;
  bool Notification(std::string_view title, std::string_view text) override {
    return view_.ShowNotification(title, text);
  }
  void WakeAfter(std::optional<std::chrono::milliseconds> delay) override;

  FormView& view_;
  Transfers& transfers_;
  FormStores stores_;
  DeployHosts hosts_;
  StartOptions start_;
  const Clock& clock_;
  // The one-shot timers, each with what it does.
  OneShotTimers timers_{view_, kFirstTimerId};
  OneShot tracker_wake_{timers_, "tracker", [this] { tracker_.OnWake(); }};
  OneShot deferred_start_{timers_, "deferred start", [this] { DeferredStart(); }};
  OneShot clipboard_retry_{timers_, "clipboard", [this] { RetryCopy(); }};
  OneShot waiting_boxes_{timers_, "waiting boxes", [this] { modal_.Retry(); }};
  OneShot type_ahead_{timers_, "type-ahead", [this] { typed_ahead_.clear(); }};

  Tracker tracker_;
  ClipboardOffer clipboard_offer_;
  std::optional<WatchListForm> list_form_;

  bool credentials_unreadable_ = false;
  std::optional<TransferId> update_check_;
  bool started_ = false;  // the update check is over: the window is up (or hides in the tray)
  // What List1 shows after a query that gave rows: the parcel 关注此单号 takes.
  std::optional<QueryOutcome> shown_;
  bool hidden_to_tray_ = false;
  bool ended_ = false;
  // Boxes, dialogs and menus up now: other handlers still run meanwhile, but
  // must not open another on top of them.
  ModalGate modal_;
  std::string shown_title_;
  // Copying while another program holds the clipboard is retried briefly.
  std::string pending_copy_;
  int copy_attempts_ = 0;
  // What was typed in 其他快递公司 a moment ago.
  std::string typed_ahead_;
  // The 最近查询 items of the system menu as it last opened.
  ParcelMenu system_recent_;
};

}  // namespace quenzil
