// Transfers that count every billable request once it has gone out,
// whoever started it: the one place where the program's spending is counted.
// A request that never left (queued and then cancelled, no network) costs
// nothing and is not counted.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "web/fetch.h"

namespace quenzil {

class CountingTransfers final : public Transfers {
 public:
  // `count_one` (given the account the request is billed to) runs on the
  // transfers' own threads, possibly after this object is gone: it must
  // hold nothing that could go before them.
  using CountOne = std::function<void(const std::string& billed_to)>;
  CountingTransfers(Transfers& inner, CountOne count_one)
      : inner_(inner), count_one_(std::move(count_one)) {}
  TransferId Start(FetchRequest request) override {
    if (request.billable && count_one_) {
      request.on_sent = [count_one = count_one_, billed_to = request.billed_to, then = std::move(request.on_sent)] {
        if (then) then();
        count_one(billed_to);
      };
    }
    return inner_.Start(std::move(request));
  }
  void Cancel(TransferId id) override { inner_.Cancel(id); }

 private:
  Transfers& inner_;
  CountOne count_one_;
};

}  // namespace quenzil
