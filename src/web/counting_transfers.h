// Transfers that count every billable request they start, whoever starts
// it: the one place where the program's spending is counted.
#pragma once

#include <functional>
#include <utility>

#include "web/fetch.h"

namespace quenzil {

class CountingTransfers final : public Transfers {
 public:
  CountingTransfers(Transfers& inner, std::function<void()> count_one)
      : inner_(inner), count_one_(std::move(count_one)) {}
  TransferId Start(FetchRequest request) override {
    const bool billable = request.billable;
    const TransferId id = inner_.Start(std::move(request));
    if (billable && count_one_) count_one_();
    return id;
  }
  void Cancel(TransferId id) override { inner_.Cancel(id); }

 private:
  Transfers& inner_;
  std::function<void()> count_one_;
};

}  // namespace quenzil
