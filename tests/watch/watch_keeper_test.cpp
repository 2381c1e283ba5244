#include "watch/watch_keeper.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

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
  void WakeAt(std::optional<UnixSeconds> when) override { wake = when; }
  bool Save(const WatchList& list) override {
    if (save_works) saved = list;
    return save_works;
  }
  void Notify(std::string_view number, std::string_view, std::string_view title,
              std::string_view text) override {
    notes.push_back(std::string(number) + "|" + std::string(title) + "|" + std::string(text));
  }
  void WatchListChanged() override {}

  UnixSeconds now = kT0;
  std::optional<UnixSeconds> wake;
  bool save_works = true;
  WatchList saved;
  std::vector<std::string> notes;
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
  WatchKeeper keeper_{transfers_, host_, {.interval = 60, .offline_retry = 5}, "poll.test", {}};
};

TEST_F(Keeper, FirstFetchIsSilentThenOneNotificationPerChange) {
  keeper_.SetCredentials(kCredentials);
  Watch({"YD1"});
  ASSERT_EQ(transfers_.started.size(), 1u) << "a new entry is fetched at once";
  EXPECT_EQ(transfers_.started[0].url, "https://poll.test/poll/query.do");
  EXPECT_FALSE(host_.wake) << "no timer while a refresh runs";
  ASSERT_TRUE(Finish(Answered("0", 1)));
  EXPECT_EQ(host_.saved.parcels.at(0).events.size(), 1u);

  RunUntil(kT0 + 600, [&] { return Answered("0", host_.now > kT0 + 300 ? 2 : 1); });
  EXPECT_EQ(host_.notes, std::vector<std::string>{"YD1|韵达快递 YD1：在途|2026-12-02 08:00:00 第2站"});
  // Once an interval and a few seconds: ten refreshes in ten minutes.
  EXPECT_EQ(transfers_.started.size(), 10u);
}

TEST_F(Keeper, OneTransferAtATimeSpreadOverHalfTheInterval) {
  Watch({"A", "B", "C"});
  EXPECT_FALSE(host_.wake) << "no credentials, no refresh, no timer";
  keeper_.SetCredentials(kCredentials);
  ASSERT_EQ(transfers_.started.size(), 1u);
  keeper_.OnWake();
  EXPECT_EQ(transfers_.started.size(), 1u);
  Finish(Answered("0", 1));
  // Three entries: 60 / (2 × 3) = 10 s apart.
  EXPECT_EQ(host_.wake, kT0 + 10);
}

TEST_F(Keeper, UnreachableNetworkPausesEverythingAndTheEntryStaysDue) {
  keeper_.SetCredentials(kCredentials);
  Watch({"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"});  // 3 s between starts
  Finish(FetchOutcome::Failed(FetchFailure::kCannotConnect, "offline"));
  EXPECT_FALSE(Entry("A").fetched());
  EXPECT_EQ(host_.wake, kT0 + 5);
  Wake();
  Finish(FetchOutcome::Failed(FetchFailure::kNameNotResolved, "offline"));
  EXPECT_EQ(host_.wake, kT0 + 15) << "the pause doubles";
  Wake();
  Finish(Answered("0", 1));
  EXPECT_TRUE(Entry("A").fetched());
  EXPECT_EQ(host_.wake, kT0 + 18) << "the pause is over: the gap between starts again";
}

TEST_F(Keeper, RefusedKeyPausesAllForAnIntervalOtherFailuresCountAsChecked) {
  keeper_.SetCredentials(kCredentials);
  Watch({"A", "B"});
  Finish(FetchOutcome::Answered(R"({"result":false,"returnCode":"503","message":"验证签名失败"})"));
  EXPECT_NE(Entry("A").last_problem.find("验证签名失败"), std::string::npos);
  EXPECT_FALSE(Entry("A").fetched());
  EXPECT_EQ(host_.wake, kT0 + 60);
  host_.now = kT0 + 20;
  keeper_.SetCredentials({"CUSTOMER", "NEWKEY"});
  EXPECT_EQ(transfers_.started.size(), 2u) << "a new key lifts the pause";

  Finish(FetchOutcome::Answered(R"({"returnCode":"500","message":"查询无结果"})"));
  EXPECT_TRUE(Entry("A").fetched());
  EXPECT_TRUE(Entry("A").last_problem.empty());
  for (const FetchOutcome& outcome :
       {FetchOutcome::Answered(R"({"returnCode":"408","message":"手机号不对"})"),
        FetchOutcome::Answered("<html>busy</html>"), FetchOutcome::Failed(FetchFailure::kTooLarge, "")}) {
    Wake();
    Finish(outcome);
    const auto& parcels = keeper_.list().parcels;
    const auto checked = std::find_if(parcels.begin(), parcels.end(), [&](const WatchedParcel& parcel) {
      return parcel.last_checked == host_.now;
    });
    ASSERT_NE(checked, parcels.end()) << outcome.text;
    EXPECT_FALSE(checked->last_problem.empty()) << outcome.text;
  }
}

TEST_F(Keeper, RemovingTheEntryBeingRefreshedCancelsIt) {
  keeper_.SetCredentials(kCredentials);
  Watch({"A", "B"});
  EXPECT_TRUE(keeper_.Remove("A", "yunda"));
  EXPECT_EQ(transfers_.cancelled, std::vector<TransferId>{1});
  EXPECT_FALSE(keeper_.OnTransferDone(1, Answered("0", 1)));
  EXPECT_EQ(host_.saved.parcels.size(), 1u);
  EXPECT_FALSE(keeper_.Remove("A", "yunda"));
  RunUntil(kT0 + 60, [] { return Answered("0", 1); });
  EXPECT_TRUE(Entry("B").fetched());
}

TEST_F(Keeper, StopEndsEverything) {
  keeper_.SetCredentials(kCredentials);
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
  for (std::size_t i = 1; i < kMaxWatched; ++i) {
    ASSERT_EQ(keeper_.Add({.number = std::to_string(i), .carrier = "ems"}), AddResult::kAdded);
  }
  EXPECT_EQ(keeper_.Add({.number = "over", .carrier = "ems"}), AddResult::kFull);
  EXPECT_EQ(keeper_.Add({.number = "A", .carrier = "yunda"}), AddResult::kAlreadyWatched);
  EXPECT_EQ(host_.saved.parcels.size(), kMaxWatched);
}

TEST_F(Keeper, AUserQueryIsTakenInSilentlyAndCountsAsARefresh) {
  keeper_.SetCredentials(kCredentials);
  Watch({"A"});
  Finish(Answered("0", 1));
  host_.now = kT0 + 30;
  TrackingResult result = ReadPollAnswer(PollBody("5", 3)).result;
  result.number = "A";
  keeper_.TakeUserResult(result, "yunda");
  EXPECT_TRUE(host_.notes.empty());
  EXPECT_EQ(host_.saved.parcels[0].state, "5");
  EXPECT_GE(*host_.wake, kT0 + 30 + 60);
}

}  // namespace
}  // namespace quenzil
