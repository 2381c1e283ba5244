// What has to outlast a single run: start at login and its question, the
// start in the background and a second start, a watch file another program
// holds or that carries entries this program cannot read, and a box that
// waits for the one already up. Each test starts from no stored settings,
// no watch file, no start at login and no running program.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <set>

#include "desktop_support.h"
#include "expected_texts.h"
#include "window/control_ids.h"

namespace desk {
namespace {

namespace ids = quenzil::ids;
using e2e::App;
using e2e::Narrow;
using e2e::UniqueHandle;
using e2e::WaitUntil;
using e2e::Widen;
using nlohmann::json;
using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;
using Events = std::vector<std::pair<std::string, std::string>>;

// The window's system commands.
constexpr WPARAM kWatchCommand = 0x0120;
constexpr WPARAM kAutostartCommand = 0x0160;

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr wchar_t kRunValue[] = L"Quenzil";

const std::wstring kNoteTitle = L"关注此单号";
const std::wstring kAutostartQuestion = L"要在开机时自动启动本程序，以便在后台继续关注单号吗？";

bool HasEvents(const json* parcel) {
  return parcel != nullptr && parcel->contains("events") && !(*parcel)["events"].empty();
}

// The watch file and what may stand beside it: a temporary copy, one moved
// aside (the last queries have a file of their own in the folder).
std::vector<std::wstring> WatchFiles() {
  std::vector<std::wstring> names = WatchFolderFiles();
  std::erase_if(names, [](const std::wstring& name) { return _wcsnicmp(name.c_str(), L"watch.json", 10) != 0; });
  return names;
}

std::optional<std::wstring> RunCommand() {
  const auto value = ReadUserValue(kRunKey, kRunValue);
  if (!value) return std::nullopt;
  if (value->type != REG_SZ) return L"(not REG_SZ)";
  return AsText(*value);
}

bool SameText(const std::wstring& left, const std::wstring& right) {
  return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

// What the Run value must say: the program's full path, quoted, then the switch.
std::wstring ExpectedRunCommand() { return L"\"" + e2e::GetSettings().quenzil_exe + L"\" /background"; }

// ---- keys ------------------------------------------------------------------------

bool InFront(DWORD pid) {
  DWORD owner = 0;
  HWND front = ::GetForegroundWindow();
  return front != nullptr && ::GetWindowThreadProcessId(front, &owner) != 0 && owner == pid;
}

// ---- a start from a command line of its own --------------------------------------

// The program started as the shell starts what the Run value names.
class CommandStart {
 public:
  explicit CommandStart(std::wstring command_line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &created))
      return;
    ::CloseHandle(created.hThread);
    process_.reset(created.hProcess);
    pid_ = created.dwProcessId;
  }
  CommandStart(const CommandStart&) = delete;
  CommandStart& operator=(const CommandStart&) = delete;
  ~CommandStart() {
    if (Running()) ::TerminateProcess(process_.get(), 97);
    if (process_) ::WaitForSingleObject(process_.get(), 10000);
  }
  bool started() const { return static_cast<bool>(process_); }
  DWORD pid() const { return pid_; }
  bool Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  HWND Form() const { return FindWindowOf(pid_, ids::kFormClassName, nullptr, false); }
  bool FormVisible() const {
    HWND form = Form();
    return form != nullptr && ::IsWindowVisible(form);
  }

 private:
  UniqueHandle process_;
  DWORD pid_ = 0;
};

// ---- the fixture --------------------------------------------------------------------

class Lasting : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    // A number left on the clipboard would be offered to the empty box.
    e2e::PutTextOnClipboard(L"");
  }

  void TearDown() override {
    DesktopTest::TearDown();
    EXPECT_FALSE(ReadUserValue(kRunKey, kRunValue)) << "the Run value stays";
    EXPECT_FALSE(ReadUserValue(kApprovedKey, kRunValue)) << "the StartupApproved record stays";
  }

  void Clean() override {
    DesktopTest::Clean();
    DeleteUserValue(kRunKey, kRunValue);
    DeleteUserValue(kApprovedKey, kRunValue);
  }

  // Types the number into the box as a user does, key by key (letters with
  // Shift), picks the carrier and presses 开始查询.
  AssertionResult TypeAndQuery(const std::string& number, int carrier) {
    if (auto front = app_->BringToFront(); !front) return front;
    // Into the box with Tab; what it holds is erased first.
    if (auto reached = app_->TabAround(ids::kText2); !reached) return reached;
    if (app_->Text2() != L"" && !app_->PressKey(VK_END)) return AssertionFailure() << "End refused";
    for (std::size_t held = app_->Text2().value_or(L"").size(); held > 0; --held) {
      if (auto erased = app_->PressKey(VK_BACK); !erased) return erased;
    }
    for (char c : number) {
      const bool letter = c >= 'A' && c <= 'Z';
      if (!letter && !(c >= '0' && c <= '9')) return AssertionFailure() << "cannot type [" << c << "]";
      if (auto pressed = app_->PressKey(static_cast<WORD>(c), letter); !pressed) return pressed;
    }
    if (!WaitUntil([&] { return app_->Text2() == Widen(number); }, 3s))
      return AssertionFailure() << "the box holds [" << Narrow(app_->Text2().value_or(L"?")) << "]";
    if (auto selected = app_->SelectCarrier(carrier); !selected) return selected;
    return app_->Click(ids::kChaxun);
  }

  AssertionResult WaitForPoll(const std::string& number) {
    if (WaitUntil([&] { return CountPolls(number) > 0; }, 10s, 30ms)) return AssertionSuccess();
    return AssertionFailure() << "the service was never asked about " << number;
  }

  // Queries the number with the service's answer and watches it without a note.
  AssertionResult QueryAndWatch(const std::string& number, const Events& events) {
    if (auto set = e2e::SetBehavior("poll:" + number,
                                    "json:" + PollAnswer("yuantong", number, "0", false, events));
        !set)
      return set;
    if (auto asked = TypeAndQuery(number, ids::kYuantong); !asked) return asked;
    if (!WaitUntil([&] {
          const auto rows = app_->Rows();
          return rows && rows->size() == 1 + 2 * events.size();
        }, 10s))
      return AssertionFailure() << "no rows for " << number;
    if (auto posted = PostToForm(WM_SYSCOMMAND, kWatchCommand, 0); !posted) return posted;
    HWND dialog = WaitForDialog(kNoteTitle);
    if (dialog == nullptr) return AssertionFailure() << "no 关注此单号 dialog; shown: " << Describe(VisibleBoxes(pid()));
    if (auto clicked = ClickItem(dialog, IDOK); !clicked) return clicked;
    return WaitGone(dialog);
  }

};

// ---- the watch file ----------------------------------------------------------------------

TEST_F(Lasting, WatchFileHeldByAnotherProgramIsReadOnceFreeAndNeverWrittenBefore) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  // Start at login is another test's question.
  ASSERT_TRUE(WriteUserValue(L"Software\\Dravimo\\Quenzil", L"AutostartAsked", REG_DWORD, {1, 0, 0, 0}));
  const std::string original =
      R"({"version":1,"parcels":[{"number":"ZT7101","carrier":"zhongtong","note":"锁住时的单号","colour":"red"}]})";
  ASSERT_TRUE(WriteBytes(WatchFilePath(), original));
  const Events events = {{"2026-12-10 08:00:00", "【杭州市】快件已揽收"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT7101", "json:" + PollAnswer("zhongtong", "ZT7101", "0", false, events)));

  // Held with no sharing at all, as a backup tool or a scanner may.
  UniqueHandle held(::CreateFileW(WatchFilePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (held.get() == INVALID_HANDLE_VALUE) held.release();
  ASSERT_TRUE(held) << "cannot hold watch.json: " << ::GetLastError();
  const auto held_since = std::chrono::steady_clock::now();
  ASSERT_TRUE(Start());

  // Meanwhile nothing is told, moved aside, written or refreshed.
  const std::vector<std::wstring> only_the_file = {L"watch.json"};
  std::string broken;
  const auto quiet = [&](bool icon_expected) {
    if (const auto boxes = VisibleBoxes(pid()); !boxes.empty()) broken = "a box: " + Describe(boxes);
    else if (e2e::NotificationAreaShown() != icon_expected)
      broken = icon_expected ? "no icon" : "an icon for nothing read";
    else if (WatchFiles() != only_the_file) broken = "files: " + Describe(WatchFiles());
    else if (CountPolls("ZT7101") != 0) broken = "a refresh of a list not yet read";
    return broken.empty();
  };
  EXPECT_TRUE(e2e::HoldsFor([&] { return quiet(false); }, 1s, 50ms)) << broken;

  // A parcel watched meanwhile waits for the list instead of replacing it.
  ASSERT_TRUE(QueryAndWatch("YT7102", {{"2026-12-10 09:30:00", "【苏州市】快件已揽收"}}));
  EXPECT_TRUE(WaitUntil(e2e::NotificationAreaShown, 3s)) << "no icon for the parcel watched";
  const auto held_for = std::chrono::steady_clock::now() - held_since;
  const Millis rest = std::max<Millis>(500ms, 3s - std::chrono::duration_cast<Millis>(held_for));
  EXPECT_TRUE(e2e::HoldsFor([&] { return quiet(true); }, rest, 50ms)) << broken;
  e2e::TakeScreenshot("lasting-watch-file-held");
  held.reset();

  // Free again: read on a later try, refreshed, written with both parcels.
  ASSERT_TRUE(WaitForWatchFile([](const json& file) {
    return HasEvents(ParcelIn(file, "ZT7101")) && ParcelIn(file, "YT7102") != nullptr;
  }, 15s)) << "the list was never read";
  json file;
  ASSERT_TRUE(ReadWatchFile(file));
  const json* parcel = ParcelIn(file, "ZT7101");
  ASSERT_NE(parcel, nullptr);
  EXPECT_EQ(parcel->value("note", ""), "锁住时的单号");
  EXPECT_EQ(parcel->value("colour", ""), "red");
  EXPECT_EQ(file["parcels"].size(), 2u);
  EXPECT_EQ(WatchFiles(), only_the_file) << "moved aside or left a temporary file";
  EXPECT_TRUE(NoBoxFor(0ms));

  HWND menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr) << "no tray menu";
  ExpectMenuTexts(menu, std::vector<std::wstring>{L"关注列表…", L"", L"中通快递 锁住时的单号 在途",
                                                 L"圆通速递 YT7102 在途", L"", L"显示窗口", L"退出"});
  ASSERT_TRUE(ChooseMenuItem(menu, 3));  // 显示窗口
}

TEST_F(Lasting, UnreadableEntriesStayInTheFileAsTheyWereAndAreNeverRefreshed) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  // Good parcels at 0 and 3; each other entry is one this program cannot read.
  const json original = json::parse(R"({"version":1,"owner":"keep me","parcels":[
    {"number":"ZT7201","carrier":"zhongtong","note":"好的一"},
    {"number":7202,"carrier":"zhongtong","note":"单号是数字"},
    {"carrier":"yuantong","note":"没有单号","events":[{"time":"2026-12-01 08:00:00","context":"旧的"}]},
    {"number":"YT7203","carrier":"yuantong","note":"好的二"},
    {"number":"ZT7201","carrier":"zhongtong","note":"第二份"},
    {"number":"YT7204","carrier":"yuantong","state":5,"note":"状态是数字"}
  ]})");
  struct Unread {
    std::size_t index;
    const char* why;
  };
  const std::array<Unread, 4> unread = {{{1, "a number of the wrong type"},
                                         {2, "no number"},
                                         {4, "a second copy of a parcel"},
                                         {5, "a field of the wrong type"}}};
  ASSERT_TRUE(WriteBytes(WatchFilePath(), original.dump()));
  const Events events = {{"2026-12-10 09:00:00", "【上海市】快件已发出"}};
  ASSERT_TRUE(e2e::SetBehavior("poll:ZT7201", "json:" + PollAnswer("zhongtong", "ZT7201", "0", false, events)));
  ASSERT_TRUE(e2e::SetBehavior("poll:YT7203", "json:" + PollAnswer("yuantong", "YT7203", "0", false, events)));
  ASSERT_TRUE(Start());

  // The refresh of the good parcels rewrites the file.
  ASSERT_TRUE(WaitForWatchFile([](const json& file) {
    return HasEvents(ParcelIn(file, "ZT7201")) && HasEvents(ParcelIn(file, "YT7203"));
  }, 15s));
  json file;
  ASSERT_TRUE(ReadWatchFile(file));
  EXPECT_EQ(file.value("owner", ""), "keep me");
  ASSERT_TRUE(file["parcels"].is_array());
  ASSERT_EQ(file["parcels"].size(), original["parcels"].size()) << file.dump();
  EXPECT_EQ(file["parcels"][0].value("note", ""), "好的一");
  EXPECT_EQ(file["parcels"][3].value("note", ""), "好的二");
  for (const Unread& entry : unread) {
    EXPECT_EQ(file["parcels"][entry.index], original["parcels"][entry.index])
        << entry.why << " was not written back as it was";
  }

  // Only the good parcels were asked about.
  const std::set<std::string> good = {"ZT7201", "YT7203"};
  for (const auto& line : LogLinesStartingWith("POST /poll/query.do ")) {
    const std::size_t from = line.find(" num=") + 5;
    const std::string number = line.substr(from, line.find(" phone=") - from);
    EXPECT_TRUE(good.count(number) == 1) << "refreshed an unread entry: " << line;
  }
  EXPECT_TRUE(NoBoxFor(0ms));

  HWND menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr) << "no tray menu";
  ExpectMenuTexts(menu, std::vector<std::wstring>{L"关注列表…", L"", L"中通快递 好的一 在途", L"圆通速递 好的二 在途", L"",
                                                 L"显示窗口", L"退出"});
  ASSERT_TRUE(ChooseMenuItem(menu, 3));  // 显示窗口
}

// ---- start at login ------------------------------------------------------------------------

TEST_F(Lasting, StartAtLoginFollowsTheSystemMenuAndIsOfferedOnceOnTheFirstWatch) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(Start());

  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAutostartCommand, 0));
  std::optional<std::wstring> command;
  ASSERT_TRUE(WaitUntil([&] { return (command = RunCommand()).has_value(); }, 3s)) << "no Run value";
  EXPECT_TRUE(SameText(*command, ExpectedRunCommand()))
      << Narrow(*command) << " is not " << Narrow(ExpectedRunCommand());

  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAutostartCommand, 0));
  EXPECT_TRUE(WaitUntil([] { return !RunCommand(); }, 3s)) << "the Run value stays";

  // Off: the first parcel watched asks once; No leaves it off.
  ASSERT_TRUE(QueryAndWatch("YT7301", {{"2026-12-10 10:00:00", "【广州市】快件已揽收"}}));
  HWND question = app_->WaitForMessageBox(e2e::kNoticeTitle, 10s);
  ASSERT_NE(question, nullptr) << "not asked about starting at login; shown: " << Describe(VisibleBoxes(pid()));
  EXPECT_EQ(App::MessageBoxText(question), kAutostartQuestion);
  EXPECT_NE(::GetDlgItem(question, IDYES), nullptr) << "not a Yes/No question";
  ASSERT_TRUE(App::Answer(question, IDNO));
  EXPECT_TRUE(WaitUntil([] {
    const auto asked = ReadSetting(L"AutostartAsked");
    return asked && asked->type == REG_DWORD && asked->bytes == std::vector<BYTE>{1, 0, 0, 0};
  }, 3s)) << "the answer is not remembered";
  EXPECT_FALSE(RunCommand()) << "No turned it on";

  // The next parcel is watched without a question.
  ASSERT_TRUE(QueryAndWatch("YT7302", {{"2026-12-10 11:00:00", "【深圳市】快件已揽收"}}));
  EXPECT_TRUE(NoBoxFor(1500ms));
  EXPECT_TRUE(WaitForWatchFile([](const json& file) { return ParcelIn(file, "YT7301") && ParcelIn(file, "YT7302"); },
                               3s));
  EXPECT_FALSE(RunCommand());
}

TEST_F(Lasting, TheRunCommandStartsInTheBackgroundAndASecondStartBringsTheWindowForward) {
  // The command the program writes for the login, run as the shell runs it.
  ASSERT_TRUE(Start());
  ASSERT_TRUE(PostToForm(WM_SYSCOMMAND, kAutostartCommand, 0));
  std::optional<std::wstring> command;
  ASSERT_TRUE(WaitUntil([&] { return (command = RunCommand()).has_value(); }, 3s)) << "no Run value";
  app_.reset();
  MarkLogStart();

  CommandStart login(*command);
  ASSERT_TRUE(login.started()) << "the Run value does not start: " << Narrow(*command);
  ASSERT_TRUE(WaitUntil([&] { return e2e::NotificationAreaShown() || !login.Running(); }, 10s))
      << "no icon in the notification area";
  ASSERT_TRUE(login.Running());
  EXPECT_TRUE(WaitUntil([] { return !LogLinesStartingWith("/gengxin.txt").empty(); }, 3s))
      << "no update check in the background";
  EXPECT_TRUE(e2e::HoldsFor([&] { return login.Form() != nullptr && !login.FormVisible(); }, 1s))
      << "the window shows at a start in the background";
  e2e::TakeScreenshot("lasting-background-start");

  // A plain second start ends at once and brings the first one's window forward.
  auto second = App::Launch(/*second_instance=*/true);
  ASSERT_TRUE(second);
  DWORD exit_code = 1;
  EXPECT_TRUE(second->WaitForExit(10s, &exit_code)) << "the second start stays";
  EXPECT_EQ(exit_code, 0u);
  EXPECT_TRUE(WaitUntil([&] { return login.FormVisible(); }, 5s)) << "the window stays hidden";
  EXPECT_TRUE(WaitUntil([&] { return InFront(login.pid()); }, 5s)) << "the window is not in front";
  // Nothing watched: the icon goes with the window shown.
  EXPECT_TRUE(WaitUntil([] { return !e2e::NotificationAreaShown(); }, 3s)) << "the icon stays";
  EXPECT_EQ(RunningInstances(), std::vector<DWORD>{login.pid()});
  e2e::TakeScreenshot("lasting-brought-forward");

  // 退出 as a user ends it.
  ASSERT_TRUE(::PostMessageW(login.Form(), WM_CLOSE, 0, 0));
  HWND question = WaitForWindowOf(login.pid(), L"#32770", e2e::kExitTitle.c_str(), 5s);
  ASSERT_NE(question, nullptr) << "no exit question";
  ASSERT_TRUE(App::Answer(question, IDOK));
  EXPECT_TRUE(WaitUntil([&] { return !login.Running(); }, 5s)) << "OK did not end the program";
}

// ---- one box at a time ---------------------------------------------------------------------

TEST_F(Lasting, AFailureArrivingUnderTheExitQuestionIsToldAfterIt) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  // A failing answer (HTTP 500) after a second and a half.
  ASSERT_TRUE(e2e::SetBehavior("poll:YT7501", "slow:1500:no-such-answer"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(TypeAndQuery("YT7501", ids::kYuantong));
  ASSERT_TRUE(WaitForPoll("YT7501"));
  ASSERT_TRUE(app_->RequestClose());
  HWND question = app_->WaitForMessageBox(e2e::kExitTitle, 5s);
  ASSERT_NE(question, nullptr) << "no exit question";

  // The answer arrives meanwhile; the question stays the only box.
  std::vector<std::wstring> shown;
  EXPECT_TRUE(e2e::HoldsFor([&] {
    shown = VisibleBoxes(pid());
    return shown == std::vector<std::wstring>{e2e::kExitTitle};
  }, 4s, 50ms)) << "boxes: " << Describe(shown);
  e2e::TakeScreenshot("lasting-exit-question");

  // Esc on the question: Cancel. Then the failure is told.
  ASSERT_TRUE(WaitUntil([&] { return InFront(pid()); }, 3s)) << "the question is not in front";
  ASSERT_TRUE(app_->PressKey(VK_ESCAPE));
  ASSERT_TRUE(WaitGone(question));
  HWND failed = app_->WaitForMessageBox(e2e::kFailedTitle, 5s);
  ASSERT_NE(failed, nullptr) << "the failure was never told; shown: " << Describe(VisibleBoxes(pid()));
  e2e::TakeScreenshot("lasting-failure-after-question");
  const std::wstring text = App::MessageBoxText(failed);
  EXPECT_EQ(text.rfind(e2e::kFailedPromptStart, 0), 0u) << Narrow(text);
  EXPECT_NE(text.find(L"HTTP 500"), std::wstring::npos) << Narrow(text);
  EXPECT_EQ(VisibleBoxes(pid()), std::vector<std::wstring>{e2e::kFailedTitle});
  ASSERT_TRUE(App::Answer(failed, IDOK));
  EXPECT_TRUE(app_->Running()) << "Cancel ended the program";
  EXPECT_TRUE(NoBoxFor(1s));
}

}  // namespace
}  // namespace desk
