// The Win32 shell of form1: creates the window, turns window messages into
// Form1 handler calls and FormView requests into API calls. Kept thin: every
// rule lives in Form1.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/form_view.h"
#include "common/handles_win32.h"
#include "web/fetch.h"
#include "window/form1.h"
#include "window/form_controls.h"
#include "window/link_labels.h"
#include "window/notification_icon.h"
#include "window/watch_list_window.h"

namespace quenzil {


// Where transfers leave their outcomes for the window: any thread delivers,
// the window's thread takes them when the posted message arrives. Before the
// window is made they wait for it; once it is gone, deliveries are dropped.
class OutcomeMailbox {
 public:
  void Deliver(TransferId id, FetchOutcome outcome);
  std::deque<std::pair<TransferId, FetchOutcome>> TakeAll();
  // Outcomes taken but not handled go back in front, with a wake of their own.
  void PutBack(std::deque<std::pair<TransferId, FetchOutcome>> rest);
  void Open(HWND window);
  void Close();

 private:
  std::mutex mutex_;
  HWND window_ = nullptr;
  bool closed_ = false;
  std::deque<std::pair<TransferId, FetchOutcome>> outcomes_;
};

class MainWindow final : public FormView {
 public:
  MainWindow(HINSTANCE instance, std::shared_ptr<OutcomeMailbox> mailbox, std::string maker_host);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers the class and creates the window hidden, with every control,
  // the fonts, the icon and the layout for the window's DPI. Throws
  // std::runtime_error when a window cannot be made.
  void Create();
  // From now on messages reach the handlers. Before, they are ignored.
  void AttachForm(Form1& form) {
    form_ = &form;
    list_window_.AttachForm(form.watch_list());
  }
  // Arms Timer1; its first tick comes right away.
  void StartTimer();
  // The ordinary message loop; returns the WM_QUIT code.
  int RunMessageLoop();

  HWND handle() const { return hwnd_; }
  UINT dpi() const { return controls_.dpi(); }
  HWND control(int id) const { return controls_.ChildById(id); }

  // FormView
  std::string NumberText() const override;
  void SetNumberText(std::string_view text) override;
  void SelectNumberText() override;
  bool IsCarrierSelected(std::size_t table_row) const override;
  void SelectCarrier(std::optional<std::size_t> table_row) override;
  std::optional<std::size_t> OtherCourierPicked() const override;
  void PickOtherCourier(std::optional<std::size_t> index) override;
  void ClearRows() override;
  void AppendRow(std::string_view row) override;
  void AppendRows(const std::vector<std::string>& rows) override;
  std::vector<std::string> Rows() const override;
  void ShowMessage(std::string_view prompt, std::string_view title) override;
  bool ConfirmOkCancel(std::string_view prompt, std::string_view title) override;
  bool AskYesNo(std::string_view prompt, std::string_view title) override;
  std::optional<AccountSettings> AskAccount(const AccountSettings& current) override;
  std::optional<std::string> AskPhoneDigits(std::string_view carrier_name, std::string_view number) override;
  std::optional<std::string> AskWatchNote(std::string_view number) override;
  std::optional<int> ShowPopupMenu(const std::vector<MenuItem>& items) override;
  void SetTitle(std::string_view title) override;
  void SetLinkBold(LinkLabel label, bool bold) override;
  void ShowFirstTime() override;
  void HideWindow() override;
  void ShowWindow() override;
  bool ShowTrayIcon(std::string_view tip) override;
  void RemoveTrayIcon() override;
  bool ShowNotification(std::string_view title, std::string_view text) override;
  bool TryPutOnClipboard(std::string_view text) override;
  std::optional<ClipboardContent> ReadClipboard() override;
  void ArmTimer(unsigned id, std::string_view name, std::chrono::milliseconds delay) override;
  void DisarmTimer(unsigned id) override;
  void OpenInBrowser(std::string_view url) override;
  void EndProgram() override;
  WatchListView* watch_list_view() override { return &list_window_; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void LoadIcons();
  void PlaceWindowAtStart();
  void ArmClock(unsigned delay_ms);
  void AddSystemMenuCommands();
  void SystemMenuOpening(HMENU system_menu);
  // A number from a second start, or parcels from the console companion
  // (`from` is its window, which hears what became of each).
  bool OnCopyData(HWND from, const COPYDATASTRUCT& data);

  void OnCommand(int id, int notification);
  void OnClockTick();
  void OnMouseMove(POINT client_point);
  void OnLeftButton(POINT client_point, bool down);
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  bool OnActivate(bool active);
  void OnTransfersDone();
  LRESULT DefaultButtonId() const;
  // A handler failed: tell the user, one box at a time and never the same
  // story over and over.
  void ReportFailure(std::string_view what);

  HINSTANCE instance_;
  std::shared_ptr<OutcomeMailbox> mailbox_;
  std::string maker_host_;
  HWND hwnd_ = nullptr;
  Form1* form_ = nullptr;
  FormControls controls_;
  LinkLabels links_{controls_};
  NotificationIcon tray_icon_;
  WatchListWindow list_window_{instance_};
  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
  HWND focus_before_deactivation_ = nullptr;
  UINT taskbar_created_message_ = 0;
  UINT show_yourself_message_ = 0;
  HMENU recent_submenu_ = nullptr;  // owned by the system menu
  bool reporting_failure_ = false;
  std::string last_failure_;
  ULONGLONG last_failure_tick_ = 0;
};

}  // namespace quenzil
