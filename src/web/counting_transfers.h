// Transfers that count every billable request once it has gone out,
// whoever started it: the one place where the program's spending is counted.
// A request that never left (queued and then cancelled, no network) costs
// nothing and is not counted.
#pragma once

#include <functional>
#include <utility>

#include "web/fetch.h"

namespace quenzil {

class CountingTransfers final : public Transfers {
 public:
  // `count_one` runs on the transfers' own threads, possibly after this
  // object is gone: it must hold nothing that could go before them.
  CountingTransfers(Transfers& inner, std::function<void()> count_one)
      : inner_(inner), count_one_(std::move(count_one)) {}
  TransferId Start(FetchRequest request) override {
    if (request.billable && count_one_) {
      request.on_sent = [count_one = count_one_, then = std::move(request.on_sent)] {
        if (then) then();
        count_one();
      };
    }
    return inner_.Start(std::move(request));
  }
  void Cancel(TransferId id) override { inner_.Cancel(id); }

 private:
  Transfers& inner_;
  std::function<void()> count_one_;
};

}  // namespace quenzil
