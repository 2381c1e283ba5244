// The Win32 shell of form1: creates the window and its controls, turns
// window messages into Form1 handler calls and FormView requests into API
// calls. Kept thin: every rule lives in Form1.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_handle.h"
#include "web/fetch_winhttp.h"
#include "window/form1.h"

namespace quenzil {

using UniqueFont = UniqueAny<HFONT, decltype(&::DeleteObject), ::DeleteObject>;
using UniqueBrush = UniqueAny<HBRUSH, decltype(&::DeleteObject), ::DeleteObject>;
using UniqueIcon = UniqueAny<HICON, decltype(&::DestroyIcon), ::DestroyIcon>;

// The number of child controls of form1 (the timer is not a window).
inline constexpr std::size_t kControlCount = 25;

class MainWindow final : public FormView, public MessagePump {
 public:
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers the class and creates the window hidden, with every control,
  // the fonts, the icon and the layout for the window's DPI. Throws
  // std::runtime_error when a window cannot be made.
  void Create();
  // From now on messages reach the handlers. Before, they are ignored.
  void AttachForm(Form1& form) { form_ = &form; }
  // Arms Timer1; its first tick comes right away.
  void StartTimer();
  // Form_Load with the top-level error guard; false: the program is ending.
  bool RunFormLoad();
  // The first show, with the focus in Text2.
  void ShowFirstTime();
  // The ordinary message loop; returns the WM_QUIT code.
  int RunMessageLoop();

  HWND handle() const { return hwnd_; }
  UINT dpi() const { return dpi_; }
  HWND control(int id) const;

  // MessagePump
  void RunPending() override;

  // FormView
  std::string NumberText() const override;
  void SetNumberText(std::string_view text) override;
  bool IsCarrierSelected(std::size_t table_row) const override;
  void ClearRows() override;
  void AppendRow(std::string_view row) override;
  void AppendRows(const std::vector<std::string>& rows) override;
  std::vector<std::string> Rows() const override;
  void ShowMessage(std::string_view prompt, std::string_view title) override;
  bool ConfirmOkCancel(std::string_view prompt, std::string_view title) override;
  void SetTitle(std::string_view title) override;
  void SetLinkBold(LinkLabel label, bool bold) override;
  bool AddTrayIcon(std::string_view tip) override;
  void RemoveTrayIcon() override;
  void HideWindow() override;
  void ShowWindow() override;
  bool PutOnClipboard(std::string_view text) override;
  void OpenInBrowser(std::string_view url) override;
  void EndProgram() override;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void CreateControls();
  void MakeFonts();
  void LoadIcons();
  void ApplyLayout();
  void PlaceWindowAtStart();
  int Px(int twips) const;
  SIZE MeasureText(HFONT font, std::wstring_view text) const;
  void FitLabel(std::size_t row);
  void ArmTimer(unsigned delay_ms);

  void OnCommand(int id, int notification, HWND from);
  void OnTimer();
  void OnMouseMove(POINT client_point);
  void OnLeftButton(POINT client_point, bool down);
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  LRESULT OnControlColour(HDC dc, HWND control);
  bool OnActivate(bool active);
  bool AskToClose();  // true: the close is refused
  bool AddTrayIconNow();

  HWND Child(std::size_t row) const { return controls_[row]; }
  std::size_t RowOfId(int id) const;  // kControlCount if none
  RECT ChildRect(std::size_t row) const;  // client coordinates of form1
  bool PointOnChild(std::size_t row, POINT client_point) const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  bool tearing_down_ = false;  // destroyed by its owner: no WM_QUIT
  Form1* form_ = nullptr;
  std::array<HWND, kControlCount> controls_{};
  UINT dpi_ = 96;
  std::wstring font_face_;
  UniqueFont regular_font_;
  UniqueFont bold_font_;
  UniqueBrush face_brush_;
  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
  bool label3_bold_ = false;
  bool label5_bold_ = false;
  // The link label under the last left-button press, for the click.
  int pressed_link_id_ = 0;
  HWND focus_before_deactivation_ = nullptr;
  UINT taskbar_created_message_ = 0;
  bool tray_icon_wanted_ = false;
  std::wstring tray_tip_;
};

}  // namespace quenzil
