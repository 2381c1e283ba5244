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

FetchOutcome WithStatusChecked(FetchOutcome outcome) {
  if (!outcome.ok || outcome.status == 200) return outcome;
  std::string cause = "HTTP " + std::to_string(outcome.status);
  if (outcome.status == 407) {
    cause += "，代理服务器要求验证身份";
  } else if (outcome.status >= 500 && outcome.status < 600) {
    cause += "，服务器出错";
  }
  return FetchOutcome::Failed(FetchFailure::kBadStatus, std::move(cause));
}

std::string ReadProblem(const json::Read& read) {
  switch (read.problem) {
    case json::Read::Problem::kNone: return {};
    case json::Read::Problem::kEmpty: return "回答为空";
    case json::Read::Problem::kTooLarge: return "回答过大（超过 16 MiB）";
    case json::Read::Problem::kTooDeep: return "回答嵌套过深";
    case json::Read::Problem::kNotJson: break;
  }
  return "回答不是有效的 JSON（第 " + std::to_string(read.at) + " 字节处）";
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
