#include "cli/blocking_query.h"

#include <algorithm>

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

BlockingQuery::BlockingQuery(Transfers& transfers, OutcomeQueue& outcomes, AnswerKeeping& answers,
                             SettingsStore& settings_store, QueryFlowSettings settings, Credentials credentials,
                             std::chrono::milliseconds step_wait)
    : transfers_(transfers),
      outcomes_(outcomes),
      step_wait_(step_wait),
      flow_(transfers_, answers, settings_store, *this, std::move(settings)) {
  flow_.SetCredentials(std::move(credentials));
}

UnixSeconds BlockingQuery::Now() const {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

QueryOutcome BlockingQuery::Run(QueryAsk ask) {
  done_.reset();
  flow_.Start(std::move(ask));
  // Each step waits for its own transfer, from when it started; the outcome
  // of one that was dropped is not this flow's and is passed over.
  TransferId waited = 0;
  auto deadline = std::chrono::steady_clock::now();
  while (!done_ && flow_.running()) {
    if (transfers_.last() != waited) {
      waited = transfers_.last();
      deadline = std::chrono::steady_clock::now() + step_wait_;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (const auto next = outcomes_.WaitFor(std::max(left, std::chrono::milliseconds{0}))) {
      flow_.OnTransferDone(next->first, next->second);
    } else {
      transfers_.Cancel(waited);
      flow_.OnTransferDone(waited, FetchOutcome::Failed(FetchFailure::kTimedOut, "no answer in time"));
    }
  }
  return done_.value_or(QueryOutcome{});
}

}  // namespace quenzil::cli
