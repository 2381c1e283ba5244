#include "window/form_controls.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "app/texts.h"
#include "common/utf.h"
#include "platform/win32_util.h"
#include "query/couriers.h"
#include "window/control_ids.h"

namespace quenzil {
namespace {

using Kind = ControlKind;

// The height of the 其他快递公司 row added to Frame1, in twips.
constexpr int kOtherRow = 240;

// Every control of form1, in tab order: they are created in this order, so
// the dialog manager's Tab follows it. The ten couriers stand together as one
// group (the dialog manager's arrow keys move inside it), in the order they
// show from left to right; 其他快递公司 (Label9, Combo1) follows them in a
// row of its own in Frame1, which grew by that row: the controls below it
// moved down as much, and List1 lost as much of its height.
constexpr std::array<ControlEntry, kControlCount> kControls{{
    {"Text2", Kind::kEdit, ids::kText2, "", 1920, 2280 + kOtherRow, 2700, 375, false, kDefaultColour},
    {"chaxun", Kind::kButton, ids::kChaxun, "开始查询", 4800, 2040 + kOtherRow, 1695, 735, false, kDefaultColour},
    {"Label1", Kind::kLabel, ids::kLabel1, "请输入快递单号：", 360, 2400 + kOtherRow, 1440, 180, true, kDefaultColour},
    {"List1", Kind::kList, ids::kList1, "", 360, 2880 + kOtherRow, 9375, 5460 - kOtherRow, false, kDefaultColour},
    {"Frame1", Kind::kFrame, ids::kFrame1, "请选择快递公司", 360, 960, 9375, 975 + kOtherRow, false, kDefaultColour},
    {"Command1", Kind::kButton, ids::kCommand1, "复制快递信息", 6600, 2040 + kOtherRow, 1695, 735, false, kDefaultColour},
    {"yuantong", Kind::kRadio, ids::kYuantong, "圆通", 240, 360, 735, 255, false, kDefaultColour},
    {"shentong", Kind::kRadio, ids::kShentong, "申通", 1080, 360, 735, 255, false, kDefaultColour},
    {"zhongtong", Kind::kRadio, ids::kZhongtong, "中通", 2040, 360, 735, 255, false, kDefaultColour},
    {"shunfeng", Kind::kRadio, ids::kShunfeng, "顺丰", 3000, 360, 735, 255, false, kDefaultColour},
    {"ems", Kind::kRadio, ids::kEms, "EMS", 3960, 360, 735, 255, false, kDefaultColour},
    {"yunda", Kind::kRadio, ids::kYunda, "韵达", 4800, 360, 735, 255, false, kDefaultColour},
    {"huitongkuaidi", Kind::kRadio, ids::kHuitongkuaidi, "汇通", 5760, 360, 735, 255, false, kDefaultColour},
    {"tiantian", Kind::kRadio, ids::kTiantian, "天天", 6600, 360, 735, 255, false, kDefaultColour},
    {"zhaijisong", Kind::kRadio, ids::kZhaijisong, "宅急送", 7440, 360, 975, 255, false, kDefaultColour},
    {"quanfengkuaidi", Kind::kRadio, ids::kQuanfengkuaidi, "全峰", 8400, 360, 735, 255, false, kDefaultColour},
    {"Label9", Kind::kLabel, ids::kLabel9, kOtherCouriersLabel, 240, 780, 1080, 180, true, kDefaultColour},
    {"Combo1", Kind::kCombo, ids::kCombo1, "", 1440, 720, 2520, 3600, false, kDefaultColour},
    {"Command2", Kind::kButton, ids::kCommand2, "清空单号", 8400, 2040 + kOtherRow, 1335, 735, false, kDefaultColour},
    {"Label2", Kind::kLabel, ids::kLabel2, "数据由：        提供", 360, 8520, 2295, 375, false, RGB(0, 0, 0)},
    {"Label3", Kind::kLabel, ids::kLabel3, "快递100", 1080, 8520, 630, 300, true, RGB(0, 0, 255)},
    {"Label4", Kind::kLabel, ids::kLabel4, "", 6240, 8520, 3780, 180, true, RGB(255, 0, 0)},
    {"Command4", Kind::kButton, ids::kCommand4, "缩小到后台方便下次使用", 360, 120, 4215, 735, false, kDefaultColour},
    {"Label5", Kind::kLabel, ids::kLabel5, "", 7800, 240, 1530, 180, true, RGB(0, 0, 255)},
    {"Label6", Kind::kLabel, ids::kLabel6, "", 6480, 480, 2520, 180, true, kDefaultColour},
    {"Label7", Kind::kLabel, ids::kLabel7, "Dravimo：", 6480, 240, 1260, 180, true, kDefaultColour},
    {"Label8", Kind::kLabel, ids::kLabel8, "觉得支持快递公司不够，可以联系我", 6480, 720, 3495, 255, false, kDefaultColour},
}};

constexpr std::size_t ConstRowOf(std::string_view name) {
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    if (kControls[row].name == name) return row;
  }
  return kControls.size();
}

constexpr std::size_t kText2Row = ConstRowOf("Text2");
constexpr std::size_t kFrame1Row = ConstRowOf("Frame1");
constexpr std::size_t kLabel2Row = ConstRowOf("Label2");
constexpr std::size_t kLabel3Row = ConstRowOf("Label3");
constexpr std::size_t kLabel5Row = ConstRowOf("Label5");
constexpr std::size_t kLabel7Row = ConstRowOf("Label7");
constexpr std::size_t kFirstCourierRow = ConstRowOf("yuantong");
constexpr std::size_t kLabel9Row = ConstRowOf("Label9");
constexpr std::size_t kCombo1Row = ConstRowOf("Combo1");
static_assert(kText2Row == 0 && kLabel7Row < kControls.size() && kFirstCourierRow < kControls.size() &&
              kLabel9Row + 1 == kCombo1Row && kCombo1Row < kControls.size());

bool InFrame(std::size_t row) { return kControls[row].kind == Kind::kRadio || row == kLabel9Row || row == kCombo1Row; }

// Texts that are ours to choose.
constexpr std::string_view kAuthorLine = "作者：Dravimo  联系：hi@dravimo.example";
constexpr std::string_view kSlogan = "快递查询好帮手，常来本站看看";  // 14 full-width characters

// The bottom line is built from its two ends so the blank run between them
// can be widened to hold Label3 in any font.
constexpr std::wstring_view kLabel2Lead = L"数据由：";
constexpr std::wstring_view kLabel2Tail = L"提供";
constexpr int kLabel2MinBlanks = 8;
constexpr int kFontPoints = 9;

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
  std::char_traits<wchar_t>::copy(wanted.lfFaceName, face.data(),
                                  std::min<std::size_t>(face.size(), LF_FACESIZE - 1));
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
                                GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
  if (!font) ThrowWin32("CreateFontW");
  return font;
}

void Place(HWND hwnd, int x, int y, int width, int height, UINT flags) {
  if (!::SetWindowPos(hwnd, nullptr, x, y, width, height, flags | SWP_NOZORDER | SWP_NOACTIVATE)) {
    ThrowWin32("SetWindowPos");
  }
}

std::string CaptionOf(const ControlEntry& entry, std::string_view maker_host) {
  switch (entry.id) {
    case ids::kLabel4: return std::string(kAuthorLine);
    case ids::kLabel5: return std::string(maker_host);
    case ids::kLabel6: return std::string(kSlogan);
    default: return std::string(entry.caption);
  }
}

const wchar_t* ClassOf(Kind kind) {
  switch (kind) {
    case Kind::kLabel: return L"STATIC";
    case Kind::kEdit: return L"EDIT";
    case Kind::kList: return L"LISTBOX";
    case Kind::kCombo: return L"COMBOBOX";
    case Kind::kButton:
    case Kind::kFrame:
    case Kind::kRadio: break;
  }
  return L"BUTTON";
}

// Every tab stop starts a group of its own, but the couriers are one group
// led by the first: Tab reaches the selected one (or the first), the arrow
// keys move the selection, and automatic radio buttons keep it themselves.
DWORD StyleOf(std::size_t row) {
  const DWORD common = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  switch (kControls[row].kind) {
    case Kind::kButton: return common | WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON;
    // No SS_NOTIFY: the label lets the mouse through to form1, which
    // hit-tests it. Label9 ends the couriers' group: the arrow keys stay
    // among the buttons.
    case Kind::kLabel: return common | SS_LEFTNOWORDWRAP | SS_NOPREFIX | (row == kLabel9Row ? WS_GROUP : 0);
    case Kind::kCombo: return common | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST;
    case Kind::kEdit: return common | WS_TABSTOP | WS_GROUP | ES_LEFT | ES_AUTOHSCROLL;
    case Kind::kList: return common | WS_TABSTOP | WS_GROUP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT;
    case Kind::kFrame: return common | BS_GROUPBOX;
    case Kind::kRadio:
      return common | BS_AUTORADIOBUTTON | (row == kFirstCourierRow ? WS_GROUP | WS_TABSTOP : 0);
  }
  return common;
}

DWORD ExStyleOf(Kind kind) { return (kind == Kind::kEdit || kind == Kind::kList) ? WS_EX_CLIENTEDGE : 0; }

void AdjustForDpi(RECT& rect, UINT dpi) {
  using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = User32Entry<AdjustFn>("AdjustWindowRectExForDpi");
  if (adjust_for_dpi != nullptr && adjust_for_dpi(&rect, kFormStyle, FALSE, kFormExStyle, dpi)) return;
  if (!::AdjustWindowRectEx(&rect, kFormStyle, FALSE, kFormExStyle)) ThrowWin32("AdjustWindowRectEx");
}

}  // namespace

const std::array<ControlEntry, kControlCount>& ControlTable() { return kControls; }

std::size_t RowOfName(std::string_view name) { return ConstRowOf(name); }

std::size_t RowOfId(int id) {
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    if (kControls[row].id == id) return row;
  }
  return kControls.size();
}

void FormControls::Create(HWND form, HINSTANCE instance, UINT dpi, std::string_view maker_host) {
  form_ = form;
  dpi_ = dpi;
  face_brush_.reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
  if (!face_brush_) ThrowWin32("CreateSolidBrush");
  font_face_ = ChooseFontFace();
  MakeFonts();
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    const ControlEntry& entry = kControls[row];
    // Made where they stand: no second pass of moves before the first paint.
    const RECT place = PlannedRect(row);
    const HWND child = ::CreateWindowExW(
        ExStyleOf(entry.kind), ClassOf(entry.kind), Widen(CaptionOf(entry, maker_host)).c_str(), StyleOf(row),
        place.left, place.top, place.right - place.left, place.bottom - place.top, form_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), instance, nullptr);
    if (child == nullptr) ThrowWin32("CreateWindowExW");
    controls_[row] = child;
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(regular_font_.get()), FALSE);
  }
  ::SendMessageW(Child(kText2Row), EM_SETLIMITTEXT, 0, 0);  // no limit
  for (const Courier* courier : OtherCouriers()) {
    const LRESULT added = ::SendMessageW(Child(kCombo1Row), CB_ADDSTRING, 0,
                                         reinterpret_cast<LPARAM>(Widen(courier->name).c_str()));
    if (added == CB_ERR || added == CB_ERRSPACE) throw std::runtime_error("CB_ADDSTRING 失败");
  }

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
  ApplyLayout(/*placed=*/true);
}

void FormControls::MakeFonts() {
  regular_font_ = MakeFont(font_face_, dpi_, false);
  bold_font_ = MakeFont(font_face_, dpi_, true);
}

void FormControls::ChangeDpi(UINT dpi) {
  dpi_ = dpi == 0 ? USER_DEFAULT_SCREEN_DPI : dpi;
  UniqueFont regular = MakeFont(font_face_, dpi_, false);
  UniqueFont bold = MakeFont(font_face_, dpi_, true);
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    const HFONT font = bold_[row] ? bold.get() : regular.get();
    ::SendMessageW(Child(row), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  regular_font_ = std::move(regular);
  bold_font_ = std::move(bold);
  ApplyLayout();
}

int FormControls::Px(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), 1440); }

RECT FormControls::WindowRectFor(UINT dpi) const {
  RECT frame{0, 0, ::MulDiv(kClientWidthTwips, static_cast<int>(dpi), 1440),
             ::MulDiv(kClientHeightTwips, static_cast<int>(dpi), 1440)};
  AdjustForDpi(frame, dpi);
  return frame;
}

HWND FormControls::ChildById(int id) const {
  const std::size_t row = RowOfId(id);
  return row < controls_.size() ? controls_[row] : nullptr;
}

SIZE FormControls::MeasureText(HFONT font, std::wstring_view text) const {
  const HDC dc = ::GetDC(form_);
  if (dc == nullptr) ThrowWin32("GetDC");
  const auto release = scope_exit([&] { ::ReleaseDC(form_, dc); });
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
void FormControls::FitLabel(std::size_t row) {
  const HWND label = Child(row);
  const SIZE size = MeasureText(bold_[row] ? bold_font_.get() : regular_font_.get(), WindowText(label));
  Place(label, 0, 0, size.cx, size.cy, SWP_NOMOVE);
  ::InvalidateRect(label, nullptr, TRUE);
}

RECT FormControls::ChildRect(std::size_t row) const {
  RECT rect{};
  if (!::GetWindowRect(Child(row), &rect)) ThrowWin32("GetWindowRect");
  ::SetLastError(0);
  if (::MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&rect), 2) == 0 && ::GetLastError() != 0) {
    ThrowWin32("MapWindowPoints");
  }
  return rect;
}

bool FormControls::PointOnChild(std::size_t row, POINT client_point) const {
  const RECT rect = ChildRect(row);
  return ::PtInRect(&rect, client_point) != FALSE;
}

RECT FormControls::PlannedRect(std::size_t row) const {
  const ControlEntry& frame = kControls[kFrame1Row];
  const ControlEntry& entry = kControls[row];
  const bool in_frame = InFrame(row);
  const int left = Px(entry.left + (in_frame ? frame.left : 0));
  const int top = Px(entry.top + (in_frame ? frame.top : 0));
  return RECT{left, top, left + Px(entry.width), top + Px(entry.height)};
}

void FormControls::ApplyLayout(bool placed) {
  for (std::size_t row = 0; row < kControls.size(); ++row) {
    if (!placed) {
      const RECT place = PlannedRect(row);
      Place(Child(row), place.left, place.top, place.right - place.left, place.bottom - place.top, 0);
    }
    if (kControls[row].auto_size) FitLabel(row);
  }

  // The bottom line: Label3 starts where Label2's blank run starts, and the
  // run is at least as wide as Label3 in bold, so "提供" follows it.
  const int lead_width = static_cast<int>(MeasureText(regular_font_.get(), kLabel2Lead).cx);
  const int label3_width = static_cast<int>(MeasureText(bold_font_.get(), WindowText(Child(kLabel3Row))).cx);
  const int gap = ::MulDiv(2, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
  // Blanks are measured once: as many as Label3 needs, then checked.
  const int blank_width = std::max<int>(1, static_cast<int>(MeasureText(regular_font_.get(), L"          ").cx) / 10);
  const int needed = (label3_width + gap + blank_width - 1) / blank_width;
  std::wstring label2_text(kLabel2Lead);
  label2_text.append(static_cast<std::size_t>(std::clamp(needed, kLabel2MinBlanks, 64)), L' ');
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

  // Label9 stands level with the middle of Combo1's box, whose height
  // follows the font.
  const RECT combo = ChildRect(kCombo1Row);
  const RECT label9 = ChildRect(kLabel9Row);
  Place(Child(kLabel9Row), label9.left, (combo.top + combo.bottom - (label9.bottom - label9.top)) / 2, 0, 0,
        SWP_NOSIZE);

  // The top line: the host follows "Dravimo：" directly.
  const int label5_left = std::max(Px(kControls[kLabel5Row].left), static_cast<int>(ChildRect(kLabel7Row).right));
  Place(Child(kLabel5Row), label5_left, Px(kControls[kLabel5Row].top), 0, 0, SWP_NOSIZE);
}

void FormControls::SetBold(std::size_t label_row, bool bold) {
  if (bold_[label_row] == bold) return;  // already in that font: nothing to redraw
  const HFONT font = bold ? bold_font_.get() : regular_font_.get();
  ::SendMessageW(Child(label_row), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  bold_[label_row] = bold;
  FitLabel(label_row);
}

HBRUSH FormControls::Colour(HDC dc, HWND control) const {
  const std::size_t row = RowOfId(::GetDlgCtrlID(control));
  if (row >= kControls.size() || ::GetParent(control) != form_) return nullptr;
  const COLORREF colour = kControls[row].text_colour;
  ::SetTextColor(dc, colour == kDefaultColour ? ::GetSysColor(COLOR_BTNTEXT) : colour);
  ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
  ::SetBkMode(dc, OPAQUE);
  return face_brush_.get();
}

void FormControls::SystemColoursChanged() {
  UniqueBrush brush(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
  if (brush) face_brush_ = std::move(brush);
}

}  // namespace quenzil
