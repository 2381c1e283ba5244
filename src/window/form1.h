// The handlers of the main window form1, free of the platform: they reach the
// window through FormView and the network through Fetcher, so their logic
// runs natively against fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "web/fetch.h"
#include "window/texts.h"

namespace quenzil {

enum class LinkLabel { kLabel3, kLabel5 };

// What the handlers need of the window. Texts are UTF-8.
class FormView {
 public:
  virtual ~FormView() = default;

  virtual std::string NumberText() const = 0;                // Text2
  virtual void SetNumberText(std::string_view text) = 0;
  virtual bool IsCarrierSelected(std::size_t table_row) const = 0;  // CarrierTable index

  virtual void ClearRows() = 0;                               // List1
  virtual void AppendRow(std::string_view row) = 0;
  // Many rows at once, without repainting the list for each of them.
  virtual void AppendRows(const std::vector<std::string>& rows) {
    for (const std::string& row : rows) AppendRow(row);
  }
  virtual std::vector<std::string> Rows() const = 0;

  virtual void ShowMessage(std::string_view prompt, std::string_view title) = 0;  // OK only
  virtual bool ConfirmOkCancel(std::string_view prompt, std::string_view title) = 0;  // true: OK

  virtual void SetTitle(std::string_view title) = 0;
  virtual void SetLinkBold(LinkLabel label, bool bold) = 0;

  virtual bool AddTrayIcon(std::string_view tip) = 0;  // false: the shell refused
  virtual void RemoveTrayIcon() = 0;                   // no-op without an icon
  virtual void HideWindow() = 0;
  virtual void ShowWindow() = 0;

  // Clears the clipboard and puts the text on it as Unicode text. Retries
  // briefly while another program holds it; false if it still failed.
  virtual bool PutOnClipboard(std::string_view text) = 0;
  virtual void OpenInBrowser(std::string_view url) = 0;  // shown normally
  virtual void EndProgram() = 0;                         // at once
};

struct DeployHosts {
  std::string tracking_api;
  std::string tracking_home;
  std::string maker;
  // How long a query may take; the update check has its own, shorter limits.
  FetchLimits query_limits{};
};

class Form1 {
 public:
  Form1(FormView& view, Fetcher& fetcher, DeployHosts hosts);

  // Start-up update check. False when the program is ending (newer version).
  bool Form_Load();
  // A close request. True refuses the close.
  bool Form_QueryUnload();
  // The pointer over the window's bare surface.
  void Form_MouseMove();
  // A report of the notification-area icon (WM_LBUTTONDOWN, WM_MOUSEMOVE, ...).
  void TrayIcon_Notify(std::uint32_t mouse_message);
  void Timer1_Timer(const LocalDateTime& now);
  void chaxun_Click();
  void Command1_Click();
  void Command2_Click();
  void Command4_Click();
  void Label3_Click();
  void Label3_MouseMove();
  void Label5_Click();
  void Label5_MouseMove();

  std::string UpdateCheckUrl() const;
  std::string MakerHomeUrl() const;      // "http://host/" (update branch)
  std::string MakerLinkUrl() const;      // "http://host"  (Label5)
  std::string TrackingHomeUrl() const;   // "http://host"  (Label3)

 private:
  FormView& view_;
  Fetcher& fetcher_;
  DeployHosts hosts_;
  // Bumped by every query and every clear: an answer that arrives after a
  // newer query or a clear started is dropped instead of mixed in.
  std::uint64_t list_generation_ = 0;
  std::string shown_title_;
};

}  // namespace quenzil
