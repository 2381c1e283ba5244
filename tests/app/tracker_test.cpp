#include "app/tracker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes.h"
#include "web/counting_transfers.h"

namespace quenzil {
namespace {

using testing::FakeHistoryStore;
using testing::FakeTransfers;

constexpr UnixSeconds kT0 = 1796722200;
const Credentials kAccount{"CUST01", "k3y-secret-0123"};
DeployHosts Hosts() {
  DeployHosts hosts;
  hosts.tracking_api = "api.test";
  hosts.tracking_poll = "poll.test";
  hosts.tracking_detect = "detect.test";
  hosts.query_limits.total = std::chrono::milliseconds{7000};
  hosts.watch_schedule.requery_guard = 1800;
  hosts.kdniao = "kdniao.test";
  hosts.appcode = "appcode.test";
  return hosts;
}

std::string PollResult(std::string_view state) {
  return R"({"message":"ok","nu":"N1","ischeck":"0","com":"yuantong","status":"200","state":")" + std::string(state) +
         R"(","data":[{"time":"2026-12-02 09:30:00","context":"到达上海"}]})";
}
std::string PollFailure(std::string_view code) {
  return R"({"result":false,"returnCode":")" + std::string(code) + R"(","message":"m"})";
}

// What the tracker told, in order.
class Events : public TrackerEvents {
 public:
  void QueryStarted() override {}
  void Rows(const QueryOutcome& outcome) override { done.push_back(outcome); }
  void Advice(const std::vector<std::string>& rows) override {
    done.push_back({.kind = QueryOutcome::Kind::kAdvice, .rows = rows});
  }
  void Told(std::string_view prompt, std::string_view title) override {
    done.push_back({.kind = title == "查询失败" ? QueryOutcome::Kind::kFailure : QueryOutcome::Kind::kNotice,
                    .prompt = std::string(prompt), .title = std::string(title)});
  }
  void CourierPicked(std::string_view code) override {
    if (!code.empty()) detected.emplace_back(code);
  }
  bool PhoneWanted(std::string_view, std::string_view) override {
    ++phone_asks;
    return can_ask_phone;
  }
  void ListChanged() override {}
  bool Notification(std::string_view, std::string_view) override { return true; }
  void WakeAfter(std::optional<std::chrono::milliseconds>) override {}
  bool can_ask_phone = true;
  int phone_asks = 0;
  std::vector<QueryOutcome> done;
  std::vector<std::string> detected;
};

// A tracker with these accounts over the services' test hosts, refresh off:
// the queries alone.
struct Rig {
  explicit Rig(Accounts accounts, TrackerOptions options = {.writes_later = false})
      : tracker{counted, {watch_store, history, settings}, events, clock, Hosts(), options} {
    settings.mode = RefreshMode::kOff;
    tracker.LoadSettings();
    tracker.LoadWatchList();
    tracker.SetAccounts(std::move(accounts));
  }
  FakeTransfers transfers;
  int billed = 0;
  CountingTransfers counted{transfers, [this](const std::string&) { ++billed; }};
  testing::FakeWatchStore watch_store;
  FakeHistoryStore history;
  testing::FakeSettingsStore settings;
  testing::FakeClock clock{kT0};
  Events events;
  Tracker tracker;
};

// 快递100 and 快递鸟 with their accounts, 快递100 first, and AppCode's if asked for.
Accounts AllServices(std::vector<std::string> order = {"kuaidi100", "kdniao"}, bool appcode = false) {
  return {kAccount, {"1237100", "kd-key"}, {appcode ? "ac-code" : ""}, std::move(order)};
}

// Which service a request went to, by the host the test gives each.
std::string ServiceOf(const FetchRequest& request) {
  if (request.url.find("//poll.test/") != std::string::npos) return "kuaidi100";
  if (request.url.find("//kdniao.test/") != std::string::npos) return "kdniao";
  if (request.url.find("//appcode.test/") != std::string::npos) return "appcode";
  return "other";
}

class QueryFlowTest : public ::testing::Test, protected Rig {
 protected:
  QueryFlowTest() : Rig({.kuaidi100 = kAccount}) {}
  void Answer(std::string text, unsigned status = 200) {
    ASSERT_TRUE(tracker.OnTransferDone(transfers.Last().id, FetchOutcome::Answered(std::move(text), status)));
  }
  void Fail(FetchFailure kind, std::string cause) {
    ASSERT_TRUE(tracker.OnTransferDone(transfers.Last().id, FetchOutcome::Failed(kind, std::move(cause))));
  }
  void Ask(std::string number, std::string carrier_code) {
    QueryAsk ask;
    ask.number = std::move(number);
    ask.carrier_code = std::move(carrier_code);
    tracker.Query(ask);
  }
  // Watched now, as if the list had been read with it.
  void Watched(WatchedParcel parcel) {
    watch_store.stored.list.parcels.push_back(std::move(parcel));
    tracker.LoadWatchList();
  }
  const QueryOutcome& Last() const { return events.done.back(); }
};
using Routing = QueryFlowTest;

TEST_F(QueryFlowTest, TheGuardHoldsRowsForHalfAnHourOnlyAndSaysHowOld) {
  Ask("YT1", "yuantong");
  Answer(PollResult("0"));
  ASSERT_EQ(Last().kind, QueryOutcome::Kind::kRows);
  EXPECT_EQ(Last().rows.front(), "圆通速递  在途");
  EXPECT_EQ(Last().result->number, "YT1") << "the number as asked, however the service spells it";
  ASSERT_EQ(history.history.entries.size(), 1u) << "rows are kept";
  EXPECT_EQ(transfers.started.size(), 1u);

  struct Case {
    UnixSeconds age;
    const char* suffix;  // nullptr: asked anew
  };
  for (const Case& kept : {Case{0, "（刚刚查询）"}, Case{59, "（刚刚查询）"}, Case{60, "（1分钟前查询）"},
                           Case{1799, "（29分钟前查询）"}, Case{1800, nullptr}, Case{-60, nullptr}}) {
    clock.now = kT0 + kept.age;
    const std::size_t sent = transfers.started.size();
    Ask("YT1", "yuantong");
    if (kept.suffix == nullptr) {
      EXPECT_EQ(transfers.started.size(), sent + 1) << kept.age;
      tracker.CancelQuery();
      continue;
    }
    EXPECT_EQ(transfers.started.size(), sent) << kept.age;
    ASSERT_EQ(Last().kind, QueryOutcome::Kind::kRows) << kept.age;
    EXPECT_TRUE(Last().kept);
    EXPECT_EQ(Last().rows.front(), std::string("圆通速递  在途") + kept.suffix) << kept.age;
    EXPECT_EQ(Last().rows.size(), 3u);
  }
  EXPECT_EQ(history.history.entries.at(0).first_row, "圆通速递  在途") << "rows shown again are not kept again";
  clock.now = kT0 + 60;
  Ask("YT1", "zhongtong");
  EXPECT_EQ(transfers.Last().request.body.find("zhongtong") != std::string::npos, true)
      << "another courier is another parcel";
}

TEST_F(QueryFlowTest, AKeptAnswerNamesTheCourierWithoutDetection) {
  Watched({.number = "JT9", .carrier = "jtexpress", .phone = "1234", .state = "5",
                             .events = {{"2026-12-08 09:00:00", "派件中"}}, .last_answered = kT0 - 300});
  Ask("JT9", "");
  EXPECT_TRUE(transfers.started.empty()) << "no detection, no query";
  EXPECT_EQ(Last().rows.front(), "极兔速递  派件（5分钟前查询）");
  EXPECT_EQ(Last().carrier_code + Last().carrier_name + Last().phone + Last().result->number + Last().result->carrier_code,
            "jtexpress极兔速递1234JT9jtexpress");
  EXPECT_EQ(Last().answered_at, kT0 - 300);
  // A courier outside the table keeps the name it was watched under.
  Watched({.number = "ZI1", .carrier = "zhongtongguoji", .carrier_name = "中通国际", .state = "0",
                             .last_answered = kT0 - 60});
  Ask("ZI1", "");
  EXPECT_EQ(Last().rows.front(), "中通国际  在途（1分钟前查询）");
  EXPECT_EQ(events.detected, (std::vector<std::string>{"jtexpress", "zhongtongguoji"}));
  // The newest kept answer wins, whichever file holds it; the old address's
  // rows hold no keyed query back.
  history.history.entries.push_back({.number = "JT9", .carrier = "jtexpress", .answered = kT0 - 60, .keyed = true,
                                     .state = "3"});
  history.history.entries.push_back({.number = "ZT7", .carrier = "zhongtong", .answered = kT0 - 60});
  Ask("JT9", "");
  EXPECT_EQ(Last().rows.front(), "极兔速递  已签收（1分钟前查询）");
  EXPECT_EQ(billed, 0);
  Ask("ZT7", "zhongtong");
  EXPECT_EQ(billed, 1);
}

TEST_F(QueryFlowTest, OnlyRowsStartTheGuardAndEveryKeyedRequestIsCounted) {
  Ask("", "");
  EXPECT_EQ(Last().prompt, "请输入快递单号");
  Ask("ZT2", "");
  EXPECT_NE(transfers.Last().request.url.find("/autonumber/auto?num=ZT2&key=k3y-secret-0123"), std::string::npos);
  Answer(R"([{"comCode":"zhongtong","name":"中通快递"}])");
  EXPECT_EQ(events.detected, std::vector<std::string>{"zhongtong"});
  Answer(PollFailure("500"));
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kAdvice);
  Ask("ZT2", "zhongtong");
  Fail(FetchFailure::kConnectionLost, "reset");
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kFailure);
  Ask("ZT2", "zhongtong");
  Answer(PollResult("0"), 407);
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kFailure) << "a proxy's page is never rows";
  EXPECT_NE(Last().prompt.find("HTTP 407"), std::string::npos) << Last().prompt;
  Ask("ZT2", "");
  Fail(FetchFailure::kCannotConnect, "num=ZT2&key=k3y-secret-0123");
  EXPECT_NE(Last().prompt.find("num=ZT2&key=***"), std::string::npos) << "the cause is shown, the key never";
  Ask("ZT2", "zhongtong");
  EXPECT_EQ(transfers.started.size(), 6u) << "nothing above started the guard";
  EXPECT_EQ(billed, 6);
  EXPECT_TRUE(history.history.entries.empty());
  // Counted once sent: requests that never went out (dropped while queued, no network) cost nothing.
  transfers.sends = false;
  Ask("ZT3", "zhongtong");
  Ask("ZT4", "zhongtong");
  EXPECT_EQ(billed, 6);
  transfers.sends = true;

  // The old public address costs nothing and keeps no guard.
  tracker.SetAccounts({});
  EXPECT_FALSE(tracker.OnItsWay({"ZT4", std::nullopt, "zhongtong", ""})) << "without the key it is another query";
  for (int press = 0; press < 2; ++press) {
    Ask("ZT2", "zhongtong");
    EXPECT_EQ(transfers.Last().request.limits.total.count(), 7000);
    Answer("<td style='padding:3px 5px;'>时间</td>");
  }
  EXPECT_EQ(Last().carrier_name + Last().number, "中通快递ZT2");
  Ask("ZT2", "zhongtong");
  Answer("时间");  // the marker without a row: no parcel
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kAdvice);
  EXPECT_EQ(transfers.started.size(), 11u);
  EXPECT_EQ(billed, 6);
}

TEST_F(QueryFlowTest, ThePhoneRetryIsNotHeldBackAndItsDigitsAreKept) {
  Ask("SF1", "shunfeng");
  Answer(PollFailure("408"));
  EXPECT_EQ(events.phone_asks, 1);
  EXPECT_TRUE(tracker.OnItsWay({"SF1", std::nullopt, "shunfeng", ""})) << "pressing again while asked sends nothing";
  EXPECT_FALSE(tracker.OnItsWay({"SF1", std::nullopt, "ems", ""})) << "another courier is another query";
  tracker.PhoneDigits("1234");
  EXPECT_NE(transfers.Last().request.body.find("%22phone%22%3A%221234%22"), std::string::npos);
  Answer(PollResult("0"));
  EXPECT_EQ(Last().phone, "1234");
  ASSERT_EQ(history.history.entries.size(), 1u);
  EXPECT_EQ(history.history.entries[0].phone, "1234");

  clock.now = kT0 + 1800;
  Ask("SF1", "shunfeng");
  EXPECT_NE(transfers.Last().request.body.find("%22phone%22%3A%221234%22"), std::string::npos)
      << "the digits go with every later query";

  // A watched parcel's digits go with a query of it, answered or not.
  Watched({.number = "SF3", .carrier = "shunfeng", .phone = "4321"});
  Ask("SF3", "shunfeng");
  EXPECT_NE(transfers.Last().request.body.find("%22phone%22%3A%224321%22"), std::string::npos);

  // Digits given with the ask win over kept ones.
  tracker.Query({"SF1", std::nullopt, "shunfeng", "5678"});
  EXPECT_NE(transfers.Last().request.body.find("%22phone%22%3A%225678%22"), std::string::npos);

  // A host that cannot ask (the console) ends with the service's words.
  events.can_ask_phone = false;
  Answer(PollFailure("408"));
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kFailure);
  EXPECT_NE(Last().prompt.find("408"), std::string::npos);

  // Cleared, or the account removed, while the digits were asked: nothing more is sent.
  events.can_ask_phone = true;
  Ask("SF2", "shunfeng");
  Answer(PollFailure("408"));
  const std::size_t sent = transfers.started.size();
  tracker.CancelQuery();
  tracker.PhoneDigits("1234");
  EXPECT_EQ(transfers.started.size(), sent);
  Ask("SF2", "shunfeng");
  Answer(PollFailure("408"));
  const std::size_t told = events.done.size();
  tracker.SetAccounts({});
  tracker.PhoneDigits("1234");
  EXPECT_EQ(transfers.started.size(), sent + 1);
  EXPECT_EQ(events.done.size(), told) << "nothing to show";
}

// The last queries' file written after the rows are shown, as the window does.
class TrackerAnswers : public ::testing::Test, protected Rig {
 protected:
  TrackerAnswers() : Rig({.kuaidi100 = kAccount}, {}) {}
};

TEST_F(TrackerAnswers, DigitsOfAWatchedParcelWithoutThemComeFromTheLastQueriesAndEveryFieldIsKept) {
  watch_store.stored.list.parcels.push_back({.number = "SF2", .carrier = "shunfeng"});
  watch_store.stored.list.parcels.push_back({.number = "ZT1", .carrier = "zhongtong", .phone = "4321"});
  tracker.LoadWatchList();
  tracker.Query({"SF2", std::nullopt, "shunfeng", "1234"});
  ASSERT_TRUE(tracker.OnTransferDone(
      transfers.Last().id,
      FetchOutcome::Answered(R"({"nu":"SF2","ischeck":"1","state":"3","data":[{"time":"t","context":"已签收"}]})")));
  EXPECT_TRUE(history.history.entries.empty()) << "the file is written later, off the wait";
  EXPECT_EQ(tracker.list().parcels[0].state, "3") << "the watched parcel takes the rows in";
  EXPECT_EQ(tracker.list().parcels[0].phone, "1234");
  tracker.Query({"SF2", std::nullopt, "shunfeng", ""});
  EXPECT_EQ(transfers.started.size(), 1u) << "and they are kept meanwhile";
  tracker.Query({"ZT1", std::nullopt, "zhongtong", ""});
  EXPECT_NE(transfers.Last().request.body.find("%22phone%22%3A%224321%22"), std::string::npos);
  tracker.OnWake();
  ASSERT_EQ(history.history.entries.size(), 1u);
  const HistoryEntry& entry = history.history.entries[0];
  EXPECT_TRUE(entry.keyed && entry.signed_for);
  EXPECT_EQ(entry.state + entry.events.at(0).context + entry.phone + entry.first_row, "3已签收1234顺丰速运  已签收");
  EXPECT_EQ(entry.answered, kT0);
}

TEST_F(QueryFlowTest, WithoutAPickLettersSettleTheCourierAndAnAccountWithoutDetectionTriesTwo) {
  Ask("75312098764412", "");  // detection that finds nothing: the user picks
  Answer("[]");
  EXPECT_EQ(Last().prompt, "请选择快递公司");
  Ask("75312098764413", "");  // a courier outside the table goes by the name detection gives
  Answer(R"([{"comCode":"zhongtongguoji","name":"中通国际"}])");
  Answer(PollResult("0"));
  EXPECT_EQ(Last().rows.front(), "中通国际  在途");
  Ask("75312098764414", "");  // detection's refusal of a key is not an account without detection
  Answer(PollFailure("503"));
  Answer(PollFailure("503"));
  Ask("75312098764415", "");
  Answer("{");
  EXPECT_FALSE(settings.detection_refused);
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kFailure) << "an unreadable detection answer";
  Ask("JT5261988016578", "");  // the number names its courier: no detection
  Answer(PollResult("5"));
  // Detection's 601 is remembered, never told; the two likeliest are asked.
  Ask("1100123456789", "");
  Answer(R"({"result":false,"returnCode":"601","message":"POLL:KEY已过期"})");
  EXPECT_TRUE(settings.detection_refused);
  Answer(PollFailure("500"));
  Answer(PollResult("0"));
  EXPECT_EQ(Last().rows.front(), "邮政快递包裹  在途");
  Ask("1100987654321", "");  // remembered: straight to the guess, two of its three couriers
  Answer(PollFailure("500"));
  Answer(PollFailure("500"));
  EXPECT_EQ(Last().prompt, "请选择快递公司\n\n已按单号试查：EMS、邮政快递包裹，都没有查询结果。");
  EXPECT_EQ(Last().title, "系统提示");
  Ask("1100987654322", "");
  Answer(PollFailure("601"));  // the account, not the courier: no second guess
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kFailure);
  Ask("1100987654323", "");  // a guessed courier that wants the digits has the parcel
  Answer(PollFailure("408"));
  EXPECT_EQ(events.phone_asks, 1);
  tracker.PhoneDigits("1234");  // its courier is found: no result yet is advice, not the next guess
  Answer(PollFailure("500"));
  EXPECT_EQ(Last().kind, QueryOutcome::Kind::kAdvice);
  Ask("ABC", "");
  EXPECT_EQ(Last().prompt, "请选择快递公司");
  EXPECT_EQ(events.detected, (std::vector<std::string>{"zhongtongguoji", "jtexpress", "youzhengguonei", "ems"}));
  EXPECT_EQ(billed, 15);
}

TEST_F(Routing, ServicesAreAskedInOrderAndEachOutcomePassesOnOrEndsThePress) {
  using K = QueryOutcome::Kind;
  const auto said = [](const std::string& text) { return FetchOutcome::Answered(text); };
  const FetchOutcome kdniao_rows = said(
      R"({"Success":true,"State":"2","Traces":[{"AcceptTime":"2026-12-02 09:30:00","AcceptStation":"到达杭州"}]})");
  const FetchOutcome appcode_rows = said(
      R"({"status":"0","result":{"type":"YTO","deliverystatus":"1","list":[{"time":"2026-12-02 09:30:00","status":"到达杭州"}]}})");
  const FetchOutcome kdniao_busy = said(R"({"Success":false,"Reason":"系统繁忙"})");
  const FetchOutcome kdniao_none = said(R"({"Success":true,"Traces":[],"Reason":"暂无轨迹信息"})");
  const struct {
    std::vector<std::string> order;
    std::string courier;
    std::vector<FetchOutcome> answers;  // in the order the requests go out
    K kind;
    std::string shown;  // for rows and advice the first row holds it, else the prompt
    std::vector<std::string> paused, asked;  // asked: empty for every service in order
  } rows[] = {
      {{"kuaidi100"}, "yuantong", {said(PollResult("0"))}, K::kRows, "圆通速递  在途"},
      {{"kuaidi100", "kdniao"}, "yuantong", {said(PollFailure("601")), kdniao_rows}, K::kRows, "圆通速递  在途（快递鸟）",
       {"kuaidi100"}},
      {{"kuaidi100", "kdniao", "appcode"}, "yuantong",
       {FetchOutcome::Failed(FetchFailure::kCannotConnect, "x"), kdniao_busy, appcode_rows}, K::kRows,
       "圆通速递  在途（AppCode）"},
      {{"kdniao", "kuaidi100"}, "yuantong", {kdniao_none, said(PollFailure("500"))}, K::kAdvice, "此单号未更新物流信息"},
      {{"kdniao", "appcode"}, "tiantian", {appcode_rows}, K::kRows, "天天快递  在途（AppCode）", {}, {"appcode"}},
      {{"kuaidi100", "kdniao"}, "yuantong", {said(PollFailure("400"))}, K::kFailure, "400", {}, {"kuaidi100"}},
      {{"kuaidi100", "kdniao"}, "yuantong", {said(PollFailure("502")), kdniao_busy}, K::kFailure, "快递鸟：系统繁忙"},
      {{"kdniao"}, "jtexpress", {said(R"({"Success":false,"Reason":"非法参数[请核实ID和key是否正确]"})")}, K::kFailure,
       "用户ID和API key", {"kdniao"}},
      {{"appcode"}, "", {appcode_rows}, K::kRows, "圆通速递  在途（AppCode）"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.order.front() + "/" + row.courier + "/" + std::to_string(&row - rows));
    Rig rig(AllServices(row.order, true));
    rig.tracker.Query({"YT1234567890123", std::nullopt, row.courier, ""});
    for (std::size_t answered = 0; answered < row.answers.size(); ++answered) {
      ASSERT_EQ(rig.transfers.started.size(), answered + 1);
      rig.tracker.OnTransferDone(rig.transfers.Last().id, row.answers[answered]);
    }
    std::vector<std::string> asked;
    for (const auto& started : rig.transfers.started) asked.push_back(ServiceOf(started.request));
    EXPECT_EQ(asked, row.asked.empty() ? row.order : row.asked);
    ASSERT_FALSE(rig.events.done.empty());
    const QueryOutcome& told = rig.events.done.back();
    EXPECT_EQ(told.kind, row.kind);
    const std::string& shown = row.kind == K::kFailure ? told.prompt : told.rows.at(0);
    EXPECT_NE(shown.find(row.shown), std::string::npos) << shown;
    for (const std::string& key : row.paused) EXPECT_TRUE(rig.settings.LoadPaused(key)) << key;
  }
}

TEST_F(QueryFlowTest, ANumberAsPeoplePasteItIsGuessedSentAndKeptAsOne) {
  Ask(" yt1234567890123", "");  // its letters name its courier: no detection
  EXPECT_NE(transfers.Last().request.body.find("%22num%22%3A%22YT1234567890123%22"), std::string::npos)
      << transfers.Last().request.body;
  Answer(PollResult("0"));
  Ask("ＹＴ１２３４５６７８９０１２３", "");
  EXPECT_EQ(transfers.started.size(), 1u) << "the same parcel, held by the guard";
  EXPECT_EQ(Last().number, "YT1234567890123");
  tracker.SetAccounts({});
  Ask(" yt1234567890123", "yuantong");
  EXPECT_NE(transfers.Last().request.url.find("nu=%20yt1234567890123&"), std::string::npos)
      << "the old address gets the text as typed";
}

TEST_F(QueryFlowTest, NoRefreshGoesOutWhileThePhonesDigitsAreAskedFor) {
  settings.mode = RefreshMode::kHourly;
  tracker.LoadSettings();
  Watched({.number = "SF1408823456721", .carrier = "shunfeng"});
  ASSERT_EQ(transfers.started.size(), 1u) << "the watched parcel is fetched";
  Answer(PollResult("0"));
  clock.now += 7200;  // due again
  Ask("SF1408823456721", "shunfeng");
  Answer(PollFailure("408"));
  ASSERT_EQ(events.phone_asks, 1);
  const std::size_t sent = transfers.started.size();
  tracker.OnWake();
  EXPECT_EQ(transfers.started.size(), sent) << "the box is up: the refresh waits";
  tracker.PhoneDigits("1234");
  EXPECT_NE(transfers.Last().request.body.find("%22phone%22%3A%221234%22"), std::string::npos);
  EXPECT_EQ(transfers.started.size(), sent + 1);
}

TEST_F(Routing, AServiceOutOfReachIsAskedAfterTheOthersForAWhile) {
  tracker.SetAccounts(AllServices());
  for (const auto& [ticks, first] : {std::pair{0, "kuaidi100"}, {1000, "kdniao"}, {301000, "kuaidi100"}}) {
    clock.ticks = std::chrono::milliseconds{ticks};
    Ask("YT123456789012" + std::to_string(ticks % 10), "yuantong");
    EXPECT_EQ(ServiceOf(transfers.Last().request), first) << "at " << ticks << " ms";
    // 快递100 cannot be reached; 快递鸟 has nothing yet: each press asks both.
    for (int answer = 0; answer < 2; ++answer) {
      const bool k100 = ServiceOf(transfers.Last().request) == "kuaidi100";
      tracker.OnTransferDone(transfers.Last().id, k100 ? FetchOutcome::Failed(FetchFailure::kTimedOut, "t")
                                                       : FetchOutcome::Answered(R"({"Success":true,"Traces":[]})"));
    }
    ASSERT_EQ(events.done.size(), 1u);
    events.done.clear();
  }
}

TEST_F(Routing, APausedServiceIsAskedLastByHandAndPassedOverInTheBackground) {
  tracker.SetAccounts(AllServices());
  settings.mode = RefreshMode::kSmart;
  settings.paused = true;  // 快递100 refused earlier
  tracker.LoadSettings();
  Watched({.number = "YT1", .carrier = "yuantong"});
  ASSERT_EQ(transfers.started.size(), 1u) << "the watched parcel is fetched";
  EXPECT_EQ(ServiceOf(transfers.Last().request), "kdniao") << "the paused 快递100 is passed over";
  EXPECT_FALSE(tracker.refresh_paused());
  Answer(R"({"Success":false,"Reason":"业务错误[没有可用套餐]"})");
  EXPECT_TRUE(tracker.refresh_paused()) << "no service left to refresh";
  Ask("ZT1", "zhongtong");
  ASSERT_EQ(transfers.started.size(), 2u);
  EXPECT_EQ(ServiceOf(transfers.Last().request), "kuaidi100") << "both paused: in their order";
  tracker.AccountConfirmed();
  EXPECT_FALSE(settings.paused || settings.LoadPaused("kdniao"));
}

}  // namespace
}  // namespace quenzil
