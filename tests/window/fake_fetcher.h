// A Fetcher that answers from a script and can run window events "while it
// waits", the way the real one pumps messages.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "web/fetch.h"

namespace quenzil::testing {

struct FakeReply {
  std::string body;
  std::optional<FetchError> error;            // thrown instead of answering
  std::function<void()> during_wait;          // runs before the reply
};

class FakeFetcher : public Fetcher {
 public:
  struct Request {
    std::string url;
    FetchLimits limits;
  };

  std::vector<Request> requests;

  void Reply(std::string body, std::function<void()> during_wait = {}) {
    replies_.push_back({std::move(body), std::nullopt, std::move(during_wait)});
  }
  void Fail(FetchFailure kind, std::string cause, std::function<void()> during_wait = {}) {
    replies_.push_back({{}, FetchError(kind, std::move(cause)), std::move(during_wait)});
  }
  std::size_t PendingReplies() const { return replies_.size(); }

  std::string FetchText(const std::string& url, const FetchLimits& limits) override {
    requests.push_back({url, limits});
    if (replies_.empty()) throw FetchError(FetchFailure::kOther, "no reply scripted");
    FakeReply reply = std::move(replies_.front());
    replies_.pop_front();
    if (reply.during_wait) reply.during_wait();
    if (reply.error) throw *reply.error;
    return reply.body;
  }

 private:
  std::deque<FakeReply> replies_;
};

}  // namespace quenzil::testing
