// Identifiers of form1's controls and messages: shared by the window and by
// anything that drives it from outside (the end-to-end tests).
#pragma once

#include "app/command_line.h"

namespace quenzil::ids {

inline constexpr const wchar_t* kFormClassName = kMainWindowClass;

// Child-window ids. None is 1 (IDOK) or 2 (IDCANCEL): Enter and Esc reach no
// control.
enum ControlId : int {
  kCommand4 = 101,
  kLabel7 = 102,
  kLabel5 = 103,
  kLabel6 = 104,
  kLabel8 = 105,
  kFrame1 = 106,
  kYuantong = 110,
  kShentong = 111,
  kZhongtong = 112,
  kShunfeng = 113,
  kEms = 114,
  kYunda = 115,
  kHuitongkuaidi = 116,
  kTiantian = 117,
  kZhaijisong = 118,
  kQuanfengkuaidi = 119,
  kLabel1 = 120,
  kText2 = 121,
  kChaxun = 122,
  kCommand1 = 123,
  kCommand2 = 124,
  kList1 = 125,
  kLabel2 = 126,
  kLabel3 = 127,
  kLabel4 = 128,
  kLabel9 = 129,  // 其他快递公司
  kCombo1 = 130,
};

// The notification-area icon reports on this message (WM_APP + 1), with the
// icon id in wParam and the mouse message in lParam.
inline constexpr unsigned kTrayCallbackMessage = 0x8000u + 1u;
inline constexpr unsigned kTrayIconId = 1;
// Finished transfers are waiting to be taken (WM_APP + 2).
inline constexpr unsigned kTransfersDoneMessage = 0x8000u + 2u;
// A character typed in 其他快递公司, for the form to find a courier by (WM_APP + 3).
inline constexpr unsigned kOtherCourierCharMessage = 0x8000u + 3u;
// A second start of the program asks the first to come forward (registered).
inline constexpr wchar_t kShowYourselfMessage[] = L"Dravimo.Quenzil.ShowWindow";

// Timer1, the clock; the form's one-shot timers are numbered by the form
// from Form1::kFirstTimerId up.
inline constexpr unsigned kTimer1 = 1;

// Dialogs and their controls: see res/dialog_ids.h.
}  // namespace quenzil::ids
