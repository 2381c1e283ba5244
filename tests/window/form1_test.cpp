#include "window/form1.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fakes.h"
#include "query/services/kuaidi100_old.h"
#include "query/carriers.h"
#include "query/couriers.h"

namespace quenzil {
namespace {

using testing::FakeAutostart;
using testing::FakeCredentialStore;
using testing::FakeFormView;
using testing::FakeHistoryStore;
using testing::FakeQueryCounter;
using testing::FakeSettingsStore;
using testing::FakeTransfers;
using testing::FakeWatchStore;
using testing::ShownMessage;
using Rows = std::vector<std::string>;
using Messages = std::vector<ShownMessage>;

const std::string kPlaceholder(ResultPlaceholderLine);
const Credentials kAccount{"CUST01", "k3y-secret-0123"};
const DeployHosts& kHosts = testing::kFormHosts;

std::string TrackingAnswer(const Rows& values) {
  std::string answer = "<table><tr><th>时间</th></tr>\n";
  for (const std::string& value : values) answer += "<tr><td style='padding:3px 5px;'>" + value + "</td></tr>\n";
  return answer + "</table>";
}

std::string PollResult(std::string_view com, std::string_view state) {
  return R"({"message":"ok","nu":"N1","ischeck":"0","com":")" + std::string(com) + R"(","status":"200","state":")" +
         std::string(state) +
         R"(","data":[{"time":"2026-12-01 08:00:00","ftime":"2026-12-01 08:00:00","context":"已揽收"},)"
         R"({"time":"2026-12-02 09:30:00","ftime":"2026-12-02 09:30:00","context":"到达上海"}]})";
}

std::string PollFailure(std::string_view code, std::string_view message) {
  return R"({"result":false,"returnCode":")" + std::string(code) + R"(","message":")" + std::string(message) + R"("})";
}

class Form1Test : public ::testing::Test {
 protected:
  FakeFormView view;
  FakeTransfers transfers;
  FakeCredentialStore credentials;
  FakeWatchStore watch_store;
  FakeHistoryStore history;
  FakeSettingsStore settings;
  FakeQueryCounter counter;
  FakeAutostart autostart;
  // The real time at the start, moved by the test.
  testing::FakeClock clock{std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count()};
  std::unique_ptr<Form1> form;

  FormStores Stores() { return {credentials, watch_store, history, settings, counter, autostart}; }
  void SetUp() override { form = std::make_unique<Form1>(view, transfers, Stores(), clock, kHosts); }
  // Fires an armed one-shot timer, as the window does; false when none is armed.
  bool Fire(std::string_view name) {
    const std::optional<unsigned> id = view.Take(name);
    if (id) form->OnTimer(*id);
    return id.has_value();
  }
  void Answer(std::string text) { form->OnTransferDone(transfers.Last().id, FetchOutcome::Answered(std::move(text))); }
  void Fail(FetchFailure kind, std::string cause) {
    form->OnTransferDone(transfers.Last().id, FetchOutcome::Failed(kind, std::move(cause)));
  }
  // Started as the program starts: the update check said "1", the watch
  // list was read; then a number and a courier.
  void StartWith(std::string number, std::string_view carrier) {
    form->Form_Load();
    Answer("1");
    Fire("deferred start");
    view.number_text = std::move(number);
    view.SelectCarrierNamed(carrier);
  }
  void StartKeyed(std::string number, std::string_view carrier) {
    credentials.stored.accounts.kuaidi100 = kAccount;
    StartWith(std::move(number), carrier);
  }
};

// ---- start-up -------------------------------------------------------------------

TEST_F(Form1Test, AnyOtherUpdateAnswerStartsNormally) {
  for (const std::string_view text : {"1", "2\r\n", " 2", "", "02", "２"}) {
    FakeFormView fresh_view;
    FakeTransfers fresh_transfers;
    Form1 fresh(fresh_view, fresh_transfers, Stores(), clock, kHosts);
    fresh.Form_Load();
    EXPECT_FALSE(fresh_view.shown_once) << text;
    EXPECT_EQ(fresh_transfers.Last().request.url, "http://maker.test/gengxin.txt") << text;
    fresh.OnTransferDone(fresh_transfers.Last().id, FetchOutcome::Answered(std::string(text)));
    EXPECT_EQ(fresh_view.rows, Rows{kPlaceholder}) << text;
    EXPECT_TRUE(fresh_view.messages.empty() && fresh_view.shown_once && !fresh_view.program_ended) << text;
  }
}

TEST_F(Form1Test, UnreadableStoredKeyIsToldOnceAndCountsAsNone) {
  credentials.stored.unreadable = true;
  StartWith("123", "none");
  EXPECT_EQ(view.messages, (Messages{{std::string(kCredentialsUnreadablePrompt), "系统提示"}}));
  form->chaxun_Click();  // no key: no detection, the user picks
  EXPECT_EQ(view.messages.back(), (ShownMessage{"请选择快递公司", "系统提示"}));
  EXPECT_EQ(transfers.started.size(), 1u);
}

// ---- the old query ----------------------------------------------------------------

TEST_F(Form1Test, EmptyNumberIsAskedForBeforeTheCourier) {
  StartWith("", "none");
  form->chaxun_Click();
  EXPECT_EQ(view.rows, Rows{});
  EXPECT_EQ(view.messages, (Messages{{"请输入快递单号", "系统提示"}}));
  EXPECT_TRUE(view.carrier_reads.empty());
  EXPECT_EQ(transfers.started.size(), 1u);  // the update check only
}

TEST_F(Form1Test, QueryReturnsAtOnceAndTheAnswerFillsTheList) {
  StartWith("  12 34", "yunda");
  form->chaxun_Click();
  ASSERT_EQ(transfers.started.size(), 2u);
  EXPECT_EQ(transfers.Last().request.url, BuildQueryUrl("api.test:8080", "  12 34", "yunda"));
  EXPECT_EQ(transfers.Last().request.method, "GET");
  EXPECT_EQ(view.rows, Rows{});  // cleared, the answer is on its way
  Answer(TrackingAnswer({"2013-01-20", "<b>上海</b>", "已签收"}));
  EXPECT_EQ(view.rows, (Rows{"2013-01-20", "<b>上海", "已签收"}));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(form->SystemMenuOpening().can_watch);
}

TEST_F(Form1Test, FailedTransferIsToldAndKeepsNumberAndCourier) {
  StartWith("9876", "shentong");
  const auto couriers = view.carrier_selected;
  form->chaxun_Click();
  Fail(FetchFailure::kTimedOut, "WinHttpReceiveResponse: 12002");
  EXPECT_EQ(view.messages, (Messages{{"查询失败：" + FetchFailureMessage(FetchFailure::kTimedOut) +
                                          "\n（WinHttpReceiveResponse: 12002）",
                                      "查询失败"}}));
  EXPECT_EQ(view.rows, Rows{});
  EXPECT_EQ(view.number_text, "9876");
  EXPECT_EQ(view.carrier_selected, couriers);
}

TEST_F(Form1Test, PressingAgainForTheSameQueryAsksNothingNew) {
  StartWith("555", "ems");
  for (int press = 0; press < 5; ++press) form->chaxun_Click();  // Enter held down
  EXPECT_EQ(transfers.started.size(), 2u);
  Answer(TrackingAnswer({"a", "b"}));
  EXPECT_EQ(view.rows, (Rows{"a", "b"}));
  form->chaxun_Click();  // answered: a new press asks anew
  EXPECT_EQ(transfers.started.size(), 3u);
}

TEST_F(Form1Test, ANewerQueryOrAClearSupersedesTheOneOnItsWay) {
  StartWith("first", "ems");
  form->chaxun_Click();
  const TransferId first = transfers.Last().id;
  view.number_text = "second";
  form->chaxun_Click();
  EXPECT_TRUE(transfers.started[1].cancelled);
  form->OnTransferDone(first, FetchOutcome::Failed(FetchFailure::kConnectionLost, "late"));
  form->OnTransferDone(first, FetchOutcome::Answered(TrackingAnswer({"old"})));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.rows, Rows{});
  Answer(TrackingAnswer({"new"}));
  EXPECT_EQ(view.rows, Rows{"new"});

  form->chaxun_Click();
  view.number_text = "third";
  form->chaxun_Click();
  const TransferId third = transfers.Last().id;
  form->Command2_Click();
  EXPECT_TRUE(transfers.Last().cancelled);
  form->OnTransferDone(third, FetchOutcome::Answered(TrackingAnswer({"late"})));
  EXPECT_EQ(view.rows, Rows{kPlaceholder});
  EXPECT_EQ(view.number_text, "");
  EXPECT_TRUE(view.carrier_selected[9]);  // ems stays selected
}

TEST_F(Form1Test, OtherCouriersAreFoundByTypingAndGoToTheOldAddress) {
  StartWith("123", "yunda");
  for (const char* key : {"j", "d", "u"}) form->Combo1_KeyPress(key);  // "jd", then a new word: "u"
  EXPECT_EQ(OtherCouriers().at(view.other_courier.value())->code, "ups");
  Fire("type-ahead");
  for (const char* key : {"J", "D"}) form->Combo1_KeyPress(key);
  form->chaxun_Click();  // yunda is no more
  EXPECT_EQ(transfers.Last().request.url, BuildQueryUrl("api.test:8080", "123", "jd"));
}

// ---- the keyed API -------------------------------------------------------------

TEST_F(Form1Test, NoResultYetIsAdviceAndOtherCodesAreToldWithoutTheKey) {
  StartKeyed("YT123", "yuantong");
  form->chaxun_Click();
  Answer(PollFailure("500", "查询无结果，请隔段时间再查"));
  EXPECT_EQ(view.rows, Rows{std::string(AdviceMessage(AnswerKind::kNotRecorded))});
  EXPECT_TRUE(view.messages.empty());

  form->chaxun_Click();
  Answer(PollFailure("503", "验证签名失败 " + kAccount.key));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "查询失败");
  EXPECT_NE(view.messages[0].prompt.find("验证签名失败"), std::string::npos);
  EXPECT_NE(view.messages[0].prompt.find("查询服务账号"), std::string::npos);
  EXPECT_EQ(view.messages[0].prompt.find(kAccount.key), std::string::npos);
  EXPECT_EQ(view.rows, Rows{});
}

TEST_F(Form1Test, PhoneMismatchAsksForTheDigitsAndRepeatsOnce) {
  StartKeyed("SF1", "shunfeng");
  form->chaxun_Click();
  view.phone_answer = "1234";
  Answer(PollFailure("408", "手机号不匹配"));
  EXPECT_EQ(view.phone_asks, 1);
  ASSERT_EQ(transfers.started.size(), 3u);
  EXPECT_NE(transfers.Last().request.body.find("%22phone%22%3A%221234%22"), std::string::npos)
      << transfers.Last().request.body;
  Answer(PollFailure("408", "手机号不匹配"));  // still wrong: told, not asked again
  EXPECT_EQ(view.phone_asks, 1);
  EXPECT_EQ(transfers.started.size(), 3u);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "查询失败");

  view.phone_answer.reset();  // cancelled: nothing more happens
  form->chaxun_Click();
  Answer(PollFailure("408", "手机号不匹配"));
  EXPECT_EQ(transfers.started.size(), 4u);
  EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(Form1Test, DetectionPicksTheCourierWhenNoneIsSelected) {
  StartKeyed("YT9", "none");
  form->chaxun_Click();
  EXPECT_EQ(transfers.Last().request.url.rfind("https://detect.test/autonumber/auto?num=YT9&key=", 0), 0u);
  Answer(R"([{"comCode":"yuantong","lengthPre":15,"name":"圆通速递"},{"comCode":"ems","name":"EMS"}])");
  EXPECT_TRUE(view.carrier_selected[1]);
  EXPECT_NE(transfers.Last().request.body.find("yuantong"), std::string::npos);
  Answer(PollResult("yuantong", "0"));
  EXPECT_EQ(view.rows.front(), "圆通速递  在途");

  // The courier detection picked belongs to that number: another number is
  // detected afresh; a courier the user picks is taken as it is.
  view.number_text = "ZT5";
  form->chaxun_Click();
  EXPECT_EQ(view.carrier_selected, (std::array<bool, 10>{}));  // free to be picked for this number
  EXPECT_NE(transfers.Last().request.url.find("/autonumber/auto?num=ZT5"), std::string::npos);
  Answer(R"([{"comCode":"zhongtong","name":"中通快递"}])");
  EXPECT_TRUE(view.carrier_selected[0]);
  Answer(PollResult("zhongtong", "0"));
  view.number_text = "YT9";
  view.SelectCarrierNamed("ems");
  form->chaxun_Click();
  EXPECT_NE(transfers.Last().request.body.find("ems"), std::string::npos);

  view.number_text = "JT1";
  view.SelectCarrierNamed("none");
  form->chaxun_Click();
  Answer(R"([{"comCode":"jtexpress","name":"极兔速递"}])");
  EXPECT_EQ(view.carrier_selected, (std::array<bool, 10>{}));
  EXPECT_EQ(OtherCouriers().at(view.other_courier.value())->code, "jtexpress");
  Answer(PollResult("jtexpress", "5"));
  EXPECT_EQ(view.rows.front(), "极兔速递  派件");

  view.number_text = "XX1";
  form->chaxun_Click();
  Answer("[]");
  EXPECT_EQ(view.messages, (Messages{{"请选择快递公司", "系统提示"}}));
}

// ---- list commands, exit, tray, links, clock --------------------------------------

TEST_F(Form1Test, CopyRetriesWhileTheClipboardIsHeld) {
  view.rows = {"a", "b"};
  view.clipboard_busy_for = 3;
  form->Command1_Click();
  while (Fire("clipboard")) {
  }
  EXPECT_EQ(view.clipboard, "a\r\nb\r\n");
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Form1Test, ExitOkEndsAndCancelsWhatRuns) {
  StartWith("1", "ems");
  form->chaxun_Click();
  view.confirm_answer = true;
  form->Command4_Click();
  EXPECT_FALSE(form->Form_QueryUnload());
  EXPECT_EQ(view.messages.back(), (ShownMessage{"您确定退出程序吗？建议缩小到后台方便下次查询哦。", "退出确认"}));
  EXPECT_TRUE(view.program_ended);
  EXPECT_EQ(transfers.NotCancelled(), 1u);  // the update check, long answered
}

TEST_F(Form1Test, HideToTrayAndBack) {
  StartWith("1", "ems");
  form->Command4_Click();
  EXPECT_EQ(view.tray_tips, Rows{"QuenzilV1.0-【Dravimo提供】-maker.test"});
  EXPECT_FALSE(view.window_shown);
  form->TrayIcon_Recreated(false);  // the shell came back without the icon
  EXPECT_TRUE(view.window_shown);

  view.tray_accepts = false;
  form->Command4_Click();
  EXPECT_TRUE(view.window_shown);
  EXPECT_EQ(view.messages.back(), (ShownMessage{std::string(kTrayRefusedPrompt), "系统提示"}));
}

// ---- one box at a time, and what outlives a run ----------------------------------

TEST_F(Form1Test, AFailureArrivingUnderTheExitQuestionWaitsForIt) {
  StartWith("9876", "shentong");
  form->chaxun_Click();
  view.while_box_is_up = [&] { Fail(FetchFailure::kTimedOut, "late"); };
  EXPECT_TRUE(form->Form_QueryUnload());  // Cancel
  ASSERT_EQ(view.messages.size(), 1u) << "nothing opened on top of the question";
  EXPECT_EQ(view.messages[0].title, "退出确认");
  ASSERT_TRUE(Fire("waiting boxes"));
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].title, "查询失败");

  // A box that fails leaves no box counted: the next close still asks.
  view.while_box_is_up = [] { throw std::runtime_error("MessageBoxW: 5"); };
  form->chaxun_Click();
  EXPECT_THROW(Fail(FetchFailure::kTimedOut, "again"), std::runtime_error);
  EXPECT_EQ(view.messages.size(), 3u);
  EXPECT_TRUE(form->Form_QueryUnload());
  EXPECT_EQ(view.messages.back().title, "退出确认");
}

TEST_F(Form1Test, ANumberHandedOverIsQueriedOnlyWhenItIsOne) {
  form->Form_Load();
  form->SecondInstance_Activate(" YT1234567890\r\n");  // before the window is up: kept
  EXPECT_EQ(transfers.started.size(), 1u);
  view.SelectCarrierNamed("yuantong");
  Answer("1");
  EXPECT_TRUE(view.window_shown);
  EXPECT_EQ(view.number_text, "YT1234567890");
  ASSERT_EQ(transfers.started.size(), 2u);
  EXPECT_EQ(transfers.Last().request.url, BuildQueryUrl("api.test:8080", "YT1234567890", "yuantong"));

  form->Command4_Click();
  form->SecondInstance_Activate("where is my parcel");
  EXPECT_TRUE(view.window_shown);
  EXPECT_EQ(view.number_text, "where is my parcel");
  EXPECT_EQ(transfers.started.size(), 2u) << "a sentence is not queried";
}

TEST_F(Form1Test, AWatchFileHeldElsewhereIsReadLaterAndNeverWrittenBefore) {
  watch_store.busy_for = 2;
  watch_store.stored.list.parcels.push_back({.number = "ZT1", .carrier = "zhongtong"});
  form->Form_Load();
  Answer("1");
  ASSERT_TRUE(Fire("deferred start"));
  for (int retry = 0; retry < 2; ++retry) {
    clock.ticks += std::chrono::seconds{30};
    ASSERT_TRUE(Fire("tracker"));
  }
  EXPECT_EQ(form->tracker().list().parcels.size(), 1u);
  EXPECT_EQ(watch_store.saves, 0);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Form1Test, WhatWasWatchedWhileTheFileWasHeldIsNoFailureWhenTheFileTurnsOutNewer) {
  watch_store.busy_for = 1;
  watch_store.stored.newer_version = true;
  watch_store.save_works = false;  // as the store refuses a newer file
  view.note_answer = "";
  StartKeyed("YT1", "yuantong");
  form->chaxun_Click();
  Answer(PollResult("yuantong", "0"));
  form->SystemMenu_Click(commands::kWatch);
  clock.ticks += std::chrono::seconds{30};
  ASSERT_TRUE(Fire("tracker"));
  EXPECT_EQ(view.messages.back().prompt, kWatchFileNewerPrompt);
  EXPECT_TRUE(view.notifications.empty()) << "关注列表没能保存 for a file that is not to be written";
}

TEST_F(Form1Test, WhatWasWatchedWhileTheFileWasHeldIsSavedAtExitIfItCanBeRead) {
  watch_store.busy_for = 1;
  watch_store.stored.list.parcels.push_back({.number = "ZT1", .carrier = "zhongtong"});
  view.note_answer = "";
  StartKeyed("YT1", "yuantong");
  form->chaxun_Click();
  Answer(PollResult("yuantong", "0"));
  form->SystemMenu_Click(commands::kWatch);
  EXPECT_EQ(watch_store.saves, 0) << "not before the file is read";
  view.confirm_answer = true;
  form->Form_QueryUnload();
  ASSERT_EQ(watch_store.stored.list.parcels.size(), 2u);
  EXPECT_EQ(watch_store.stored.list.parcels[1].number, "YT1");
}

TEST_F(Form1Test, ARefusedAccountPausesRefreshUntilConfirmedAndSaysSoOnce) {
  watch_store.stored.list.parcels.push_back({.number = "YT1", .carrier = "yuantong"});
  StartKeyed("", "none");
  ASSERT_EQ(transfers.started.size(), 2u) << "the watched parcel is fetched";
  Answer(PollFailure("601", "key已过期"));
  ASSERT_EQ(view.notifications.size(), 1u);
  EXPECT_NE(view.notifications[0].find("后台刷新已暂停"), std::string::npos) << view.notifications[0];
  EXPECT_TRUE(settings.paused);
  EXPECT_TRUE(view.messages.empty()) << "background work raises no box";

  counter.count = 42;
  settings.detection_refused = true;
  view.account_answer = AccountSettings{{.kuaidi100 = kAccount}, RefreshMode::kHourly, {}};
  form->SystemMenu_Click(commands::kKeySettings);
  EXPECT_EQ(view.account_shown->queries_this_month[0], 42u);
  EXPECT_EQ(view.account_shown->refresh, RefreshMode::kSmart);
  EXPECT_EQ(settings.mode, RefreshMode::kHourly);
  EXPECT_FALSE(settings.paused);
  EXPECT_FALSE(settings.detection_refused) << "detection is asked again";
  EXPECT_TRUE(view.timers.count("tracker")) << "refresh goes on";
}

TEST_F(Form1Test, TheBackgroundRefreshTakesInRowsTheConsoleCompanionGot) {
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  // The entry's own digits stay when the kept answer has none; an answer
  // older than the guard is asked anew.
  history.history.entries.push_back({.number = "YT9", .carrier = "yuantong", .answered = now.count() - 1900,
                                     .keyed = true, .state = "5"});
  watch_store.stored.list.parcels.push_back({.number = "YT9", .carrier = "yuantong", .state = "0",
                                             .added = now.count() - 7200, .last_checked = now.count() - 5000,
                                             .last_answered = now.count() - 5000});
  for (const char* entry_phone : {"", "5678"}) {
    watch_store.stored.list.parcels.push_back({.number = std::string("YT") + entry_phone, .carrier = "yuantong",
                                               .phone = entry_phone, .state = "0",
                                               .events = {{"2026-12-08 08:00:00", "到达"}}, .added = now.count() - 7200,
                                               .last_checked = now.count() - 7200});
    history.history.entries.push_back({.number = std::string("YT") + entry_phone, .carrier = "yuantong",
                                       .phone = *entry_phone ? "" : "1234", .answered = now.count() - 60, .keyed = true,
                                       .state = "5", .events = {{"2026-12-08 09:00:00", "派件中"}}});
  }
  // Rows the entry already had bring no news.
  watch_store.stored.list.parcels.push_back({.number = "YTQ", .carrier = "yuantong", .state = "5",
                                             .events = {{"2026-12-08 09:00:00", "派件中"}}, .added = now.count() - 7200,
                                             .last_checked = now.count() - 7200, .last_answered = now.count() - 7200});
  history.history.entries.push_back({.number = "YTQ", .carrier = "yuantong", .answered = now.count() - 60, .keyed = true,
                                     .state = "5", .events = {{"2026-12-08 09:00:00", "派件中"}}});
  StartKeyed("", "none");
  EXPECT_EQ(transfers.started.size(), 2u) << "the update check and YT9: the numbers just answered were not sent again";
  const std::vector<WatchedParcel>& parcels = form->tracker().list().parcels;
  EXPECT_EQ(parcels.at(1).state + parcels.at(1).phone + parcels.at(2).state + parcels.at(2).phone, "5123455678");
  EXPECT_EQ(parcels.at(1).last_answered, now.count() - 60) << "answered when the companion asked";
  EXPECT_EQ(view.notifications.size(), 2u) << "news is told, wherever it came from";
}

TEST_F(Form1Test, AQueryByHandWaitsForTheBackgroundRefreshOfItsNumber) {
  watch_store.stored.list.parcels.push_back({.number = "YT1", .carrier = "yuantong"});
  StartKeyed("YT1", "yuantong");
  ASSERT_EQ(transfers.started.size(), 2u) << "the watched parcel is fetched";
  const TransferId refresh = transfers.Last().id;
  form->chaxun_Click();
  form->chaxun_Click();
  EXPECT_EQ(transfers.started.size(), 2u) << "not asked twice at once";
  form->OnTransferDone(refresh, FetchOutcome::Answered(PollResult("yuantong", "0")));
  EXPECT_EQ(transfers.started.size(), 2u);
  EXPECT_EQ(view.rows, Rows({"圆通速递  在途（刚刚查询）", "2026-12-01 08:00:00", "已揽收", "2026-12-02 09:30:00", "到达上海"}));
}

TEST_F(Form1Test, WatchingAsksOnceAboutStartingAtLoginAndAFailedSaveIsToldOnce) {
  watch_store.save_works = false;
  view.note_answer = "";
  StartKeyed("YT1", "yuantong");
  for (const char* number : {"YT1", "YT2"}) {
    view.number_text = number;
    form->chaxun_Click();
    Answer(PollResult("yuantong", "0"));
    form->SystemMenu_Click(commands::kWatch);
  }
  EXPECT_EQ(form->tracker().list().parcels.size(), 2u) << "kept in memory though not saved";
  EXPECT_EQ(view.messages, (Messages{{std::string(kAutostartPrompt), "系统提示"}})) << "asked once, answered No";
  EXPECT_TRUE(settings.autostart_asked);
  EXPECT_FALSE(autostart.state.registered);
  EXPECT_EQ(view.notifications, std::vector<std::string>{std::string(kWatchNotSavedTitle) + "|" +
                                                         std::string(kWatchNotSavedText)});
  form->SystemMenu_Click(commands::kAutostart);
  EXPECT_TRUE(autostart.state.enabled);
  EXPECT_TRUE(form->SystemMenuOpening().autostart_on);
  watch_store.save_works = true;
  view.confirm_answer = true;
  form->Form_QueryUnload();
  EXPECT_EQ(watch_store.stored.list.parcels.size(), 2u) << "saved once more at exit";
}

}  // namespace
}  // namespace quenzil
