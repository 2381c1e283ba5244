#include "cli/blocking_query.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "fakes.h"

namespace quenzil::cli {
namespace {

using namespace std::chrono_literals;

// Answers each start through the queue, in order, at once or from another
// thread after `delay`; a start with no answer left stalls.
class ScriptedTransfers final : public Transfers {
 public:
  ScriptedTransfers(OutcomeQueue& queue, std::vector<std::string> answers, std::chrono::milliseconds delay = 0ms)
      : queue_(queue), answers_(std::move(answers)), delay_(delay) {}
  ~ScriptedTransfers() override {
    for (std::thread& late : late_) late.join();
  }
  TransferId Start(FetchRequest request) override {
    urls.push_back(request.url);
    const TransferId id = urls.size();
    if (id > answers_.size()) return id;
    FetchOutcome outcome = FetchOutcome::Answered(answers_[id - 1]);
    if (delay_ == 0ms) {
      queue_.Push(id, std::move(outcome));
    } else {
      late_.emplace_back([this, id, outcome] {
        std::this_thread::sleep_for(delay_);
        queue_.Push(id, outcome);
      });
    }
    return id;
  }
  void Cancel(TransferId id) override { cancelled.push_back(id); }
  std::vector<std::string> urls;
  std::vector<TransferId> cancelled;

 private:
  OutcomeQueue& queue_;
  std::vector<std::string> answers_;
  std::chrono::milliseconds delay_;
  std::vector<std::thread> late_;
};

TEST(BlockingQuery, DetectionThenQueryEndsWithTheRowsAndAStallAsATimeOut) {
  // Answers at once, a stall, and answers that take their time within each step's wait.
  for (const auto& [stall, delay, step_wait] : {std::tuple{false, 0ms, 100ms}, {true, 0ms, 100ms}, {false, 50ms, 10000ms}}) {
    OutcomeQueue queue;
    queue.Push(99, FetchOutcome::Answered("[]"));  // of a transfer dropped earlier
    std::vector<std::string> answers = {R"([{"comCode":"yuantong"}])"};
    if (!stall) answers.push_back(R"({"nu":"YT1","ischeck":"0","com":"yuantong","state":"0","data":[]})");
    ScriptedTransfers transfers(queue, answers, delay);
    ReadOnlyWatchStore watched({});
    testing::FakeHistoryStore history;
    testing::FakeSettingsStore settings;
    const SystemClock clock;
    DeployHosts hosts;
    hosts.tracking_poll = "poll";
    hosts.tracking_detect = "detect";
    BlockingQuery query(transfers, queue, {watched, history, settings}, clock, hosts, {.kuaidi100 = {"C", "K"}}, "",
                        step_wait);
    const QueryOutcome outcome = query.Run({"YT1"});
    EXPECT_EQ(transfers.urls.size(), 2u);
    if (stall) {
      EXPECT_EQ(outcome.kind, QueryOutcome::Kind::kFailure);
      EXPECT_EQ(outcome.prompt.rfind("查询失败：" + FetchFailureMessage(FetchFailure::kTimedOut), 0), 0u);
      EXPECT_EQ(transfers.cancelled, std::vector<TransferId>{2});
    } else {
      EXPECT_EQ(outcome.kind, QueryOutcome::Kind::kRows);
      EXPECT_EQ(outcome.rows, std::vector<std::string>{"圆通速递  在途"});
    }
  }
}

}  // namespace
}  // namespace quenzil::cli
