// One query run to its end on a thread that may wait: the console
// companion's shell around the window's query flow. The transfers hand
// their outcomes over from their own threads through the queue. Portable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "app/query_flow.h"

namespace quenzil::cli {

class OutcomeQueue {
 public:
  void Push(TransferId id, FetchOutcome outcome);
  // The next outcome, or nullopt when none came within the limit.
  std::optional<std::pair<TransferId, FetchOutcome>> WaitFor(std::chrono::milliseconds limit);

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::pair<TransferId, FetchOutcome>> outcomes_;
};

class BlockingQuery final : public QueryFlowHost {
 public:
  // `step_wait` bounds the wait for each transfer: its own total limit and
  // a margin, so that a transfer that outruns its limits still ends the
  // query as a time-out.
  BlockingQuery(Transfers& transfers, OutcomeQueue& outcomes, AnswerKeeping& answers, SettingsStore& settings_store,
                QueryFlowSettings settings, Credentials credentials, std::chrono::milliseconds step_wait);

  QueryOutcome Run(QueryAsk ask);

  UnixSeconds Now() const override;
  void QueryDone(const QueryOutcome& outcome) override { done_ = outcome; }
  void CarrierFound(std::string_view) override {}
  // The console cannot ask: the service's question ends the query.
  bool PhoneNeeded(std::string_view, std::string_view) override { return false; }

 private:
  // Remembers the transfer on its way, which the flow keeps to itself.
  class Recording final : public Transfers {
   public:
    explicit Recording(Transfers& inner) : inner_(inner) {}
    TransferId Start(FetchRequest request) override { return last_ = inner_.Start(std::move(request)); }
    void Cancel(TransferId id) override { inner_.Cancel(id); }
    TransferId last() const { return last_; }

   private:
    Transfers& inner_;
    TransferId last_ = 0;
  };

  Recording transfers_;
  OutcomeQueue& outcomes_;
  std::chrono::milliseconds step_wait_;
  QueryFlow flow_;
  std::optional<QueryOutcome> done_;
};

}  // namespace quenzil::cli
