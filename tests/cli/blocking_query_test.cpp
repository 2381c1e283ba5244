#include "cli/blocking_query.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace quenzil::cli {
namespace {

using namespace std::chrono_literals;

// Answers each start at once through the queue, in order; a start with no
// answer left stalls.
class ScriptedTransfers final : public Transfers {
 public:
  ScriptedTransfers(OutcomeQueue& queue, std::vector<std::string> answers) : queue_(queue), answers_(std::move(answers)) {}
  TransferId Start(FetchRequest request) override {
    urls.push_back(request.url);
    if (urls.size() <= answers_.size()) queue_.Push(urls.size(), FetchOutcome::Answered(answers_[urls.size() - 1]));
    return urls.size();
  }
  void Cancel(TransferId id) override { cancelled.push_back(id); }
  std::vector<std::string> urls;
  std::vector<TransferId> cancelled;

 private:
  OutcomeQueue& queue_;
  std::vector<std::string> answers_;
};

class NothingKept final : public AnswerKeeping {
 public:
  std::optional<KeptAnswer> Kept(std::string_view, std::string_view) const override { return std::nullopt; }
  std::string PhoneFor(std::string_view, std::string_view) const override { return {}; }
  void Keep(const QueryOutcome&) override {}
};

TEST(BlockingQuery, DetectionThenQueryEndsWithTheRowsAndAStallAsATimeOut) {
  for (const bool stall : {false, true}) {
    OutcomeQueue queue;
    queue.Push(99, FetchOutcome::Answered("[]"));  // of a transfer dropped earlier
    std::vector<std::string> answers = {R"([{"comCode":"yuantong"}])"};
    if (!stall) answers.push_back(R"({"nu":"YT1","ischeck":"0","com":"yuantong","state":"0","data":[]})");
    ScriptedTransfers transfers(queue, answers);
    NothingKept book;
    testing::FakeSettingsStore settings;
    BlockingQuery query(transfers, queue, book, settings, QueryFlowSettings{"api", "poll", "detect"}, {"C", "K"}, 100ms);
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
