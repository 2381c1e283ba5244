// End-to-end scenarios: a fresh quenzil.exe per test, driven through its
// window against the fake tracking service and maker site.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>

#include "driver.h"
#include "expected_texts.h"
#include "window/control_ids.h"

namespace e2e {
namespace {

namespace ids = quenzil::ids;
using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

constexpr char kShowNormal[] = "1";

const std::vector<int> kCarrierIds = {
    ids::kYuantong, ids::kShentong, ids::kZhongtong, ids::kShunfeng, ids::kEms,
    ids::kYunda,    ids::kHuitongkuaidi, ids::kTiantian, ids::kZhaijisong, ids::kQuanfengkuaidi,
};

long long MillisSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start).count();
}

int Width(const RECT& rect) { return rect.right - rect.left; }

// Upper-case hex digits in %XX so that either spelling compares equal.
std::string NormalisePercentEscapes(std::string target) {
  for (size_t at = target.find('%'); at != std::string::npos && at + 2 < target.size();
       at = target.find('%', at + 1)) {
    target[at + 1] = static_cast<char>(toupper(static_cast<unsigned char>(target[at + 1])));
    target[at + 2] = static_cast<char>(toupper(static_cast<unsigned char>(target[at + 2])));
  }
  return target;
}

std::string QueryTarget(const std::string& code, const std::string& encoded_number) {
  return "/api?id=5e0b7c19d2a4f863&com=" + code + "&nu=" + encoded_number +
         "&valicode=[]&show=2&muti=1&order=asc";
}

// How many whole seconds two clock readings lie apart.
int SecondsApart(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  FILETIME fa{}, fb{};
  if (!::SystemTimeToFileTime(&a, &fa) || !::SystemTimeToFileTime(&b, &fb)) return 1 << 30;
  ULARGE_INTEGER ua{}, ub{};
  ua.LowPart = fa.dwLowDateTime;
  ua.HighPart = fa.dwHighDateTime;
  ub.LowPart = fb.dwLowDateTime;
  ub.HighPart = fb.dwHighDateTime;
  const long long apart = static_cast<long long>(ua.QuadPart) - static_cast<long long>(ub.QuadPart);
  return static_cast<int>((apart < 0 ? -apart : apart) / 10000000LL);
}

class Quenzil : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ASSERT_TRUE(ResetServer());
    ClearBrowserLog();
  }
  // Types the number, selects the carrier and presses 开始查询; returns once
  // the request has reached the server (and so the list has been cleared).
  AssertionResult Query(const std::wstring& number, int carrier = ids::kYunda) {
    const size_t before = ApiRequestsInServerLog().size();
    if (auto typed = app_->TypeNumber(number); !typed) return typed;
    if (auto selected = app_->SelectCarrier(carrier); !selected) return selected;
    if (auto clicked = app_->Click(ids::kChaxun); !clicked) return clicked;
    if (!WaitUntil([&] { return ApiRequestsInServerLog().size() > before; }, 10s, 30ms))
      return AssertionFailure() << "the query for " << Narrow(number) << " never reached the server";
    return AssertionSuccess();
  }

  AssertionResult QueryGives(const std::wstring& number, const std::vector<std::wstring>& rows) {
    if (auto queried = Query(number); !queried) return queried;
    return app_->WaitForRows(rows, 10s);
  }

  // Answers the message box with this title, checking its text.
  AssertionResult ExpectMessage(const std::wstring& title, const std::wstring& text,
                                int button = IDOK) {
    HWND box = app_->WaitForMessageBox(title, 10s);
    if (box == nullptr) return AssertionFailure() << "no message box " << Narrow(title);
    const std::wstring shown = App::MessageBoxText(box);
    if (shown != text)
      return AssertionFailure() << "message box " << Narrow(title) << " says [" << Narrow(shown)
                                << "]";
    return App::Answer(box, button);
  }

  AssertionResult WaitForBrowserCall(const std::string& url, size_t count = 1) {
    std::vector<BrowserCall> calls;
    if (!WaitUntil([&] { return (calls = BrowserCalls()).size() >= count; }, 10s, 50ms))
      return AssertionFailure() << "the browser was asked " << calls.size() << " times, not "
                                << count;
    const BrowserCall& last = calls[count - 1];
    if (last.url != url)
      return AssertionFailure() << "the browser was asked to open [" << last.url << "]";
    if (last.show != kShowNormal)
      return AssertionFailure() << "the browser was started with show command " << last.show;
    return AssertionSuccess();
  }

  // A point of the client area that no control covers.
  POINT BareSurfacePoint() const {
    const POINT point{4, 4};
    EXPECT_EQ(::ChildWindowFromPointEx(app_->form(), point, CWP_SKIPINVISIBLE), app_->form());
    return point;
  }

  // The couriers that are selected, in the window's order.
  std::vector<int> SelectedCarriers() const {
    std::vector<int> selected;
    for (int carrier : kCarrierIds) {
      if (app_->IsChecked(carrier)) selected.push_back(carrier);
    }
    return selected;
  }
};

// The title of a window whether shown or not; empty without a window.
std::wstring TitleOf(HWND window) {
  wchar_t title[512] = {};
  if (window != nullptr) ::GetWindowTextW(window, title, 512);
  return title;
}

// ---- start ----------------------------------------------------------------

TEST_F(Quenzil, StartState) {
  const std::size_t checks_before = UpdateChecksInServerLog();
  ASSERT_TRUE(Start());
  const long long startup_ms = MillisSince(app_->started_at());
  std::printf("[ figure ] start-up to visible window, maker site answering 404: %lld ms\n",
              startup_ms);
  RecordProperty("startup_ms_normal", static_cast<int>(startup_ms));

  EXPECT_EQ(app_->Text2(), std::wstring());
  EXPECT_TRUE(WaitUntil([&] { return app_->FocusedId() == ids::kText2; }, 2s))
      << "Text2 has no focus";
  for (int carrier : kCarrierIds) EXPECT_TRUE(app_->Usable(carrier));
  EXPECT_EQ(SelectedCarriers(), std::vector<int>{}) << "a courier is selected at start";
  EXPECT_EQ(app_->Rows(), std::vector<std::wstring>{kPlaceholder});
  EXPECT_EQ(UpdateChecksInServerLog() - checks_before, 1u);

  SYSTEMTIME before{};
  ::GetLocalTime(&before);
  std::optional<SYSTEMTIME> clock;
  ASSERT_TRUE(WaitUntil([&] { return (clock = ParseTitleClock(app_->Title(), kTitlePrefix)).has_value(); },
                        2s))
      << "title [" << Narrow(app_->Title()) << "]";
  EXPECT_LE(SecondsApart(*clock, before), 2) << Narrow(app_->Title());
  EXPECT_TRUE(TakeScreenshot("start"));
}

TEST_F(Quenzil, TitleFollowsTheClock) {
  ASSERT_TRUE(Start());
  std::wstring first;
  ASSERT_TRUE(WaitUntil([&] { return ParseTitleClock(first = app_->Title(), kTitlePrefix).has_value(); }, 2s));
  std::wstring next;
  ASSERT_TRUE(WaitUntil([&] { return (next = app_->Title()) != first; }, 3s))
      << "the title stays [" << Narrow(first) << "]";
  const auto clock = ParseTitleClock(next, kTitlePrefix);
  ASSERT_TRUE(clock.has_value()) << Narrow(next);
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  EXPECT_LE(SecondsApart(*clock, now), 2) << Narrow(next);
  // One second on; two if a tick came late on a busy machine.
  const int step = SecondsApart(*clock, *ParseTitleClock(first, kTitlePrefix));
  EXPECT_GE(step, 1) << Narrow(first) << " -> " << Narrow(next);
  EXPECT_LE(step, 2) << Narrow(first) << " -> " << Narrow(next);
}

// ---- start-up update check -------------------------------------------------

TEST_F(Quenzil, UpdateFlagTwoTellsOpensMakerSiteAndEnds) {
  ASSERT_TRUE(SetBehavior("gengxin.txt", "body:2"));
  app_ = App::Launch();
  ASSERT_TRUE(app_);
  HWND box = app_->WaitForMessageBox(kUpdateTitle, 10s);
  ASSERT_NE(box, nullptr) << "no update message";
  EXPECT_FALSE(app_->FormVisible()) << "the main window shows behind the update message";
  EXPECT_EQ(App::MessageBoxText(box), kUpdatePrompt);
  EXPECT_TRUE(BrowserCalls().empty()) << "the browser opened before the message was answered";
  ASSERT_TRUE(App::Answer(box, IDOK));
  EXPECT_TRUE(WaitForBrowserCall(MakerOrigin() + "/"));
  EXPECT_TRUE(app_->WaitForExit(5s)) << "the program goes on after the update message";
  EXPECT_FALSE(app_->FormVisible());
}

TEST_F(Quenzil, OtherUpdateFlagsStartNormally) {
  for (const char* behavior : {"body:1", "file:flag-2-crlf", "file:flag-empty", "body: 2"}) {
    SCOPED_TRACE(behavior);
    ASSERT_TRUE(SetBehavior("gengxin.txt", behavior));
    ASSERT_TRUE(Start());
    EXPECT_TRUE(app_->WaitForRows({kPlaceholder}, 2s));
    EXPECT_TRUE(app_->NoMessageBoxFor(kUpdateTitle, 0ms));
    app_.reset();
  }
  EXPECT_TRUE(BrowserCalls().empty());
}

TEST_F(Quenzil, UnreachableMakerSiteStillStarts) {
  for (const char* behavior : {"reset", "stall"}) {
    SCOPED_TRACE(behavior);
    ASSERT_TRUE(SetBehavior("gengxin.txt", behavior));
    app_ = App::Launch();
    ASSERT_TRUE(app_);
    if (std::string(behavior) == "stall") {
      // While the check waits, the window is there but hidden, and its
      // clock runs.
      std::wstring first;
      ASSERT_TRUE(WaitUntil(
          [&] { return ParseTitleClock(first = TitleOf(app_->FindForm()), kTitlePrefix).has_value(); },
          3s))
          << "no clock in the title while the update check waits";
      EXPECT_TRUE(WaitUntil([&] { return TitleOf(app_->FindForm()) != first; }, 2500ms))
          << "the clock stands still while the update check waits";
      EXPECT_FALSE(app_->FormVisible()) << "the window showed before the update check ended";
    }
    ASSERT_TRUE(app_->WaitForWindow(12s));
    const long long startup_ms = MillisSince(app_->started_at());
    std::printf("[ figure ] start-up to visible window, maker site %s: %lld ms\n", behavior,
                startup_ms);
    RecordProperty(std::string("startup_ms_") + behavior, static_cast<int>(startup_ms));
    // The check gives up after about 4 s.
    EXPECT_LT(startup_ms, 6000) << "the update check held the window back too long";
    EXPECT_TRUE(app_->WaitForRows({kPlaceholder}, 2s));
    EXPECT_TRUE(app_->NoMessageBoxFor(kFailedTitle, 300ms));
    EXPECT_TRUE(app_->NoMessageBoxFor(kUpdateTitle, 0ms));
    EXPECT_TRUE(app_->Usable(ids::kChaxun));
    app_.reset();
  }
}

// ---- the query ---------------------------------------------------------------

TEST_F(Quenzil, EmptyNumberAsksForOneAndFetchesNothing) {
  ASSERT_TRUE(Start());
  const size_t requests = ApiRequestsInServerLog().size();
  // The number is checked before the carrier: no carrier selected yet.
  ASSERT_TRUE(app_->Click(ids::kChaxun));
  ASSERT_TRUE(ExpectMessage(kNoticeTitle, kEnterNumber));
  EXPECT_TRUE(app_->WaitForRows({}, 2s));

  ASSERT_TRUE(app_->SelectCarrier(ids::kShunfeng));
  ASSERT_TRUE(app_->TypeNumber(L""));
  ASSERT_TRUE(app_->Click(ids::kChaxun));
  ASSERT_TRUE(ExpectMessage(kNoticeTitle, kEnterNumber));
  EXPECT_TRUE(app_->WaitForRows({}, 2s));
  EXPECT_EQ(ApiRequestsInServerLog().size(), requests);
}

TEST_F(Quenzil, NoCarrierAsksForOneAndFetchesNothing) {
  ASSERT_TRUE(Start());
  const size_t requests = ApiRequestsInServerLog().size();
  ASSERT_TRUE(app_->TypeNumber(L"rows3"));
  ASSERT_TRUE(app_->Click(ids::kChaxun));
  ASSERT_NE(app_->WaitForMessageBox(kNoticeTitle, 5s), nullptr);
  EXPECT_TRUE(TakeScreenshot("choose-courier"));
  ASSERT_TRUE(ExpectMessage(kNoticeTitle, kChooseCarrier));
  EXPECT_TRUE(app_->WaitForRows({}, 2s)) << "the placeholder stays";
  EXPECT_TRUE(app_->NoMessageBoxFor(kFailedTitle, 0ms));
  EXPECT_EQ(ApiRequestsInServerLog().size(), requests);
  EXPECT_EQ(app_->Text2(), std::wstring(L"rows3"));
  EXPECT_EQ(SelectedCarriers(), std::vector<int>{});
}

TEST_F(Quenzil, EachMarkerGivesItsAdvice) {
  ASSERT_TRUE(Start());
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"marker-wrong", kWrongNumberAdvice},
      {L"marker-abnormal", kAbnormalAdvice},
      {L"marker-notrecorded", kNotRecordedAdvice},
      {L"marker-captcha", kCaptchaAdvice},
  };
  for (const auto& [number, advice] : cases) {
    for (const std::wstring suffix : {L"", L"-gbk"}) {
      SCOPED_TRACE(Narrow(number + suffix));
      EXPECT_TRUE(QueryGives(number + suffix, {advice}));
    }
  }
  EXPECT_TRUE(app_->NoMessageBoxFor(kFailedTitle, 0ms));
}

TEST_F(Quenzil, FirstMarkerInOrderDecides) {
  ASSERT_TRUE(Start());
  EXPECT_TRUE(QueryGives(L"marker-abnormal-and-time", {kAbnormalAdvice}));
  EXPECT_TRUE(QueryGives(L"marker-abnormal-and-time-gbk", {kAbnormalAdvice}));
  EXPECT_TRUE(QueryGives(L"marker-wrong-and-notrecorded", {kWrongNumberAdvice}));
  EXPECT_TRUE(QueryGives(L"marker-wrong-and-notrecorded-gbk", {kWrongNumberAdvice}));
}

TEST_F(Quenzil, TrackingRowsInOrder) {
  ASSERT_TRUE(Start());
  EXPECT_TRUE(QueryGives(L"rows3", kThreeRows));
  EXPECT_TRUE(TakeScreenshot("rows"));
  // The next query replaces the rows, whatever the character set.
  EXPECT_TRUE(QueryGives(L"rows-markup", kMarkupRows));
  EXPECT_TRUE(QueryGives(L"rows3-gbk", kThreeRows));
  EXPECT_TRUE(app_->NoMessageBoxFor(kFailedTitle, 0ms));
}

TEST_F(Quenzil, MarkupInsideARowIsKept) {
  ASSERT_TRUE(Start());
  EXPECT_TRUE(QueryGives(L"rows-markup", kMarkupRows));
  EXPECT_TRUE(QueryGives(L"rows-markup-gbk", kMarkupRows));
}

TEST_F(Quenzil, AnswerWithoutMarkerLeavesListEmpty) {
  ASSERT_TRUE(Start());
  // "no-marker" holds a cell of the row pattern but no "时间": no rows.
  for (const std::wstring number : {L"no-marker", L"no-marker-gbk", L"empty", L"not-on-server"}) {
    SCOPED_TRACE(Narrow(number));
    ASSERT_TRUE(Query(number));
    EXPECT_TRUE(app_->WaitForRows({}, 1s));
    // Nothing shows when the answer comes in either.
    std::optional<std::vector<std::wstring>> rows;
    EXPECT_TRUE(HoldsFor([&] { return (rows = app_->Rows()) && rows->empty(); }, 400ms))
        << "a row appeared: " << (rows && !rows->empty() ? Narrow(rows->front()) : "?");
    EXPECT_TRUE(app_->NoMessageBoxFor(kFailedTitle, 0ms));
  }
}

TEST_F(Quenzil, RequestTargetCarriesCodeAndEncodedNumber) {
  ASSERT_TRUE(Start());
  struct Case {
    std::wstring number;
    int carrier;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {L"rows3", ids::kYunda, QueryTarget("yunda", "rows3")},
      // Space, "&", "=", "#" and Chinese stay inside the value of nu.
      {L"A1 b&c=d#中", ids::kYunda, QueryTarget("yunda", "A1%20b%26c%3Dd%23%E4%B8%AD")},
      // The carrier's code never replaces text of the number.
      {L"gongsi9", ids::kEms, QueryTarget("ems", "gongsi9")},
      {L"danhao", ids::kZhongtong, QueryTarget("zhongtong", "danhao")},
      {L" 12 ", ids::kQuanfengkuaidi, QueryTarget("quanfengkuaidi", "%2012%20")},
  };
  for (const auto& query : cases) {
    SCOPED_TRACE(Narrow(query.number));
    ASSERT_TRUE(Query(query.number, query.carrier));
    const auto requests = ApiRequestsInServerLog();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(NormalisePercentEscapes(requests.back()), query.expected);
  }
}

TEST_F(Quenzil, FailedQueryTellsAndKeepsInput) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(SetBehavior("broken-reset", "reset"));
  ASSERT_TRUE(SetBehavior("broken-midway", "resetmid:rows3"));
  for (const std::wstring number : {L"broken-reset", L"broken-midway"}) {
    SCOPED_TRACE(Narrow(number));
    ASSERT_TRUE(Query(number, ids::kTiantian));
    HWND box = app_->WaitForMessageBox(kFailedTitle, 10s);
    ASSERT_NE(box, nullptr) << "no failure message";
    const std::wstring text = App::MessageBoxText(box);
    EXPECT_EQ(text.rfind(kFailedPromptStart, 0), 0u) << Narrow(text);
    EXPECT_GT(text.size(), kFailedPromptStart.size()) << "the message says nothing after the colon";
    ASSERT_TRUE(App::Answer(box, IDOK));
    EXPECT_EQ(app_->Text2(), number);
    EXPECT_TRUE(app_->IsChecked(ids::kTiantian));
    EXPECT_TRUE(app_->Running());
  }
  // The program goes on working.
  EXPECT_TRUE(QueryGives(L"rows3", kThreeRows));
}

TEST_F(Quenzil, PressingAgainForTheSameQueryAsksNothingNew) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(SetBehavior("slow-rows", "slow:1500:rows3"));
  ASSERT_TRUE(Query(L"slow-rows"));
  const size_t requests = ApiRequestsInServerLog().size();
  // Pressed twice more while the answer is on its way.
  ASSERT_TRUE(app_->Click(ids::kChaxun));
  ASSERT_TRUE(app_->Click(ids::kChaxun));
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 8s));
  EXPECT_EQ(ApiRequestsInServerLog().size(), requests) << "a press for the same query asked again";

  // Another courier for the same number is a new query: it asks, and it
  // alone fills the list.
  ASSERT_TRUE(Query(L"slow-rows", ids::kYunda));
  const size_t before_change = ApiRequestsInServerLog().size();
  ASSERT_TRUE(app_->SelectCarrier(ids::kShunfeng));
  ASSERT_TRUE(app_->Click(ids::kChaxun));
  EXPECT_TRUE(WaitUntil([&] { return ApiRequestsInServerLog().size() > before_change; }, 5s));
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 8s));
  EXPECT_NE(ApiRequestsInServerLog().back().find("com=shunfeng"), std::string::npos);
}

TEST_F(Quenzil, OnlyTheNewestAnswerReachesTheList) {
  ASSERT_TRUE(Start());
  // An older query that answers last is dropped.
  ASSERT_TRUE(SetBehavior("slow-older", "slow:1500:rows-markup"));
  ASSERT_TRUE(Query(L"slow-older"));
  EXPECT_TRUE(QueryGives(L"rows3", kThreeRows));
  std::optional<std::vector<std::wstring>> rows;
  EXPECT_TRUE(HoldsFor([&] { return (rows = app_->Rows()) == kThreeRows; }, 2000ms))
      << "the older answer reached the list: " << rows.value_or(std::vector<std::wstring>{}).size()
      << " rows";
}

TEST_F(Quenzil, ClearDuringSlowAnswerLeavesPlaceholder) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(SetBehavior("slow-rows", "slow:1500:rows3"));
  ASSERT_TRUE(Query(L"slow-rows"));
  ASSERT_TRUE(app_->Click(ids::kCommand2));
  EXPECT_TRUE(app_->WaitForRows({kPlaceholder}, 3s));
  EXPECT_EQ(app_->Text2(), std::wstring());
  // Past the moment the answer comes in, nothing changes.
  EXPECT_TRUE(HoldsFor(
      [&] { return app_->Rows() == std::vector<std::wstring>{kPlaceholder}; }, 2000ms))
      << "the cleared query's answer reached the list";
  EXPECT_EQ(app_->Text2(), std::wstring());
  EXPECT_TRUE(app_->IsChecked(ids::kYunda)) << "clear changed the carrier";
}

TEST_F(Quenzil, CopyPutsRowsOnClipboard) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(PutTextOnClipboard(L"before"));
  ASSERT_TRUE(app_->Click(ids::kCommand1));
  std::optional<std::wstring> copied;
  EXPECT_TRUE(WaitUntil([&] { return (copied = ClipboardText()) == kPlaceholder + L"\r\n"; }, 3s))
      << Narrow(copied.value_or(L"(none)"));

  ASSERT_TRUE(QueryGives(L"rows3", kThreeRows));
  ASSERT_TRUE(app_->Click(ids::kCommand1));
  std::wstring expected;
  for (const auto& row : kThreeRows) expected += row + L"\r\n";
  EXPECT_TRUE(WaitUntil([&] { return (copied = ClipboardText()) == expected; }, 3s))
      << Narrow(copied.value_or(L"(none)"));
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 0ms)) << "copy changed the list";
}

// ---- the keyboard --------------------------------------------------------------

TEST_F(Quenzil, TabOrderAndTheCourierGroup) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->BringToFront());
  ASSERT_TRUE(WaitUntil([&] { return app_->FocusedId() == ids::kText2; }, 2s));
  // One round of Tab. The couriers are one stop: 圆通 while none is
  // selected, and reaching it selects nothing.
  for (int id : {ids::kChaxun, ids::kList1, ids::kCommand1, ids::kYuantong, ids::kCombo1, ids::kCommand2,
                 ids::kCommand4, ids::kText2}) {
    ASSERT_TRUE(app_->TabTo(id));
    EXPECT_EQ(SelectedCarriers(), std::vector<int>{}) << "Tab to " << id << " selected a courier";
  }
  // Shift+Tab goes back the same way.
  for (int id : {ids::kCommand4, ids::kCommand2, ids::kCombo1, ids::kYuantong}) {
    ASSERT_TRUE(app_->TabTo(id, true));
  }
  EXPECT_EQ(SelectedCarriers(), std::vector<int>{});

  // Space selects the courier that has the focus.
  ASSERT_TRUE(app_->PressKey(VK_SPACE));
  EXPECT_TRUE(
      WaitUntil([&] { return SelectedCarriers() == std::vector<int>{ids::kYuantong}; }, 3s));

  // The arrow keys move the selection in the window's order, round the end.
  for (size_t step = 1; step <= kCarrierIds.size(); ++step) {
    const int next = kCarrierIds[step % kCarrierIds.size()];
    ASSERT_TRUE(app_->KeyMovesFocusTo(step % 2 ? VK_RIGHT : VK_DOWN, next));
    EXPECT_TRUE(WaitUntil([&] { return SelectedCarriers() == std::vector<int>{next}; }, 3s))
        << "after moving to " << next;
  }
  ASSERT_TRUE(app_->KeyMovesFocusTo(VK_LEFT, ids::kQuanfengkuaidi));
  ASSERT_TRUE(app_->KeyMovesFocusTo(VK_UP, ids::kZhaijisong));
  EXPECT_TRUE(
      WaitUntil([&] { return SelectedCarriers() == std::vector<int>{ids::kZhaijisong}; }, 3s));

  // Tab into the group lands on the selected courier, from either side.
  ASSERT_TRUE(app_->TabTo(ids::kCombo1));
  ASSERT_TRUE(app_->TabTo(ids::kZhaijisong, true));
  ASSERT_TRUE(app_->TabTo(ids::kCommand1, true));
  ASSERT_TRUE(app_->TabTo(ids::kZhaijisong));
  EXPECT_EQ(SelectedCarriers(), std::vector<int>{ids::kZhaijisong});
  EXPECT_TRUE(TakeScreenshot("keyboard-courier"));

  // 其他快递公司: a typed letter picks a courier and clears the buttons; a button clears it.
  ASSERT_TRUE(app_->TabTo(ids::kCombo1));
  ASSERT_TRUE(app_->PressKey('U'));
  EXPECT_TRUE(WaitUntil([&] { return WindowTextOf(app_->Control(ids::kCombo1)) == L"UPS" && SelectedCarriers().empty(); },
                        3s));
  EXPECT_TRUE(TakeScreenshot("keyboard-other-courier"));
  ASSERT_TRUE(app_->TabTo(ids::kYuantong, true));
  ASSERT_TRUE(app_->PressKey(VK_SPACE));
  EXPECT_TRUE(WaitUntil([&] { return WindowTextOf(app_->Control(ids::kCombo1)).empty(); }, 3s));
}

TEST_F(Quenzil, EnterPressesTheFocusedButton) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->TypeNumber(L"rows3"));
  ASSERT_TRUE(app_->SelectCarrier(ids::kYunda));
  ASSERT_TRUE(app_->BringToFront());
  ASSERT_TRUE(app_->TabAround(ids::kChaxun));
  const size_t requests = ApiRequestsInServerLog().size();
  ASSERT_TRUE(app_->PressKey(VK_RETURN));
  EXPECT_TRUE(WaitUntil([&] { return ApiRequestsInServerLog().size() == requests + 1; }, 5s))
      << "Enter on 开始查询 asked nothing";
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 5s));

  ASSERT_TRUE(app_->TabAround(ids::kCommand2));
  ASSERT_TRUE(app_->PressKey(VK_RETURN));
  EXPECT_TRUE(app_->WaitForRows({kPlaceholder}, 3s)) << "Enter on 清空单号 did not clear";
  EXPECT_EQ(app_->Text2(), std::wstring());
  EXPECT_EQ(ApiRequestsInServerLog().size(), requests + 1);
}

TEST_F(Quenzil, EnterAndEscapeInText2DoNothing) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->TypeNumber(L"rows3"));
  ASSERT_TRUE(app_->SelectCarrier(ids::kYunda));
  ASSERT_TRUE(app_->BringToFront());
  ASSERT_TRUE(app_->TabAround(ids::kText2));
  const size_t requests = ApiRequestsInServerLog().size();
  ASSERT_TRUE(app_->PressKey(VK_RETURN));
  ASSERT_TRUE(app_->PressKey(VK_ESCAPE));
  // Keys are handled in order: once Tab has moved on, Enter and Esc are done.
  ASSERT_TRUE(app_->TabTo(ids::kChaxun));
  EXPECT_EQ(ApiRequestsInServerLog().size(), requests);
  EXPECT_TRUE(app_->NoMessageBoxFor(kNoticeTitle, 0ms));
  EXPECT_TRUE(app_->NoMessageBoxFor(kExitTitle, 0ms));
  EXPECT_TRUE(app_->WaitForRows({kPlaceholder}, 0ms));
  EXPECT_EQ(app_->Text2(), std::wstring(L"rows3"));
  EXPECT_TRUE(app_->FormVisible());
  EXPECT_EQ(SelectedCarriers(), std::vector<int>{ids::kYunda});
}

TEST_F(Quenzil, CourierStaysWhenTheWindowIsActivatedAgainOrABoxCloses) {
  ASSERT_TRUE(Start());
  ForeignWindow other;
  ASSERT_NE(other.hwnd(), nullptr);
  ASSERT_TRUE(app_->BringToFront());
  // With none selected the focus rests on 圆通, unselected.
  ASSERT_TRUE(app_->TabAround(ids::kYuantong));
  const auto keeps = [&](const std::vector<int>& selected, int focused) -> AssertionResult {
    if (!WaitUntil([&] { return app_->FocusedId() == focused; }, 3s))
      return AssertionFailure() << "the focus is on " << app_->FocusedId() << ", not " << focused;
    if (const auto now = SelectedCarriers(); now != selected)
      return AssertionFailure() << now.size() << " couriers selected, first "
                                << (now.empty() ? 0 : now.front());
    return AssertionSuccess();
  };
  for (const int courier : {0, static_cast<int>(ids::kShentong)}) {
    SCOPED_TRACE(courier);
    const int focused = courier == 0 ? ids::kYuantong : courier;
    const std::vector<int> selected = courier == 0 ? std::vector<int>{} : std::vector<int>{courier};
    if (courier != 0) {
      ASSERT_TRUE(app_->PressKey(VK_SPACE));
      ASSERT_TRUE(app_->KeyMovesFocusTo(VK_RIGHT, courier));
      ASSERT_TRUE(keeps(selected, focused));
    }
    // Another window comes to the front, then this one again.
    ASSERT_TRUE(other.Activate());
    ASSERT_TRUE(app_->BringToFront());
    EXPECT_TRUE(keeps(selected, focused)) << "after the window was activated again";
    // A message box opens and is closed from the keyboard.
    ASSERT_TRUE(app_->RequestClose());
    HWND box = app_->WaitForMessageBox(kExitTitle, 5s);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == box; }, 3s));
    ASSERT_TRUE(app_->PressKey(VK_ESCAPE));
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 3s)) << "Esc did not close the box";
    ASSERT_TRUE(app_->Ping());
    EXPECT_TRUE(keeps(selected, focused)) << "after a message box closed";
    EXPECT_TRUE(app_->Running());
  }
}

// ---- notification area -------------------------------------------------------

TEST_F(Quenzil, HideToTrayAndRestore) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(QueryGives(L"rows3", kThreeRows));
  ASSERT_FALSE(NotificationAreaShown()) << "an icon is there before hiding";
  ASSERT_TRUE(app_->Click(ids::kCommand4));
  ASSERT_TRUE(WaitUntil([&] { return !app_->FormVisible(); }, 3s)) << "the window stays shown";
  ASSERT_TRUE(app_->Running());
  EXPECT_TRUE(WaitUntil(NotificationAreaShown, 3s)) << "no icon in the notification area";

  // The clock goes on while hidden.
  const std::wstring hidden_title = app_->Title();
  EXPECT_TRUE(WaitUntil([&] { return app_->Title() != hidden_title; }, 3s));

  // Only a press of the left button restores.
  for (UINT other : {UINT{WM_MOUSEMOVE}, UINT{WM_LBUTTONUP}, UINT{WM_RBUTTONDOWN}}) {
    ASSERT_TRUE(app_->PressTrayIcon(other));
  }
  EXPECT_TRUE(HoldsFor([&] { return !app_->FormVisible(); }, 500ms))
      << "a report other than a left press restored the window";

  ASSERT_TRUE(app_->PressTrayIcon(WM_LBUTTONDOWN));
  ASSERT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s)) << "the tray press did not restore";
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 0ms));
  EXPECT_TRUE(WaitUntil([] { return !NotificationAreaShown(); }, 3s)) << "the icon stays after restore";

  // Hiding and restoring works again after a restore.
  ASSERT_TRUE(app_->Click(ids::kCommand4));
  ASSERT_TRUE(WaitUntil([&] { return !app_->FormVisible(); }, 3s));
  ASSERT_TRUE(app_->PressTrayIcon(WM_LBUTTONDOWN));
  ASSERT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s));
}

TEST_F(Quenzil, QueryFinishesIntoHiddenWindow) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(SetBehavior("slow-rows", "slow:1500:rows3"));
  ASSERT_TRUE(Query(L"slow-rows"));
  ASSERT_TRUE(app_->Click(ids::kCommand4));
  ASSERT_TRUE(WaitUntil([&] { return !app_->FormVisible(); }, 3s));
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 8s));
  EXPECT_FALSE(app_->FormVisible()) << "the answer showed the window";
  ASSERT_TRUE(app_->PressTrayIcon(WM_LBUTTONDOWN));
  ASSERT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s));
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 0ms));
}

// ---- ways out ----------------------------------------------------------------

TEST_F(Quenzil, CloseAnsweredCancelKeepsWindow) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->TypeNumber(L"kept"));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(app_->RequestClose());
    ASSERT_TRUE(ExpectMessage(kExitTitle, kExitPrompt, IDCANCEL));
    // Answered once the handler is done with the box.
    ASSERT_TRUE(app_->Ping());
    EXPECT_TRUE(app_->Running());
    EXPECT_TRUE(app_->FormVisible());
    EXPECT_EQ(app_->Text2(), std::wstring(L"kept"));
    EXPECT_TRUE(app_->WaitForRows({kPlaceholder}, 0ms));
  }
}

TEST_F(Quenzil, CloseAnsweredOkEnds) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->RequestClose());
  ASSERT_TRUE(ExpectMessage(kExitTitle, kExitPrompt, IDOK));
  DWORD exit_code = 1;
  EXPECT_TRUE(app_->WaitForExit(5s, &exit_code)) << "OK did not end the program";
  EXPECT_EQ(exit_code, 0u) << "the message loop did not end normally";
}

TEST_F(Quenzil, CloseWhileHidden) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->Click(ids::kCommand4));
  ASSERT_TRUE(WaitUntil([&] { return !app_->FormVisible(); }, 3s));
  ASSERT_TRUE(app_->RequestClose());
  ASSERT_TRUE(ExpectMessage(kExitTitle, kExitPrompt, IDCANCEL));
  ASSERT_TRUE(app_->Ping());
  EXPECT_TRUE(app_->Running());
  EXPECT_FALSE(app_->FormVisible()) << "Cancel showed the hidden window";
  EXPECT_TRUE(NotificationAreaShown()) << "Cancel removed the icon";
  ASSERT_TRUE(app_->RequestClose());
  ASSERT_TRUE(ExpectMessage(kExitTitle, kExitPrompt, IDOK));
  EXPECT_TRUE(app_->WaitForExit(5s));
  EXPECT_TRUE(WaitUntil([] { return !NotificationAreaShown(); }, 3s))
      << "the icon outlives the program";
}

TEST_F(Quenzil, CloseDuringSlowQueryAsksAtOnce) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(SetBehavior("slow-rows", "slow:5000:rows3"));
  ASSERT_TRUE(Query(L"slow-rows"));
  const auto asked_at = std::chrono::steady_clock::now();
  ASSERT_TRUE(app_->RequestClose());
  HWND box = app_->WaitForMessageBox(kExitTitle, 3s);
  ASSERT_NE(box, nullptr) << "the close waited for the query";
  const long long question_ms = MillisSince(asked_at);
  std::printf("[ figure ] exit question during a slow query after %lld ms\n", question_ms);
  EXPECT_LT(question_ms, 2000);
  ASSERT_TRUE(App::Answer(box, IDOK));
  EXPECT_TRUE(app_->WaitForExit(2s)) << "the program waited for the answer before ending";
}

TEST_F(Quenzil, SecondStartBringsTheFirstForward) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->TypeNumber(L"kept"));
  ASSERT_TRUE(app_->Click(ids::kCommand4));
  ASSERT_TRUE(WaitUntil([&] { return !app_->FormVisible(); }, 3s));
  const auto second = App::Launch(true);
  ASSERT_TRUE(second);
  DWORD exit_code = 1;
  EXPECT_TRUE(second->WaitForExit(5s, &exit_code)) << "the second instance stays";
  EXPECT_EQ(exit_code, 0u);
  EXPECT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s))
      << "the first did not come forward";
  EXPECT_EQ(app_->Text2(), std::wstring(L"kept"));
  EXPECT_TRUE(WaitUntil([] { return !NotificationAreaShown(); }, 3s)) << "the icon stays";
}

TEST_F(Quenzil, SecondStartHandsOverItsNumberToTheHiddenWindow) {
  ASSERT_TRUE(SetBehavior("YT1234567890", "file:rows3"));
  ASSERT_TRUE(Start());
  const std::size_t requests = ApiRequestsInServerLog().size();
  ASSERT_TRUE(app_->SelectCarrier(ids::kYuantong));
  ASSERT_TRUE(app_->Click(ids::kCommand4));
  ASSERT_TRUE(WaitUntil([&] { return !app_->FormVisible(); }, 3s));
  // Blanks and line breaks around it are dropped; it is queried at once.
  const auto second = App::Launch(true, L"\" YT1234567890\r\n\"");
  ASSERT_TRUE(second);
  DWORD exit_code = 1;
  EXPECT_TRUE(second->WaitForExit(5s, &exit_code)) << "the second instance stays";
  EXPECT_EQ(exit_code, 0u);
  EXPECT_TRUE(WaitUntil([&] { return app_->FormVisible(); }, 3s)) << "the first did not come forward";
  EXPECT_TRUE(WaitUntil([&] { return app_->Text2() == L"YT1234567890"; }, 3s));
  EXPECT_TRUE(app_->WaitForRows(kThreeRows, 10s));
  EXPECT_EQ(ApiRequestsInServerLog().size(), requests + 1);

  // A text that is no tracking number goes into the box, unasked.
  const auto third = App::Launch(true, L"where is it");
  ASSERT_TRUE(third && third->WaitForExit(5s));
  EXPECT_TRUE(WaitUntil([&] { return app_->Text2() == L"where is it"; }, 3s));
  EXPECT_TRUE(HoldsFor([&] { return ApiRequestsInServerLog().size() == requests + 1; }, 1s));
  EXPECT_TRUE(app_->NoMessageBoxFor(kNoticeTitle, 0ms));
}

TEST_F(Quenzil, AClipboardNumberIsOfferedOnceAndNeverOverTypedText) {
  ForeignWindow other;
  ASSERT_TRUE(Start());
  const std::size_t requests = ApiRequestsInServerLog().size();
  ASSERT_TRUE(PutTextOnClipboard(L"  SF1234567890123\r\n"));
  ASSERT_TRUE(other.Activate());
  ASSERT_TRUE(app_->BringToFront());
  EXPECT_TRUE(WaitUntil([&] { return app_->Text2() == L"SF1234567890123"; }, 3s)) << "not offered";
  DWORD from = 1, to = 0;
  ::SendMessageTimeoutW(app_->Control(ids::kText2), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                        reinterpret_cast<LPARAM>(&to), SMTO_ABORTIFHUNG, 3000, nullptr);
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 15u) << "the number is not selected";
  EXPECT_EQ(ApiRequestsInServerLog().size(), requests) << "an offer queries nothing";

  // Cleared, the same clipboard content is not offered again.
  ASSERT_TRUE(app_->Click(ids::kCommand2));
  ASSERT_TRUE(other.Activate());
  ASSERT_TRUE(app_->BringToFront());
  EXPECT_TRUE(HoldsFor([&] { return app_->Text2() == L""; }, 1s)) << "offered twice";
  // Typed text is never replaced; a sentence is never taken.
  ASSERT_TRUE(app_->TypeNumber(L"typed"));
  ASSERT_TRUE(PutTextOnClipboard(L"YT9988776655"));
  ASSERT_TRUE(other.Activate());
  ASSERT_TRUE(app_->BringToFront());
  EXPECT_TRUE(HoldsFor([&] { return app_->Text2() == L"typed"; }, 1s));
  ASSERT_TRUE(app_->Click(ids::kCommand2));
  ASSERT_TRUE(PutTextOnClipboard(L"快递单号 YT9988776655 请查收"));
  ASSERT_TRUE(other.Activate());
  ASSERT_TRUE(app_->BringToFront());
  EXPECT_TRUE(HoldsFor([&] { return app_->Text2() == L""; }, 1s));
  e2e::TakeScreenshot("clipboard-offer");
}

TEST_F(Quenzil, SessionEndNeitherAsksNorWaits) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->Click(ids::kCommand4));
  ASSERT_TRUE(WaitUntil([&] { return !app_->FormVisible(); }, 3s));
  ASSERT_TRUE(WaitUntil(NotificationAreaShown, 3s));
  // The system asks whether the session may end: yes, without a question.
  EXPECT_EQ(app_->SendToForm(WM_QUERYENDSESSION, 0, 0), std::optional<LRESULT>(TRUE));
  EXPECT_TRUE(app_->NoMessageBoxFor(kExitTitle, 500ms));
  EXPECT_TRUE(app_->NoMessageBoxFor(kNoticeTitle, 0ms));
  // An end that was called off changes nothing.
  EXPECT_TRUE(app_->SendToForm(WM_ENDSESSION, FALSE, 0).has_value());
  EXPECT_TRUE(app_->Running());
  EXPECT_FALSE(app_->FormVisible());
  // The session ends: the program goes, and its icon with it.
  const auto ending = std::chrono::steady_clock::now();
  app_->SendToForm(WM_ENDSESSION, TRUE, 0);  // the program may be gone before it answers
  EXPECT_TRUE(app_->WaitForExit(3s)) << "the program outlives the session";
  std::printf("[ figure ] session end to process gone: %lld ms\n", MillisSince(ending));
  EXPECT_TRUE(WaitUntil([] { return !NotificationAreaShown(); }, 3s))
      << "the icon outlives the program";
}

// ---- link labels ---------------------------------------------------------------

TEST_F(Quenzil, LinkLabelsTurnBoldUnderThePointer) {
  ASSERT_TRUE(Start());
  for (int label : {ids::kLabel3, ids::kLabel5}) {
    SCOPED_TRACE(label);
    const int regular = Width(app_->ControlRectInClient(label));
    ASSERT_GT(regular, 0);
    ASSERT_TRUE(app_->MoveMouseOverControl(label));
    EXPECT_TRUE(WaitUntil([&] { return Width(app_->ControlRectInClient(label)) > regular; }, 3s))
        << "the label did not grow bold";
    ASSERT_TRUE(app_->MoveMouse(BareSurfacePoint()));
    EXPECT_TRUE(WaitUntil([&] { return Width(app_->ControlRectInClient(label)) == regular; }, 3s))
        << "the label stays bold over the bare surface";
  }
}

TEST_F(Quenzil, LinkLabelsOpenTheirSites) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(app_->ClickLabel(ids::kLabel3));
  EXPECT_TRUE(WaitForBrowserCall(TrackingOrigin(), 1));
  ASSERT_TRUE(app_->ClickLabel(ids::kLabel5));
  EXPECT_TRUE(WaitForBrowserCall(MakerOrigin(), 2));
  // A double click opens the page once.
  ASSERT_TRUE(app_->DoubleClickLabel(ids::kLabel3));
  EXPECT_TRUE(WaitForBrowserCall(TrackingOrigin(), 3));
  ASSERT_TRUE(app_->ClickLabel(ids::kLabel5));
  EXPECT_TRUE(WaitForBrowserCall(MakerOrigin(), 4)) << "the double click opened the page twice";
  EXPECT_TRUE(HoldsFor([] { return BrowserCalls().size() == 4; }, 500ms, 50ms))
      << BrowserCalls().size() << " pages opened, not 4";
  EXPECT_TRUE(app_->Running());
  EXPECT_TRUE(app_->FormVisible());
  EXPECT_TRUE(app_->WaitForRows({kPlaceholder}, 0ms));
}

}  // namespace
}  // namespace e2e
