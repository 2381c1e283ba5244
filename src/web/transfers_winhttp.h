// Transfers over WinHTTP. Each runs on one of a few worker threads, which
// drives an asynchronous request and hands the outcome to a sink; nobody
// waits for it. Cancelling closes the request (which ends it on Windows);
// since some WinHTTP builds keep a closed request's wait going until the
// server answers or a time-out fires, the number of transfers alive at once
// is capped, and further ones queue until one has really ended.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "web/fetch.h"

namespace quenzil {

struct TransferPool;

class WinHttpTransfers final : public Transfers {
 public:
  // Called on a worker thread, once per transfer that was not cancelled.
  // Must not throw and must not block for long.
  using OutcomeSink = std::function<void(TransferId, FetchOutcome)>;

  static constexpr std::size_t kDefaultMaxAlive = 3;

  explicit WinHttpTransfers(OutcomeSink sink, std::size_t max_alive = kDefaultMaxAlive);
  // Cancels everything and returns at once; workers finish on their own.
  ~WinHttpTransfers() override;
  WinHttpTransfers(const WinHttpTransfers&) = delete;
  WinHttpTransfers& operator=(const WinHttpTransfers&) = delete;

  TransferId Start(FetchRequest request) override;
  void Cancel(TransferId id) override;

  // Transfers holding a worker now (running, or cancelled and winding down).
  std::size_t alive() const;
  // Transfers waiting for a worker.
  std::size_t queued() const;

 private:
  std::shared_ptr<TransferPool> pool_;
};

}  // namespace quenzil
