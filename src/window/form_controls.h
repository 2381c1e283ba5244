// form1's controls: the table they are made from, their fonts and colours,
// and their layout at the window's DPI. The shell asks it where things are.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/handles_win32.h"

namespace quenzil {


enum class ControlKind { kButton, kLabel, kEdit, kList, kFrame, kRadio, kCombo };

// Marks a control that keeps the platform's default text colour.
inline constexpr COLORREF kDefaultColour = 0xFFFFFFFFu;

struct ControlEntry {
  std::string_view name;
  ControlKind kind;
  int id;
  // Empty where the text is built at run time (Label4, Label5, Label6).
  std::string_view caption;
  // Twips; what lies in Frame1 (the option buttons, Label9 and Combo1)
  // relative to its top-left corner. A drop-down list's height is that of
  // its open list.
  int left, top, width, height;
  bool auto_size;
  COLORREF text_colour;
};

// The number of child controls of form1 (the timer is not a window).
inline constexpr std::size_t kControlCount = 27;

// Client area and first position of form1, in twips.
inline constexpr int kClientWidthTwips = 10125;
inline constexpr int kClientHeightTwips = 8850;

// The window's own styles, needed to size it for a client area.
inline constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;

const std::array<ControlEntry, kControlCount>& ControlTable();
// The row of a control by its design name or its id; kControlCount if none.
std::size_t RowOfName(std::string_view name);
std::size_t RowOfId(int id);

class FormControls {
 public:
  FormControls() = default;
  FormControls(const FormControls&) = delete;
  FormControls& operator=(const FormControls&) = delete;

  // Creates every control of the table in tab order, with the fonts for
  // the DPI, and lays them out. Throws std::runtime_error.
  void Create(HWND form, HINSTANCE instance, UINT dpi, std::string_view maker_host);
  // New fonts and layout for another DPI; the controls take the new fonts
  // before the old ones are deleted.
  void ChangeDpi(UINT dpi);

  HWND Child(std::size_t row) const { return controls_[row]; }
  HWND ChildById(int id) const;
  RECT ChildRect(std::size_t row) const;  // in form1's client coordinates
  bool PointOnChild(std::size_t row, POINT client_point) const;
  UINT dpi() const { return dpi_; }
  int Px(int twips) const;
  // The window rectangle around form1's client area at a DPI; left and top
  // are the (negative) widths of the frame.
  RECT WindowRectFor(UINT dpi) const;

  void SetBold(std::size_t label_row, bool bold);
  // WM_CTLCOLORSTATIC for one of the labels or the frame.
  HBRUSH Colour(HDC dc, HWND control) const;
  void SystemColoursChanged();

 private:
  void MakeFonts();
  // Where a control stands at the current DPI, in pixels of the client area.
  RECT PlannedRect(std::size_t row) const;
  // `placed`: the controls stand at their planned places already (just made).
  void ApplyLayout(bool placed = false);
  SIZE MeasureText(HFONT font, std::wstring_view text) const;
  void FitLabel(std::size_t row);

  HWND form_ = nullptr;
  std::array<HWND, kControlCount> controls_{};
  std::array<bool, kControlCount> bold_{};
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  std::wstring font_face_;
  UniqueFont regular_font_;
  UniqueFont bold_font_;
  UniqueBrush face_brush_;
};

}  // namespace quenzil
