// The Win32 shell of form1 with the real handlers and scripted transfers:
// layout facts measured in the font in use, the courier group, mouse routing
// over the transparent labels, a DPI change, and the plain list/clipboard/tray
// paths that the end-to-end driver relies on. (Keys go through the real
// dialog manager in the end-to-end suite.)
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/texts.h"
#include "common/utf.h"
#include "fakes.h"
#include "query/carriers.h"
#include "query/couriers.h"
#include "dialog_ids.h"
#include "window/control_ids.h"
#include "window/dialogs_win32.h"
#include "window/form1.h"
#include "window/main_window.h"

namespace quenzil {
namespace {

RECT ClientRectOf(HWND parent, HWND child) {
  RECT rect{};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

int TextWidth(HWND control, const std::wstring& text) {
  const HDC dc = ::GetDC(control);
  const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  return size.cx;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[512] = {};
  ::GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

LPARAM At(POINT point) { return MAKELPARAM(point.x, point.y); }

POINT CentreOf(const RECT& rect) { return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

// Leaves a picture of the window as the screen shows it, for a person.
void SaveScreenshot(HWND window, const std::string& file_name) {
  RECT r{};
  ASSERT_TRUE(::GetWindowRect(window, &r));
  BITMAPINFOHEADER info{sizeof(info), r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  std::string pixels(static_cast<std::size_t>((info.biWidth * 3 + 3) / 4 * 4 * info.biHeight), '\0');
  const HDC screen = ::GetDC(nullptr), memory = ::CreateCompatibleDC(screen);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, info.biWidth, info.biHeight);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  EXPECT_TRUE(::BitBlt(memory, 0, 0, info.biWidth, info.biHeight, screen, r.left, r.top, SRCCOPY));
  ::SelectObject(memory, old);
  EXPECT_EQ(::GetDIBits(memory, bitmap, 0, info.biHeight, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                        DIB_RGB_COLORS), info.biHeight);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  const DWORD head = sizeof(BITMAPFILEHEADER) + sizeof(info);
  const BITMAPFILEHEADER file{0x4D42, head + static_cast<DWORD>(pixels.size()), 0, 0, head};
  std::ofstream(file_name, std::ios::binary).write(reinterpret_cast<const char*>(&file), sizeof(file))
      .write(reinterpret_cast<const char*>(&info), sizeof(info)).write(pixels.data(), pixels.size());
}

// Runs what is queued for this thread the way the program's loop does.
void RunPending(HWND form) {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (::IsDialogMessageW(form, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.Create();
    window_.AttachForm(form_);
    ::ShowWindow(window_.handle(), SW_SHOW);
    ::SetForegroundWindow(window_.handle());
    ::SetFocus(Control(ids::kText2));
    RunPending(window_.handle());
  }

  HWND Control(int id) const { return window_.control(id); }
  RECT Rect(int id) const { return ClientRectOf(window_.handle(), Control(id)); }
  int Px(int twips) const { return ::MulDiv(twips, static_cast<int>(window_.dpi()), 1440); }
  void Post(HWND to, UINT message, WPARAM wparam, LPARAM lparam) {
    ASSERT_TRUE(::PostMessageW(to, message, wparam, lparam));
    RunPending(window_.handle());
  }
  bool IsBold(int id) const {
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Control(id), WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font.lfWeight >= FW_BOLD;
  }

  MainWindow window_{::GetModuleHandleW(nullptr), std::make_shared<OutcomeMailbox>(), "127.0.0.1:2"};
  testing::FakeTransfers transfers_;
  testing::FakeCredentialStore credentials_;
  testing::FakeWatchStore watch_store_;
  testing::FakeHistoryStore history_;
  testing::FakeSettingsStore settings_;
  testing::FakeQueryCounter counter_;
  testing::FakeAutostart autostart_;
  const SystemClock clock_;
  Form1 form_{window_, transfers_, FormStores{credentials_, watch_store_, history_, settings_, counter_, autostart_},
              clock_, DeployHosts{"127.0.0.1:1", "127.0.0.1:1", "127.0.0.1:2", "127.0.0.1:1", "127.0.0.1:1"}};
};

TEST_F(MainWindowTest, TheSystemMenuShowsTheStartAtLoginAndTheLastQueries) {
  HistoryEntry entry;
  entry.number = "YT1234567890";
  entry.carrier = "yuantong";
  entry.first_row = "圆通速递  在途";
  history_.history.entries = {entry};
  autostart_.state = {true, true};
  const HMENU system_menu = ::GetSystemMenu(window_.handle(), FALSE);
  ASSERT_NE(system_menu, nullptr);
  ::SendMessageW(window_.handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(system_menu), MAKELPARAM(0, TRUE));
  EXPECT_NE(::GetMenuState(system_menu, commands::kAutostart, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_NE(::GetMenuState(system_menu, commands::kWatch, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(::GetMenuState(system_menu, commands::kWatchListWindow, MF_BYCOMMAND) & MF_GRAYED, 0u);
  const HMENU recent = ::GetSubMenu(system_menu, ::GetMenuItemCount(system_menu) - 2);
  ASSERT_NE(recent, nullptr);
  ASSERT_EQ(::GetMenuItemCount(recent), 3);  // the entry, a separator, 清除最近查询
  wchar_t text[128] = {};
  ::GetMenuStringW(recent, 0, text, 128, MF_BYPOSITION);
  EXPECT_NE(std::wstring(text).find(L"YT1234567890"), std::wstring::npos);
  EXPECT_EQ(::GetMenuItemID(recent, 2), static_cast<UINT>(commands::kRecentClear));

  // Opened again with the start at login off and nothing in the list.
  autostart_.state = {};
  history_.history.entries.clear();
  ::SendMessageW(window_.handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(system_menu), MAKELPARAM(0, TRUE));
  EXPECT_EQ(::GetMenuState(system_menu, commands::kAutostart, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_EQ(::GetMenuItemCount(recent), 3);  // （无）, a separator, 清除最近查询 (grayed)
  EXPECT_NE(::GetMenuState(recent, commands::kRecentClear, MF_BYCOMMAND) & MF_GRAYED, 0u);
}

TEST_F(MainWindowTest, LayoutHoldsInTheFontInUse) {
  // Set when the suite runs on a scaled screen: the window must follow it.
  if (const char* expected_dpi = std::getenv("QUENZIL_EXPECT_DPI")) {
    EXPECT_EQ(window_.dpi(), std::strtoul(expected_dpi, nullptr, 10));
  }
  RECT client{};
  ::GetClientRect(window_.handle(), &client);
  EXPECT_EQ(client.right, Px(10125));
  EXPECT_EQ(client.bottom, Px(8850));
  EXPECT_EQ(TextOf(window_.handle()), L"");

  // Bottom line: Label3 starts right after "数据由：" and ends before "提供".
  const HWND label2 = Control(ids::kLabel2);
  const std::wstring label2_text = TextOf(label2);
  ASSERT_EQ(label2_text.rfind(L"数据由：        ", 0), 0u);
  ASSERT_EQ(label2_text.substr(label2_text.size() - 2), L"提供");
  const RECT label2_rect = Rect(ids::kLabel2);
  const RECT label3_rect = Rect(ids::kLabel3);
  EXPECT_EQ(label3_rect.left, label2_rect.left + TextWidth(label2, L"数据由："));
  EXPECT_EQ(label3_rect.top, label2_rect.top);
  const int tail_start = label2_rect.left + TextWidth(label2, label2_text.substr(0, label2_text.size() - 2));
  EXPECT_LE(label3_rect.right, tail_start);

  // Label3 lies above Label2 in z-order; the frame is under everything.
  bool label2_below = false;
  for (HWND next = ::GetWindow(Control(ids::kLabel3), GW_HWNDNEXT); next; next = ::GetWindow(next, GW_HWNDNEXT)) {
    label2_below = label2_below || next == label2;
  }
  EXPECT_TRUE(label2_below);
  EXPECT_EQ(::GetWindow(Control(ids::kText2), GW_HWNDLAST), Control(ids::kFrame1));

  // Top line: the host follows "Dravimo：" on the same line.
  const RECT label5_rect = Rect(ids::kLabel5);
  EXPECT_GE(label5_rect.left, Rect(ids::kLabel7).right);
  EXPECT_GE(label5_rect.left, Px(7800));
  EXPECT_EQ(label5_rect.top, Rect(ids::kLabel7).top);
  EXPECT_LE(Rect(ids::kLabel4).right, client.right);

  // Option buttons sit inside the frame, at frame-relative positions.
  EXPECT_EQ(Rect(ids::kYuantong).left, Px(360 + 240));
  EXPECT_EQ(Rect(ids::kYuantong).top, Px(960 + 360));

  // 其他快递公司 has a row of its own in the frame, its label level with it.
  const RECT frame = Rect(ids::kFrame1), combo = Rect(ids::kCombo1), label9 = Rect(ids::kLabel9);
  EXPECT_TRUE(combo.top > Rect(ids::kYuantong).bottom && combo.bottom < frame.bottom - Px(60) &&
              combo.left > label9.right && frame.bottom <= Rect(ids::kChaxun).top);
  EXPECT_LE(std::abs((label9.top + label9.bottom) - (combo.top + combo.bottom)), 1);
  EXPECT_EQ(::SendMessageW(Control(ids::kCombo1), CB_GETCOUNT, 0, 0), static_cast<LRESULT>(OtherCouriers().size()));
  SaveScreenshot(window_.handle(), "layout-" + std::to_string(window_.dpi()) + "dpi.bmp");
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

// Every text whole inside its control, every control inside the dialog, none
// over another, each within or beside a group box but never across one.
void ExpectLaidOut(HWND dialog) {
  RECT client{};
  ::GetClientRect(dialog, &client);
  std::vector<std::pair<HWND, RECT>> controls, groups;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const RECT rect = ClientRectOf(dialog, child);
    const std::wstring text = TextOf(child), kind = ClassOf(child);
    const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE) & 0x0F;
    const bool button = kind == L"Button", group = button && style == BS_GROUPBOX, check = button && style == BS_AUTOCHECKBOX;
    (group ? groups : controls).emplace_back(child, rect);
    EXPECT_TRUE(rect.left >= 0 && rect.top >= 0 && rect.right <= client.right && rect.bottom <= client.bottom)
        << Narrow(text) << " reaches past the dialog";
    if (text.empty() || kind == L"Edit" || kind == L"ComboBox") continue;
    // The room the text has: a button's frame, a check box's box, a group's corners.
    const int margin = check ? ::GetSystemMetrics(SM_CXMENUCHECK) + ::GetSystemMetrics(SM_CXEDGE) * 2
                       : group ? 16 : button ? ::GetSystemMetrics(SM_CXEDGE) * 4 : 0;
    const HDC dc = ::GetDC(child);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
    RECT needed{0, 0, rect.right - rect.left - margin, 0};
    ::DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | (button && !check ? DT_SINGLELINE : DT_WORDBREAK));
    ::SelectObject(dc, old);
    ::ReleaseDC(child, dc);
    EXPECT_TRUE(needed.right <= rect.right - rect.left - margin && (group || needed.bottom <= rect.bottom - rect.top))
        << Narrow(text) << " does not show whole: it needs " << needed.right << "×" << needed.bottom << " px";
  }
  for (std::size_t a = 0; a < controls.size(); ++a) {
    RECT both{};
    for (std::size_t b = a + 1; b < controls.size(); ++b) {
      EXPECT_FALSE(::IntersectRect(&both, &controls[a].second, &controls[b].second))
          << ::GetDlgCtrlID(controls[a].first) << " overlaps " << ::GetDlgCtrlID(controls[b].first);
    }
    for (const auto& [group, frame] : groups) {
      EXPECT_FALSE(::IntersectRect(&both, &controls[a].second, &frame) && !::EqualRect(&both, &controls[a].second))
          << ::GetDlgCtrlID(controls[a].first) << " lies across the group " << Narrow(TextOf(group));
    }
  }
}

std::vector<int> TabOrder(HWND dialog) {
  std::vector<int> order;
  const HWND first = ::GetNextDlgTabItem(dialog, nullptr, FALSE);
  for (HWND at = first; at != nullptr && order.size() < 32; at = ::GetNextDlgTabItem(dialog, at, FALSE)) {
    order.push_back(::GetDlgCtrlID(at));
    if (::GetNextDlgTabItem(dialog, at, FALSE) == first) break;
  }
  return order;
}

bool looked_at_dialog = false;
UINT dialog_dpi = USER_DEFAULT_SCREEN_DPI;  // the main window's

// The dialog is modal: a thread timer looks at it from inside its loop,
// leaves its picture and cancels it.
void CALLBACK LookAtAccountDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND dialog = ::FindWindowW(L"#32770", L"查询服务账号");
  if (dialog == nullptr || !::IsWindowVisible(dialog)) return;
  ::KillTimer(nullptr, timer);
  looked_at_dialog = true;
  ExpectLaidOut(dialog);
  EXPECT_EQ(TabOrder(dialog), (std::vector<int>{QZ_EDIT_CUSTOMER, QZ_EDIT_KEY, QZ_BUTTON_CLEAR_KUAIDI100,
                                                QZ_EDIT_KDNIAO_ID, QZ_EDIT_KDNIAO_KEY, QZ_BUTTON_CLEAR_KDNIAO,
                                                QZ_CHECK_KDNIAO_PAID, QZ_EDIT_APPCODE, QZ_BUTTON_CLEAR_APPCODE,
                                                QZ_LIST_ORDER, QZ_BUTTON_ORDER_UP, QZ_BUTTON_ORDER_DOWN,
                                                QZ_COMBO_REFRESH, IDOK, IDCANCEL}));
  const UINT dpi = dialog_dpi;
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_EQ(font.lfHeight, -::MulDiv(9, static_cast<int>(dpi), 72)) << "the font does not follow the dpi";
  EXPECT_EQ(TextOf(::GetDlgItem(dialog, QZ_EDIT_CUSTOMER)), L"C1");
  EXPECT_EQ(TextOf(::GetDlgItem(dialog, QZ_TEXT_KUAIDI100_COUNT)), L"本月已查询 12 次");
  // A stored secret shows only as the cue; nothing of 快递鸟 is stored.
  for (const auto& [id, cue] : {std::pair{QZ_EDIT_KEY, L"已保存；留空则不变"}, std::pair{QZ_EDIT_KDNIAO_KEY, L""},
                                std::pair{QZ_EDIT_APPCODE, L"已保存；留空则不变"}}) {
    const HWND edit = ::GetDlgItem(dialog, id);
    wchar_t shown[64] = {};
    ::SendMessageW(edit, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(shown), 64);
    EXPECT_EQ(TextOf(edit), L"") << id;
    EXPECT_STREQ(shown, cue) << id;
    EXPECT_NE(::GetWindowLongPtrW(edit, GWL_STYLE) & ES_PASSWORD, 0) << id;
  }
  // Painted before the picture: the timer may come before the first paint.
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SaveScreenshot(dialog, "accounts-" + std::to_string(dpi) + "dpi.bmp");
  ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(MainWindowTest, TheAccountDialogShowsEveryTextWholeAndNoSecret) {
  AccountSettings current;
  current.accounts.kuaidi100 = {"C1", "k100-secret"};
  current.accounts.appcode = {"app-secret"};
  current.queries_this_month = {12, 0, 3};
  dialog_dpi = window_.dpi();
  ASSERT_NE(::SetTimer(nullptr, 0, 50, LookAtAccountDialog), 0u);
  EXPECT_EQ(AskAccountDialog(::GetModuleHandleW(nullptr), window_.handle(), current), std::nullopt);
  EXPECT_TRUE(looked_at_dialog) << "the dialog never showed";
}

TEST_F(MainWindowTest, CouriersAreOneGroupMappedToTheCarrierTable) {
  ::SendMessageW(Control(ids::kShunfeng), BM_CLICK, 0, 0);
  ::SendMessageW(Control(ids::kEms), BM_CLICK, 0, 0);
  for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
    EXPECT_EQ(window_.IsCarrierSelected(row), CarrierTable[row].control_name == "ems") << row;
  }
  window_.SelectCarrier(std::nullopt);
  EXPECT_FALSE(window_.IsCarrierSelected(9));
  // With none selected, Tab still reaches the group at its first button.
  HWND at = Control(ids::kCommand1);
  EXPECT_EQ(::GetNextDlgTabItem(window_.handle(), at, FALSE), Control(ids::kYuantong));
  EXPECT_THROW(window_.IsCarrierSelected(CarrierTable.size()), std::out_of_range);
}

TEST_F(MainWindowTest, ADpiChangeKeepsTheLayoutInTwips) {
  const UINT new_dpi = window_.dpi() == 144 ? 96 : 144;
  SIZE scaled{};
  ASSERT_TRUE(::SendMessageW(window_.handle(), 0x02E4 /* WM_GETDPISCALEDSIZE */, new_dpi,
                             reinterpret_cast<LPARAM>(&scaled)));
  RECT suggested{};
  ::GetWindowRect(window_.handle(), &suggested);
  suggested.right = suggested.left + scaled.cx;
  suggested.bottom = suggested.top + scaled.cy;
  // The size asked for holds the client area in twips at the new DPI, plus
  // a frame.
  const int client_width = ::MulDiv(10125, static_cast<int>(new_dpi), 1440);
  const int client_height = ::MulDiv(8850, static_cast<int>(new_dpi), 1440);
  EXPECT_GT(scaled.cx, client_width);
  EXPECT_LT(scaled.cx, client_width + 64);
  EXPECT_GT(scaled.cy, client_height);
  EXPECT_LT(scaled.cy, client_height + 128);
  ::SendMessageW(window_.handle(), WM_DPICHANGED, MAKEWPARAM(new_dpi, new_dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(window_.dpi(), new_dpi);
  // The frame's own metrics, and where the window manager lets it be, follow
  // the monitor only on a real DPI change: the client is checked through the
  // controls, laid out in twips at the new DPI.
  EXPECT_EQ(Rect(ids::kYuantong).left, Px(360 + 240));
  EXPECT_EQ(Rect(ids::kList1).bottom, Px(2880 + 5460));
  const RECT label2 = Rect(ids::kLabel2);
  EXPECT_EQ(Rect(ids::kLabel3).left, label2.left + TextWidth(Control(ids::kLabel2), L"数据由："));
}

TEST_F(MainWindowTest, PointerOverLinkLabelsMakesThemBoldAndTheBareSurfaceUndoesIt) {
  const RECT regular = Rect(ids::kLabel3);
  Post(window_.handle(), WM_MOUSEMOVE, 0, At(CentreOf(regular)));
  EXPECT_TRUE(IsBold(ids::kLabel3));
  const RECT bold = Rect(ids::kLabel3);
  EXPECT_EQ(bold.left, regular.left);
  EXPECT_EQ(bold.top, regular.top);
  EXPECT_GT(bold.right, regular.right);

  // Over the rest of Label2 nothing happens: Label3 stays bold.
  const RECT label2 = Rect(ids::kLabel2);
  Post(window_.handle(), WM_MOUSEMOVE, 0, At(POINT{label2.left + 2, label2.top + 2}));
  EXPECT_TRUE(IsBold(ids::kLabel3));

  Post(window_.handle(), WM_MOUSEMOVE, 0, At(CentreOf(Rect(ids::kLabel5))));
  EXPECT_TRUE(IsBold(ids::kLabel5));

  Post(window_.handle(), WM_MOUSEMOVE, 0, At(POINT{Px(4500), Px(8700)}));  // bare surface
  EXPECT_FALSE(IsBold(ids::kLabel3));
  EXPECT_FALSE(IsBold(ids::kLabel5));
  EXPECT_EQ(Rect(ids::kLabel3).right, regular.right);
}

TEST_F(MainWindowTest, ALongAnswerFillsTheListWithoutRepaintingEachRow) {
  // 100 000 rows repainted one by one take minutes; batched they take well
  // under a second. The test's own time-out is the bound.
  std::string answer = "<tr><td>时间</td></tr>\n";
  for (int row = 0; row < 100000; ++row) answer += "<td style='padding:3px 5px;'>" + std::to_string(row) + "</td>\n";
  window_.SetNumberText("123");
  ::SendMessageW(Control(ids::kEms), BM_CLICK, 0, 0);
  Post(Control(ids::kChaxun), BM_CLICK, 0, 0);
  ASSERT_EQ(transfers_.started.size(), 1u);
  form_.OnTransferDone(transfers_.Last().id, FetchOutcome::Answered(answer));
  ASSERT_EQ(::SendMessageW(Control(ids::kList1), LB_GETCOUNT, 0, 0), 100000);
  wchar_t last[16] = {};
  ::SendMessageW(Control(ids::kList1), LB_GETTEXT, 99999, reinterpret_cast<LPARAM>(last));
  EXPECT_STREQ(last, L"99999");
}

TEST_F(MainWindowTest, RowsAndClipboardKeepUnicodeText) {
  window_.ClearRows();
  const std::vector<std::string> rows = {"2013-01-20 09:05:07 【上海】已签收", "", "第三行"};
  for (const std::string& row : rows) window_.AppendRow(row);
  EXPECT_EQ(window_.Rows(), rows);

  const auto read_clipboard = [] {
    std::wstring read;
    if (!::OpenClipboard(nullptr)) return read;
    if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT); data != nullptr) {
      read = static_cast<const wchar_t*>(::GlobalLock(data));
      ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return read;
  };
  const std::string text = ClipboardText(rows);
  ASSERT_TRUE(window_.TryPutOnClipboard(text));
  EXPECT_EQ(Narrow(read_clipboard()), text);

  // Held by another program: the attempt fails and the clipboard keeps
  // what the user had there.
  ASSERT_TRUE(window_.TryPutOnClipboard("keep me"));
  HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    const bool opened = ::OpenClipboard(nullptr) != FALSE;
    ::SetEvent(held);
    ::WaitForSingleObject(release, 5000);
    if (opened) ::CloseClipboard();
  });
  ::WaitForSingleObject(held, 5000);
  EXPECT_FALSE(window_.TryPutOnClipboard("new text"));
  ::SetEvent(release);
  holder.join();
  ::CloseHandle(held);
  ::CloseHandle(release);
  EXPECT_EQ(read_clipboard(), L"keep me");
}

TEST_F(MainWindowTest, TimerWritesTheTitleAndTrayPressBringsTheWindowBack) {
  window_.StartTimer();
  const ULONGLONG deadline = ::GetTickCount64() + 3000;
  while (TextOf(window_.handle()).empty() && ::GetTickCount64() < deadline) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    RunPending(window_.handle());
  }
  EXPECT_EQ(Narrow(TextOf(window_.handle())).rfind(kTitlePrefix, 0), 0u);

  form_.Command4_Click();
  EXPECT_FALSE(::IsWindowVisible(window_.handle()));
  Post(window_.handle(), ids::kTrayCallbackMessage, ids::kTrayIconId, WM_MOUSEMOVE);
  EXPECT_FALSE(::IsWindowVisible(window_.handle()));
  Post(window_.handle(), ids::kTrayCallbackMessage, ids::kTrayIconId, WM_LBUTTONDOWN);
  EXPECT_TRUE(::IsWindowVisible(window_.handle()));
}

TEST_F(MainWindowTest, TheListWindowShowsEveryTextWholeAndItsPlacementComesBack) {
  const UnixSeconds now = clock_.Now();
  for (int index = 0; index < 40; ++index) {
    watch_store_.stored.list.parcels.push_back(
        {.number = "YT" + std::to_string(2588814371900 + index), .carrier = index % 2 ? "yuantong" : "zhongtong",
         .note = "店铺" + std::to_string(index), .state = index % 3 ? "0" : "5", .events = {{"2026-12-08 17:30:00",
         "【上海市】快件已到达上海转运中心"}}, .added = now - 600, .last_checked = now - 60, .city = "上海"});
  }
  form_.Form_Load();
  form_.OnTransferDone(transfers_.Last().id, FetchOutcome::Answered("1"));
  const ULONGLONG deadline = ::GetTickCount64() + 3000;
  while (!form_.tracker().loaded() && ::GetTickCount64() < deadline) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    RunPending(window_.handle());
  }
  ASSERT_TRUE(form_.tracker().loaded());
  ASSERT_TRUE(form_.SystemMenu_Click(0x0180));
  RunPending(window_.handle());
  const HWND list_window = ::FindWindowW(L"#32770", L"关注列表");
  ASSERT_NE(list_window, nullptr);
  ASSERT_TRUE(::IsWindowVisible(list_window));
  const HWND list = ::GetDlgItem(list_window, QZ_LIST_PARCELS);
  EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 40);
  EXPECT_EQ(TextOf(::GetDlgItem(list_window, QZ_LIST_FILTER_FIRST)), L"全部（40）");

  ExpectLaidOut(list_window);
  SaveScreenshot(list_window, "list-" + std::to_string(window_.dpi()) + "dpi.bmp");

  // Closed at another size, it comes back at that size in a new run.
  ASSERT_TRUE(::SetWindowPos(list_window, nullptr, 40, 50, 900, 520, SWP_NOZORDER));
  ::SendMessageW(list_window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindowVisible(list_window));
  const std::optional<ListWindowPlacement> kept = ParseListPlacement(settings_.placement);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->x, 40);
  EXPECT_EQ(::MulDiv(kept->width, static_cast<int>(window_.dpi()), 96), 900);
  EXPECT_EQ(kept->column_widths.size(), kColumnCount);
}

}  // namespace
}  // namespace quenzil

// The program links with -municode: the entry is wmain.
int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
