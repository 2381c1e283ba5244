// One query run to its end on a thread that may wait: the console
// companion's shell around the tracker. The transfers hand their outcomes
// over from their own threads through the queue. Portable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "app/tracker.h"

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

// The watch list as the companion has it: read once, never written.
class ReadOnlyWatchStore final : public WatchStore {
 public:
  explicit ReadOnlyWatchStore(WatchList list) : list_(std::move(list)) {}
  Loaded Load() override { return {list_, std::nullopt, false, false, false}; }
  bool Save(const WatchList&) override { return false; }

 private:
  WatchList list_;
};

class BlockingQuery final : private TrackerEvents {
 public:
  // `step_wait` bounds the wait for each transfer: its own total limit and
  // a margin, so that a transfer that outruns its limits still ends the
  // query as a time-out. The watch list is only read, for its kept answers.
  BlockingQuery(Transfers& transfers, OutcomeQueue& outcomes, TrackerStores stores, const Clock& clock,
                DeployHosts hosts, Accounts accounts, std::string only_service, std::chrono::milliseconds step_wait);

  QueryOutcome Run(QueryAsk ask);

 private:
  // Remembers the transfer on its way, which the tracker keeps to itself.
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

  // TrackerEvents
  void QueryStarted() override {}
  void Rows(const QueryOutcome& outcome) override { done_ = outcome; }
  void Advice(const std::vector<std::string>& rows) override;
  void Told(std::string_view prompt, std::string_view title) override;
  void CourierPicked(std::string_view) override {}
  // The console cannot ask: the service's question ends the query.
  bool PhoneWanted(std::string_view, std::string_view) override { return false; }
  void ListChanged() override {}
  bool Notification(std::string_view, std::string_view) override { return false; }
  void WakeAfter(std::optional<std::chrono::milliseconds>) override {}

  Recording transfers_;
  OutcomeQueue& outcomes_;
  std::chrono::milliseconds step_wait_;
  Tracker tracker_;
  std::optional<QueryOutcome> done_;
};

}  // namespace quenzil::cli
