#include "window/main_window.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "common/utf.h"
#include "deploy_config.h"
#include "query/carriers.h"
#include "window/control_ids.h"
#include "window/texts.h"

namespace quenzil {
namespace {

using UniqueGlobal = UniqueAny<HGLOBAL, decltype(&::GlobalFree), ::GlobalFree>;

enum class Kind { kButton, kLabel, kEdit, kList, kFrame, kRadio };

// Marks a control that keeps the platform's default text colour.
inline constexpr COLORREF kDefaultColour = 0xFFFFFFFFu;

struct ControlEntry {
  std::string_view name;
  Kind kind;
  int id;
  // Empty where the text is built at run time (Label4, Label5, Label6).
  std::string_view caption;
  // Twips; option buttons relative to Frame1's top-left corner.
  int left, top, width, height;
  bool auto_size;
  COLORREF text_colour;
};

// Every control of form1, in tab order: they are created in this order, so
// the dialog manager's Tab follows it.
inline constexpr std::array<ControlEntry, kControlCount> kControls{{
    {"Text2", Kind::kEdit, ids::kText2, "", 1920, 2280, 2700, 375, false, kDefaultColour},
    {"chaxun", Kind::kButton, ids::kChaxun, "开始查询", 4800, 2040, 1695, 735, false, kDefaultColour},
    {"Label1", Kind::kLabel, ids::kLabel1, "请输入快递单号：", 360, 2400, 1440, 180, true, kDefaultColour},
    {"List1", Kind::kList, ids::kList1, "", 360, 2880, 9375, 5460, false, kDefaultColour},
    {"Frame1", Kind::kFrame, ids::kFrame1, "请选择快递公司", 360, 960, 9375, 975, false, kDefaultColour},
    {"Command1", Kind::kButton, ids::kCommand1, "复制快递信息", 6600, 2040, 1695, 735, false, kDefaultColour},
    {"yuantong", Kind::kRadio, ids::kYuantong, "圆通", 240, 360, 735, 255, false, kDefaultColour},
    {"shentong", Kind::kRadio, ids::kShentong, "申通", 1080, 360, 735, 255, false, kDefaultColour},
    {"huitongkuaidi", Kind::kRadio, ids::kHuitongkuaidi, "汇通", 5760, 360, 735, 255, false, kDefaultColour},
    {"yunda", Kind::kRadio, ids::kYunda, "韵达", 4800, 360, 735, 255, false, kDefaultColour},
    {"ems", Kind::kRadio, ids::kEms, "EMS", 3960, 360, 735, 255, false, kDefaultColour},
    {"shunfeng", Kind::kRadio, ids::kShunfeng, "顺丰", 3000, 360, 735, 255, false, kDefaultColour},
    {"zhongtong", Kind::kRadio, ids::kZhongtong, "中通", 2040, 360, 735, 255, false, kDefaultColour},
    {"tiantian", Kind::kRadio, ids::kTiantian, "天天", 6600, 360, 735, 255, false, kDefaultColour},
    {"zhaijisong", Kind::kRadio, ids::kZhaijisong, "宅急送", 7440, 360, 975, 255, false, kDefaultColour},
    {"Command2", Kind::kButton, ids::kCommand2, "清空单号", 8400, 2040, 1335, 735, false, kDefaultColour},
    {"Label2", Kind::kLabel, ids::kLabel2, "数据由：        提供", 360, 8520, 2295, 375, false, RGB(0, 0, 0)},
    {"Label3", Kind::kLabel, ids::kLabel3, "快递100", 1080, 8520, 630, 300, true, RGB(0, 0, 255)},
    {"Label4", Kind::kLabel, ids::kLabel4, "", 6240, 8520, 3780, 180, true, RGB(255, 0, 0)},
    {"Command4", Kind::kButton, ids::kCommand4, "缩小到后台方便下次使用", 360, 120, 4215, 735, false, kDefaultColour},
    {"Label5", Kind::kLabel, ids::kLabel5, "", 7800, 240, 1530, 180, true, RGB(0, 0, 255)},
    {"Label6", Kind::kLabel, ids::kLabel6, "", 6480, 480, 2520, 180, true, kDefaultColour},
    {"Label7", Kind::kLabel, ids::kLabel7, "Dravimo：", 6480, 240, 1260, 180, true, kDefaultColour},
    {"Label8", Kind::kLabel, ids::kLabel8, "觉得支持快递公司不够，可以联系我", 6480, 720, 3495, 255, false, kDefaultColour},
    {"quanfengkuaidi", Kind::kRadio, ids::kQuanfengkuaidi, "全峰", 8400, 360, 735, 255, false, kDefaultColour},
}};

constexpr std::size_t RowOf(std::string_view name) {
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    if (kControls[row].name == name) return row;
  }
  return kControls.size();
}

inline constexpr std::size_t kText2Row = RowOf("Text2");
inline constexpr std::size_t kList1Row = RowOf("List1");
inline constexpr std::size_t kFrame1Row = RowOf("Frame1");
inline constexpr std::size_t kLabel2Row = RowOf("Label2");
inline constexpr std::size_t kLabel3Row = RowOf("Label3");
inline constexpr std::size_t kLabel5Row = RowOf("Label5");
inline constexpr std::size_t kLabel7Row = RowOf("Label7");
static_assert(kLabel7Row < kControls.size());

// Texts that are ours to choose.
inline constexpr std::string_view kAuthorLine = "作者：Dravimo  联系：hi@dravimo.example";
inline constexpr std::string_view kSlogan = "快递查询好帮手，常来本站看看";  // 14 full-width characters

// The bottom line is built from its two ends so the blank run between them
// can be widened to hold Label3 in any font.
inline constexpr std::wstring_view kLabel2Lead = L"数据由：";
inline constexpr std::wstring_view kLabel2Tail = L"提供";
inline constexpr int kLabel2MinBlanks = 8;

inline constexpr int kIconResourceId = 1;
inline constexpr int kFontPoints = 9;
inline constexpr int kClientWidthTwips = 10125;
inline constexpr int kClientHeightTwips = 8850;
inline constexpr int kClientLeftTwips = 5595;
inline constexpr int kClientTopTwips = 1560;
// No WS_CLIPCHILDREN: the frame paints only its border, and the face colour
// inside it comes from form1's own background.
inline constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;
// Past the next whole second, so the clock is never shown a second late.
inline constexpr unsigned kTimerSlackMs = 15;
inline constexpr unsigned kFirstTickMs = 10;
inline constexpr int kClipboardTries = 10;
inline constexpr DWORD kClipboardRetryMs = 30;

[[noreturn]] void ThrowWin32(const char* what) {
  const DWORD code = ::GetLastError();
  throw std::runtime_error(std::string(what) + " 失败（错误 " + std::to_string(code) + "）");
}

// Newer user32 entry points, looked up so the program still starts where
// they are missing.
template <typename Fn>
Fn User32Entry(const char* name) {
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

UINT DpiOfWindow(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = User32Entry<GetDpiForWindowFn>("GetDpiForWindow");
  if (get_dpi_for_window != nullptr) {
    const UINT dpi = get_dpi_for_window(hwnd);
    if (dpi != 0) return dpi;
  }
  const HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return USER_DEFAULT_SCREEN_DPI;
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

void AdjustForDpi(RECT& rect, UINT dpi) {
  using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = User32Entry<AdjustFn>("AdjustWindowRectExForDpi");
  if (adjust_for_dpi != nullptr && adjust_for_dpi(&rect, kFormStyle, FALSE, kFormExStyle, dpi)) return;
  if (!::AdjustWindowRectEx(&rect, kFormStyle, FALSE, kFormExStyle)) ThrowWin32("AdjustWindowRectEx");
}

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

bool FontInstalled(std::wstring_view face) {
  const HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return false;
  const auto release = scope_exit([&] { ::ReleaseDC(nullptr, screen); });
  LOGFONTW wanted{};
  wanted.lfCharSet = GB2312_CHARSET;
  std::char_traits<wchar_t>::copy(wanted.lfFaceName, face.data(), std::min<std::size_t>(face.size(), LF_FACESIZE - 1));
  bool found = false;
  ::EnumFontFamiliesExW(screen, &wanted, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

// The default Simplified Chinese interface font where it exists.
std::wstring ChooseFontFace() {
  for (const std::wstring_view face : {std::wstring_view(L"SimSun"), std::wstring_view(L"宋体"),
                                       std::wstring_view(L"Microsoft YaHei")}) {
    if (FontInstalled(face)) return std::wstring(face);
  }
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    return metrics.lfMessageFont.lfFaceName;
  }
  return L"SimSun";  // the font mapper picks the nearest Chinese font
}

UniqueFont MakeFont(const std::wstring& face, UINT dpi, bool bold) {
  const int height = -::MulDiv(kFontPoints, static_cast<int>(dpi), 72);
  UniqueFont font(::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
  if (!font) ThrowWin32("CreateFontW");
  return font;
}

std::wstring WindowText(HWND hwnd) {
  ::SetLastError(0);
  const int length = ::GetWindowTextLengthW(hwnd);
  if (length == 0) {
    if (::GetLastError() != 0) ThrowWin32("GetWindowTextLengthW");
    return {};
  }
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(hwnd, text.data(), length + 1);
  if (copied == 0 && ::GetLastError() != 0) ThrowWin32("GetWindowTextW");
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

void SetText(HWND hwnd, const std::wstring& text) {
  if (!::SetWindowTextW(hwnd, text.c_str())) ThrowWin32("SetWindowTextW");
}

void Place(HWND hwnd, int x, int y, int width, int height, UINT flags) {
  if (!::SetWindowPos(hwnd, nullptr, x, y, width, height, flags | SWP_NOZORDER | SWP_NOACTIVATE)) {
    ThrowWin32("SetWindowPos");
  }
}

std::string CaptionOf(const ControlEntry& entry) {
  switch (entry.id) {
    case ids::kLabel4: return std::string(kAuthorLine);
    case ids::kLabel5: return deploy::kMakerHost;
    case ids::kLabel6: return std::string(kSlogan);
    default: return std::string(entry.caption);
  }
}

const wchar_t* ClassOf(Kind kind) {
  switch (kind) {
    case Kind::kLabel: return L"STATIC";
    case Kind::kEdit: return L"EDIT";
    case Kind::kList: return L"LISTBOX";
    case Kind::kButton:
    case Kind::kFrame:
    case Kind::kRadio: break;
  }
  return L"BUTTON";
}

// Every tab stop is a group of its own: the ten option buttons are made
// exclusive by hand, as the tab order puts other controls between them.
DWORD StyleOf(Kind kind) {
  const DWORD common = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  switch (kind) {
    case Kind::kButton: return common | WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON;
    // No SS_NOTIFY: the label lets the mouse through to form1, which
    // hit-tests it.
    case Kind::kLabel: return common | SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    case Kind::kEdit: return common | WS_TABSTOP | WS_GROUP | ES_LEFT | ES_AUTOHSCROLL;
    case Kind::kList: return common | WS_TABSTOP | WS_GROUP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT;
    case Kind::kFrame: return common | BS_GROUPBOX;
    case Kind::kRadio: return common | WS_TABSTOP | WS_GROUP | BS_RADIOBUTTON;
  }
  return common;
}

DWORD ExStyleOf(Kind kind) {
  return (kind == Kind::kEdit || kind == Kind::kList) ? WS_EX_CLIENTEDGE : 0;
}

// Mouse positions are signed: left of or above the client area they are
// negative.
POINT PointOf(LPARAM lparam) {
  return POINT{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
}

void ReportInternalError(HWND owner, std::string_view what) {
  const std::wstring prompt = Widen(std::string("程序内部错误：") + std::string(what));
  // Nothing more to do if even this fails.
  ::MessageBoxW(owner, prompt.c_str(), Widen(kSystemNoticeTitle).c_str(), MB_OK);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) {
    RemoveTrayIcon();
    tearing_down_ = true;
    ::DestroyWindow(hwnd_);
  }
}

void MainWindow::Create() {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &MainWindow::WndProc;
  window_class.hInstance = instance_;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = ids::kFormClassName;
  if (!::RegisterClassExW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowWin32("RegisterClassExW");
  }
  taskbar_created_message_ = ::RegisterWindowMessageW(L"TaskbarCreated");  // 0: no re-adding

  face_brush_.reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
  if (!face_brush_) ThrowWin32("CreateSolidBrush");

  if (::CreateWindowExW(kFormExStyle, ids::kFormClassName, L"", kFormStyle, 0, 0, 0, 0, nullptr,
                        nullptr, instance_, this) == nullptr) {
    ThrowWin32("CreateWindowExW");
  }
  dpi_ = DpiOfWindow(hwnd_);
  font_face_ = ChooseFontFace();
  MakeFonts();
  LoadIcons();
  CreateControls();
  ApplyLayout();
  PlaceWindowAtStart();
}

void MainWindow::CreateControls() {
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    const ControlEntry& entry = kControls[row];
    const HWND child = ::CreateWindowExW(
        ExStyleOf(entry.kind), ClassOf(entry.kind), Widen(CaptionOf(entry)).c_str(), StyleOf(entry.kind),
        0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), instance_, nullptr);
    if (child == nullptr) ThrowWin32("CreateWindowExW");
    controls_[row] = child;
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(regular_font_.get()), FALSE);
  }
  ::SendMessageW(Child(kText2Row), EM_SETLIMITTEXT, 0, 0);  // no limit

  // The frame lies under its option buttons.
  if (!::SetWindowPos(Child(kFrame1Row), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE)) {
    ThrowWin32("SetWindowPos");
  }
  // Label3 lies over Label2 and must be painted after it.
  const HWND above_label2 = ::GetWindow(Child(kLabel2Row), GW_HWNDPREV);
  if (!::SetWindowPos(Child(kLabel3Row), above_label2 != nullptr ? above_label2 : HWND_TOP, 0, 0, 0, 0,
                      SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE)) {
    ThrowWin32("SetWindowPos");
  }
}

void MainWindow::MakeFonts() {
  regular_font_ = MakeFont(font_face_, dpi_, false);
  bold_font_ = MakeFont(font_face_, dpi_, true);
}

void MainWindow::LoadIcons() {
  const int big = ::MulDiv(32, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
  const int small = ::MulDiv(16, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
  // Without the icon resource the window simply has the default icon.
  big_icon_.reset(static_cast<HICON>(
      ::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON, big, big, LR_DEFAULTCOLOR)));
  small_icon_.reset(static_cast<HICON>(
      ::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON, small, small, LR_DEFAULTCOLOR)));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));
}

int MainWindow::Px(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), 1440); }

SIZE MainWindow::MeasureText(HFONT font, std::wstring_view text) const {
  const HDC dc = ::GetDC(hwnd_);
  if (dc == nullptr) ThrowWin32("GetDC");
  const auto release = scope_exit([&] { ::ReleaseDC(hwnd_, dc); });
  const HGDIOBJ old_font = ::SelectObject(dc, font);
  if (old_font == nullptr || old_font == HGDI_ERROR) ThrowWin32("SelectObject");
  const auto restore = scope_exit([&] { ::SelectObject(dc, old_font); });
  SIZE size{};
  if (!::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size)) {
    ThrowWin32("GetTextExtentPoint32W");
  }
  if (text.empty()) {
    TEXTMETRICW metrics{};
    if (!::GetTextMetricsW(dc, &metrics)) ThrowWin32("GetTextMetricsW");
    size.cy = metrics.tmHeight;
  }
  return size;
}

// An auto-size label takes the size of its text in its current font,
// keeping its top-left corner.
void MainWindow::FitLabel(std::size_t row) {
  const HWND label = Child(row);
  auto font = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
  if (font == nullptr) font = regular_font_.get();
  const SIZE size = MeasureText(font, WindowText(label));
  Place(label, 0, 0, size.cx, size.cy, SWP_NOMOVE);
  ::InvalidateRect(label, nullptr, TRUE);
}

RECT MainWindow::ChildRect(std::size_t row) const {
  RECT rect{};
  if (!::GetWindowRect(Child(row), &rect)) ThrowWin32("GetWindowRect");
  ::SetLastError(0);
  if (::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2) == 0 && ::GetLastError() != 0) {
    ThrowWin32("MapWindowPoints");
  }
  return rect;
}

void MainWindow::ApplyLayout() {
  const ControlEntry& frame = kControls[kFrame1Row];
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    const ControlEntry& entry = kControls[row];
    const bool in_frame = entry.kind == Kind::kRadio;
    const int left = entry.left + (in_frame ? frame.left : 0);
    const int top = entry.top + (in_frame ? frame.top : 0);
    Place(Child(row), Px(left), Px(top), Px(entry.width), Px(entry.height), 0);
    if (entry.auto_size) FitLabel(row);
  }

  // The bottom line: Label3 starts where Label2's blank run starts, and the
  // run is at least as wide as Label3 in bold, so "提供" follows it.
  const int lead_width = static_cast<int>(MeasureText(regular_font_.get(), kLabel2Lead).cx);
  const int label3_width = static_cast<int>(MeasureText(bold_font_.get(), WindowText(Child(kLabel3Row))).cx);
  const int gap = ::MulDiv(2, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
  std::wstring label2_text(kLabel2Lead);
  label2_text.append(kLabel2MinBlanks, L' ');
  while (MeasureText(regular_font_.get(), label2_text).cx < lead_width + label3_width + gap &&
         label2_text.size() < kLabel2Lead.size() + 64) {
    label2_text.push_back(L' ');
  }
  label2_text.append(kLabel2Tail);
  if (WindowText(Child(kLabel2Row)) != label2_text) SetText(Child(kLabel2Row), label2_text);
  const ControlEntry& label2 = kControls[kLabel2Row];
  const int label2_width = std::max<int>(Px(label2.width), MeasureText(regular_font_.get(), label2_text).cx);
  Place(Child(kLabel2Row), 0, 0, label2_width, Px(label2.height), SWP_NOMOVE);
  Place(Child(kLabel3Row), Px(label2.left) + lead_width, Px(kControls[kLabel3Row].top), 0, 0, SWP_NOSIZE);

  // The top line: the host follows "Dravimo：" directly.
  const int label5_left = std::max(Px(kControls[kLabel5Row].left), static_cast<int>(ChildRect(kLabel7Row).right));
  Place(Child(kLabel5Row), label5_left, Px(kControls[kLabel5Row].top), 0, 0, SWP_NOSIZE);
}

void MainWindow::PlaceWindowAtStart() {
  RECT frame{0, 0, Px(kClientWidthTwips), Px(kClientHeightTwips)};
  AdjustForDpi(frame, dpi_);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  // frame.left/top are the (negative) border widths around the client area.
  int x = Px(kClientLeftTwips) + frame.left;
  int y = Px(kClientTopTwips) + frame.top;

  const HMONITOR monitor = ::MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info)) {
    const RECT& work = info.rcWork;
    x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - width));
    y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - height));
  }
  Place(hwnd_, x, y, width, height, 0);
}

HWND MainWindow::control(int id) const {
  const std::size_t row = RowOfId(id);
  return row < controls_.size() ? controls_[row] : nullptr;
}

std::size_t MainWindow::RowOfId(int id) const {
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    if (kControls[row].id == id) return row;
  }
  return kControls.size();
}

bool MainWindow::PointOnChild(std::size_t row, POINT client_point) const {
  const RECT rect = ChildRect(row);
  return ::PtInRect(&rect, client_point) != FALSE;
}

void MainWindow::StartTimer() { ArmTimer(kFirstTickMs); }

void MainWindow::ArmTimer(unsigned delay_ms) {
  if (::SetTimer(hwnd_, ids::kTimer1, delay_ms, nullptr) == 0) ThrowWin32("SetTimer");
}

bool MainWindow::RunFormLoad() {
  if (form_ == nullptr) return true;
  try {
    return form_->Form_Load();
  } catch (const std::exception& error) {
    ReportInternalError(hwnd_, error.what());
  }
  return true;  // the window is shown all the same
}

void MainWindow::ShowFirstTime() {
  ::ShowWindow(hwnd_, SW_SHOW);
  ::UpdateWindow(hwnd_);
  ::SetForegroundWindow(hwnd_);  // refused when another program is in front: no matter
  ::SetFocus(Child(kText2Row));
}

int MainWindow::RunMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) ThrowWin32("GetMessageW");
    DispatchWindowMessage(hwnd_, message);
  }
}

void MainWindow::RunPending() { RunPendingMessages(hwnd_); }

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
  } catch (const std::exception& error) {
    ReportInternalError(hwnd, error.what());
  } catch (...) {
    ReportInternalError(hwnd, "未知错误");
  }
  return 0;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == ids::kTrayCallbackMessage) {
    if (form_ != nullptr) form_->TrayIcon_Notify(LOWORD(lparam));
    return 0;
  }
  if (taskbar_created_message_ != 0 && message == taskbar_created_message_) {
    // The shell restarted and forgot the icon.
    if (tray_icon_wanted_) tray_icon_wanted_ = AddTrayIconNow();
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_TIMER:
      if (wparam == ids::kTimer1) OnTimer();
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(PointOf(lparam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      OnLeftButton(PointOf(lparam), message == WM_LBUTTONDOWN);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnControlColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_CLOSE:
      AskToClose();
      return 0;  // never destroyed the ordinary way
    case WM_QUERYENDSESSION:
      return AskToClose() ? FALSE : TRUE;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_ACTIVATE:
      if (OnActivate(LOWORD(wparam) != WA_INACTIVE)) return 0;
      break;
    case WM_SYSCOLORCHANGE: {
      UniqueBrush brush(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
      if (brush) face_brush_ = std::move(brush);
      break;
    }
    case WM_DESTROY:
      if (!tearing_down_) ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wparam, lparam);
}

void MainWindow::OnCommand(int id, int notification, HWND from) {
  // Enter and Esc: the dialog manager asks for IDOK/IDCANCEL, which form1
  // does not have.
  if (from == nullptr && (id == IDOK || id == IDCANCEL)) return;
  if (notification != BN_CLICKED || form_ == nullptr) return;
  switch (id) {
    case ids::kChaxun: form_->chaxun_Click(); return;
    case ids::kCommand1: form_->Command1_Click(); return;
    case ids::kCommand2: form_->Command2_Click(); return;
    case ids::kCommand4: form_->Command4_Click(); return;
    default: break;
  }
  const std::size_t clicked = RowOfId(id);
  if (clicked < kControls.size() && kControls[clicked].kind == Kind::kRadio) {
    // Windows reports a radio button that Tab lands on as clicked; passing
    // through the couriers with Tab must not pick one.
    if (::GetKeyState(VK_TAB) < 0) return;
    for (std::size_t row = 0; row < kControls.size(); ++row) {
      if (kControls[row].kind != Kind::kRadio) continue;
      ::SendMessageW(Child(row), BM_SETCHECK, row == clicked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }
}

void MainWindow::OnTimer() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  // Re-armed first, so a failing handler does not stop the clock.
#ifdef QUENZIL_NAIVE_ANCHOR
  ArmTimer(1);  // benchmark-only build (QUENZIL_BENCH_NAIVE): a tick every millisecond
#else
  ArmTimer(1000u - std::min<unsigned>(now.wMilliseconds, 999u) + kTimerSlackMs);
#endif
  if (form_ == nullptr) return;
  form_->Timer1_Timer(LocalDateTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

// Labels and the frame let the mouse through; form1 decides whose event it
// is. Label3 is tested first as it lies over Label2.
void MainWindow::OnMouseMove(POINT client_point) {
  if (form_ == nullptr) return;
  if (PointOnChild(kLabel3Row, client_point)) {
    form_->Label3_MouseMove();
    return;
  }
  if (PointOnChild(kLabel5Row, client_point)) {
    form_->Label5_MouseMove();
    return;
  }
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    const Kind kind = kControls[row].kind;
    if ((kind == Kind::kLabel || kind == Kind::kFrame) && PointOnChild(row, client_point)) return;
  }
  form_->Form_MouseMove();
}

void MainWindow::OnLeftButton(POINT client_point, bool down) {
  int link_id = 0;
  if (PointOnChild(kLabel3Row, client_point)) {
    link_id = ids::kLabel3;
  } else if (PointOnChild(kLabel5Row, client_point)) {
    link_id = ids::kLabel5;
  }
  if (down) {
    pressed_link_id_ = link_id;
    return;
  }
  const bool clicked = link_id != 0 && link_id == pressed_link_id_;
  pressed_link_id_ = 0;
  if (!clicked || form_ == nullptr) return;
  if (link_id == ids::kLabel3) {
    form_->Label3_Click();
  } else {
    form_->Label5_Click();
  }
}

LRESULT MainWindow::OnControlColour(HDC dc, HWND control) {
  const std::size_t row = RowOfId(::GetDlgCtrlID(control));
  if (row >= kControls.size() || ::GetParent(control) != hwnd_) {
    return ::DefWindowProcW(hwnd_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                            reinterpret_cast<LPARAM>(control));
  }
  const COLORREF colour = kControls[row].text_colour;
  ::SetTextColor(dc, colour == kDefaultColour ? ::GetSysColor(COLOR_BTNTEXT) : colour);
  ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
  ::SetBkMode(dc, OPAQUE);
  return reinterpret_cast<LRESULT>(face_brush_.get());
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  dpi_ = dpi == 0 ? USER_DEFAULT_SCREEN_DPI : dpi;
  // The controls take the new fonts before the old ones are deleted.
  UniqueFont regular = MakeFont(font_face_, dpi_, false);
  UniqueFont bold = MakeFont(font_face_, dpi_, true);
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    const bool is_bold = (row == kLabel3Row && label3_bold_) || (row == kLabel5Row && label5_bold_);
    const HFONT font = is_bold ? bold.get() : regular.get();
    ::SendMessageW(Child(row), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  regular_font_ = std::move(regular);
  bold_font_ = std::move(bold);
  LoadIcons();
  if (tray_icon_wanted_) AddTrayIconNow();
  ApplyLayout();
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

bool MainWindow::AskToClose() {
  if (form_ == nullptr) return true;
  const bool refused = form_->Form_QueryUnload();
  if (!refused) EndProgram();
  return refused;
}

// FormView

std::string MainWindow::NumberText() const { return Narrow(WindowText(Child(kText2Row))); }

void MainWindow::SetNumberText(std::string_view text) { SetText(Child(kText2Row), Widen(text)); }

bool MainWindow::IsCarrierSelected(std::size_t table_row) const {
  if (table_row >= CarrierTable.size()) throw std::out_of_range("IsCarrierSelected: no such carrier");
  const std::size_t row = RowOf(CarrierTable[table_row].control_name);
  if (row >= kControls.size()) throw std::logic_error("IsCarrierSelected: carrier without a button");
  return ::SendMessageW(Child(row), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::ClearRows() { ::SendMessageW(Child(kList1Row), LB_RESETCONTENT, 0, 0); }

void MainWindow::AppendRow(std::string_view row) {
  const std::wstring text = Widen(row);
  const LRESULT index = ::SendMessageW(Child(kList1Row), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (index == LB_ERR || index == LB_ERRSPACE) throw std::runtime_error("LB_ADDSTRING 失败");
}

void MainWindow::AppendRows(const std::vector<std::string>& rows) {
  const HWND list = Child(kList1Row);
  // A list that repaints after every row takes minutes over a long answer.
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const auto redraw = scope_exit([list] {
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
  });
  for (const std::string& row : rows) AppendRow(row);
}

std::vector<std::string> MainWindow::Rows() const {
  const HWND list = Child(kList1Row);
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

void MainWindow::ShowMessage(std::string_view prompt, std::string_view title) {
  if (::MessageBoxW(hwnd_, Widen(prompt).c_str(), Widen(title).c_str(), MB_OK) == 0) ThrowWin32("MessageBoxW");
}

bool MainWindow::ConfirmOkCancel(std::string_view prompt, std::string_view title) {
  const int answer = ::MessageBoxW(hwnd_, Widen(prompt).c_str(), Widen(title).c_str(), MB_OKCANCEL);
  if (answer == 0) ThrowWin32("MessageBoxW");
  return answer == IDOK;
}

void MainWindow::SetTitle(std::string_view title) { SetText(hwnd_, Widen(title)); }

void MainWindow::SetLinkBold(LinkLabel label, bool bold) {
  bool& is_bold = label == LinkLabel::kLabel3 ? label3_bold_ : label5_bold_;
  if (is_bold == bold) return;  // already in that font: nothing to redraw
  const std::size_t row = label == LinkLabel::kLabel3 ? kLabel3Row : kLabel5Row;
  const HFONT font = bold ? bold_font_.get() : regular_font_.get();
  ::SendMessageW(Child(row), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  is_bold = bold;
  FitLabel(row);
}

bool MainWindow::AddTrayIcon(std::string_view tip) {
  tray_tip_ = Widen(tip);
  tray_icon_wanted_ = AddTrayIconNow();
  return tray_icon_wanted_;
}

bool MainWindow::AddTrayIconNow() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = hwnd_;
  data.uID = ids::kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = ids::kTrayCallbackMessage;
  data.hIcon = small_icon_.get();
  constexpr std::size_t kTipRoom = sizeof(data.szTip) / sizeof(data.szTip[0]) - 1;
  std::size_t length = std::min(tray_tip_.size(), kTipRoom);
  // Never end on the first half of a surrogate pair.
  if (length < tray_tip_.size() && length > 0 && tray_tip_[length - 1] >= 0xD800 && tray_tip_[length - 1] <= 0xDBFF) {
    --length;
  }
  std::memcpy(data.szTip, tray_tip_.data(), length * sizeof(wchar_t));
  data.szTip[length] = L'\0';
  // An icon already there (a second Command4 click) is updated instead.
  if (::Shell_NotifyIconW(NIM_MODIFY, &data)) return true;
  return ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void MainWindow::RemoveTrayIcon() {
  if (!tray_icon_wanted_) return;
  tray_icon_wanted_ = false;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = hwnd_;
  data.uID = ids::kTrayIconId;
  // A refusal means the shell no longer has the icon: nothing left to do.
  ::Shell_NotifyIconW(NIM_DELETE, &data);
}

void MainWindow::HideWindow() { ::ShowWindow(hwnd_, SW_HIDE); }

void MainWindow::ShowWindow() {
  ::ShowWindow(hwnd_, ::IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(hwnd_);  // may be refused by the system; the window is shown anyway
}

bool MainWindow::PutOnClipboard(std::string_view text) {
  const std::wstring wide = Widen(text);
  bool opened = false;
  for (int attempt = 0; attempt < kClipboardTries && !opened; ++attempt) {
    if (attempt > 0) ::Sleep(kClipboardRetryMs);
    opened = ::OpenClipboard(hwnd_) != FALSE;
  }
  if (!opened) return false;
  const auto close = scope_exit([] { ::CloseClipboard(); });
  if (!::EmptyClipboard()) return false;

  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (!memory) return false;
  void* target = ::GlobalLock(memory.get());
  if (target == nullptr) return false;
  std::memcpy(target, wide.c_str(), bytes);
  ::GlobalUnlock(memory.get());
  if (::SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) return false;
  memory.release();  // the clipboard owns it now
  return true;
}

void MainWindow::OpenInBrowser(std::string_view url) {
  const std::wstring address = Widen(url);
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(hwnd_, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  // A value up to 32 is a failure; the shell has told the user already
  // where it can (no browser, bad address) and a link click reports nothing.
  static_cast<void>(result);
}

void MainWindow::EndProgram() {
  RemoveTrayIcon();
  ::ExitProcess(0);
}

}  // namespace quenzil
