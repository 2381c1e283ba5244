#include "app/query_flow.h"

#include <utility>

#include "app/texts.h"
#include "query/answer.h"
#include "query/carriers.h"
#include "watch/refresh_policy.h"
#include "web/pattern.h"

namespace quenzil {

namespace {

// The service's answer codes the flow treats on its own.
constexpr std::string_view kNoResultYet = "500";
constexpr std::string_view kPhoneMismatch = "408";

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

std::optional<std::size_t> CarrierRowOf(std::string_view code) {
  for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
    if (CarrierTable[row].service_code == code) return row;
  }
  return std::nullopt;
}

// The courier the ask names, if any.
std::string CarrierCodeOf(const QueryAsk& ask) {
  if (!ask.carrier_code.empty()) return ask.carrier_code;
  if (ask.chosen_row && *ask.chosen_row < CarrierTable.size()) {
    return std::string(CarrierTable[*ask.chosen_row].service_code);
  }
  return {};
}

}  // namespace

QueryFlow::QueryFlow(Transfers& transfers, AnswerKeeping& answers, QueryFlowHost& host, QueryFlowSettings settings)
    : transfers_(transfers), answers_(answers), host_(host), settings_(std::move(settings)) {}

std::string QueryFlow::AgeSuffix(UnixSeconds answered_at, UnixSeconds now) {
  const UnixSeconds minutes = now > answered_at ? (now - answered_at) / 60 : 0;
  if (minutes == 0) return "（刚刚查询）";
  return "（" + std::to_string(minutes) + "分钟前查询）";
}

bool QueryFlow::OnItsWay(const QueryAsk& ask) const {
  const std::optional<Step>& current = step_ ? step_ : waiting_for_phone_;
  return current && !ask.number.empty() && current->ask.number == ask.number &&
         current->ask.chosen_row == ask.chosen_row && current->ask.carrier_code == ask.carrier_code &&
         current->keyed == keyed();
}

void QueryFlow::Cancel() {
  if (step_) transfers_.Cancel(step_->transfer);
  step_.reset();
  waiting_for_phone_.reset();
}

void QueryFlow::Finish(QueryOutcome outcome) {
  // Kept before the host hears of it: what the host does next (the
  // background refresh going on, say) finds the answer kept and does not
  // ask for it again. The last queries' file is written later, off the wait.
  if (outcome.kind == QueryOutcome::Kind::kRows && !outcome.kept) answers_.Keep(outcome);
  host_.QueryDone(outcome);
}

void QueryFlow::Notice(std::string_view prompt, std::string_view title) {
  QueryOutcome outcome;
  outcome.kind = QueryOutcome::Kind::kNotice;
  outcome.prompt = std::string(prompt);
  outcome.title = std::string(title);
  Finish(std::move(outcome));
}

void QueryFlow::Failure(std::string prompt) {
  QueryOutcome outcome;
  outcome.kind = QueryOutcome::Kind::kFailure;
  // Nothing the user sees may carry the key.
  outcome.prompt = WithoutSecret(std::move(prompt), credentials_.key);
  outcome.title = std::string(kQueryFailedTitle);
  Finish(std::move(outcome));
}

void QueryFlow::Start(QueryAsk ask) {
  Cancel();
  if (ask.number.empty()) {
    Notice(kEnterNumberPrompt, kSystemNoticeTitle);
    return;
  }
  Step step;
  step.ask = ask;
  step.keyed = keyed();
  step.carrier_code = CarrierCodeOf(ask);
  if (step.carrier_code.empty()) {
    if (!step.keyed) {
      Notice(kChooseCarrierPrompt, kSystemNoticeTitle);
      return;
    }
    // A kept answer of this number names its courier without detection.
    if (ShowKept(ask, {}, answers_.Kept(ask.number, {}))) return;
    StartDetect(std::move(step));
    return;
  }
  if (!step.keyed) {
    StartOld(std::move(step));
    return;
  }
  const std::optional<KeptAnswer> kept = answers_.Kept(ask.number, step.carrier_code);
  if (ShowKept(ask, step.carrier_code, kept)) return;
  step.carrier_name = CarrierName(step.carrier_code);
  step.phone = PhoneFor(ask, step.carrier_code, kept);
  StartPoll(std::move(step));
}

std::string QueryFlow::PhoneFor(const QueryAsk& ask, std::string_view carrier_code,
                                const std::optional<KeptAnswer>& kept) const {
  if (!ask.phone.empty()) return ask.phone;
  if (kept && kept->carrier_code == carrier_code && !kept->phone.empty()) return kept->phone;
  return answers_.PhoneFor(ask.number, carrier_code);
}

bool QueryFlow::ShowKept(const QueryAsk& ask, std::string_view carrier_code, const std::optional<KeptAnswer>& kept) {
  const UnixSeconds now = host_.Now();
  if (!kept || !WithinRequeryGuard(kept->answered_at, now, settings_.requery_guard)) return false;
  if (carrier_code.empty()) host_.CarrierDetected(CarrierRowOf(kept->carrier_code));
  QueryOutcome outcome;
  outcome.kind = QueryOutcome::Kind::kRows;
  outcome.rows = ResultRows(kept->result, kept->carrier_name);
  outcome.rows.front() += AgeSuffix(kept->answered_at, now);
  outcome.number = ask.number;
  outcome.carrier_code = kept->carrier_code;
  outcome.carrier_name = kept->carrier_name;
  outcome.phone = kept->phone;
  outcome.result = kept->result;
  outcome.kept = true;
  outcome.answered_at = kept->answered_at;
  Finish(std::move(outcome));
  return true;
}

void QueryFlow::StartOld(Step step) {
  FetchRequest request;
  request.url = BuildQueryUrl(settings_.tracking_api, step.ask.number, step.carrier_code);
  request.limits = settings_.limits;
  step.kind = Kind::kOld;
  step.transfer = transfers_.Start(std::move(request));
  step_ = std::move(step);
}

void QueryFlow::StartDetect(Step step) {
  step.kind = Kind::kDetect;
  step.transfer = transfers_.Start(
      BuildDetectRequest(settings_.tracking_detect, step.ask.number, credentials_.key, settings_.limits));
  step_ = std::move(step);
}

void QueryFlow::StartPoll(Step step) {
  step.kind = Kind::kPoll;
  step.transfer = transfers_.Start(BuildPollRequest(settings_.tracking_poll, credentials_, step.carrier_code,
                                                    step.ask.number, step.phone, settings_.limits));
  step_ = std::move(step);
}

bool QueryFlow::OnTransferDone(TransferId id, const FetchOutcome& outcome) {
  if (!step_ || step_->transfer != id) return false;
  Step finished = std::move(*step_);
  step_.reset();
  switch (finished.kind) {
    case Kind::kOld: FinishOld(finished, outcome); break;
    case Kind::kDetect: FinishDetect(std::move(finished), WithStatusChecked(outcome)); break;
    case Kind::kPoll: FinishPoll(std::move(finished), WithStatusChecked(outcome)); break;
  }
  return true;
}

void QueryFlow::FinishOld(const Step& step, const FetchOutcome& outcome) {
  if (!outcome.ok) {
    Failure(FailureMessage(FetchFailureMessage(outcome.failure), outcome.cause));
    return;
  }
  Answer answer;
  try {
    answer = ClassifyAnswer(outcome.text);
  } catch (const PatternError& error) {
    Failure(FailureMessage(kUnreadableAnswer, error.what()));
    return;
  }
  QueryOutcome done;
  done.rows = std::move(answer.rows);
  if (answer.kind != AnswerKind::kTracking || done.rows.empty()) {
    done.kind = QueryOutcome::Kind::kAdvice;
    Finish(std::move(done));
    return;
  }
  done.kind = QueryOutcome::Kind::kRows;
  done.number = step.ask.number;
  done.carrier_code = step.carrier_code;
  done.carrier_name = CarrierName(step.carrier_code);
  done.answered_at = host_.Now();
  Finish(std::move(done));
}

void QueryFlow::FinishDetect(Step step, const FetchOutcome& outcome) {
  if (!outcome.ok) {
    Failure(FailureMessage(FetchFailureMessage(outcome.failure), outcome.cause));
    return;
  }
  const DetectionAnswer answer = ReadDetectionAnswer(outcome.text);
  switch (answer.kind) {
    case DetectionAnswer::Kind::kMalformed:
      Failure(FailureMessage(kUnreadableAnswer, answer.malformed));
      return;
    case DetectionAnswer::Kind::kFailure:
      // Not a parcel number, an expired key: either way the user picks.
      Notice(std::string(kChooseCarrierPrompt) + "\n\n自动识别失败：" +
                 ServiceFailureText(answer.failure, credentials_.key),
             kSystemNoticeTitle);
      return;
    case DetectionAnswer::Kind::kCandidates:
      break;
  }
  if (answer.candidates.empty()) {
    Notice(kChooseCarrierPrompt, kSystemNoticeTitle);
    return;
  }
  const CarrierCandidate& best = answer.candidates.front();
  host_.CarrierDetected(CarrierRowOf(best.code));
  step.carrier_code = best.code;
  step.carrier_name = CarrierName(best.code, best.name);
  step.phone = PhoneFor(step.ask, best.code, answers_.Kept(step.ask.number, best.code));
  StartPoll(std::move(step));
}

void QueryFlow::FinishPoll(Step step, const FetchOutcome& outcome) {
  if (!outcome.ok) {
    Failure(FailureMessage(FetchFailureMessage(outcome.failure), outcome.cause));
    return;
  }
  const PollAnswer answer = ReadPollAnswer(outcome.text);
  switch (answer.kind) {
    case PollAnswer::Kind::kMalformed:
      Failure(FailureMessage(kUnreadableAnswer, answer.malformed));
      return;
    case PollAnswer::Kind::kFailure:
      break;
    case PollAnswer::Kind::kResult: {
      QueryOutcome done;
      done.kind = QueryOutcome::Kind::kRows;
      // The parcel is the number as asked, however the answer spells it.
      TrackingResult result = answer.result;
      result.number = step.ask.number;
      done.rows = ResultRows(result, step.carrier_name);
      done.number = step.ask.number;
      done.carrier_code = step.carrier_code;
      done.carrier_name = step.carrier_name;
      done.phone = step.phone;
      done.result = std::move(result);
      done.answered_at = host_.Now();
      Finish(std::move(done));
      return;
    }
  }
  const ServiceFailure& failure = answer.failure;
  if (failure.return_code == kNoResultYet) {
    // Like the old service's 未收录: advice in the list, not a failure box.
    QueryOutcome done;
    done.kind = QueryOutcome::Kind::kAdvice;
    done.rows.emplace_back(AdviceMessage(AnswerKind::kNotRecorded));
    Finish(std::move(done));
    return;
  }
  if (failure.return_code == kPhoneMismatch && !step.phone_asked) {
    const std::string carrier_name = step.carrier_name;
    const std::string number = step.ask.number;
    waiting_for_phone_ = std::move(step);
    if (host_.PhoneNeeded(carrier_name, number)) return;
    waiting_for_phone_.reset();
  }
  Failure(ServiceFailureText(failure, credentials_.key));
}

void QueryFlow::PhoneDigits(std::optional<std::string> digits) {
  if (!waiting_for_phone_) return;
  Step step = std::move(*waiting_for_phone_);
  waiting_for_phone_.reset();
  // Cancelled, or the account was removed meanwhile: nothing more is asked.
  if (!digits || !keyed()) {
    host_.QueryDone(QueryOutcome{});
    return;
  }
  step.phone = std::move(*digits);
  step.phone_asked = true;
  // Not held back by the guard: this number got no rows.
  StartPoll(std::move(step));
}

}  // namespace quenzil
