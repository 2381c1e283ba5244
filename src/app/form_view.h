// What form1's handlers need of the window and of the desktop: the
// controls, boxes and dialogs, the notification-area icon, the clipboard,
// one-shot timers and the shell. Texts are UTF-8. The Win32 shell implements it; the
// handlers' tests use a fake.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/one_shot_timers.h"
#include "app/settings.h"
#include "query/services/kuaidi100.h"
#include "watch/refresh_policy.h"

namespace quenzil {

enum class LinkLabel { kLabel3, kLabel5 };

// A popup menu as data; the view shows it and says which command was chosen.
struct MenuItem {
  int command = 0;  // 0 with no submenu: a separator
  std::string text;
  bool enabled = true;
  bool checked = false;
  std::vector<MenuItem> submenu;
};

// What the 查询服务账号 dialog shows and changes.
struct AccountSettings {
  Accounts accounts;
  RefreshMode refresh = RefreshMode::kSmart;
  // This month's requests per service, as kServiceKeys orders them; shown only.
  std::array<std::uint32_t, kServiceKeys.size()> queries_this_month{};
};

// The clipboard's text and the number that tells one content from the next.
struct ClipboardContent {
  std::uint32_t sequence = 0;
  std::string text;
};

class WatchListView;

class FormView : public TimerArming {
 public:
  virtual ~FormView() = default;

  // Text2, the couriers, List1.
  virtual std::string NumberText() const = 0;
  virtual void SetNumberText(std::string_view text) = 0;
  // Selects the whole number and puts the keyboard focus there.
  virtual void SelectNumberText() = 0;
  virtual bool IsCarrierSelected(std::size_t table_row) const = 0;  // CarrierTable index
  // Selects that courier and clears the others; nullopt clears them all.
  virtual void SelectCarrier(std::optional<std::size_t> table_row) = 0;
  // 其他快递公司: the courier picked there, by its index in OtherCouriers();
  // picking nullopt leaves the list empty.
  virtual std::optional<std::size_t> OtherCourierPicked() const = 0;
  virtual void PickOtherCourier(std::optional<std::size_t> index) = 0;
  virtual void ClearRows() = 0;
  virtual void AppendRow(std::string_view row) = 0;
  // Many rows at once, without repainting the list for each of them.
  virtual void AppendRows(const std::vector<std::string>& rows) {
    for (const std::string& row : rows) AppendRow(row);
  }
  virtual std::vector<std::string> Rows() const = 0;

  // Modal boxes and dialogs. Other handlers may run while one is up.
  virtual void ShowMessage(std::string_view prompt, std::string_view title) = 0;  // OK only
  virtual bool ConfirmOkCancel(std::string_view prompt, std::string_view title) = 0;  // true: OK
  virtual bool AskYesNo(std::string_view prompt, std::string_view title) = 0;          // true: Yes
  // 查询服务账号: nullopt when cancelled; an account left incomplete is
  // one the user removed.
  virtual std::optional<AccountSettings> AskAccount(const AccountSettings& current) = 0;
  // The phone's last four digits for a parcel; nullopt when cancelled.
  virtual std::optional<std::string> AskPhoneDigits(std::string_view carrier_name,
                                                    std::string_view number) = 0;
  // An optional note for a parcel about to be watched; nullopt when cancelled.
  virtual std::optional<std::string> AskWatchNote(std::string_view number) = 0;
  // A popup menu at the pointer; the chosen command, or nullopt.
  virtual std::optional<int> ShowPopupMenu(const std::vector<MenuItem>& items) = 0;

  // The window.
  virtual void SetTitle(std::string_view title) = 0;
  virtual void SetLinkBold(LinkLabel label, bool bold) = 0;
  virtual void ShowFirstTime() = 0;  // shown for the first time, focus in Text2
  virtual void HideWindow() = 0;
  virtual void ShowWindow() = 0;     // shown, restored and brought forward
  // The 关注列表 window; null when the shell has none.
  virtual WatchListView* watch_list_view() { return nullptr; }

  // The notification-area icon: added, or its tip updated; false when the
  // shell refused it.
  virtual bool ShowTrayIcon(std::string_view tip) = 0;
  virtual void RemoveTrayIcon() = 0;  // nothing happens without an icon
  // A balloon from the icon; false when it could not be shown.
  virtual bool ShowNotification(std::string_view title, std::string_view text) = 0;

  // One attempt: clears the clipboard and puts the text on it only when it
  // can; false while another program holds it (the clipboard is then as it
  // was).
  virtual bool TryPutOnClipboard(std::string_view text) = 0;
  // The clipboard's text, if it holds text and can be read now.
  virtual std::optional<ClipboardContent> ReadClipboard() = 0;

  // Hands the address to the user's browser, shown normally; returns once
  // the shell has taken it.
  virtual void OpenInBrowser(std::string_view url) = 0;
  // The one way out: removes the icon, cancels transfers, destroys the
  // window; the message loop then ends the ordinary way.
  virtual void EndProgram() = 0;
};

}  // namespace quenzil
