#include "app/query_flow.h"

#include <algorithm>
#include <utility>

#include "app/settings.h"
#include "app/texts.h"
#include "query/carriers.h"
#include "query/couriers.h"
#include "query/parcel_state.h"
#include "watch/refresh_policy.h"

namespace quenzil {

namespace {

// Queries one press may spend on couriers guessed from the number, per service.
constexpr std::size_t kMaxGuessedQueries = 2;

// The courier the ask names, if any.
std::string CarrierCodeOf(const QueryAsk& ask) {
  if (!ask.carrier_code.empty()) return ask.carrier_code;
  if (ask.chosen_row && *ask.chosen_row < CarrierTable.size()) {
    return std::string(CarrierTable[*ask.chosen_row].service_code);
  }
  return {};
}

}  // namespace

// What a press knows as it goes on.
struct QueryFlow::Press {
  QueryAsk ask;
  ServiceList services;  // as the press started
  std::size_t service_at = 0;
  std::string courier;       // found or picked; empty while unknown
  std::string carrier_name;  // of the courier, for the rows
  std::string phone;
  bool phone_asked = false;  // the digits were asked for once already
  // Couriers guessed from the number, tried in turn on a service that can
  // neither detect nor find the courier, and the names of those that had no
  // result.
  std::vector<std::string> guesses;
  std::size_t guess_at = 0;
  bool guessed = false;     // the query on its way asks a guessed courier
  bool detecting = false;   // the transfer on its way is a detection
  bool detection_asked = false;  // of the service in turn
  std::vector<std::string> tried;
  // What the services said that did not end the press.
  std::vector<std::pair<std::string, std::string>> failures;  // service name, what it said
  std::optional<std::vector<std::string>> advice;              // the first "no result yet"
  std::optional<TransferId> transfer;
  bool waiting_for_phone = false;

  const TrackingService& service() const { return *services[service_at]; }
};

QueryFlow::QueryFlow(Transfers& transfers, AnswerKeeping& answers, QueryFlowHost& host, UnixSeconds requery_guard)
    : transfers_(transfers), answers_(answers), host_(host), requery_guard_(requery_guard) {}

QueryFlow::~QueryFlow() = default;

std::string QueryFlow::AgeSuffix(UnixSeconds answered_at, UnixSeconds now) {
  const UnixSeconds minutes = now > answered_at ? (now - answered_at) / 60 : 0;
  if (minutes == 0) return "（刚刚查询）";
  return "（" + std::to_string(minutes) + "分钟前查询）";
}

bool QueryFlow::OnItsWay(const QueryAsk& ask) const {
  return press_ && !ask.number.empty() && press_->ask.number == ask.number &&
         press_->ask.chosen_row == ask.chosen_row && press_->ask.carrier_code == ask.carrier_code &&
         std::is_permutation(press_->services.begin(), press_->services.end(), services_.begin(), services_.end());
}

std::optional<std::string> QueryFlow::number() const {
  if (!press_) return std::nullopt;
  return press_->ask.number;
}

void QueryFlow::Cancel() {
  if (press_ && press_->transfer) transfers_.Cancel(*press_->transfer);
  press_.reset();
}

void QueryFlow::Finish(QueryOutcome outcome) {
  press_.reset();
  // Kept before the host hears of it: what the host does next (the
  // background refresh going on, say) finds the answer kept and does not
  // ask for it again.
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
  outcome.prompt = std::move(prompt);
  outcome.title = std::string(kQueryFailedTitle);
  Finish(std::move(outcome));
}

void QueryFlow::Start(QueryAsk ask) {
  Cancel();
  if (ask.number.empty()) {
    Notice(kEnterNumberPrompt, kSystemNoticeTitle);
    return;
  }
  if (services_.empty()) return;  // nothing to ask: the tracker always has a service
  auto press = std::make_unique<Press>();
  press->ask = ask;
  press->services = services_;
  press->courier = CarrierCodeOf(ask);
  const bool keyed = press->services.front()->keyed();
  if (press->courier.empty() && !keyed) {
    Notice(kChooseCarrierPrompt, kSystemNoticeTitle);
    return;
  }
  if (keyed) {
    // A kept answer of this number (with any courier when none is picked)
    // holds the query back, and names its courier without detection.
    if (ShowKept(ask, press->courier, answers_.Kept(ask.number, press->courier))) return;
    if (press->courier.empty()) {
      const std::vector<CourierGuess> guesses = GuessCouriers(ask.number);
      if (!guesses.empty() && guesses.front().certain) {
        press_ = std::move(press);
        Found(guesses.front().courier->code, {});
        return;
      }
      for (std::size_t index = 0; index < guesses.size() && index < kMaxGuessedQueries; ++index) {
        press->guesses.emplace_back(guesses[index].courier->code);
      }
    }
  }
  press->carrier_name = press->courier.empty() ? std::string() : CarrierName(press->courier);
  press_ = std::move(press);
  press_->phone = PhoneFor(press_->courier);
  Next();
}

std::string QueryFlow::PhoneFor(std::string_view carrier_code) const {
  if (!press_->ask.phone.empty()) return press_->ask.phone;
  if (carrier_code.empty()) return {};
  const std::optional<KeptAnswer> kept = answers_.Kept(press_->ask.number, carrier_code);
  if (kept && kept->carrier_code == carrier_code && !kept->phone.empty()) return kept->phone;
  return answers_.PhoneFor(press_->ask.number, carrier_code);
}

bool QueryFlow::ShowKept(const QueryAsk& ask, std::string_view carrier_code, const std::optional<KeptAnswer>& kept) {
  const UnixSeconds now = host_.Now();
  if (!kept || !WithinRequeryGuard(kept->answered_at, now, requery_guard_)) return false;
  if (carrier_code.empty()) host_.CarrierFound(kept->carrier_code);
  QueryOutcome outcome;
  outcome.kind = QueryOutcome::Kind::kRows;
  outcome.rows = ResultRows(kept->result, kept->carrier_name);
  if (named_ && !kept->service.empty()) outcome.rows.front() += "（" + std::string(ServiceNameOf(kept->service)) + "）";
  outcome.rows.front() += AgeSuffix(kept->answered_at, now);
  outcome.number = ask.number;
  outcome.carrier_code = kept->carrier_code;
  outcome.carrier_name = kept->carrier_name;
  outcome.phone = kept->phone;
  outcome.result = kept->result;
  outcome.service = kept->service;
  outcome.kept = true;
  outcome.answered_at = kept->answered_at;
  Finish(std::move(outcome));
  return true;
}

void QueryFlow::Found(std::string_view carrier_code, std::string_view detected_name) {
  press_->courier = std::string(carrier_code);
  press_->carrier_name = CarrierName(carrier_code, detected_name);
  press_->phone = PhoneFor(carrier_code);
  host_.CarrierFound(carrier_code);
  Next();
}

void QueryFlow::Next() {
  Press& press = *press_;
  for (; press.service_at < press.services.size(); ++press.service_at, press.guess_at = 0, press.detection_asked = false) {
    const TrackingService& service = press.service();
    if (!press.courier.empty()) {
      // A service that cannot serve the courier is passed over unasked.
      if (!service.Serves(press.courier)) continue;
      StartQuery(press.courier, false);
      return;
    }
    if (service.FindsCourier()) {
      StartQuery({}, false);
      return;
    }
    if (service.OffersDetection() && !host_.DetectionOff(service) && !press.detection_asked) {
      press.detecting = press.detection_asked = true;
      press.transfer = transfers_.Start(service.Detect(press.ask.number));
      return;
    }
    // The likeliest couriers by the number's shape, one after the other.
    while (press.guess_at < press.guesses.size()) {
      const std::string courier = press.guesses[press.guess_at++];
      if (!service.Serves(courier)) continue;
      press.carrier_name = CarrierName(courier);
      press.phone = PhoneFor(courier);
      StartQuery(courier, true);
      return;
    }
  }
  Exhausted();
}

void QueryFlow::StartQuery(std::string courier, bool guessed) {
  Press& press = *press_;
  press.detecting = false;
  press.guessed = guessed;
  ServiceQuery query;
  query.number = press.ask.number;
  query.courier = std::move(courier);
  query.phone = press.phone;
  press.transfer = transfers_.Start(press.service().Query(query));
}

// The press goes on with the next service.
void QueryFlow::MoveOn() {
  ++press_->service_at;
  press_->guess_at = 0;
  press_->detection_asked = false;
  press_->detecting = false;
  Next();
}

void QueryFlow::Exhausted() {
  Press& press = *press_;
  if (press.advice) {
    QueryOutcome done;
    done.kind = QueryOutcome::Kind::kAdvice;
    done.rows = std::move(*press.advice);
    Finish(std::move(done));
    return;
  }
  if (press.failures.size() == 1) {
    Failure(std::move(press.failures.front().second));
    return;
  }
  if (!press.failures.empty()) {
    std::string prompt(kEveryServiceFailedLead);
    for (const auto& [service, told] : press.failures) prompt += "\n\n" + service + "：" + told;
    Failure(std::move(prompt));
    return;
  }
  if (!press.courier.empty()) {
    Notice(kNoServiceForCourierPrompt, kSystemNoticeTitle);
    return;
  }
  std::string prompt(kChooseCarrierPrompt);
  if (!press.tried.empty()) {
    prompt += "\n\n";
    prompt += kGuessesTriedLead;
    for (std::size_t index = 0; index < press.tried.size(); ++index) prompt += (index ? "、" : "") + press.tried[index];
    prompt += kGuessesTriedTail;
  }
  Notice(prompt, kSystemNoticeTitle);
}

bool QueryFlow::OnTransferDone(TransferId id, const FetchOutcome& outcome) {
  if (!press_ || press_->transfer != id) return false;
  press_->transfer.reset();
  if (press_->detecting) {
    FinishDetection(outcome);
  } else {
    FinishQuery(outcome);
  }
  return true;
}

void QueryFlow::FinishDetection(const FetchOutcome& outcome) {
  Press& press = *press_;
  const TrackingService& service = press.service();
  const Detection detection = service.ReadDetection(outcome);
  switch (detection.kind) {
    case Detection::Kind::kCandidates:
      if (detection.candidates.empty()) {
        MoveOn();
        return;
      }
      Found(detection.candidates.front().code, detection.candidates.front().name);
      return;
    case Detection::Kind::kNotOffered:
      host_.DetectionNotOffered(service);
      press.detecting = false;
      Next();  // the guesses instead
      return;
    case Detection::Kind::kRefused:
      press.detecting = false;
      Next();
      return;
    case Detection::Kind::kFailed:
      press.failures.emplace_back(service.name(), detection.told);
      MoveOn();
      return;
  }
}

void QueryFlow::FinishQuery(const FetchOutcome& outcome) {
  Press& press = *press_;
  const TrackingService& service = press.service();
  ServiceAnswer answer = service.Read(outcome);
  host_.ServiceReached(service, answer.outcome != Outcome::kNotReached);
  if (!press_) return;
  if (press.guessed) {
    // A guessed courier without the parcel: the next one.
    if (answer.outcome == Outcome::kNoResultYet || answer.outcome == Outcome::kCourierNotServed) {
      press.tried.push_back(press.carrier_name);
      Next();
      return;
    }
    // Rows, or the phone's digits asked for: the service knows the parcel
    // under this courier. A refusal of the account says nothing of it.
    if (answer.outcome == Outcome::kRows || answer.outcome == Outcome::kPhoneNeeded) {
      press.courier = press.guesses[press.guess_at - 1];
      host_.CarrierFound(press.courier);
    }
    press.guessed = false;
  }
  switch (answer.outcome) {
    case Outcome::kRows: {
      QueryOutcome done;
      done.kind = QueryOutcome::Kind::kRows;
      done.service = std::string(service.key());
      done.answered_at = host_.Now();
      if (!service.keyed()) {
        done.rows = std::move(answer.rows);
        done.number = press.ask.number;
        done.carrier_code = press.courier;
        done.carrier_name = CarrierName(press.courier);
        Finish(std::move(done));
        return;
      }
      TrackingResult result = std::move(answer.result);
      if (press.courier.empty()) {
        // Found by the service itself.
        press.courier = result.carrier_code;
        press.carrier_name = CarrierName(press.courier);
        host_.CarrierFound(press.courier);
      }
      // The parcel is the number as asked, however the answer spells it.
      result.number = press.ask.number;
      result.carrier_code = press.courier;
      done.rows = ResultRows(result, press.carrier_name);
      if (named_) done.rows.front() += "（" + std::string(service.name()) + "）";
      done.number = press.ask.number;
      done.carrier_code = press.courier;
      done.carrier_name = press.carrier_name;
      done.phone = press.phone;
      done.result = std::move(result);
      Finish(std::move(done));
      return;
    }
    case Outcome::kNoResultYet:
      if (!press.advice) press.advice = std::move(answer.rows);
      MoveOn();
      return;
    case Outcome::kPhoneNeeded:
      if (!press.phone_asked) {
        press.waiting_for_phone = true;
        const std::string carrier_name = press.carrier_name;
        const std::string number = press.ask.number;
        if (host_.PhoneNeeded(carrier_name, number)) return;
        if (!press_) return;
        press_->waiting_for_phone = false;
      }
      press_->failures.emplace_back(service.name(), answer.told);
      Exhausted();
      return;
    case Outcome::kAccountRefused:
    case Outcome::kQuotaSpent:
      host_.ServiceRefused(service, answer);
      [[fallthrough]];
    case Outcome::kCourierNotServed:
    case Outcome::kServerError:
    case Outcome::kNotReached:
      press.failures.emplace_back(service.name(), answer.told);
      MoveOn();
      return;
    case Outcome::kBadRequest:
    case Outcome::kUnreadable:
      press.failures.emplace_back(service.name(), answer.told);
      Exhausted();
      return;
  }
}

void QueryFlow::PhoneDigits(std::optional<std::string> digits) {
  if (!press_ || !press_->waiting_for_phone) return;
  press_->waiting_for_phone = false;
  // Cancelled, or the services changed meanwhile: nothing more is asked.
  if (!digits || press_->services != services_) {
    press_.reset();
    host_.QueryDone(QueryOutcome{});
    return;
  }
  press_->phone = std::move(*digits);
  press_->phone_asked = true;
  // Not held back by the guard: this number got no rows.
  StartQuery(press_->courier, false);
}

}  // namespace quenzil
