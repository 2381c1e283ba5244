#include "query/services/appcode.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "common/json_reader.h"
#include "common/text_fit.h"
#include "query/carriers.h"
#include "query/couriers.h"
#include "query/parcel_state.h"
#include "query/services/kuaidi100_old.h"
#include "query/services/told.h"

namespace quenzil {

namespace {

using namespace states;

// The gateway's reason for a refusal comes in this header.
constexpr std::string_view kErrorHeader = "X-Ca-Error-Message";

// Its couriers whose numbers take the phone's last four digits after a colon.
constexpr std::array<std::string_view, 2> kPhoneCouriers = {"SFEXPRESS", "FWX"};

struct StatusRow {
  std::string_view status;  // "status" of a 200 answer
  Outcome outcome;
  std::string_view hint;
};
constexpr std::array<StatusRow, 6> kStatuses{{
    {"0", Outcome::kRows, ""},
    {"201", Outcome::kNoResultYet, "快递单号错误。"},
    {"203", Outcome::kCourierNotServed, "AppCode 接口没有这家快递公司。"},
    {"204", Outcome::kCourierNotServed, "AppCode 接口认不出这个单号的快递公司。"},
    {"205", Outcome::kNoResultYet, ""},
    {"207", Outcome::kBadRequest, "这个单号被 AppCode 接口限制查询。"},
}};

// The gateway's refusals, by the words of its header; the first row that
// matches decides. A status of 5xx without one of these is its server error.
struct RefusalRow {
  std::string_view words;
  Outcome outcome;
};
constexpr std::array<RefusalRow, 9> kRefusals{{
    {"Invalid AppCode", Outcome::kAccountRefused},
    {"Unauthorized", Outcome::kAccountRefused},
    {"Quota Exhausted", Outcome::kQuotaSpent},
    {"quota exhausted", Outcome::kQuotaSpent},
    {"Quota Expired", Outcome::kQuotaSpent},
    {"Expiry of Authorization", Outcome::kQuotaSpent},
    {"User Arrears", Outcome::kQuotaSpent},
    {"Throttled", Outcome::kServerError},
    {"Service Unavailable", Outcome::kServerError},
}};

// deliverystatus, onto the one state model.
struct StateRow {
  std::string_view code;
  std::string_view state;
};
constexpr std::array<StateRow, 7> kDeliveryStates{{
    {"0", kPickedUp}, {"1", kInTransit}, {"2", kOutForDelivery}, {"3", kSigned},
    {"4", kDeliveryFailed}, {"5", kProblem}, {"6", kReturnSigned},
}};

std::string HeaderOf(const FetchOutcome& outcome, std::string_view name) {
  for (const auto& [header, value] : outcome.headers) {
    if (header == name) return value;
  }
  return {};
}

std::string_view HintOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kAccountRefused:
      return "AppCode 不正确或没有购买这个接口，请在窗口系统菜单的“查询服务账号…”中检查。";
    case Outcome::kQuotaSpent:
      return "AppCode 的套餐次数已用完或已到期，请到云市场续购。";
    default:
      return {};
  }
}

ServiceAnswer Refusal(const FetchOutcome& outcome, std::string_view secret) {
  const std::string reason = Shown(HeaderOf(outcome, kErrorHeader), secret, 200);
  ServiceAnswer answer;
  answer.outcome = outcome.status >= 500 ? Outcome::kServerError : Outcome::kBadRequest;
  for (const RefusalRow& row : kRefusals) {
    if (reason.find(row.words) != std::string::npos) {
      answer.outcome = row.outcome;
      break;
    }
  }
  // Without the gateway's words a refusal is no answer of the service's:
  // a proxy's page, say.
  if (reason.empty()) {
    ServiceAnswer not_reached = NotReached(WithStatusChecked(outcome));
    if (outcome.status >= 500) not_reached.outcome = Outcome::kServerError;
    return not_reached;
  }
  answer.told = "AppCode 接口拒绝了查询：" + reason + "（HTTP " + std::to_string(outcome.status) + "）";
  if (const std::string_view hint = HintOf(answer.outcome); !hint.empty()) {
      answer.told += '\n';
      answer.told += hint;
    }
  return answer;
}

}  // namespace

bool AppCodeService::Serves(std::string_view courier) const {
  const Courier* known = FindCourier(courier);
  return known != nullptr && !known->appcode.empty();
}

FetchRequest AppCodeService::Query(const ServiceQuery& query) const {
  const Courier* courier = query.courier.empty() ? nullptr : FindCourier(query.courier);
  const std::string_view type = courier != nullptr ? courier->appcode : std::string_view();
  std::string number = query.number;
  if (!query.phone.empty() && std::find(kPhoneCouriers.begin(), kPhoneCouriers.end(), type) != kPhoneCouriers.end()) {
    number += ":" + query.phone;
  }
  FetchRequest request;
  request.url = "https://" + host_ + "/kdi?no=" + PercentEncode(number) + "&type=" + PercentEncode(type);
  request.method = "GET";
  request.headers.emplace_back("Authorization", "APPCODE " + account_.code);
  request.wanted_headers.emplace_back(kErrorHeader);
  request.decoding = BodyText::kUtf8;
  request.limits = limits_;
  request.billable = true;
  request.billed_to = std::string(kKey);
  return request;
}

ServiceAnswer AppCodeService::Read(const FetchOutcome& outcome) const {
  if (!outcome.ok) return NotReached(outcome);
  if (outcome.status != 200) return Refusal(outcome, account_.code);
  const json::Read read = json::Open(outcome.text, kMaxAnswerBytes);
  if (!read.ok()) return Unreadable(ReadProblem(read));
  if (!read.root.is(json::Type::kObject)) return Unreadable("回答不是 JSON 对象");
  const std::optional<std::string> status = json::CodeOf(read.root.Find("status"));
  if (!status) return Unreadable("回答缺少 status");
  const auto row = std::find_if(kStatuses.begin(), kStatuses.end(),
                                [&status](const StatusRow& known) { return known.status == *status; });
  ServiceAnswer answer;
  if (row == kStatuses.end() || row->outcome != Outcome::kRows) {
    answer.outcome = row == kStatuses.end() ? Outcome::kBadRequest : row->outcome;
    if (answer.outcome == Outcome::kNoResultYet) {
      answer.rows.emplace_back(AdviceMessage(*status == "201" ? AnswerKind::kWrongNumber : AnswerKind::kNotRecorded));
    }
    std::string words = Shown(json::TextOf(read.root.Find("msg")), account_.code, 200);
    answer.told = (words.empty() ? std::string("AppCode 接口返回了错误") : words) + "（" + Shown(*status, {}, 16) + "）";
    if (row != kStatuses.end() && !row->hint.empty()) {
      answer.told += '\n';
      answer.told += row->hint;
    }
    return answer;
  }
  const std::optional<json::Value> result = read.root.Find("result");
  if (!result || !result->is(json::Type::kObject)) return Unreadable("回答缺少 result");
  const std::optional<json::Value> list = result->Find("list");
  if (!list || !list->is(json::Type::kArray)) return Unreadable("回答的 list 不是列表");
  TrackingResult& tracking = answer.result;
  list->ForEachElement([&tracking](const json::Value& entry) {
    std::string context = json::TextOf(entry.Find("status"));
    if (context.empty()) return;
    tracking.events.push_back({json::TextOf(entry.Find("time")), std::move(context), {}, {}, {}});
  });
  if (tracking.events.empty()) {
    answer.outcome = Outcome::kNoResultYet;
    answer.rows.emplace_back(AdviceMessage(AnswerKind::kNotRecorded));
    return answer;
  }
  // Newest first as it sends them; the times sort as text.
  std::stable_sort(tracking.events.begin(), tracking.events.end(),
                   [](const TrackingEvent& left, const TrackingEvent& right) { return left.time < right.time; });
  const std::optional<std::string> delivery = json::CodeOf(result->Find("deliverystatus"));
  const auto state = std::find_if(kDeliveryStates.begin(), kDeliveryStates.end(),
                                  [&delivery](const StateRow& known) { return delivery && known.code == *delivery; });
  tracking.state = std::string(state == kDeliveryStates.end() ? kInTransit : state->state);
  tracking.signed_for = json::CodeOf(result->Find("issign")) == "1" && !IsReturnedState(tracking.state);
  tracking.number = json::TextOf(result->Find("number"));
  // The courier it found, as the table names it; one the table lacks keeps
  // its own code and name.
  const std::string type = json::TextOf(result->Find("type"));
  if (const Courier* courier = FindCourierAt(CourierColumn::kAppCode, type)) {
    tracking.carrier_code = std::string(courier->code);
  } else if (!type.empty()) {
    tracking.carrier_code = type;
  }
  answer.outcome = Outcome::kRows;
  return answer;
}

}  // namespace quenzil
