#include "window/main_window.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <stdexcept>

#include "common/handles_win32.h"

#include "app/command_line.h"
#include "app/menus.h"
#include "app/texts.h"
#include "app/watch_handover.h"
#include "common/utf.h"
#include "platform/message_filter_win32.h"
#include "platform/win32_util.h"
#include "query/carriers.h"
#include "window/control_ids.h"
#include "window/dialogs_win32.h"
#include "window/popup_menu_win32.h"

namespace quenzil {
namespace {


constexpr int kIconResourceId = 1;
constexpr int kClientLeftTwips = 5595;
constexpr int kClientTopTwips = 1560;
// Past the next whole second, so the clock is never shown a second late.
constexpr unsigned kTimerSlackMs = 15;
constexpr unsigned kFirstTickMs = 10;
// The same failure is told again only after this long.
constexpr ULONGLONG kRepeatFailureAfterMs = 60000;
constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE
// The console companion waits for what became of its parcels.
constexpr UINT kCompanionAnswerTimeoutMs = 2000;

const std::size_t kText2Row = RowOfName("Text2");
const std::size_t kList1Row = RowOfName("List1");
const std::size_t kCombo1Row = RowOfName("Combo1");
const std::size_t kLabel3Row = RowOfName("Label3");
const std::size_t kLabel5Row = RowOfName("Label5");

// Mouse positions are signed: left of or above the client area they are
// negative.
POINT PointOf(LPARAM lparam) {
  return POINT{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
}

}  // namespace

// ---- the mailbox -------------------------------------------------------------

void OutcomeMailbox::Deliver(TransferId id, FetchOutcome outcome) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  const bool was_empty = outcomes_.empty();
  outcomes_.emplace_back(id, std::move(outcome));
  // One message wakes the window for everything queued meanwhile; before
  // the window is there, opening it does.
  if (was_empty && window_ != nullptr) ::PostMessageW(window_, ids::kTransfersDoneMessage, 0, 0);
}

std::deque<std::pair<TransferId, FetchOutcome>> OutcomeMailbox::TakeAll() {
  std::lock_guard lock(mutex_);
  return std::exchange(outcomes_, {});
}

void OutcomeMailbox::PutBack(std::deque<std::pair<TransferId, FetchOutcome>> rest) {
  std::lock_guard lock(mutex_);
  if (window_ == nullptr || rest.empty()) return;
  // Anything delivered since the take has posted its wake already.
  if (outcomes_.empty()) ::PostMessageW(window_, ids::kTransfersDoneMessage, 0, 0);
  outcomes_.insert(outcomes_.begin(), std::make_move_iterator(rest.begin()),
                   std::make_move_iterator(rest.end()));
}

void OutcomeMailbox::Open(HWND window) {
  std::lock_guard lock(mutex_);
  window_ = window;
  if (!outcomes_.empty()) ::PostMessageW(window_, ids::kTransfersDoneMessage, 0, 0);
}

void OutcomeMailbox::Close() {
  std::lock_guard lock(mutex_);
  window_ = nullptr;
  closed_ = true;
  outcomes_.clear();
}

// ---- the window ---------------------------------------------------------------

MainWindow::MainWindow(HINSTANCE instance, std::shared_ptr<OutcomeMailbox> mailbox, std::string maker_host)
    : instance_(instance),
      mailbox_(std::move(mailbox)),
      maker_host_(std::move(maker_host)),
      tray_icon_(ids::kTrayIconId, ids::kTrayCallbackMessage) {}

MainWindow::~MainWindow() {
  mailbox_->Close();
  if (hwnd_ != nullptr) {
    tray_icon_.Remove();
    form_ = nullptr;
    ::DestroyWindow(hwnd_);
  }
}

void MainWindow::Create() {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  // Double clicks as messages of their own: the second press of a double
  // click on a link is not a second click.
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = &MainWindow::WndProc;
  window_class.hInstance = instance_;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = ids::kFormClassName;
  if (!::RegisterClassExW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowWin32("RegisterClassExW");
  }
  taskbar_created_message_ = ::RegisterWindowMessageW(L"TaskbarCreated");  // 0: no re-adding
  show_yourself_message_ = ::RegisterWindowMessageW(ids::kShowYourselfMessage);

  if (::CreateWindowExW(kFormExStyle, ids::kFormClassName, L"", kFormStyle, 0, 0, 0, 0, nullptr, nullptr,
                        instance_, this) == nullptr) {
    ThrowWin32("CreateWindowExW");
  }
  mailbox_->Open(hwnd_);
  tray_icon_.Attach(hwnd_, taskbar_created_message_);
  // A normal second start must reach an elevated first instance too.
  if (show_yourself_message_ != 0) AllowMessageFromLowerProcesses(hwnd_, show_yourself_message_);
  AllowMessageFromLowerProcesses(hwnd_, WM_COPYDATA);
  controls_.Create(hwnd_, instance_, DpiOfWindow(hwnd_), maker_host_);
  LoadIcons();
  AddSystemMenuCommands();
  PlaceWindowAtStart();
}

void MainWindow::AddSystemMenuCommands() {
  const HMENU system_menu = ::GetSystemMenu(hwnd_, FALSE);
  if (system_menu == nullptr) return;  // no system menu, no commands there: the list's menu has them
  UniqueMenu recent(::CreatePopupMenu());
  if (!recent) ThrowWin32("CreatePopupMenu");
  if (!::AppendMenuW(system_menu, MF_SEPARATOR, 0, nullptr) ||
      !::AppendMenuW(system_menu, MF_STRING, commands::kKeySettings, Widen(kKeySettingsCommand).c_str()) ||
      !::AppendMenuW(system_menu, MF_STRING | MF_GRAYED, commands::kWatch, Widen(kWatchCommand).c_str()) ||
      !::AppendMenuW(system_menu, MF_STRING, commands::kWatchListWindow, Widen(kWatchListCommand).c_str()) ||
      !::AppendMenuW(system_menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(recent.get()),
                     Widen(kRecentCommand).c_str())) {
    ThrowWin32("AppendMenuW");
  }
  recent_submenu_ = recent.release();  // the system menu owns it now
  if (!::AppendMenuW(system_menu, MF_STRING, commands::kAutostart, Widen(kAutostartCommand).c_str())) {
    ThrowWin32("AppendMenuW");
  }
}

// The system menu shows the form's state as it opens.
void MainWindow::SystemMenuOpening(HMENU system_menu) {
  const SystemMenuState state = form_->SystemMenuOpening();
  ::EnableMenuItem(system_menu, commands::kWatch, MF_BYCOMMAND | (state.can_watch ? MF_ENABLED : MF_GRAYED));
  ::CheckMenuItem(system_menu, commands::kAutostart, MF_BYCOMMAND | (state.autostart_on ? MF_CHECKED : MF_UNCHECKED));
  if (recent_submenu_ == nullptr) return;
  for (int count = ::GetMenuItemCount(recent_submenu_); count > 0; --count) {
    if (!::DeleteMenu(recent_submenu_, 0, MF_BYPOSITION)) ThrowWin32("DeleteMenu");
  }
  AppendItems(recent_submenu_, state.recent.submenu);
}

// A second start handed a number over, or the console companion parcels.
bool MainWindow::OnCopyData(HWND from, const COPYDATASTRUCT& data) {
  const std::string_view bytes(static_cast<const char*>(data.lpData), data.lpData == nullptr ? 0 : data.cbData);
  if (data.dwData == kWatchHandOverTag) {
    std::optional<std::vector<WatchedParcel>> parcels = ReadWatchHandOver(data.dwData, bytes);
    if (!parcels || from == nullptr || !::IsWindow(from)) return false;
    const std::string answer = WriteWatchAnswer(form_->Companion_Watch(std::move(*parcels)));
    COPYDATASTRUCT reply{};
    reply.dwData = kWatchAnswerTag;
    reply.cbData = static_cast<DWORD>(answer.size());
    reply.lpData = const_cast<char*>(answer.data());
    // The companion waits in its hand-over and takes this meanwhile.
    DWORD_PTR taken = FALSE;
    return ::SendMessageTimeoutW(from, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd_), reinterpret_cast<LPARAM>(&reply),
                                 SMTO_ABORTIFHUNG, kCompanionAnswerTimeoutMs, &taken) != 0 &&
           taken == TRUE;
  }
  if (data.dwData == kShowListTag) {
    form_->SecondInstance_ShowList();
    return true;
  }
  const std::optional<std::string> text = ReadHandOver(data.dwData, bytes);
  if (!text) return false;
  form_->SecondInstance_Activate(*text);
  return true;
}

void MainWindow::LoadIcons() {
  const int dpi = static_cast<int>(controls_.dpi());
  const int big = ::MulDiv(32, dpi, USER_DEFAULT_SCREEN_DPI);
  const int small = ::MulDiv(16, dpi, USER_DEFAULT_SCREEN_DPI);
  // Without the icon resource the window simply has the default icon. The
  // new icons are in place before the old ones are destroyed.
  UniqueIcon big_icon(static_cast<HICON>(
      ::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON, big, big, LR_DEFAULTCOLOR)));
  UniqueIcon small_icon(static_cast<HICON>(
      ::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON, small, small, LR_DEFAULTCOLOR)));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon.get()));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon.get()));
  tray_icon_.ChangeImage(small_icon.get());
  big_icon_ = std::move(big_icon);
  small_icon_ = std::move(small_icon);
}

void MainWindow::PlaceWindowAtStart() {
  const RECT frame = controls_.WindowRectFor(controls_.dpi());
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  // frame.left/top are the (negative) border widths around the client area.
  int x = controls_.Px(kClientLeftTwips) + frame.left;
  int y = controls_.Px(kClientTopTwips) + frame.top;

  const HMONITOR monitor = ::MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info)) {
    const RECT& work = info.rcWork;
    x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - width));
    y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - height));
  }
  if (!::SetWindowPos(hwnd_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE)) {
    ThrowWin32("SetWindowPos");
  }
}

void MainWindow::StartTimer() { ArmClock(kFirstTickMs); }

void MainWindow::ArmClock(unsigned delay_ms) {
  if (::SetTimer(hwnd_, ids::kTimer1, delay_ms, nullptr) == 0) ThrowWin32("SetTimer");
}

int MainWindow::RunMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) ThrowWin32("GetMessageW");
    // Characters typed in 其他快递公司 go to the form, which finds couriers
    // by their codes and short names too.
    if (message.message == WM_CHAR && message.wParam >= L' ' && hwnd_ != nullptr &&
        message.hwnd == controls_.ChildById(ids::kCombo1)) {
      ::SendMessageW(hwnd_, ids::kOtherCourierCharMessage, message.wParam, 0);
      continue;
    }
    // The dialog manager gives Tab, the arrow keys and Enter their meaning.
    if (list_window_.TranslateDialogMessage(message)) continue;
    if (hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

LRESULT CALLBACK MainWindow::WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetLastError(0);
    if (::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self)) == 0 &&
        ::GetLastError() != 0) {
      return FALSE;
    }
  }
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  // No exception may cross the system's frames: a handler that fails tells
  // the user and the program goes on.
  try {
    return self->HandleMessage(message, wparam, lparam);
  } catch (const std::bad_alloc&) {
    self->ReportFailure("内存不足");
  } catch (const std::exception& error) {
    self->ReportFailure(error.what());
  } catch (...) {
    self->ReportFailure("未知错误");
  }
  return 0;
}

void MainWindow::ReportFailure(std::string_view what) {
  if (reporting_failure_) return;
  const ULONGLONG now = ::GetTickCount64();
  if (what == last_failure_ && now - last_failure_tick_ < kRepeatFailureAfterMs) return;
  reporting_failure_ = true;
  last_failure_ = what;
  const std::wstring prompt = Widen(std::string("程序内部错误：") + std::string(what));
  // Nothing more to do if even this fails.
  ::MessageBoxW(hwnd_, prompt.c_str(), Widen(kSystemNoticeTitle).c_str(), MB_OK);
  last_failure_tick_ = ::GetTickCount64();
  reporting_failure_ = false;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == ids::kTransfersDoneMessage) {
    OnTransfersDone();
    return 0;
  }
  if (message == ids::kOtherCourierCharMessage) {
    if (form_ != nullptr) form_->Combo1_KeyPress(Narrow(std::wstring(1, static_cast<wchar_t>(wparam))));
    return 0;
  }
  if (message == ids::kTrayCallbackMessage) {
    if (form_ != nullptr) form_->TrayIcon_Notify(LOWORD(lparam));
    return 0;
  }
  if (taskbar_created_message_ != 0 && message == taskbar_created_message_) {
    // The shell restarted and forgot the icon.
    const bool added = tray_icon_.Recreate();
    if (form_ != nullptr) form_->TrayIcon_Recreated(added);
    return 0;
  }
  if (show_yourself_message_ != 0 && message == show_yourself_message_) {
    if (form_ != nullptr) form_->SecondInstance_Activate();
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case DM_GETDEFID:
      return DefaultButtonId();
    case WM_SYSCOMMAND:
      // The system's own commands start at SC_SIZE.
      if (form_ != nullptr && (wparam & 0xFFF0) < SC_SIZE && form_->SystemMenu_Click(static_cast<int>(wparam & 0xFFF0))) {
        return 0;
      }
      break;
    case WM_INITMENUPOPUP:
      // The window menu as it opens (not its 最近查询 submenu, which it
      // fills).
      if (form_ != nullptr && HIWORD(lparam) != 0 && reinterpret_cast<HMENU>(wparam) != recent_submenu_) {
        SystemMenuOpening(reinterpret_cast<HMENU>(wparam));
      }
      break;
    case WM_COPYDATA:
      return form_ != nullptr && lparam != 0 &&
                     OnCopyData(reinterpret_cast<HWND>(wparam), *reinterpret_cast<const COPYDATASTRUCT*>(lparam))
                 ? TRUE
                 : FALSE;
    case WM_CONTEXTMENU:
      if (form_ != nullptr && reinterpret_cast<HWND>(wparam) == controls_.Child(kList1Row)) {
        form_->List1_ContextMenu();
        return 0;
      }
      break;
    case WM_TIMER:
      if (wparam == ids::kTimer1) {
        OnClockTick();
      } else if (form_ != nullptr) {
        ::KillTimer(hwnd_, wparam);  // one-shot
        form_->OnTimer(static_cast<unsigned>(wparam));
      }
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(PointOf(lparam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      OnLeftButton(PointOf(lparam), message == WM_LBUTTONDOWN);
      return 0;
    case WM_CTLCOLORSTATIC:
      if (const HBRUSH brush = controls_.Colour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam))) {
        return reinterpret_cast<LRESULT>(brush);
      }
      break;
    case WM_CLOSE:
      if (form_ != nullptr) form_->Form_QueryUnload();
      return 0;  // never destroyed but through EndProgram
    case WM_QUERYENDSESSION:
      return TRUE;  // a tool in the tray never holds up logoff or shutdown
    case WM_ENDSESSION:
      if (wparam != FALSE && form_ != nullptr) form_->Form_EndSession();
      return 0;
    case WM_POWERBROADCAST:
      // Timers may have slept through their moment.
      if (wparam == PBT_APMRESUMEAUTOMATIC && form_ != nullptr) form_->Resumed();
      return TRUE;
    case kGetDpiScaledSize: {
      // The window keeps its client area in twips at the new DPI.
      const RECT frame = controls_.WindowRectFor(static_cast<UINT>(wparam));
      *reinterpret_cast<SIZE*>(lparam) = SIZE{frame.right - frame.left, frame.bottom - frame.top};
      return TRUE;
    }
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_ACTIVATE: {
      const bool active = LOWORD(wparam) != WA_INACTIVE;
      const bool focused = OnActivate(active);
      if (active && form_ != nullptr) form_->Form_Activate();
      if (focused) return 0;
      break;
    }
    case WM_SYSCOLORCHANGE:
      controls_.SystemColoursChanged();
      break;
    case WM_DESTROY:
      mailbox_->Close();
      tray_icon_.Remove();
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wparam, lparam);
}

void MainWindow::OnTransfersDone() {
  auto outcomes = mailbox_->TakeAll();
  while (!outcomes.empty() && form_ != nullptr && hwnd_ != nullptr) {
    const auto [id, outcome] = std::move(outcomes.front());
    outcomes.pop_front();
    try {
      form_->OnTransferDone(id, outcome);
    } catch (...) {
      // The failure is told as any other; the outcomes after it still count.
      mailbox_->PutBack(std::move(outcomes));
      throw;
    }
  }
}

// Enter presses the push button that has the focus, as in any dialog;
// elsewhere (Text2, the list, the couriers) it does nothing.
LRESULT MainWindow::DefaultButtonId() const {
  const HWND focus = ::GetFocus();
  if (focus == nullptr || ::GetParent(focus) != hwnd_) return 0;
  const std::size_t row = RowOfId(::GetDlgCtrlID(focus));
  if (row >= kControlCount || ControlTable()[row].kind != ControlKind::kButton) return 0;
  return MAKELRESULT(ControlTable()[row].id, DC_HASDEFID);
}

void MainWindow::OnCommand(int id, int notification) {
  if (form_ == nullptr) return;
  if (id == ids::kCombo1) {
    if (notification == CBN_SELCHANGE) form_->Combo1_Click();
    return;
  }
  if (notification != BN_CLICKED) return;
  if (const std::size_t row = RowOfId(id); row < kControlCount && ControlTable()[row].kind == ControlKind::kRadio) {
    form_->Carrier_Click();
    return;
  }
  switch (id) {
    case ids::kChaxun: form_->chaxun_Click(); return;
    case ids::kCommand1: form_->Command1_Click(); return;
    case ids::kCommand2: form_->Command2_Click(); return;
    case ids::kCommand4: form_->Command4_Click(); return;
    default: return;  // the couriers keep their own state; Enter and Esc elsewhere do nothing
  }
}

void MainWindow::OnClockTick() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  // Re-armed first, so a failing handler does not stop the clock.
  ArmClock(1000u - std::min<unsigned>(now.wMilliseconds, 999u) + kTimerSlackMs);
  if (form_ == nullptr) return;
  form_->Timer1_Timer(LocalDateTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

void MainWindow::OnMouseMove(POINT client_point) {
  if (form_ == nullptr) return;
  switch (links_.At(client_point)) {
    case LinkLabels::Over::kLabel3: form_->Label3_MouseMove(); return;
    case LinkLabels::Over::kLabel5: form_->Label5_MouseMove(); return;
    case LinkLabels::Over::kOtherLabel: return;
    case LinkLabels::Over::kSurface: form_->Form_MouseMove(); return;
  }
}

void MainWindow::OnLeftButton(POINT client_point, bool down) {
  const std::optional<LinkLabel> clicked = links_.OnLeftButton(client_point, down);
  if (!clicked || form_ == nullptr) return;
  if (*clicked == LinkLabel::kLabel3) {
    form_->Label3_Click();
  } else {
    form_->Label5_Click();
  }
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  controls_.ChangeDpi(dpi);
  LoadIcons();
  if (!::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                      suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE)) {
    ThrowWin32("SetWindowPos");
  }
}

// Keeps the keyboard focus on the control that had it when another window
// was activated; true when the focus was put back.
bool MainWindow::OnActivate(bool active) {
  if (!active) {
    const HWND focus = ::GetFocus();
    if (focus != nullptr && ::IsChild(hwnd_, focus)) focus_before_deactivation_ = focus;
    return false;
  }
  if (focus_before_deactivation_ != nullptr && ::IsWindow(focus_before_deactivation_)) {
    ::SetFocus(focus_before_deactivation_);
    return true;
  }
  return false;
}

// ---- FormView -------------------------------------------------------------------

std::string MainWindow::NumberText() const { return Narrow(WindowText(controls_.Child(kText2Row))); }

void MainWindow::SetNumberText(std::string_view text) { SetText(controls_.Child(kText2Row), Widen(text)); }

void MainWindow::SelectNumberText() {
  const HWND text2 = controls_.Child(kText2Row);
  ::SetFocus(text2);
  ::SendMessageW(text2, EM_SETSEL, 0, -1);
}

bool MainWindow::IsCarrierSelected(std::size_t table_row) const {
  if (table_row >= CarrierTable.size()) throw std::out_of_range("IsCarrierSelected: no such carrier");
  const std::size_t row = RowOfName(CarrierTable[table_row].control_name);
  if (row >= kControlCount) throw std::logic_error("IsCarrierSelected: carrier without a button");
  return ::SendMessageW(controls_.Child(row), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::SelectCarrier(std::optional<std::size_t> table_row) {
  const HWND first_in_group = controls_.ChildById(ids::kYuantong);
  for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
    const HWND button = controls_.Child(RowOfName(CarrierTable[row].control_name));
    // Radio buttons move the tab stop to the checked one themselves.
    ::SendMessageW(button, BM_SETCHECK, table_row == row ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  if (!table_row) {
    // With none selected, Tab still reaches the group at its first button.
    const LONG_PTR style = ::GetWindowLongPtrW(first_in_group, GWL_STYLE);
    ::SetWindowLongPtrW(first_in_group, GWL_STYLE, style | WS_TABSTOP);
  }
}

std::optional<std::size_t> MainWindow::OtherCourierPicked() const {
  const LRESULT index = ::SendMessageW(controls_.Child(kCombo1Row), CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return std::nullopt;
  return static_cast<std::size_t>(index);
}

void MainWindow::PickOtherCourier(std::optional<std::size_t> index) {
  // -1 empties the box; an index the list does not have is refused alike.
  const WPARAM wanted = index ? static_cast<WPARAM>(*index) : static_cast<WPARAM>(-1);
  ::SendMessageW(controls_.Child(kCombo1Row), CB_SETCURSEL, wanted, 0);
}

void MainWindow::ClearRows() { ::SendMessageW(controls_.Child(kList1Row), LB_RESETCONTENT, 0, 0); }

void MainWindow::AppendRow(std::string_view row) {
  const std::wstring text = Widen(row);
  const LRESULT index =
      ::SendMessageW(controls_.Child(kList1Row), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (index == LB_ERR || index == LB_ERRSPACE) throw std::runtime_error("LB_ADDSTRING 失败");
}

void MainWindow::AppendRows(const std::vector<std::string>& rows) {
  const HWND list = controls_.Child(kList1Row);
  // A list that repaints after every row takes minutes over a long answer.
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const auto redraw = scope_exit([list] {
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
  });
  for (const std::string& row : rows) AppendRow(row);
}

std::vector<std::string> MainWindow::Rows() const {
  const HWND list = controls_.Child(kList1Row);
  const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
  if (count == LB_ERR) throw std::runtime_error("LB_GETCOUNT 失败");
  std::vector<std::string> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (LRESULT index = 0; index < count; ++index) {
    const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) throw std::runtime_error("LB_GETTEXTLEN 失败");
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    if (copied == LB_ERR) throw std::runtime_error("LB_GETTEXT 失败");
    text.resize(static_cast<std::size_t>(copied));
    rows.push_back(Narrow(text));
  }
  return rows;
}

void MainWindow::ShowMessage(std::string_view prompt, std::string_view title) { ShowMessageBox(hwnd_, prompt, title); }

bool MainWindow::ConfirmOkCancel(std::string_view prompt, std::string_view title) {
  return AskOkCancelBox(hwnd_, prompt, title);
}

bool MainWindow::AskYesNo(std::string_view prompt, std::string_view title) {
  const int answer = ::MessageBoxW(hwnd_, Widen(prompt).c_str(), Widen(title).c_str(), MB_YESNO | MB_ICONQUESTION);
  if (answer == 0) ThrowWin32("MessageBoxW");
  return answer == IDYES;
}

std::optional<AccountSettings> MainWindow::AskAccount(const AccountSettings& current) {
  return AskAccountDialog(instance_, hwnd_, current);
}

std::optional<std::string> MainWindow::AskPhoneDigits(std::string_view carrier_name, std::string_view number) {
  return AskPhoneDialog(instance_, hwnd_, carrier_name, number);
}

std::optional<std::string> MainWindow::AskWatchNote(std::string_view number) {
  return AskNoteDialog(instance_, hwnd_, number);
}

std::optional<int> MainWindow::ShowPopupMenu(const std::vector<MenuItem>& items) {
  return TrackMenuAtCursor(hwnd_, items);
}

void MainWindow::SetTitle(std::string_view title) { SetText(hwnd_, Widen(title)); }

void MainWindow::SetLinkBold(LinkLabel label, bool bold) {
  controls_.SetBold(label == LinkLabel::kLabel3 ? kLabel3Row : kLabel5Row, bold);
}

void MainWindow::ShowFirstTime() {
  ::ShowWindow(hwnd_, SW_SHOW);
  ::UpdateWindow(hwnd_);
  ::SetForegroundWindow(hwnd_);  // refused when another program is in front: no matter
  ::SetFocus(controls_.Child(kText2Row));
}

void MainWindow::HideWindow() { ::ShowWindow(hwnd_, SW_HIDE); }

void MainWindow::ShowWindow() {
  ::ShowWindow(hwnd_, ::IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(hwnd_);  // may be refused by the system; the window is shown anyway
  // Shown for the first time from the notification area: the number box
  // takes the keys, as at an ordinary start.
  const HWND focus = ::GetFocus();
  if (focus == nullptr || !::IsChild(hwnd_, focus)) ::SetFocus(controls_.Child(kText2Row));
}

bool MainWindow::ShowTrayIcon(std::string_view tip) { return tray_icon_.Show(small_icon_.get(), Widen(tip)); }

void MainWindow::RemoveTrayIcon() { tray_icon_.Remove(); }

bool MainWindow::ShowNotification(std::string_view title, std::string_view text) {
  return tray_icon_.ShowBalloon(Widen(title), Widen(text));
}

bool MainWindow::TryPutOnClipboard(std::string_view text) {
  // The data is made first: the user's clipboard is emptied only when the
  // new text can take its place.
  const std::wstring wide = Widen(text);
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (!memory) throw std::bad_alloc();
  void* target = ::GlobalLock(memory.get());
  if (target == nullptr) ThrowWin32("GlobalLock");
  std::memcpy(target, wide.c_str(), bytes);
  ::GlobalUnlock(memory.get());

  if (!::OpenClipboard(hwnd_)) return false;
  const auto close = scope_exit([] { ::CloseClipboard(); });
  if (!::EmptyClipboard()) return false;
  if (::SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) return false;
  memory.release();  // the clipboard owns it now
  return true;
}

std::optional<ClipboardContent> MainWindow::ReadClipboard() {
  ClipboardContent content;
  content.sequence = ::GetClipboardSequenceNumber();
  if (content.sequence == 0 || !::IsClipboardFormatAvailable(CF_UNICODETEXT)) return std::nullopt;
  // Held by another program right now: nothing is offered this time.
  if (!::OpenClipboard(hwnd_)) return std::nullopt;
  const auto close = scope_exit([] { ::CloseClipboard(); });
  const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) return std::nullopt;
  const auto* text = static_cast<const wchar_t*>(::GlobalLock(data));
  if (text == nullptr) return std::nullopt;
  const auto unlock = scope_exit([data] { ::GlobalUnlock(data); });
  // Only a short text can be one tracking number: a long one is not read.
  const std::size_t limit = ::GlobalSize(data) / sizeof(wchar_t);
  const std::size_t length = std::wstring_view(text, limit).find(L'\0');
  if (length == std::wstring_view::npos || length > 256) return std::nullopt;
  content.text = Narrow(std::wstring_view(text, length));
  return content;
}

void MainWindow::ArmTimer(unsigned id, std::string_view, std::chrono::milliseconds delay) {
  const auto ms = static_cast<UINT>(std::clamp<std::chrono::milliseconds::rep>(delay.count(), 1, 0x7FFFFFFF));
  if (::SetTimer(hwnd_, id, ms, nullptr) == 0) ThrowWin32("SetTimer");
}

void MainWindow::DisarmTimer(unsigned id) { ::KillTimer(hwnd_, id); }

void MainWindow::OpenInBrowser(std::string_view url) {
  const std::wstring address = Widen(url);
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof(execute);
  // Handed over before returning: the program may end right after.
  execute.fMask = SEE_MASK_NOASYNC;
  execute.hwnd = hwnd_;
  execute.lpVerb = L"open";
  execute.lpFile = address.c_str();
  execute.nShow = SW_SHOWNORMAL;
  // A failure is told by the shell where it can (no browser, bad address);
  // a link click reports nothing more.
  ::ShellExecuteExW(&execute);
}

void MainWindow::EndProgram() {
  list_window_.Destroy();
  tray_icon_.Remove();
  mailbox_->Close();
  if (hwnd_ != nullptr) {
    form_ = nullptr;
    // WM_DESTROY ends the message loop.
    if (!::DestroyWindow(hwnd_)) ::PostQuitMessage(0);
  }
}

}  // namespace quenzil
