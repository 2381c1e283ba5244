#include "app/watch_keeper.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "query/services/kuaidi100.h"

namespace quenzil {
namespace {

constexpr UnixSeconds kT0 = 1796722200;
const Credentials kCredentials{"CUSTOMER", "SECRETKEY"};

class FakeTransfers : public Transfers {
 public:
  TransferId Start(FetchRequest request) override {
    started.push_back(std::move(request));
    return started.size();
  }
  void Cancel(TransferId id) override { cancelled.push_back(id); }
  std::vector<FetchRequest> started;
  std::vector<TransferId> cancelled;
};

class FakeHost : public WatchHost {
 public:
  UnixSeconds Now() const override { return now; }
  std::int64_t UtcOffset(UnixSeconds) const override { return 0; }
  void RefreshRefused(const TrackingService&, const ServiceAnswer& answer) override {
    paused.push_back(answer.outcome == Outcome::kQuotaSpent ? "spent" : "refused");
    paused_now = true;
  }
  std::shared_ptr<const TrackingService> ServiceFor(const WatchedParcel&) const override {
    return paused_now ? nullptr : service;
  }
  bool AskedByHand(std::string_view number) const override { return asked && asked(number); }
  std::optional<KeptAnswer> Kept(std::string_view, std::string_view) const override { return std::nullopt; }
  void WakeAt(std::optional<UnixSeconds> when) override { wake = when; }
  bool Save(const WatchList& list) override {
    if (save_works) saved = list;
    return save_works;
  }
  void Notify(std::string_view number, std::string_view, std::string_view title,
              std::string_view text) override {
    notes.push_back(std::string(number) + "|" + std::string(title) + "|" + std::string(text));
  }
  void WatchListChanged() override { ++list_changes; }

  UnixSeconds now = kT0;
  std::optional<UnixSeconds> wake;
  bool save_works = true;
  WatchList saved;
  std::vector<std::string> notes;
  std::vector<std::string> paused;
  int list_changes = 0;
  // The service the program would refresh with, and whether it paused it.
  std::shared_ptr<const TrackingService> service;
  bool paused_now = false;
  std::function<bool(std::string_view)> asked;
};

std::string PollBody(const std::string& state, int events) {
  nlohmann::json data = nlohmann::json::array();
  for (int i = 1; i <= events; ++i) {
    data.push_back({{"time", "2026-12-0" + std::to_string(i) + " 08:00:00"},
                    {"context", "第" + std::to_string(i) + "站"}});
  }
  return nlohmann::json{{"message", "ok"}, {"nu", "x"}, {"com", "yunda"}, {"state", state},
                        {"ischeck", state == "3" ? "1" : "0"}, {"data", data}}
      .dump();
}

FetchOutcome Answered(const std::string& state, int events) {
  return FetchOutcome::Answered(PollBody(state, events));
}

class Keeper : public testing::Test {
 protected:
  void SetUp() override { keeper_.Load({}); }
  // An account: its service refreshes.
  void SetCredentials() {
    host_.service = std::make_shared<Kuaidi100Service>(Kuaidi100Hosts{"poll.test", "detect.test"}, FetchLimits{},
                                                       kCredentials);
    keeper_.Advance();
  }
  // The account confirmed, as the program does it: only a pause for the
  // account ends.
  void Resume() {
    if (!host_.paused_now) return;
    host_.paused_now = false;
    keeper_.ResumeRefresh();
  }
  void Watch(std::initializer_list<const char*> numbers) {
    for (const char* number : numbers) keeper_.Add({.number = number, .carrier = "yunda"});
  }
  bool Finish(const FetchOutcome& outcome) {
    return keeper_.OnTransferDone(transfers_.started.size(), outcome);
  }
  // Moves the clock to the armed wake-up and fires it.
  void Wake() {
    ASSERT_TRUE(host_.wake);
    host_.now = std::max(host_.now, *host_.wake);
    keeper_.OnWake();
  }
  // Runs the clock to `until`, answering each refresh; bounded.
  template <typename Answer>
  void RunUntil(UnixSeconds until, Answer answer) {
    for (int step = 0; step < 10000 && host_.wake && *host_.wake <= until; ++step) {
      const std::size_t before = transfers_.started.size();
      Wake();
      if (transfers_.started.size() > before) {
        ASSERT_TRUE(Finish(answer()));
      }
    }
  }
  const WatchedParcel& Entry(const char* number) {
    return keeper_.list().parcels[*FindParcel(keeper_.list(), number, "yunda")];
  }

  FakeTransfers transfers_;
  FakeHost host_;
  // Daytime all along (kT0 is 09:30 UTC and the host's offset is 0); a short
  // guard so the interval decides.
  WatchKeeper keeper_{transfers_, host_,
                      {.interval = 60, .offline_retry = 5, .requery_guard = 30, .quiet_hours = QuietHours{}}};
};

FetchOutcome Failed() { return FetchOutcome::Failed(FetchFailure::kConnectionLost, "reset"); }
FetchOutcome ServiceSays(const std::string& code) {
  return FetchOutcome::Answered(R"({"result":false,"returnCode":")" + code + R"(","message":"m"})");
}

TEST_F(Keeper, FirstFetchIsSilentThenOneNotificationPerChange) {
  SetCredentials();
  Watch({"YD1"});
  ASSERT_EQ(transfers_.started.size(), 1u) << "a new entry is fetched at once";
  EXPECT_EQ(transfers_.started[0].url, "https://poll.test/poll/query.do");
  EXPECT_TRUE(transfers_.started[0].billable);
  EXPECT_FALSE(host_.wake) << "no timer while a refresh runs";
  ASSERT_TRUE(Finish(Answered("0", 1)));
  EXPECT_EQ(host_.saved.parcels.at(0).events.size(), 1u);

  RunUntil(kT0 + 600, [&] { return Answered("0", host_.now > kT0 + 300 ? 2 : 1); });
  EXPECT_EQ(host_.notes, std::vector<std::string>{"YD1|韵达快递 YD1：在途|2026-12-02 08:00:00 第2站"});
  // Changed lately: once 1.25 intervals and a few seconds, eight refreshes in ten minutes.
  EXPECT_EQ(transfers_.started.size(), 8u);
}

TEST_F(Keeper, OneTransferAtATimeSpreadOverHalfTheInterval) {
  Watch({"A", "B", "C"});
  EXPECT_FALSE(host_.wake) << "no credentials, no refresh, no timer";
  SetCredentials();
  ASSERT_EQ(transfers_.started.size(), 1u);
  keeper_.OnWake();
  EXPECT_EQ(transfers_.started.size(), 1u);
  Finish(Answered("0", 1));
  // Three entries: 60 / (2 × 3) = 10 s apart.
  EXPECT_EQ(host_.wake, kT0 + 10);
}

TEST_F(Keeper, AFailingEntryBacksOffAloneWhileTheOthersKeepTheirTurns) {
  SetCredentials();
  Watch({"A", "B", "C"});
  std::map<std::string, int> asked{{"A", 1}};
  Finish(Answered("0", 1));
  RunUntil(kT0 + 3600, [&] {
    const std::string& body = transfers_.started.back().body;
    const std::string number = body.find("%22A%22") != std::string::npos   ? "A"
                               : body.find("%22B%22") != std::string::npos ? "B"
                                                                           : "C";
    ++asked[number];
    return number == "B" ? Failed() : Answered("0", 1);
  });
  // A healthy entry is asked about every 75 s; the failing one waits 30,
  // 60, 120, ... s on its own.
  EXPECT_GE(asked["A"], 40);
  EXPECT_GE(asked["C"], 40);
  EXPECT_LE(asked["B"], 9);
  EXPECT_GE(Entry("B").failures, 6);
  EXPECT_EQ(Entry("B").failing_since, kT0 + 10);
  EXPECT_EQ(Entry("A").failures, 0);
}

TEST_F(Keeper, WhenEveryEntryFailsTheListPausesAndTheEntriesStayDue) {
  SetCredentials();
  Watch({"A", "B", "C", "D", "E", "F"});  // first fetches 10 s apart
  for (int tried = 0; tried < 3; ++tried) {
    // A proxy's error page is the network's failure too.
    Finish(tried == 1 ? FetchOutcome::Answered("<html>bad gateway</html>", 502)
                      : FetchOutcome::Failed(FetchFailure::kCannotConnect, "offline"));
    if (tried < 2) Wake();
  }
  // Three entries in a row out of reach: the network is, not the entries.
  for (const char* number : {"A", "B", "C"}) {
    EXPECT_FALSE(Entry(number).fetched()) << number;
    EXPECT_EQ(Entry(number).failures + Entry(number).failing_since, 0) << number;
  }
  EXPECT_EQ(host_.wake, kT0 + 20 + 10) << "a pause of 5 s, within the gap";
  Wake();
  Finish(FetchOutcome::Failed(FetchFailure::kNameNotResolved, "offline"));
  EXPECT_EQ(host_.wake, kT0 + 30 + 10);
  Wake();
  Finish(Failed());
  EXPECT_EQ(host_.wake, kT0 + 40 + 20) << "the pause doubles";
  Wake();
  Finish(Answered("0", 1));
  EXPECT_EQ(host_.wake, kT0 + 60 + 10) << "the pause is over: the gap between starts again";
  Wake();
  Finish(Failed());
  EXPECT_EQ(std::count_if(host_.saved.parcels.begin(), host_.saved.parcels.end(),
                          [](const WatchedParcel& parcel) { return parcel.failures == 1; }),
            1)
      << "back online: a failure is the entry's own again";
}

TEST_F(Keeper, AnEntryThatNeverAnswersDoesNotHoldTheListAfterAnOutage) {
  SetCredentials();
  Watch({"A", "B", "C"});
  // A is cut off for good and fails first; B and C fail once each, which
  // makes an outage of three in a row, and answer from then on.
  std::map<std::string, int> asked{{"A", 1}};
  Finish(Failed());
  RunUntil(kT0 + 600, [&] {
    const std::string& body = transfers_.started.back().body;
    const std::string number = body.substr(body.find("%22num%22%3A%22") + 15, 1);
    return ++asked[number] == 1 || number == "A" ? Failed() : Answered("0", 1);
  });
  EXPECT_GE(asked["B"], 5);
  EXPECT_GE(asked["C"], 5);
}

TEST_F(Keeper, AnOutageUndoesTheFailuresOnlyNotAQueryByHandMeanwhile) {
  SetCredentials();
  Watch({"A", "B", "C"});
  Finish(Failed());
  TrackingResult result = ReadPollAnswer(PollBody("5", 2)).result;
  result.number = "A";
  keeper_.TakeUserResult(result, "yunda", "1234");
  for (int tried = 0; tried < 2; ++tried) {
    Wake();
    Finish(Failed());
  }
  EXPECT_EQ(Entry("A").phone + ", " + std::to_string(Entry("A").events.size()), "1234, 2");
  EXPECT_FALSE(Entry("B").fetched() || !Entry("B").last_problem.empty()) << "the failure itself is undone";
}

TEST_F(Keeper, SpentAccountPausesUntilResumedAndPhoneWaitsForTheDigits) {
  SetCredentials();
  Watch({"A", "B"});
  Finish(ServiceSays("503"));  // a wrong key
  Resume();
  Wake();
  Finish(ServiceSays("601"));  // a spent or expired one
  EXPECT_EQ(host_.paused, (std::vector<std::string>{"refused", "spent"}));
  EXPECT_FALSE(Entry("A").fetched()) << "the entry stays due";
  EXPECT_FALSE(host_.wake);
  host_.now = kT0 + 7200;
  keeper_.OnWake();
  EXPECT_EQ(transfers_.started.size(), 2u) << "nothing is sent while paused";
  Resume();
  ASSERT_EQ(transfers_.started.size(), 3u);

  Finish(ServiceSays("408"));
  EXPECT_TRUE(Entry("A").needs_phone);
  EXPECT_EQ(Entry("A").last_checked, kT0 + 7200) << "asked, so checked";
  RunUntil(kT0 + 7200 + 600, [] { return Answered("0", 1); });
  const auto polls_of_a = std::count_if(transfers_.started.begin(), transfers_.started.end(), [](const FetchRequest& r) {
    return r.body.find("%22A%22") != std::string::npos;
  });
  EXPECT_EQ(polls_of_a, 3) << "not asked again without the digits";
  TrackingResult result = ReadPollAnswer(PollBody("0", 1)).result;
  result.number = "A";
  keeper_.TakeUserResult(result, "yunda", "1234");
  EXPECT_FALSE(Entry("A").needs_phone);
  EXPECT_EQ(Entry("A").phone, "1234");
  EXPECT_EQ(host_.saved.parcels.at(0).phone, "1234");
}

TEST_F(Keeper, EntriesNoLongerRefreshedDoNotCountTowardsAnOutage) {
  SetCredentials();
  keeper_.Add({.number = "S", .carrier = "yunda", .state = "3", .signed_for = true});
  Watch({"A", "B"});
  Finish(Failed());
  Wake();
  Finish(Failed());
  EXPECT_EQ(Entry("A").failures + Entry("B").failures, 0) << "two of two in a row: the network";
}

TEST_F(Keeper, AnEntryAskedByHandWaitsAndAModeChangeTakesEffectAtOnce) {
  SetCredentials();
  host_.asked = [](std::string_view number) { return number == "A"; };
  Watch({"A"});
  EXPECT_TRUE(transfers_.started.empty()) << "asked by hand just now";
  host_.asked = {};
  keeper_.SetMode(RefreshMode::kHourly);
  EXPECT_EQ(transfers_.started.size(), 1u);
  EXPECT_TRUE(keeper_.Refreshing("A") && !keeper_.Refreshing("B"));
}

TEST_F(Keeper, ConfirmingTheAccountEndsAnOfflinePauseToo) {
  SetCredentials();
  Watch({"A", "B", "C"});
  for (int tried = 0; tried < 5; ++tried) {  // out of reach, then the pause doubles to 20 s
    Finish(Failed());
    if (tried < 4) Wake();
  }
  const std::optional<UnixSeconds> paused_until = host_.wake;
  Resume();  // nothing was paused for the account: the offline pause stands
  EXPECT_EQ(host_.wake, paused_until);
  host_.paused_now = true;  // a query by hand found the account spent
  host_.now += 10;
  Resume();
  EXPECT_EQ(transfers_.started.size(), 6u);
}

TEST_F(Keeper, OtherFailuresCountAsChecksOfTheirEntry) {
  SetCredentials();
  Watch({"A"});
  Finish(ServiceSays("500"));
  EXPECT_TRUE(Entry("A").fetched());
  EXPECT_EQ(Entry("A").failures, 0);
  int failures = 0;
  for (const FetchOutcome& outcome :
       {ServiceSays("400"), FetchOutcome::Answered("<html>busy</html>"), FetchOutcome::Failed(FetchFailure::kTooLarge, "")}) {
    Wake();
    ASSERT_TRUE(Finish(outcome)) << outcome.text;
    EXPECT_EQ(Entry("A").failures, ++failures) << outcome.text;
    EXPECT_EQ(Entry("A").last_checked, host_.now) << outcome.text;
    EXPECT_TRUE(!Entry("A").last_problem.empty() && Entry("A").last_problem.find('\n') == std::string::npos)
        << Entry("A").last_problem;
    if (failures == 2) {
      EXPECT_EQ(Entry("A").last_problem, "快递100返回的内容无法识别");
    }
  }
  // A 502 page is no answer, whatever it holds; for a lone entry it is its own failure.
  Wake();
  ASSERT_TRUE(Finish(FetchOutcome::Answered(PollBody("0", 1), 502)));
  EXPECT_TRUE(Entry("A").events.empty());
  EXPECT_EQ(Entry("A").failures, failures + 1);
  EXPECT_NE(MenuLabel(Entry("A"), host_.now + 86400).find("刷新失败"), std::string::npos);
  // "No result yet" is an answer: the failures are over.
  Wake();
  ASSERT_TRUE(Finish(ServiceSays("500")));
  EXPECT_EQ(Entry("A").failures + Entry("A").failing_since, 0);
}

TEST_F(Keeper, AnAnswerBetweenFailuresEndsTheRowOfThem) {
  SetCredentials();
  Watch({"A", "B", "C", "D"});
  bool first = true;
  for (const FetchOutcome& outcome : {Failed(), Answered("0", 1), Failed(), Failed()}) {
    if (!std::exchange(first, false)) Wake();
    ASSERT_TRUE(Finish(outcome));
  }
  EXPECT_EQ(Entry("A").failures, 1) << "three failures, but not in a row: no outage";
}

TEST_F(Keeper, RemovingTheEntryBeingRefreshedCancelsIt) {
  SetCredentials();
  Watch({"A", "B"});
  keeper_.Add({.number = "A", .carrier = "ems"});
  EXPECT_TRUE(keeper_.Remove("A", "ems"));
  EXPECT_TRUE(transfers_.cancelled.empty()) << "the same number with another courier is another parcel";
  EXPECT_TRUE(keeper_.Remove("A", "yunda"));
  EXPECT_EQ(transfers_.cancelled, std::vector<TransferId>{1});
  EXPECT_FALSE(keeper_.OnTransferDone(1, Answered("0", 1)));
  EXPECT_EQ(host_.saved.parcels.size(), 1u);
  EXPECT_FALSE(keeper_.Remove("A", "yunda"));
  RunUntil(kT0 + 60, [] { return Answered("0", 1); });
  EXPECT_TRUE(Entry("B").fetched());
}

TEST_F(Keeper, StopEndsEverything) {
  SetCredentials();
  Watch({"A"});
  keeper_.Stop();
  EXPECT_EQ(transfers_.cancelled, std::vector<TransferId>{1});
  EXPECT_FALSE(keeper_.OnTransferDone(1, FetchOutcome{}));
  host_.now = kT0 + 120;
  Watch({"B"});
  keeper_.OnWake();
  EXPECT_EQ(transfers_.started.size(), 1u);
  EXPECT_FALSE(host_.wake);
}

TEST_F(Keeper, FailedSaveIsTriedAgainAndTheLimitHolds) {
  host_.save_works = false;
  Watch({"A"});
  host_.save_works = true;
  keeper_.OnWake();
  EXPECT_EQ(host_.saved.parcels.size(), 1u);
  const int changes = host_.list_changes;
  for (std::size_t i = 1; i < kMaxWatched; ++i) {
    ASSERT_EQ(keeper_.Add({.number = std::to_string(i), .carrier = "ems"}), AddResult::kAdded);
  }
  EXPECT_EQ(keeper_.Add({.number = "over", .carrier = "ems"}), AddResult::kFull);
  EXPECT_EQ(keeper_.Add({.number = "A", .carrier = "yunda"}), AddResult::kAlreadyWatched);
  EXPECT_EQ(host_.saved.parcels.size(), kMaxWatched);
  EXPECT_EQ(host_.list_changes - changes, static_cast<int>(kMaxWatched) - 1) << "each entry added is shown, no other";
}

TEST_F(Keeper, NothingIsWrittenBeforeTheFileIsReadAndNothingIsLost) {
  WatchKeeper fresh{transfers_, host_, {.interval = 60}};
  SetCredentials();
  fresh.Add({.number = "NEW", .carrier = "ems"});
  fresh.Add({.number = "GONE", .carrier = "ems"});
  fresh.Remove("GONE", "ems");
  EXPECT_TRUE(host_.saved.parcels.empty() && transfers_.started.empty()) << "the file is not read yet";
  fresh.Load({.parcels = {{.number = "OLD", .carrier = "ems"}, {.number = "GONE", .carrier = "ems"}}});
  ASSERT_EQ(host_.saved.parcels.size(), 2u);
  EXPECT_EQ(host_.saved.parcels[0].number, "OLD");
  EXPECT_EQ(host_.saved.parcels[1].number, "NEW");
  EXPECT_EQ(host_.saved.parcels[0].added, kT0) << "an entry written by hand starts its 30 days when it is read";
}

TEST_F(Keeper, AUserQueryIsTakenInSilentlyAndCountsAsARefresh) {
  SetCredentials();
  Watch({"A"});
  Finish(Answered("0", 1));
  host_.now = kT0 + 30;
  TrackingResult result = ReadPollAnswer(PollBody("5", 3)).result;
  result.number = "A";
  result.carrier_code.clear();  // the service need not name the courier: the one asked is
  keeper_.TakeUserResult(result, "yunda");
  EXPECT_TRUE(host_.notes.empty());
  EXPECT_EQ(host_.saved.parcels[0].state, "5");
  EXPECT_GE(*host_.wake, kT0 + 30 + 60);
  keeper_.Add({.number = "B", .carrier = "yunda", .added = kT0 - 100});
  EXPECT_EQ(Entry("B").added, kT0 - 100) << "a date it came with stays";
}

TEST_F(Keeper, ASignedParcelIsPutAwayThreeDaysAfterItsLastChangeAndComesBackWhenWatchedAgain) {
  constexpr UnixSeconds kDays3 = 3 * 24 * 3600;
  keeper_.Add({.number = "S", .carrier = "yunda", .state = "3", .added = kT0 - kDays3, .last_changed = kT0});
  EXPECT_EQ(host_.wake, kT0 + kDays3) << "nothing else to wake for without an account";
  host_.now = kT0 + kDays3 - 1;
  keeper_.OnWake();
  EXPECT_EQ(Entry("S").put_away, 0);
  const int changes = host_.list_changes;
  Wake();
  EXPECT_EQ(host_.saved.parcels.at(0).put_away, kT0 + kDays3);
  EXPECT_EQ(host_.list_changes, changes + 1);
  EXPECT_FALSE(host_.wake);

  host_.now += 3600;
  ASSERT_TRUE(keeper_.Rewatch("S", "yunda"));
  EXPECT_EQ(host_.saved.parcels.at(0).put_away, 0);
  EXPECT_EQ(host_.wake, host_.now + kDays3) << "three days again";
}

TEST_F(Keeper, ABatchSaysHowFarItsFirstFetchesHaveGot) {
  SetCredentials();
  EXPECT_EQ(keeper_.first_fetches(), (FirstFetches{0, 0}));
  const int changes = host_.list_changes;
  const std::vector<AddResult> added = keeper_.AddAll(
      {{.number = "A", .carrier = "yunda"}, {.number = "B", .carrier = "yunda"}, {.number = "A", .carrier = "yunda"}});
  EXPECT_EQ(added, (std::vector<AddResult>{AddResult::kAdded, AddResult::kAdded, AddResult::kAlreadyWatched}));
  EXPECT_EQ(host_.list_changes, changes + 1) << "one change for the batch";
  EXPECT_EQ(keeper_.first_fetches(), (FirstFetches{0, 2}));
  Finish(Answered("0", 1));
  Watch({"C", "D"});
  EXPECT_EQ(keeper_.first_fetches(), (FirstFetches{1, 4}));
  keeper_.Remove("D", "yunda");
  EXPECT_EQ(keeper_.first_fetches(), (FirstFetches{1, 3}));
  RunUntil(kT0 + 30, [] { return Answered("0", 1); });
  EXPECT_EQ(keeper_.first_fetches(), (FirstFetches{0, 0}));
  Watch({"E"});
  EXPECT_EQ(keeper_.first_fetches(), (FirstFetches{0, 1})) << "a new batch";
}

}  // namespace
}  // namespace quenzil
