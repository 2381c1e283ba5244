#include "app/query_flow.h"

#include <utility>

#include "app/texts.h"
#include "query/answer.h"
#include "query/carriers.h"
#include "query/couriers.h"
#include "watch/refresh_policy.h"
#include "web/pattern.h"

namespace quenzil {

namespace {

// The service's answer codes the flow treats on its own.
constexpr std::string_view kNoResultYet = "500";
constexpr std::string_view kPhoneMismatch = "408";
// Detection's answer for an account that has none (a trial account).
constexpr std::string_view kNoDetection = "601";
// Queries one press may spend on couriers guessed from the number.
constexpr std::size_t kMaxGuessedQueries = 2;

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

// The courier the ask names, if any.
std::string CarrierCodeOf(const QueryAsk& ask) {
  if (!ask.carrier_code.empty()) return ask.carrier_code;
  if (ask.chosen_row && *ask.chosen_row < CarrierTable.size()) {
    return std::string(CarrierTable[*ask.chosen_row].service_code);
  }
  return {};
}

}  // namespace

QueryFlow::QueryFlow(Transfers& transfers, AnswerKeeping& answers, SettingsStore& settings_store,
                     QueryFlowHost& host, QueryFlowSettings settings)
    : transfers_(transfers),
      answers_(answers),
      settings_store_(settings_store),
      host_(host),
      settings_(std::move(settings)) {}

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
    const std::vector<CourierGuess> guesses = GuessCouriers(ask.number);
    if (!guesses.empty() && guesses.front().certain) {
      PollFound(std::move(step), guesses.front().courier->code, {});
      return;
    }
    for (std::size_t index = 0; index < guesses.size() && index < kMaxGuessedQueries; ++index) {
      step.to_try.emplace_back(guesses[index].courier->code);
    }
    if (settings_store_.LoadDetectionRefused()) {
      TryNextGuess(std::move(step));
    } else {
      StartDetect(std::move(step));
    }
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
  if (carrier_code.empty()) host_.CarrierFound(kept->carrier_code);
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

void QueryFlow::PollFound(Step step, std::string_view carrier_code, std::string_view detected_name) {
  host_.CarrierFound(carrier_code);
  PollCourier(std::move(step), carrier_code, detected_name);
}

void QueryFlow::PollCourier(Step step, std::string_view carrier_code, std::string_view detected_name) {
  step.carrier_code = std::string(carrier_code);
  step.carrier_name = CarrierName(carrier_code, detected_name);
  step.phone = PhoneFor(step.ask, carrier_code, answers_.Kept(step.ask.number, carrier_code));
  StartPoll(std::move(step));
}

void QueryFlow::TryNextGuess(Step step) {
  if (step.to_try.empty()) {
    std::string prompt(kChooseCarrierPrompt);
    if (!step.tried.empty()) {
      prompt += "\n\n";
      prompt += kGuessesTriedLead;
      for (std::size_t index = 0; index < step.tried.size(); ++index) prompt += (index ? "、" : "") + step.tried[index];
      prompt += kGuessesTriedTail;
    }
    Notice(prompt, kSystemNoticeTitle);
    return;
  }
  const std::string carrier_code = step.to_try.front();
  step.to_try.erase(step.to_try.begin());
  step.guessed = true;
  PollCourier(std::move(step), carrier_code, {});
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
      // Detection is a product of its own: its refusal says nothing of the
      // key, which the query itself will test. 601: the account has none.
      if (answer.failure.return_code == kNoDetection) settings_store_.SaveDetectionRefused(true);
      TryNextGuess(std::move(step));
      return;
    case DetectionAnswer::Kind::kCandidates:
      break;
  }
  if (answer.candidates.empty()) {
    Notice(kChooseCarrierPrompt, kSystemNoticeTitle);
    return;
  }
  const CarrierCandidate& best = answer.candidates.front();
  PollFound(std::move(step), best.code, best.name);
}

void QueryFlow::FinishPoll(Step step, const FetchOutcome& outcome) {
  if (!outcome.ok) {
    Failure(FailureMessage(FetchFailureMessage(outcome.failure), outcome.cause));
    return;
  }
  const PollAnswer answer = ReadPollAnswer(outcome.text);
  if (step.guessed) {
    // A guessed courier without the parcel: the next one.
    if (answer.kind == PollAnswer::Kind::kFailure && answer.failure.return_code == kNoResultYet) {
      step.tried.push_back(step.carrier_name);
      TryNextGuess(std::move(step));
      return;
    }
    // Rows, or the phone's digits asked for: the service knows the parcel
    // under this courier. A refusal of the account says nothing of it.
    const bool known = answer.kind == PollAnswer::Kind::kResult ||
                       (answer.kind == PollAnswer::Kind::kFailure && answer.failure.return_code == kPhoneMismatch);
    if (known) host_.CarrierFound(step.carrier_code);
    step.guessed = false;
  }
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
