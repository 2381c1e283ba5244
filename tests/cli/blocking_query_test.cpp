#include "cli/blocking_query.h"

#include <gtest/gtest.h>

#include <map>

#include "window/texts.h"

namespace quenzil::cli {
namespace {

using namespace std::chrono_literals;

// Answers each request at once through the queue, by the order of starts;
// a start with no answer left stalls.
class ScriptedTransfers final : public Transfers {
 public:
  ScriptedTransfers(OutcomeQueue& queue, std::vector<std::string> answers) : queue_(queue), answers_(std::move(answers)) {}
  TransferId Start(FetchRequest request) override {
    urls.push_back(request.url);
    const TransferId id = urls.size() + 100;
    if (urls.size() <= answers_.size()) queue_.Push(id, FetchOutcome::Answered(answers_[urls.size() - 1]));
    return id;
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
  void Keep(const QueryOutcome& outcome) override { kept.push_back(outcome); }
  std::vector<QueryOutcome> kept;
};

struct Finished {
  QueryOutcome outcome;
  std::vector<std::string> urls;
  std::vector<TransferId> cancelled;
  std::size_t kept = 0;
};

Finished RunQuery(std::vector<std::string> answers, QueryAsk ask) {
  OutcomeQueue queue;
  // The outcome of a transfer dropped earlier is not this query's.
  queue.Push(7, FetchOutcome::Answered("[]"));
  ScriptedTransfers transfers(queue, std::move(answers));
  NothingKept book;
  BlockingQuery query(transfers, queue, book, QueryFlowSettings{"api", "poll", "detect"}, {"C", "K"}, 100ms);
  QueryOutcome outcome = query.Run(std::move(ask));
  return {std::move(outcome), transfers.urls, transfers.cancelled, book.kept.size()};
}

TEST(BlockingQuery, DetectionThenQueryEndsWithTheRows) {
  const Finished run = RunQuery({R"([{"comCode":"yuantong","name":"圆通速递"}])",
                            R"({"message":"ok","nu":"YT1","ischeck":"1","com":"yuantong","status":"200","state":"3",
                                "data":[{"time":"2026-12-01 08:00:00","context":"已签收"}]})"},
                           {"YT1"});
  EXPECT_EQ(run.outcome.kind, QueryOutcome::Kind::kRows);
  EXPECT_EQ(run.outcome.rows, (std::vector<std::string>{"圆通速递  已签收", "2026-12-01 08:00:00", "已签收"}));
  ASSERT_EQ(run.urls.size(), 2u);
  EXPECT_NE(run.urls[0].find("detect"), std::string::npos);
  EXPECT_EQ(run.kept, 1u);
}

TEST(BlockingQuery, AStalledStepEndsAsATimeOutAndIsCancelled) {
  const Finished run = RunQuery({R"([{"comCode":"yuantong"}])"}, {"YT1"});
  EXPECT_EQ(run.outcome.kind, QueryOutcome::Kind::kFailure);
  EXPECT_EQ(run.outcome.prompt.rfind("查询失败：" + FetchFailureMessage(FetchFailure::kTimedOut), 0), 0u)
      << run.outcome.prompt;
  EXPECT_EQ(run.cancelled, std::vector<TransferId>{102});
}

TEST(BlockingQuery, ThePhoneQuestionEndsTheQueryAsAFailure) {
  const Finished run = RunQuery({R"({"result":false,"returnCode":"408","message":"手机号不匹配"})"}, {"SF1", {}, "shunfeng"});
  EXPECT_EQ(run.outcome.kind, QueryOutcome::Kind::kFailure);
  EXPECT_NE(run.outcome.prompt.find("408"), std::string::npos);
  EXPECT_EQ(run.urls.size(), 1u);
}

}  // namespace
}  // namespace quenzil::cli
