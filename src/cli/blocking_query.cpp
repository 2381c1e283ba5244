#include "cli/blocking_query.h"

#include <algorithm>

#include "app/texts.h"

namespace quenzil::cli {

void OutcomeQueue::Push(TransferId id, FetchOutcome outcome) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    outcomes_.emplace_back(id, std::move(outcome));
  }
  arrived_.notify_one();
}

std::optional<std::pair<TransferId, FetchOutcome>> OutcomeQueue::WaitFor(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, limit, [this] { return !outcomes_.empty(); })) return std::nullopt;
  auto next = std::move(outcomes_.front());
  outcomes_.pop_front();
  return next;
}

BlockingQuery::BlockingQuery(Transfers& transfers, OutcomeQueue& outcomes, TrackerStores stores, const Clock& clock,
                             DeployHosts hosts, Accounts accounts, std::string only_service,
                             std::chrono::milliseconds step_wait)
    : transfers_(transfers),
      outcomes_(outcomes),
      step_wait_(step_wait),
      tracker_(transfers_, stores, *this, clock, std::move(hosts), {.keeps_watch_list = false, .writes_later = false}) {
  tracker_.SetAccounts(std::move(accounts));
  tracker_.OnlyService(std::move(only_service));
  tracker_.LoadWatchList();
}

void BlockingQuery::Advice(const std::vector<std::string>& rows) {
  QueryOutcome outcome;
  outcome.kind = QueryOutcome::Kind::kAdvice;
  outcome.rows = rows;
  done_ = std::move(outcome);
}

void BlockingQuery::Told(std::string_view prompt, std::string_view title) {
  QueryOutcome outcome;
  outcome.kind = title == kQueryFailedTitle ? QueryOutcome::Kind::kFailure : QueryOutcome::Kind::kNotice;
  outcome.prompt = std::string(prompt);
  outcome.title = std::string(title);
  done_ = std::move(outcome);
}

QueryOutcome BlockingQuery::Run(QueryAsk ask) {
  done_.reset();
  tracker_.Query(std::move(ask));
  // Each step waits for its own transfer, from when it started; the outcome
  // of one that was dropped is not this query's and is passed over.
  TransferId waited = 0;
  auto deadline = std::chrono::steady_clock::now();
  while (!done_ && tracker_.querying()) {
    if (transfers_.last() != waited) {
      waited = transfers_.last();
      deadline = std::chrono::steady_clock::now() + step_wait_;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (const auto next = outcomes_.WaitFor(std::max(left, std::chrono::milliseconds{0}))) {
      tracker_.OnTransferDone(next->first, next->second);
    } else {
      transfers_.Cancel(waited);
      tracker_.OnTransferDone(waited, FetchOutcome::Failed(FetchFailure::kTimedOut, "no answer in time"));
    }
  }
  tracker_.Stop();
  return done_.value_or(QueryOutcome{});
}

}  // namespace quenzil::cli
