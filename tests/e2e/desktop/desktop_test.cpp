// Desktop scenarios: the account dialog and its storage, keyed queries, the
// watch list with its menus, background refresh and file. Each test starts
// from no stored account, no watch file and no running program.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "desktop_support.h"
#include "dialog_ids.h"
#include "expected_texts.h"
#include "window/control_ids.h"

namespace desk {
namespace {

namespace ids = quenzil::ids;
using e2e::App;
using e2e::Narrow;
using e2e::WaitUntil;
using e2e::Widen;
using nlohmann::json;
using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;
using Rows = std::vector<std::wstring>;
using Events = std::vector<std::pair<std::string, std::string>>;

// The window's menu commands and the icon's messages.
constexpr WPARAM kAccountCommand = 0x0110;
constexpr WPARAM kWatchCommand = 0x0120;
constexpr LPARAM kBalloonClicked = 0x0405;  // NIN_BALLOONUSERCLICK
// The background refresh interval this build was made with.
constexpr auto kInterval = 6s;

const std::wstring kAccountTitle = L"查询服务账号";
const std::wstring kPhoneTitle = L"需要手机号";
const std::wstring kNoteTitle = L"关注此单号";
const std::wstring kListTitle = L"关注列表";
const std::wstring kChooseCarrier = L"请选择快递公司";
const std::wstring kPhoneDigitsWarning = L"请输入手机号码的后四位数字。";
const std::wstring kUnreadableAccount =
    L"保存的查询服务账号无法读取（可能是在其他用户或其他电脑上保存的），读不出的账号本次按未设置处理。"
    L"请在窗口菜单的“查询服务账号…”中重新填写。";
const std::wstring kWatchNeedsRows = L"请先查询出物流信息，再关注此单号。";
const std::wstring kWatchedAlready = L"此单号已在关注列表中。";
const std::wstring kAutostartQuestion = L"要在开机时自动启动本程序，以便在后台继续关注单号吗？";
const std::wstring kWatchFileMovedHead = L"关注列表文件无法读取，已改名保存为：\n";
const std::wstring kWatchFileMovedTail = L"\n关注列表从空开始。";

// The rows List1 shows for an answer: carrier and state, then time and
// context per event, oldest first.
Rows ExpectedRows(const std::wstring& head, const Events& newest_first) {
  Rows rows{head};
  for (auto event = newest_first.rbegin(); event != newest_first.rend(); ++event) {
    rows.push_back(Widen(event->first));
    rows.push_back(Widen(event->second));
  }
  return rows;
}

std::wstring ClipboardOf(const Rows& rows) {
  std::wstring text;
  for (const auto& row : rows) text += row + L"\r\n";
  return text;
}

bool Contains(const std::wstring& text, const std::string& piece) { return text.find(Widen(piece)) != std::wstring::npos; }

class Desktop : public DesktopTest {
 protected:
  // Types the number, selects the carrier (none: 0) and presses 开始查询.
  AssertionResult Query(const std::string& number, int carrier) {
    if (auto typed = app_->TypeNumber(Widen(number)); !typed) return typed;
    if (carrier != 0) {
      if (auto selected = app_->SelectCarrier(carrier); !selected) return selected;
    }
    return app_->Click(ids::kChaxun);
  }

  // Waits until the server has seen the line `count` times.
  AssertionResult WaitForLogLine(const std::string& line, std::size_t count = 1) {
    std::size_t seen = 0;
    if (WaitUntil([&] {
          const auto log = ServerLog();
          seen = static_cast<std::size_t>(std::count(log.begin(), log.end(), line));
          return seen >= count;
        }, 10s, 30ms))
      return AssertionSuccess();
    return AssertionFailure() << "the server saw [" << line << "] " << seen << " times, not " << count;
  }

  // Waits until the dialog's control has the keyboard focus.
  AssertionResult FocusIn(HWND dialog, int id) {
    const HWND item = ::GetDlgItem(dialog, id);
    if (WaitUntil([&] { return app_->FocusedWindow() == item; }, 3s)) return AssertionSuccess();
    return AssertionFailure() << "the focus is on " << ::GetDlgCtrlID(app_->FocusedWindow()) << ", not on " << id;
  }

  // Tabs to the empty number box, types the number and presses 开始查询
  // with Tab and Enter.
  AssertionResult QueryByKeyboard(const std::wstring& number) {
    if (auto front = app_->BringToFront(); !front) return front;
    if (auto tabbed = app_->TabAround(ids::kText2); !tabbed) return tabbed;
    if (auto typed = app_->TypeText(number); !typed) return typed;
    if (!WaitUntil([&] { return app_->Text2() == number; }, 3s)) return AssertionFailure() << "the number is not typed";
    if (auto tabbed = app_->TabAround(ids::kChaxun); !tabbed) return tabbed;
    return app_->PressKey(VK_RETURN);
  }

  HWND OpenListMenu() {
    LetFocusSettle();
    HWND list = app_->Control(ids::kList1);
    if (!PostToForm(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(-1, -1))) return nullptr;
    return WaitForPopupMenu(pid(), 5s);
  }

  AssertionResult HideToTray() {
    if (auto clicked = app_->Click(ids::kCommand4); !clicked) return clicked;
    if (!WaitUntil([&] { return !app_->FormVisible(); }, 3s)) return AssertionFailure() << "the window stays shown";
    return AssertionSuccess();
  }

  // The list window in front with the keys in its list (without a window
  // manager the platform may hand the foreground back to the window that
  // had it, as for the main window).
  AssertionResult ListInFront(HWND list_window) {
    int asked = 0;
    if (!WaitUntil([&] {
          if (::GetForegroundWindow() == list_window) return true;
          if (asked++ % 10 == 0) ::SetForegroundWindow(list_window);
          return false;
        }, 5s)) {
      return AssertionFailure() << "the list window does not come to the front";
    }
    const HWND list = ::GetDlgItem(list_window, QZ_LIST_PARCELS);
    if (!WaitUntil([&] { return app_->FocusedWindow() == list; }, 3s)) {
      return AssertionFailure() << "the focus is on " << ::GetDlgCtrlID(app_->FocusedWindow()) << ", not in the list";
    }
    return AssertionSuccess();
  }

  // 关注列表… from the tray menu: its window, or null.
  HWND OpenListFromTray() {
    HWND menu = OpenTrayMenu();
    if (menu == nullptr || !ChooseMenuItem(menu, 0)) return nullptr;
    return WaitForDialog(kListTitle);
  }

  // 取消关注 in the 关注列表 window, opened from the tray menu: the parcel
  // found by typing its number in the list, Delete, OK; Esc closes it.
  AssertionResult UnwatchInListWindow(const std::wstring& number) {
    HWND list_window = OpenListFromTray();
    if (list_window == nullptr) return AssertionFailure() << "no 关注列表 window; shown: " << Describe(VisibleBoxes(pid()));
    const HWND list = ::GetDlgItem(list_window, QZ_LIST_PARCELS);
    if (auto front = ListInFront(list_window); !front) return front;
    if (auto typed = app_->TypeText(number); !typed) return typed;
    if (!WaitUntil([&] { return ::SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) == 1; }, 3s)) {
      return AssertionFailure() << "typing the number selects no row";
    }
    if (auto pressed = app_->PressKey(VK_DELETE); !pressed) return pressed;
    if (auto confirmed = ExpectBox(e2e::kNoticeTitle, L"取消关注选中的 1 个单号？"); !confirmed) return confirmed;
    if (!WaitUntil([&] { return app_->FocusedWindow() == list; }, 3s)) return AssertionFailure() << "the focus is lost";
    if (auto pressed = app_->PressKey(VK_ESCAPE); !pressed) return pressed;
    if (!WaitUntil([&] { return !::IsWindowVisible(list_window); }, 3s)) return AssertionFailure() << "Esc keeps it open";
    return AssertionSuccess();
  }

  // Fills the 关注此单号 dialog that has just been asked for.
  AssertionResult AnswerNoteDialog(const std::string& number, const std::wstring& note) {
    HWND dialog = WaitForDialog(kNoteTitle);
    if (dialog == nullptr) return AssertionFailure() << "no 关注此单号 dialog; shown: " << Describe(VisibleBoxes(pid()));
    const std::wstring prompt = WindowTextOf(::GetDlgItem(dialog, QZ_TEXT_NOTE_PROMPT));
    if (!Contains(prompt, number)) return AssertionFailure() << "the note prompt [" << Narrow(prompt) << "] lacks the number";
    if (auto set = SetItemText(dialog, QZ_EDIT_NOTE, note); !set) return set;
    if (auto clicked = ClickItem(dialog, IDOK); !clicked) return clicked;
    return WaitGone(dialog);
  }
};

// ---- the account ----------------------------------------------------------------------------

TEST_F(Desktop, AccountIsStoredProtectedUsedAndCleared) {
  ASSERT_TRUE(Start());
  // Without an account, no courier means nothing to ask.
  ASSERT_TRUE(Query("YT0001", 0));
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kChooseCarrier));
  EXPECT_TRUE(LogLinesStartingWith("/autonumber/").empty());

  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAccountCommand, 0));
  HWND dialog = WaitForDialog(kAccountTitle);
  ASSERT_NE(dialog, nullptr) << "no account dialog";
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_CUSTOMER)), L"");
  EXPECT_NE(::GetWindowLongPtrW(::GetDlgItem(dialog, QZ_EDIT_KEY), GWL_STYLE) & ES_PASSWORD, 0)
      << "the key is typed in the clear";
  ASSERT_TRUE(SetItemText(dialog, QZ_EDIT_CUSTOMER, Widen(kCustomer)));
  ASSERT_TRUE(SetItemText(dialog, QZ_EDIT_KEY, Widen(kKey)));
  ASSERT_TRUE(ClickItem(dialog, IDOK));
  ASSERT_TRUE(WaitGone(dialog));

  // Stored once the dialog has closed.
  ASSERT_TRUE(WaitUntil([] { return ReadSetting(L"Customer") && ReadSetting(L"Key"); }, 3s)) << "no account stored";
  const auto customer = ReadSetting(L"Customer");
  ASSERT_TRUE(customer);
  EXPECT_EQ(customer->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(AsText(*customer), Widen(kCustomer));
  const auto key = ReadSetting(L"Key");
  ASSERT_TRUE(key) << "no Key stored";
  EXPECT_EQ(key->type, static_cast<DWORD>(REG_BINARY));
  const std::string stored(key->bytes.begin(), key->bytes.end());
  const std::wstring key16 = Widen(kKey);
  EXPECT_EQ(stored.find(kKey), std::string::npos) << "the key is stored in the clear";
  EXPECT_EQ(stored.find(std::string(reinterpret_cast<const char*>(key16.data()), key16.size() * 2)),
            std::string::npos)
      << "the key is stored in the clear (UTF-16)";
  EXPECT_EQ(Unprotect(key->bytes), std::optional<std::string>(kKey));

  // The account is used at once, without a restart.
  const Events events = {{"2026-12-02 09:00:00", "已签收，签收人：本人"}, {"2026-12-01 18:00:00", "快件已揽收"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:YT0001", "json:" + PollAnswer("yuantong", "YT0001", "3", true, events)));
  ASSERT_TRUE(Query("YT0001", ids::kYuantong));
  EXPECT_TRUE(WaitForLogLine(PollLine("yuantong", "YT0001")));
  const Rows rows = ExpectedRows(L"圆通速递  已签收", events);
  EXPECT_TRUE(app_->WaitForRows(rows, 10s));
  ASSERT_TRUE(app_->Click(ids::kCommand1));
  std::optional<std::wstring> copied;
  EXPECT_TRUE(WaitUntil([&] { return (copied = e2e::ClipboardText()) == ClipboardOf(rows); }, 3s))
      << Narrow(copied.value_or(L"(no text)"));
  for (const auto& text : AllWindowTexts(pid())) EXPECT_FALSE(Contains(text, kKey)) << "a window shows the key";

  // Opened again: the customer is shown, the key only masked; 清除 and 确定 remove both.
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAccountCommand, 0));
  dialog = WaitForDialog(kAccountTitle);
  ASSERT_NE(dialog, nullptr) << "no account dialog the second time";
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_CUSTOMER)), Widen(kCustomer));
  DWORD_PTR mask = 0;
  ::SendMessageTimeoutW(::GetDlgItem(dialog, QZ_EDIT_KEY), EM_GETPASSWORDCHAR, 0, 0, SMTO_ABORTIFHUNG, 3000, &mask);
  EXPECT_NE(mask, 0u) << "the stored key is shown unmasked";
  // Windows keeps a masked edit's text from other programs; where the
  // platform does not, the stored key put back into the dialog is readable.
  if (Contains(WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_KEY)), kKey))
    std::printf("[ note ] another program reads the stored key out of the account dialog's masked edit\n");
  ASSERT_TRUE(ClickItem(dialog, QZ_BUTTON_CLEAR_KUAIDI100));
  EXPECT_TRUE(WaitUntil([&] { return WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_CUSTOMER)).empty(); }, 3s));
  ASSERT_TRUE(ClickItem(dialog, IDOK));
  ASSERT_TRUE(WaitGone(dialog));
  EXPECT_TRUE(WaitUntil([] { return !ReadSetting(L"Customer") && !ReadSetting(L"Key"); }, 3s))
      << "清除 left the account stored";

  // Without the account the old service answers again.
  const std::size_t polls = LogLinesStartingWith("POST /poll/").size();
  ASSERT_TRUE(Query("rows3", ids::kYuantong));
  EXPECT_TRUE(app_->WaitForRows(e2e::kThreeRows, 10s));
  EXPECT_EQ(LogLinesStartingWith("POST /poll/").size(), polls);
  EXPECT_TRUE(NoBoxFor(0ms));
}

TEST_F(Desktop, UndecryptableKeyIsToldOnceAndIgnored) {
  ASSERT_TRUE(StoreRawKey(kCustomer, std::vector<BYTE>(48, 0x5A)));
  ASSERT_TRUE(Start());
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kUnreadableAccount));
  EXPECT_TRUE(NoBoxFor(1500ms)) << "told more than once";
  ASSERT_TRUE(Query("YT0002", 0));
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kChooseCarrier));
  ASSERT_TRUE(Query("rows3", ids::kYuantong));
  EXPECT_TRUE(app_->WaitForRows(e2e::kThreeRows, 10s));
  EXPECT_TRUE(LogLinesStartingWith("POST /poll/").empty()) << "the unreadable account was used";
  EXPECT_TRUE(LogLinesStartingWith("/autonumber/").empty()) << "the unreadable account was used";
  EXPECT_TRUE(NoBoxFor(0ms));
}

// ---- keyed queries ------------------------------------------------------------------------------

TEST_F(Desktop, KeyedQueryShowsRowsAndEachFailureItsWay) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(Start());

  const Events events = {{"2026-12-03 10:15:00", "【上海市】已签收，签收人：前台"},
                         {"2026-12-02 21:40:00", "【上海市】快件已到达 上海转运中心"},
                         {"2026-12-01 18:05:00", "【广州市】快件已揽收"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:YT9001", "json:" + PollAnswer("yuantong", "YT9001", "3", true, events)));
  ASSERT_TRUE(Query("YT9001", ids::kYuantong));
  EXPECT_TRUE(WaitForLogLine(PollLine("yuantong", "YT9001")));
  const Rows rows = ExpectedRows(L"圆通速递  已签收", events);
  EXPECT_TRUE(app_->WaitForRows(rows, 10s));
  EXPECT_TRUE(LogLinesStartingWith("/api").empty()) << "the old service was asked too";
  ASSERT_TRUE(app_->Click(ids::kCommand1));
  std::optional<std::wstring> copied;
  EXPECT_TRUE(WaitUntil([&] { return (copied = e2e::ClipboardText()) == ClipboardOf(rows); }, 3s))
      << Narrow(copied.value_or(L"(no text)"));

  // 500: no result yet is advice in the list, not a box.
  ASSERT_TRUE(Query("ZT9002", ids::kZhongtong));
  EXPECT_TRUE(WaitForLogLine(PollLine("zhongtong", "ZT9002")));
  EXPECT_TRUE(app_->WaitForRows({e2e::kNotRecordedAdvice}, 10s));
  EXPECT_TRUE(NoBoxFor(800ms));

  // 408: the phone's last four digits are asked for, and the query made once more with them.
  const Events sf_events = {{"2026-12-04 07:30:00", "【深圳市】快件已发车"}, {"2026-12-03 20:00:00", "【深圳市】顺丰速运 已收取快件"}};
  ASSERT_TRUE(PutAnswerFile("desk-sf.json", PollAnswer("shunfeng", "SF9003", "0", false, sf_events)));
  ASSERT_TRUE(e2e::SetBehavior("poll:SF9003", "needphone:1234:desk-sf.json"));
  ASSERT_TRUE(Query("SF9003", ids::kShunfeng));
  HWND phone = WaitForDialog(kPhoneTitle);
  ASSERT_NE(phone, nullptr) << "no phone dialog; shown: " << Describe(VisibleBoxes(pid()));
  EXPECT_TRUE(Contains(WindowTextOf(::GetDlgItem(phone, QZ_TEXT_PHONE_PROMPT)), "SF9003"));
  ASSERT_TRUE(SetItemText(phone, QZ_EDIT_PHONE, L"12"));
  ASSERT_TRUE(ClickItem(phone, IDOK));
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kPhoneDigitsWarning));
  ASSERT_TRUE(::IsWindowVisible(phone)) << "two digits closed the phone dialog";
  ASSERT_TRUE(SetItemText(phone, QZ_EDIT_PHONE, L"1234"));
  ASSERT_TRUE(ClickItem(phone, IDOK));
  ASSERT_TRUE(WaitGone(phone));
  EXPECT_TRUE(WaitForLogLine(PollLine("shunfeng", "SF9003", "1234")));
  EXPECT_TRUE(app_->WaitForRows(ExpectedRows(L"顺丰速运  在途", sf_events), 10s));
  EXPECT_EQ(CountPolls("SF9003"), 2u);

  // 503: a wrong key is told in a box that points to the account, and never shown.
  const std::string wrong_key = "wrongkey55501";
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAccountCommand, 0));
  HWND account = WaitForDialog(kAccountTitle);
  ASSERT_NE(account, nullptr);
  ASSERT_TRUE(SetItemText(account, QZ_EDIT_KEY, Widen(wrong_key)));
  ASSERT_TRUE(ClickItem(account, IDOK));
  ASSERT_TRUE(WaitGone(account));
  // (YT9001 itself was answered with rows a moment ago: its kept rows would show.)
  ASSERT_TRUE(Query("YT9004", ids::kYuantong));
  HWND box = app_->WaitForMessageBox(e2e::kFailedTitle, 10s);
  ASSERT_NE(box, nullptr) << "no 查询失败 box; shown: " << Describe(VisibleBoxes(pid()));
  const std::wstring text = App::MessageBoxText(box);
  EXPECT_TRUE(Contains(text, "503") && Contains(text, "查询服务账号")) << Narrow(text);
  EXPECT_FALSE(Contains(text, wrong_key) || Contains(text, kKey)) << Narrow(text);
  EXPECT_TRUE(App::Answer(box, IDOK));
  EXPECT_TRUE(app_->WaitForRows({}, 2s));
  for (const auto& shown : AllWindowTexts(pid())) {
    EXPECT_FALSE(Contains(shown, wrong_key) || Contains(shown, kKey)) << "a window shows the key";
  }
}

// ---- the watch list -------------------------------------------------------------------------------

TEST_F(Desktop, WatchFromTheListAndDriveTheTrayMenu) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kWatchCommand, 0));
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kWatchNeedsRows));

  const Events yt_events = {{"2026-12-06 16:00:00", "已签收"}, {"2026-12-06 08:00:00", "派件中"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:YT6001", "json:" + PollAnswer("yuantong", "YT6001", "3", true, yt_events)));
  ASSERT_TRUE(Query("YT6001", ids::kYuantong));
  const Rows yt_rows = ExpectedRows(L"圆通速递  已签收", yt_events);
  ASSERT_TRUE(app_->WaitForRows(yt_rows, 10s));

  // From the list's menu, with a note.
  HWND menu = OpenListMenu();
  ASSERT_NE(menu, nullptr) << "no menu on the list";
  ExpectMenuTexts(menu, {L"复制快递信息", L"关注此单号"});
  ASSERT_TRUE(ChooseMenuItem(menu, 1));
  ASSERT_TRUE(AnswerNoteDialog("YT6001", L"妈妈的快递"));
  // The first parcel ever watched asks once about starting at login.
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kAutostartQuestion, IDNO));
  ASSERT_TRUE(WaitForWatchFile([](const json& file) { return ParcelIn(file, "YT6001") != nullptr; }, 3s));
  json file;
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_EQ(file.value("version", 0), 1);
  const json* yt = ParcelIn(file, "YT6001");
  ASSERT_NE(yt, nullptr);
  EXPECT_EQ(yt->value("carrier", ""), "yuantong");
  EXPECT_EQ(yt->value("note", ""), "妈妈的快递");
  EXPECT_EQ(yt->value("state", ""), "3");
  EXPECT_EQ(yt->contains("events") ? (*yt)["events"].size() : 0u, 2u);
  EXPECT_TRUE(WaitUntil(e2e::NotificationAreaShown, 3s)) << "no icon while a parcel is watched";
  EXPECT_TRUE(app_->FormVisible());

  // From the system menu, without a note: a parcel that needed the phone keeps it.
  const Events sf_events = {{"2026-12-06 11:00:00", "【深圳市】运输中"}};
  ASSERT_TRUE(PutAnswerFile("desk-sf6002.json", PollAnswer("shunfeng", "SF6002", "0", false, sf_events)));
  ASSERT_TRUE(e2e::SetBehavior("poll:SF6002", "needphone:6789:desk-sf6002.json"));
  ASSERT_TRUE(Query("SF6002", ids::kShunfeng));
  HWND phone = WaitForDialog(kPhoneTitle);
  ASSERT_NE(phone, nullptr) << "no phone dialog";
  ASSERT_TRUE(SetItemText(phone, QZ_EDIT_PHONE, L"6789"));
  ASSERT_TRUE(ClickItem(phone, IDOK));
  ASSERT_TRUE(WaitGone(phone));
  const Rows sf_rows = ExpectedRows(L"顺丰速运  在途", sf_events);
  ASSERT_TRUE(app_->WaitForRows(sf_rows, 10s));
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kWatchCommand, 0));
  ASSERT_TRUE(AnswerNoteDialog("SF6002", L""));
  ASSERT_TRUE(WaitForWatchFile([](const json& f) { return ParcelIn(f, "YT6001") && ParcelIn(f, "SF6002"); }, 3s));
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_EQ(ParcelIn(file, "SF6002")->value("phone", ""), "6789");
  EXPECT_EQ(ParcelIn(file, "SF6002")->value("note", "(none)"), "(none)") << "an empty note is stored";
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kWatchCommand, 0));
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kWatchedAlready));

  // The tray menu: a watched parcel shows its rows in the window.
  ASSERT_TRUE(app_->Click(ids::kCommand2));
  ASSERT_TRUE(HideToTray());
  menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr) << "no tray menu";
  // 关注列表… and the parcels that changed last (either may be first).
  ExpectMenuTexts(menu, {L"关注列表…", L"", L"圆通速递 妈妈的快递 已签收（已签收，不再刷新）", L"顺丰速运 SF6002 在途",
                         L"", L"显示窗口", L"退出"});
  ASSERT_TRUE(ChooseMenuItem(menu, 1));
  EXPECT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s)) << "the window stays hidden";
  // The window shows before it is filled.
  std::optional<std::wstring> shown_number;
  ASSERT_TRUE(WaitUntil([&] {
    shown_number = app_->Text2();
    return shown_number == L"SF6002" || shown_number == L"YT6001";
  }, 3s)) << Narrow(shown_number.value_or(L"?"));
  const bool sf_shown = shown_number == L"SF6002";
  EXPECT_TRUE(WaitUntil([&] { return app_->IsChecked(sf_shown ? ids::kShunfeng : ids::kYuantong); }, 3s));
  EXPECT_TRUE(app_->WaitForRows(sf_shown ? sf_rows : yt_rows, 3s));

  // 取消关注 of the first parcel, in the 关注列表 window.
  ASSERT_TRUE(UnwatchInListWindow(L"YT6001"));
  ASSERT_TRUE(WaitForWatchFile([](const json& f) { return !ParcelIn(f, "YT6001") && ParcelIn(f, "SF6002"); }, 3s));
  EXPECT_TRUE(e2e::NotificationAreaShown()) << "the icon went while a parcel is still watched";

  // Refreshes of the parcel (if one came meanwhile) send the phone too.
  const auto sf_polls = LogLinesStartingWith("POST /poll/query.do com=shunfeng num=SF6002 ");
  EXPECT_EQ(std::count(sf_polls.begin(), sf_polls.end(), PollLine("shunfeng", "SF6002")), 1);

  // 退出 asks first; Cancel keeps the program.
  menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr);
  ExpectMenuTexts(menu, {L"关注列表…", L"", L"顺丰速运 SF6002 在途", L"", L"显示窗口", L"退出"});
  ASSERT_TRUE(ChooseMenuItem(menu, 3));
  EXPECT_TRUE(ExpectBox(e2e::kExitTitle, e2e::kExitPrompt, IDCANCEL));
  EXPECT_TRUE(app_->Running());
  menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(ChooseMenuItem(menu, 3));
  EXPECT_TRUE(ExpectBox(e2e::kExitTitle, e2e::kExitPrompt, IDOK));
  EXPECT_TRUE(app_->WaitForExit(5s)) << "退出 and OK did not end the program";
  EXPECT_TRUE(WaitUntil([] { return !e2e::NotificationAreaShown(); }, 3s)) << "the icon outlives the program";
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_NE(ParcelIn(file, "SF6002"), nullptr);
}

// The companion beside this suite's program.
std::wstring CompanionExe() {
  std::wstring exe = e2e::GetSettings().quenzil_exe;
  return exe.substr(0, exe.size() - std::wstring(L"quenzil.exe").size()) + L"quenzilc.exe";
}

TEST_F(Desktop, TwoHundredParcelsByKeyboardFilledByPastingTheCompanionAndASecondStart) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  const std::wstring off = L"off";
  ASSERT_TRUE(WriteUserValue(L"Software\\Dravimo\\Quenzil", L"AutoRefresh", REG_SZ,
                             std::vector<BYTE>(reinterpret_cast<const BYTE*>(off.c_str()),
                                               reinterpret_cast<const BYTE*>(off.c_str() + off.size() + 1))));
  // 200 parcels: 10 put away, 40 out for delivery, 150 on their way.
  json parcels = json::array();
  for (int index = 0; index < 200; ++index) {
    char number[32];
    std::snprintf(number, sizeof number, "YT25888143%05d", index * 7919 % 100000);
    json parcel = {{"number", number}, {"carrier", "yuantong"}, {"note", "店铺" + std::to_string(index)},
                   {"state", index < 10 ? "3" : index < 50 ? "5" : "0"}, {"added", "2026-12-01T00:00:00Z"},
                   {"last_checked", "2026-12-08T00:00:00Z"}};
    if (index < 10) parcel.update({{"signed", true}, {"put_away", "2026-12-05T00:00:00Z"}});
    parcels.push_back(parcel);
  }
  ASSERT_TRUE(WriteBytes(WatchFilePath(), json{{"version", 1}, {"parcels", parcels}}.dump()));
  ASSERT_TRUE(Start());

  const HWND list_window = OpenListFromTray();
  ASSERT_NE(list_window, nullptr) << "no 关注列表 window";
  const HWND list = ::GetDlgItem(list_window, QZ_LIST_PARCELS);
  const auto rows = [&] { return ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0); };
  const auto focus_on = [&](HWND wanted) { return WaitUntil([&] { return app_->FocusedWindow() == wanted; }, 3s); };
  ASSERT_TRUE(WaitUntil([&] { return rows() == 190; }, 5s)) << rows() << " rows: the put away are under 已完成";
  EXPECT_EQ(WindowTextOf(::GetDlgItem(list_window, QZ_LIST_FILTER_FIRST + 6)), L"已完成（10）");

  // Filter: Shift+Tab to the filter buttons, → to 运输中.
  ASSERT_TRUE(ListInFront(list_window));
  ASSERT_TRUE(app_->PressKey(VK_TAB, true));
  ASSERT_TRUE(focus_on(::GetDlgItem(list_window, QZ_LIST_FILTER_FIRST)));
  ASSERT_TRUE(app_->PressKey(VK_RIGHT));
  EXPECT_TRUE(WaitUntil([&] { return rows() == 150; }, 3s)) << rows();

  // Sort: the list's menu by Shift+F10, 排序方式 ▸ 单号.
  ASSERT_TRUE(app_->PressKey(VK_TAB));
  ASSERT_TRUE(focus_on(list));
  ASSERT_TRUE(app_->PressKey(VK_F10, true));
  HWND menu = WaitForPopupMenu(pid(), 5s);
  ASSERT_NE(menu, nullptr) << "Shift+F10 opens no menu";
  ASSERT_TRUE(ChooseMenuItem(menu, 7, 1));
  // Every row, then 复制 from the same menu: the numbers in their order.
  ASSERT_TRUE(app_->PressKey(VK_HOME));
  ASSERT_TRUE(app_->PressKey(VK_END, true));
  ASSERT_TRUE(WaitUntil([&] { return ::SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) == 150; }, 3s));
  ASSERT_TRUE(app_->PressKey(VK_F10, true));
  menu = WaitForPopupMenu(pid(), 5s);
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(ChooseMenuItem(menu, 2));
  std::vector<std::wstring> numbers;
  ASSERT_TRUE(WaitUntil([&] {
    const auto text = e2e::ClipboardText();
    numbers.clear();
    for (std::size_t from = text ? text->find(L"\r\n") : std::wstring::npos; from != std::wstring::npos;) {
      const std::size_t end = text->find(L"\r\n", from + 2);
      if (end == std::wstring::npos) break;
      const std::wstring line = text->substr(from + 2, end - from - 2);
      const std::size_t tab = line.find(L'\t');
      numbers.push_back(line.substr(tab + 1, line.find(L'\t', tab + 1) - tab - 1));
      from = end;
    }
    return numbers.size() == 150;
  }, 3s)) << numbers.size() << " rows copied";
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));

  // Remove: the first three rows, Delete, OK.
  ASSERT_TRUE(app_->PressKey(VK_HOME));
  ASSERT_TRUE(app_->PressKey(VK_DOWN, true));
  ASSERT_TRUE(app_->PressKey(VK_DOWN, true));
  ASSERT_TRUE(WaitUntil([&] { return ::SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) == 3; }, 3s));
  ASSERT_TRUE(app_->PressKey(VK_DELETE));
  ASSERT_TRUE(ExpectBox(e2e::kNoticeTitle, L"取消关注选中的 3 个单号？"));
  EXPECT_TRUE(WaitUntil([&] { return rows() == 147; }, 3s)) << rows();
  ASSERT_TRUE(WaitForWatchFile([&](const json& f) {
    return f["parcels"].size() == 197 && !ParcelIn(f, Narrow(numbers[0])) && !ParcelIn(f, Narrow(numbers[2]));
  }, 3s));
  e2e::TakeScreenshot("desktop-list-200");

  // 批量添加 by its mnemonic: a number with its note, and a line that is
  // none, which stays in the box.
  ASSERT_TRUE(app_->PressAlt('A'));
  const HWND bulk = WaitForDialog(L"批量添加");
  ASSERT_NE(bulk, nullptr) << "no 批量添加 dialog";
  ASSERT_TRUE(FocusIn(bulk, QZ_EDIT_BULK));
  for (const wchar_t* line : {L"YT2588814371952 妈妈的快递", L"not-a-number"}) {
    ASSERT_TRUE(app_->TypeText(line));
    ASSERT_TRUE(app_->PressKey(VK_RETURN));
  }
  EXPECT_TRUE(WaitUntil([&] { return ::SendMessageW(::GetDlgItem(bulk, QZ_LIST_BULK_PREVIEW), LVM_GETITEMCOUNT, 0, 0) == 2; }, 3s));
  ASSERT_TRUE(app_->PressAlt('A'));
  EXPECT_TRUE(WaitUntil([&] { return WindowTextOf(::GetDlgItem(bulk, QZ_EDIT_BULK)) == L"not-a-number\r\n"; }, 3s))
      << Narrow(WindowTextOf(::GetDlgItem(bulk, QZ_EDIT_BULK)));
  ASSERT_TRUE(app_->PressKey(VK_ESCAPE));
  ASSERT_TRUE(WaitGone(bulk));
  EXPECT_TRUE(WaitUntil([&] { return rows() == 148; }, 3s)) << rows();

  // A sheet as Excel saves it on a Chinese Windows (GBK), and one number,
  // through the companion: both reach the open list within 2 s.
  const std::wstring sheet_text = L"快递单号,快递公司,备注\r\nJT5261988016578,极兔,周末取\r\n";
  std::string gbk(sheet_text.size() * 2, '\0');
  gbk.resize(static_cast<std::size_t>(::WideCharToMultiByte(936, 0, sheet_text.c_str(), static_cast<int>(sheet_text.size()),
                                                             gbk.data(), static_cast<int>(gbk.size()), nullptr, nullptr)));
  const std::wstring sheet = WatchFolder() + L"\\单号.csv";
  ASSERT_TRUE(WriteBytes(sheet, gbk));
  const Ran imported = RunConsole(CompanionExe(), {"--import", Narrow(sheet)});
  EXPECT_EQ(imported.code, 0u) << imported.out << imported.err;
  EXPECT_NE(imported.out.find("已加入"), std::string::npos) << imported.out;
  EXPECT_TRUE(WaitUntil([&] { return rows() == 149; }, 2s)) << rows();
  const Ran watched = RunConsole(CompanionExe(), {"--watch", "75312098764412", "--courier", "中通", "--note", "书"});
  EXPECT_EQ(watched.code, 0u) << watched.out << watched.err;
  EXPECT_TRUE(WaitUntil([&] { return rows() == 150; }, 2s)) << rows();
  json file;
  ASSERT_TRUE(ReadWatchFile(file));
  for (const auto& [number, note] : {std::pair{"YT2588814371952", "妈妈的快递"}, {"JT5261988016578", "周末取"},
                                     {"75312098764412", "书"}}) {
    ASSERT_NE(ParcelIn(file, number), nullptr) << number;
    EXPECT_EQ(ParcelIn(file, number)->value("note", ""), note);
  }

  // Closed, a second start with /list brings it back.
  ASSERT_TRUE(app_->PressKey(VK_ESCAPE));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(list_window); }, 3s));
  auto second = App::Launch(true, L"/list");
  ASSERT_TRUE(second->WaitForExit(10s)) << "the second start stays";
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(list_window) != FALSE; }, 5s)) << "/list did not show it";
}

TEST_F(Desktop, BackgroundRefreshTellsOnlyOfChanges) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  // Written by hand: number and carrier only, and fields this program does not know.
  ASSERT_TRUE(WriteBytes(WatchFilePath(),
                         R"({"version":1,"owner":"keep me","parcels":[{"number":"ZT5001","carrier":"zhongtong","colour":"blue"}]})"));
  const Events first = {{"2026-12-07 08:00:00", "【杭州市】快件已揽收"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT5001", "json:" + PollAnswer("zhongtong", "ZT5001", "0", false, first)));
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(Start());

  // The first fetch fills the entry at once and keeps the unknown fields.
  ASSERT_TRUE(WaitForWatchFile([](const json& f) {
    const json* parcel = ParcelIn(f, "ZT5001");
    return parcel != nullptr && parcel->contains("events") && (*parcel)["events"].size() == 1;
  }, 5s));
  json file;
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_EQ(file.value("owner", ""), "keep me");
  EXPECT_EQ(ParcelIn(file, "ZT5001")->value("colour", ""), "blue");
  EXPECT_EQ(CountPolls("ZT5001"), 1u);
  EXPECT_TRUE(e2e::NotificationAreaShown());
  // The first fetch is no news: a click where a balloon would be only shows the window.
  ASSERT_TRUE(HideToTray());
  ASSERT_TRUE(PostToForm(ids::kTrayCallbackMessage, ids::kTrayIconId, kBalloonClicked));
  ASSERT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s));
  EXPECT_EQ(app_->Text2(), L"");
  EXPECT_TRUE(app_->WaitForRows({e2e::kPlaceholder}, 1s));

  // A new event on the service: taken in within two intervals, one request each time, no box.
  const Events second = {{"2026-12-07 15:30:00", "【上海市】派件中，派件员：小王"}, first.front()};
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT5001", "json:" + PollAnswer("zhongtong", "ZT5001", "5", false, second)));
  ASSERT_TRUE(HideToTray());
  EXPECT_TRUE(WaitForWatchFile([](const json& f) {
    const json* parcel = ParcelIn(f, "ZT5001");
    return parcel != nullptr && parcel->value("state", "") == "5" && (*parcel)["events"].size() == 2;
  }, 2 * kInterval + 3s));
  e2e::TakeScreenshot("desktop-balloon");
  EXPECT_TRUE(NoBoxFor(0ms));
  const auto elapsed = std::chrono::steady_clock::now() - started;
  const auto allowed = static_cast<std::size_t>(elapsed / kInterval) + 2;
  EXPECT_LE(CountPolls("ZT5001"), allowed) << "refreshed more often than the interval allows";
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_EQ(file.value("owner", ""), "keep me");
  EXPECT_EQ(ParcelIn(file, "ZT5001")->value("colour", ""), "blue");

  // A click on the notification shows that parcel.
  ASSERT_TRUE(PostToForm(ids::kTrayCallbackMessage, ids::kTrayIconId, kBalloonClicked));
  EXPECT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s)) << "the window stays hidden";
  // The window shows before it is filled.
  EXPECT_TRUE(WaitUntil([&] { return app_->Text2() == L"ZT5001"; }, 3s)) << Narrow(app_->Text2().value_or(L"?"));
  EXPECT_TRUE(WaitUntil([&] { return app_->IsChecked(ids::kZhongtong); }, 3s));
  EXPECT_TRUE(app_->WaitForRows(ExpectedRows(L"中通快递  派件", second), 3s));
  EXPECT_TRUE(NoBoxFor(0ms));

  // Nothing watched any more: the icon goes, though the window is shown.
  ASSERT_TRUE(UnwatchInListWindow(L"ZT5001"));
  EXPECT_TRUE(WaitForWatchFile([](const json& f) { return f.contains("parcels") && f["parcels"].empty(); }, 3s));
  EXPECT_TRUE(WaitUntil([] { return !e2e::NotificationAreaShown(); }, 3s)) << "the icon stays with nothing watched";
  EXPECT_TRUE(app_->FormVisible());
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_EQ(file.value("owner", ""), "keep me");
}

TEST_F(Desktop, UnreadableWatchFileIsKeptAsideAndToldOnce) {
  const std::string garbage = "{\"version\":1,\"parcels\":[{\"number\":\"ZT1\" <- cut here";
  ASSERT_TRUE(WriteBytes(WatchFilePath(), garbage));
  ASSERT_TRUE(Start());
  HWND box = app_->WaitForMessageBox(e2e::kNoticeTitle, 10s);
  ASSERT_NE(box, nullptr) << "the unreadable watch file was not told";
  const std::wstring text = App::MessageBoxText(box);
  ASSERT_EQ(text.rfind(kWatchFileMovedHead, 0), 0u) << Narrow(text);
  ASSERT_GT(text.size(), kWatchFileMovedHead.size() + kWatchFileMovedTail.size());
  ASSERT_EQ(text.substr(text.size() - kWatchFileMovedTail.size()), kWatchFileMovedTail) << Narrow(text);
  const std::wstring aside =
      text.substr(kWatchFileMovedHead.size(), text.size() - kWatchFileMovedHead.size() - kWatchFileMovedTail.size());
  EXPECT_EQ(ReadBytes(aside), std::optional<std::string>(garbage)) << "not kept at " << Narrow(aside);
  EXPECT_EQ(aside.rfind(WatchFolder() + L"\\", 0), 0u) << Narrow(aside);
  EXPECT_FALSE(ReadBytes(WatchFilePath())) << "watch.json is still there";
  ASSERT_TRUE(App::Answer(box, IDOK));
  EXPECT_TRUE(NoBoxFor(1500ms));

  // The next start finds nothing to complain about, and the kept file stays.
  app_.reset();
  ASSERT_TRUE(Start());
  EXPECT_TRUE(NoBoxFor(1500ms));
  EXPECT_EQ(ReadBytes(aside), std::optional<std::string>(garbage));
}

// ---- spending little -------------------------------------------------------------------------------

TEST_F(Desktop, ATrialAccountFindsTheCourierByTheNumberAndAsksDetectionOnce) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(Start());
  const Events events = {{"2026-12-08 09:00:00", "派件中"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:JT5261988016578", "json:" + PollAnswer("jtexpress", "JT5261988016578", "5", false, events)));
  ASSERT_TRUE(Query("JT5261988016578", 0));  // its letters name the courier
  ASSERT_TRUE(app_->WaitForRows(ExpectedRows(L"极兔速递  派件", events), 10s));
  EXPECT_EQ(WindowTextOf(app_->Control(ids::kCombo1)), L"极兔速递");

  // Many couriers' shape: detection refuses (never told, not asked again); the likeliest two are asked.
  ASSERT_TRUE(e2e::SetBehavior("detect:1100123456789",
      R"(json:{"result":false,"returnCode":"601","message":"未开通智能单号识别接口。正式充值查询与订阅的套餐后,即可开通"})"));
  ASSERT_TRUE(e2e::SetBehavior("poll:youzhengguonei:1100123456789",
                               "json:" + PollAnswer("youzhengguonei", "1100123456789", "0", false, events)));
  ASSERT_TRUE(Query("1100123456789", 0));
  ASSERT_TRUE(app_->WaitForRows(ExpectedRows(L"邮政快递包裹  在途", events), 10s));
  EXPECT_EQ(WindowTextOf(app_->Control(ids::kCombo1)), L"邮政快递包裹");
  ASSERT_TRUE(Query("1200123456789", 0));
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, kChooseCarrier + L"\n\n已按单号试查：邮政快递包裹、韵达快递，都没有查询结果。"));
  EXPECT_EQ(LogLinesStartingWith("/autonumber/"), std::vector<std::string>{"/autonumber/auto?num=1100123456789&key=***"});
  EXPECT_EQ(LogLinesStartingWith("POST"), (std::vector<std::string>{PollLine("jtexpress", "JT5261988016578"),
      PollLine("ems", "1100123456789"), PollLine("youzhengguonei", "1100123456789"),
      PollLine("youzhengguonei", "1200123456789"), PollLine("yunda", "1200123456789")}));
  EXPECT_TRUE(ReadSetting(L"DetectionRefused"));
}

// The keyed requests the registry has counted this month.
std::optional<DWORD> QueriesCounted() {
  const auto count = ReadSetting(L"QueryCount");
  if (!count || count->type != REG_DWORD || count->bytes.size() != sizeof(DWORD)) return std::nullopt;
  DWORD value = 0;
  std::memcpy(&value, count->bytes.data(), sizeof value);
  return value;
}

TEST_F(Desktop, AnsweredNumbersAreNotSentAgainAndEveryRequestIsCounted) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(Start());
  const Events events = {{"2026-12-08 09:10:00", "【上海市】快件已到达 上海转运中心"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:YT7001", "json:" + PollAnswer("yuantong", "YT7001", "0", false, events)));
  ASSERT_TRUE(e2e::SetBehavior("detect:YT7001", R"(json:[{"comCode":"yuantong","name":"圆通速递"}])"));
  ASSERT_TRUE(Query("YT7001", 0));  // detected, then asked
  Rows rows = ExpectedRows(L"圆通速递  在途", events);
  ASSERT_TRUE(app_->WaitForRows(rows, 10s));
  // Pressed again, three times, and Enter held on the button: the kept rows, nothing sent.
  for (int press = 0; press < 3; ++press) ASSERT_TRUE(app_->Click(ids::kChaxun));
  ASSERT_TRUE(app_->BringToFront());
  ASSERT_TRUE(app_->TabAround(ids::kChaxun));
  ASSERT_TRUE(app_->HoldKey(VK_RETURN, 1500ms));
  rows.front() += L"（刚刚查询）";
  EXPECT_TRUE(app_->WaitForRows(rows, 5s));
  EXPECT_EQ(CountPolls("YT7001"), 1u);
  EXPECT_EQ(LogLinesStartingWith("/autonumber/").size(), 1u);
  EXPECT_EQ(QueriesCounted(), std::optional<DWORD>(2));

  // A proxy's 407 page is a failure, never rows; failures start no guard.
  ASSERT_TRUE(PutAnswerFile("desk-407.html", "<html>Proxy Authentication Required</html>"));
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT7002", "status:407:desk-407.html"));
  ASSERT_TRUE(Query("ZT7002", ids::kZhongtong));
  HWND box = app_->WaitForMessageBox(e2e::kFailedTitle, 10s);
  ASSERT_NE(box, nullptr) << "no 查询失败 box; shown: " << Describe(VisibleBoxes(pid()));
  EXPECT_TRUE(Contains(App::MessageBoxText(box), "HTTP 407")) << Narrow(App::MessageBoxText(box));
  ASSERT_TRUE(App::Answer(box, IDOK));
  EXPECT_TRUE(app_->WaitForRows({}, 2s));
  ASSERT_TRUE(Query("ZT7002", ids::kZhongtong));
  EXPECT_TRUE(WaitForLogLine(PollLine("zhongtong", "ZT7002"), 2));
  EXPECT_TRUE(App::Answer(app_->WaitForMessageBox(e2e::kFailedTitle, 10s), IDOK));

  // The month's count in the account dialog, as the registry keeps it.
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAccountCommand, 0));
  HWND dialog = WaitForDialog(kAccountTitle);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_TEXT_KUAIDI100_COUNT)), L"本月已查询 4 次");
  EXPECT_EQ(QueriesCounted(), std::optional<DWORD>(4));
  // 自动刷新 ▸ 每小时, kept in the registry.
  HWND refresh = ::GetDlgItem(dialog, QZ_COMBO_REFRESH);
  EXPECT_EQ(::SendMessageW(refresh, CB_GETCURSEL, 0, 0), 0) << "智能 is the default";
  ASSERT_NE(::SendMessageW(refresh, CB_SETCURSEL, 1, 0), CB_ERR);
  ASSERT_TRUE(ClickItem(dialog, IDOK));
  ASSERT_TRUE(WaitGone(dialog));
  EXPECT_TRUE(WaitUntil([] {
    const auto mode = ReadSetting(L"AutoRefresh");
    return mode && mode->type == REG_SZ && AsText(*mode) == L"hourly";
  }, 3s)) << "每小时 is not kept";
}

TEST_F(Desktop, BackgroundFailuresStayWithTheirParcel) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(WriteBytes(WatchFilePath(), R"({"version":1,"parcels":[
    {"number":"ZT8001","carrier":"zhongtong"},
    {"number":"ZT8002","carrier":"zhongtong"},
    {"number":"SF8003","carrier":"shunfeng"}]})"));
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT8001", "json:" + PollAnswer("zhongtong", "ZT8001", "0", false,
                                                                     {{"2026-12-08 08:00:00", "已揽收"}})));
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT8002", "reset"));
  ASSERT_TRUE(PutAnswerFile("desk-sf8003.json", PollAnswer("shunfeng", "SF8003", "0", false, {{"2026-12-08 08:00:00", "已收件"}})));
  ASSERT_TRUE(e2e::SetBehavior("poll:SF8003", "needphone:4321:desk-sf8003.json"));
  ASSERT_TRUE(Start());
  // The connection cut for one parcel holds back only that parcel; the one
  // that needs the phone's digits is asked once and then waits for them.
  EXPECT_TRUE(WaitUntil([] { return CountPolls("ZT8001") >= 3; }, 40s)) << "the healthy parcel starves";
  EXPECT_LE(CountPolls("ZT8002"), 5u);
  EXPECT_EQ(CountPolls("SF8003"), 1u);
  EXPECT_TRUE(NoBoxFor(0ms)) << "background work raised a box";
  json file;
  ASSERT_TRUE(WaitForWatchFile([](const json& f) {
    const json* sf = ParcelIn(f, "SF8003");
    return sf != nullptr && sf->value("needs_phone", false);
  }, 5s));
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_GE(ParcelIn(file, "ZT8002")->value("failures", 0), 1);

  // The digits typed in a query of it go with every later refresh.
  ASSERT_TRUE(Query("SF8003", ids::kShunfeng));
  HWND phone = WaitForDialog(kPhoneTitle);
  ASSERT_NE(phone, nullptr) << "no phone dialog";
  ASSERT_TRUE(SetItemText(phone, QZ_EDIT_PHONE, L"4321"));
  ASSERT_TRUE(ClickItem(phone, IDOK));
  ASSERT_TRUE(WaitGone(phone));
  EXPECT_TRUE(WaitForWatchFile([](const json& f) {
    const json* sf = ParcelIn(f, "SF8003");
    return sf != nullptr && sf->value("phone", "") == "4321" && !sf->value("needs_phone", false);
  }, 5s));
  const std::string with_digits = PollLine("shunfeng", "SF8003", "4321");
  EXPECT_TRUE(WaitUntil([&] {
    const auto log = ServerLog();
    return std::count(log.begin(), log.end(), with_digits) >= 2;
  }, 25s)) << "not refreshed with the digits";
}

TEST_F(Desktop, ASpentAccountPausesBackgroundRefreshWithoutABox) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(WriteBytes(WatchFilePath(), R"({"version":1,"parcels":[
    {"number":"YT9101","carrier":"yuantong"},{"number":"YT9102","carrier":"yuantong"}]})"));
  const std::string spent = R"(json:{"result":false,"returnCode":"601","message":"key已过期"})";
  ASSERT_TRUE(e2e::SetBehavior("poll:YT9101", spent));
  ASSERT_TRUE(e2e::SetBehavior("poll:YT9102", spent));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitUntil([] { return ReadSetting(L"RefreshPaused").has_value(); }, 10s)) << "not paused";
  const std::size_t asked = CountPolls("YT9101") + CountPolls("YT9102");
  EXPECT_EQ(asked, 1u);
  EXPECT_TRUE(NoBoxFor(2 * kInterval)) << "background work raised a box";
  EXPECT_EQ(CountPolls("YT9101") + CountPolls("YT9102"), asked) << "refreshed while paused";

  // A query by hand still tells its failure; one that gets rows lifts the pause.
  ASSERT_TRUE(Query("YT9101", ids::kYuantong));
  EXPECT_TRUE(ExpectBox(e2e::kFailedTitle,
                        L"key已过期（601）\n授权key已过期或查询额度已用完，请在窗口系统菜单的“查询服务账号…”中检查快递100的授权。"));
  ASSERT_TRUE(e2e::SetBehavior("poll:YT9102", "json:" + PollAnswer("yuantong", "YT9102", "0", false,
                                                                     {{"2026-12-08 08:00:00", "已揽收"}})));
  ASSERT_TRUE(e2e::SetBehavior("poll:YT9101", "json:" + PollAnswer("yuantong", "YT9101", "0", false,
                                                                     {{"2026-12-08 08:00:00", "已揽收"}})));
  const std::size_t asked_by_hand = CountPolls("YT9101") + 1;
  const std::size_t other = CountPolls("YT9102");
  ASSERT_TRUE(Query("YT9101", ids::kYuantong));
  ASSERT_TRUE(app_->WaitForRows(ExpectedRows(L"圆通速递  在途", {{"2026-12-08 08:00:00", "已揽收"}}), 10s));
  EXPECT_TRUE(WaitUntil([] {
    const auto paused = ReadSetting(L"RefreshPaused");
    return paused && paused->bytes.size() == 4 && paused->bytes[0] == 0;
  }, 3s)) << "still paused";
  // Refresh goes on with the parcel still due, not with the one just answered.
  EXPECT_TRUE(WaitUntil([&] { return CountPolls("YT9102") > other; }, 10s)) << "refresh did not go on";
  EXPECT_EQ(CountPolls("YT9101"), asked_by_hand) << "the number just answered was sent again";
}

// ---- the other services ------------------------------------------------------------------------------

TEST_F(Desktop, KdniaoAloneThenAppCodeInItsPlaceByKeyboard) {
  ASSERT_TRUE(StoreKdniaoAccount(kKdniaoId, kKdniaoKey));
  ASSERT_TRUE(Start());
  // Its letters name the courier: 快递鸟 is asked for 圆通 at once, and says so in the first row.
  const Events yt = {{"2026-12-08 14:00:00", "【杭州市】快件已到达 杭州转运中心"}, {"2026-12-08 08:00:00", "【上海市】已揽收"}};
  ASSERT_TRUE(e2e::SetBehavior("kdniao:YT7101000000001", "json:" + KdniaoAnswer("YTO", "YT7101000000001", "2", yt)));
  ASSERT_TRUE(QueryByKeyboard(L"YT7101000000001"));
  EXPECT_TRUE(app_->WaitForRows(ExpectedRows(L"圆通速递  在途（快递鸟）", yt), 10s));
  EXPECT_TRUE(app_->IsChecked(ids::kYuantong));
  EXPECT_EQ(LogLinesStartingWith("POST "), std::vector<std::string>{KdniaoLine("1002", "YTO", "YT7101000000001")});
  EXPECT_EQ(DwordSetting(L"KdniaoCount"), std::optional<DWORD>(1));

  // The dialog: Esc leaves everything as it was.
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAccountCommand, 0));
  HWND dialog = WaitForDialog(kAccountTitle);
  ASSERT_NE(dialog, nullptr) << "no account dialog";
  ASSERT_TRUE(FocusIn(dialog, QZ_EDIT_CUSTOMER));
  ASSERT_TRUE(app_->PressKey(VK_ESCAPE));
  ASSERT_TRUE(WaitGone(dialog));
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAccountCommand, 0));
  dialog = WaitForDialog(kAccountTitle);
  ASSERT_NE(dialog, nullptr) << "no account dialog the second time";
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_KDNIAO_ID)), Widen(kKdniaoId));
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_KDNIAO_KEY)), L"") << "the stored key is put back";
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_TEXT_KDNIAO_COUNT)), L"本月已查询 1 次");
  e2e::TakeScreenshot("desktop-accounts-dialog");

  // 清除 by its mnemonic empties 快递鸟's boxes; half an account typed
  // then is refused, and the dialog keeps what was typed.
  ASSERT_TRUE(app_->PressAlt('2'));
  ASSERT_TRUE(FocusIn(dialog, QZ_EDIT_KDNIAO_ID));
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_KDNIAO_ID)), L"");
  ASSERT_TRUE(app_->TypeText(L"1900009"));
  ASSERT_TRUE(app_->PressKey(VK_RETURN));
  EXPECT_TRUE(ExpectBox(e2e::kNoticeTitle, L"请把快递鸟的用户ID和API key都填上；不用快递鸟时，请按它旁边的“清除”。"));
  ASSERT_TRUE(FocusIn(dialog, QZ_EDIT_KDNIAO_KEY));
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, QZ_EDIT_KDNIAO_ID)), L"1900009");
  ASSERT_TRUE(app_->PressAlt('2'));

  // An AppCode instead, asked first: moved up twice in 查询顺序, then Enter from the list is 确定.
  ASSERT_TRUE(app_->PressAlt('O'));
  ASSERT_TRUE(FocusIn(dialog, QZ_EDIT_APPCODE));
  ASSERT_TRUE(app_->TypeText(Widen(kAppCode)));
  ASSERT_TRUE(app_->PressAlt('S'));
  ASSERT_TRUE(FocusIn(dialog, QZ_LIST_ORDER));
  ASSERT_TRUE(app_->PressKey(VK_END));
  ASSERT_TRUE(app_->PressAlt('U'));
  ASSERT_TRUE(app_->PressAlt('U'));
  const HWND order = ::GetDlgItem(dialog, QZ_LIST_ORDER);
  EXPECT_TRUE(WaitUntil([&] { return ::SendMessageW(order, LB_GETCURSEL, 0, 0) == 0; }, 3s)) << "AppCode is not first";
  ASSERT_TRUE(app_->PressAlt('S'));
  ASSERT_TRUE(FocusIn(dialog, QZ_LIST_ORDER));
  ASSERT_TRUE(app_->PressKey(VK_RETURN));
  ASSERT_TRUE(WaitGone(dialog));
  ASSERT_TRUE(WaitUntil([] { return ReadSetting(L"AppCode") && !ReadSetting(L"KdniaoId"); }, 3s))
      << "the accounts are not stored as entered";
  EXPECT_FALSE(ReadSetting(L"KdniaoKey"));
  EXPECT_EQ(Unprotect(ReadSetting(L"AppCode")->bytes), std::optional<std::string>(kAppCode));
  const auto stored_order = ReadSetting(L"ServiceOrder");
  ASSERT_TRUE(stored_order);
  EXPECT_EQ(AsText(*stored_order), L"appcode,kuaidi100,kdniao");

  // AppCode finds the courier itself: asked without one.
  const Events zto = {{"2026-12-08 16:45:22", "【北京市】快件已到达 北京转运中心"}, {"2026-12-08 09:00:00", "【广州市】已揽收"}};
  ASSERT_TRUE(e2e::SetBehavior("appcode:75312098764455", "json:" + AppCodeAnswer("zto", "75312098764455", "1", zto)));
  ASSERT_TRUE(app_->Click(ids::kCommand2));  // 清空单号
  ASSERT_TRUE(WaitUntil([&] { return app_->Text2() == L""; }, 3s));
  ASSERT_TRUE(QueryByKeyboard(L"75312098764455"));
  EXPECT_TRUE(app_->WaitForRows(ExpectedRows(L"中通快递  在途（AppCode）", zto), 10s));
  EXPECT_TRUE(app_->IsChecked(ids::kZhongtong));
  EXPECT_EQ(LogLinesStartingWith("GET /kdi"), std::vector<std::string>{"GET /kdi no=75312098764455 type="});
  EXPECT_EQ(DwordSetting(L"AppCodeCount"), std::optional<DWORD>(1));
  for (const auto& text : AllWindowTexts(pid())) EXPECT_FALSE(Contains(text, kAppCode)) << "a window shows the AppCode";
  EXPECT_TRUE(NoBoxFor(0ms));
}

TEST_F(Desktop, ASpentKuaidi100PassesThePressToKdniao) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(StoreKdniaoAccount(kKdniaoId, kKdniaoKey));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT7201", R"(json:{"result":false,"returnCode":"601","message":"没有可用单量"})"));
  const Events events = {{"2026-12-08 11:20:00", "【杭州市】快件已发往 上海"}};
  ASSERT_TRUE(e2e::SetBehavior("kdniao:ZT7201", "json:" + KdniaoAnswer("ZTO", "ZT7201", "2", events)));
  ASSERT_TRUE(Query("ZT7201", ids::kZhongtong));
  EXPECT_TRUE(app_->WaitForRows(ExpectedRows(L"中通快递  在途（快递鸟）", events), 10s));
  EXPECT_EQ(LogLinesStartingWith("POST "),
            (std::vector<std::string>{PollLine("zhongtong", "ZT7201"), KdniaoLine("1002", "ZTO", "ZT7201")}));
  EXPECT_EQ(DwordSetting(L"QueryCount"), std::optional<DWORD>(1)) << "the spent request is not counted";
  EXPECT_EQ(DwordSetting(L"KdniaoCount"), std::optional<DWORD>(1));
  // Spent: 快递100 is asked last from now on.
  EXPECT_EQ(DwordSetting(L"RefreshPaused"), std::optional<DWORD>(1));
  EXPECT_TRUE(NoBoxFor(800ms));
}

}  // namespace
}  // namespace desk
