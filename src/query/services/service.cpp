#include "query/services/service.h"

#include "query/services/told.h"

namespace quenzil {

FetchRequest TrackingService::Detect(std::string_view) const { return {}; }

Detection TrackingService::ReadDetection(const FetchOutcome&) const { return {}; }

std::string FailureMessage(std::string_view sentence, std::string_view detail) {
  std::string message = "查询失败：";
  message += sentence;
  if (!detail.empty()) {
    message += "\n（";
    message += detail;
    message += "）";
  }
  return message;
}

ServiceAnswer NotReached(const FetchOutcome& outcome) {
  ServiceAnswer answer;
  answer.outcome = Outcome::kNotReached;
  answer.failure = outcome.failure;
  answer.told = FailureMessage(FetchFailureMessage(outcome.failure), outcome.cause);
  return answer;
}

ServiceAnswer Unreadable(std::string_view detail) {
  ServiceAnswer answer;
  answer.outcome = Outcome::kUnreadable;
  answer.told = FailureMessage(kUnreadableAnswer, detail);
  return answer;
}

}  // namespace quenzil
