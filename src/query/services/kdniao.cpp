#include "query/services/kdniao.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "common/base64.h"
#include "common/json_reader.h"
#include "common/md5.h"
#include "common/text_fit.h"
#include "query/carriers.h"
#include "query/couriers.h"
#include "query/parcel_state.h"
#include "query/services/kuaidi100_old.h"
#include "query/services/told.h"

namespace quenzil {

namespace {

using namespace states;

constexpr std::string_view kQueryFree = "1002";
constexpr std::string_view kQueryPaid = "8001";
constexpr std::string_view kDetection = "2002";

// Its couriers that want the phone's last four digits as CustomerName;
// for any other it must stay out of the request.
constexpr std::array<std::string_view, 3> kPhoneCouriers = {"SF", "ZTO", "KYSY"};
// Couriers its free 即时查询 does not serve (they are served through its
// paid products only).
constexpr std::array<std::string_view, 3> kPaidOnly = {"STO", "HHTT", "HTKY"};

struct StateRow {
  std::string_view code;  // its State, StateEx or a trace's Action
  std::string_view state;
};

// StateEx (8001) and each trace's Action share one list; State is the
// coarse one. A code of neither list is taken as 在途, which never ends the
// refreshes.
constexpr std::array<StateRow, 43> kStateEx{{
    {"0", kInTransit},           {"1", kPickedUp},           {"10", kAwaitingPickUp},
    {"2", kInTransit},           {"201", kInDeliveryCity},   {"202", kOutForDelivery},
    {"204", kInTransit},         {"205", kInDeliveryCity},   {"206", kInTransit},
    {"211", kAtPickupPoint},     {"3", kSigned},             {"301", kSignedInPerson},
    {"302", kSignedAfterProblem}, {"304", kSignedByOther},   {"311", kSignedAtPickupPoint},
    {"5", kRedirected},          {"4", kProblem},            {"401", kProblem},
    {"402", kOverdueUnsigned},   {"403", kNotUpdated},       {"404", kRefused},
    {"405", kDeliveryFailed},    {"406", kReturnSigned},     {"407", kReturning},
    {"412", kNotCollectedInTime}, {"413", kProblem},         {"414", kDamaged},
    {"415", kCancelledOrder},    {"416", kUnreachable},      {"417", kStranded},
    {"418", kProblem},           {"419", kOutForDelivery},   {"420", kProblem},
    {"421", kProblem},           {"422", kProblem},          {"423", kOutOfArea},
    {"6", kCustoms},             {"601", kAwaitingCustoms},  {"602", kInCustoms},
    {"603", kCleared},           {"604", kCustomsProblem},   {"7", kInTransit},
    {"8", kInTransit},
}};
constexpr std::array<StateRow, 7> kState{{
    {"0", kInTransit}, {"1", kPickedUp}, {"2", kInTransit}, {"3", kSigned},
    {"4", kProblem},   {"5", kRedirected}, {"6", kCustoms},
}};

template <std::size_t N>
std::optional<std::string_view> StateOf(const std::array<StateRow, N>& table, std::string_view code) {
  for (const StateRow& row : table) {
    if (row.code == code) return row.state;
  }
  return std::nullopt;
}

// It answers a failure with words only: what they come to, the first row
// that matches deciding.
struct ReasonRow {
  std::string_view words;
  Outcome outcome;
};
constexpr std::array<ReasonRow, 15> kReasons{{
    {"ID和key", Outcome::kAccountRefused},
    {"非法参数", Outcome::kAccountRefused},
    {"签名", Outcome::kAccountRefused},
    {"DataSign", Outcome::kAccountRefused},
    {"套餐", Outcome::kQuotaSpent},
    {"到期", Outcome::kQuotaSpent},
    {"次数", Outcome::kQuotaSpent},
    {"余额", Outcome::kQuotaSpent},
    {"手机", Outcome::kPhoneNeeded},
    {"CustomerName", Outcome::kPhoneNeeded},
    {"ShipperCode", Outcome::kCourierNotServed},
    {"不支持", Outcome::kCourierNotServed},
    {"轨迹", Outcome::kNoResultYet},
    {"繁忙", Outcome::kServerError},
    {"系统错误", Outcome::kServerError},
}};

Outcome OutcomeOfReason(std::string_view reason) {
  for (const ReasonRow& row : kReasons) {
    if (reason.find(row.words) != std::string_view::npos) return row.outcome;
  }
  return Outcome::kBadRequest;
}

std::string_view HintOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kAccountRefused:
      return "请在窗口系统菜单的“查询服务账号…”中检查快递鸟的用户ID和API key。";
    case Outcome::kQuotaSpent:
      return "快递鸟账号的查询套餐未开通、已到期或今天的次数已用完，请到快递鸟网站查看。";
    case Outcome::kPhoneNeeded:
      return "这家快递公司要寄件人或收件人手机号的后四位。";
    case Outcome::kCourierNotServed:
      return "快递鸟的这个接口不支持这家快递公司。";
    default:
      return {};
  }
}

std::string LowerHex(const std::array<std::uint8_t, 16>& digest) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t byte : digest) {
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0x0F];
  }
  return hex;
}

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// "2014/06/25 08:05:37" and "2014/06/2508:05:37" are its older forms of
// "2014-06-25 08:05:37".
std::string ServiceTime(std::string time) {
  std::replace(time.begin(), time.end(), '/', '-');
  if (time.size() == 18 && time[10] != ' ') time = time.substr(0, 10) + " " + time.substr(10);
  return time;
}

}  // namespace

std::string KdniaoSign(std::string_view request_data, std::string_view key) {
  std::string signed_text(request_data);
  signed_text += key;
  return Base64(LowerHex(Md5(signed_text)));
}

std::string KdniaoRequestData(std::string_view shipper_code, std::string_view number, std::string_view phone) {
  std::string data = "{\"OrderCode\":\"\",\"ShipperCode\":" + json::Quote(shipper_code) +
                     ",\"LogisticCode\":" + json::Quote(number);
  if (!phone.empty() && OneOf(kPhoneCouriers, shipper_code)) data += ",\"CustomerName\":" + json::Quote(phone);
  return data + "}";
}

bool KdniaoService::Serves(std::string_view courier) const {
  const Courier* known = FindCourier(courier);
  if (known == nullptr || known->kdniao.empty()) return false;
  return account_.paid || !OneOf(kPaidOnly, known->kdniao);
}

FetchRequest KdniaoService::Form(std::string_view request_type, const std::string& request_data) const {
  FetchRequest request;
  request.url = "https://" + host_ + "/Ebusiness/EbusinessOrderHandle.aspx";
  request.method = "POST";
  request.content_type = "application/x-www-form-urlencoded;charset=utf-8";
  request.body = "RequestType=" + std::string(request_type) + "&EBusinessID=" + PercentEncode(account_.id) +
                 "&RequestData=" + PercentEncode(request_data) + "&DataType=2&DataSign=" +
                 PercentEncode(KdniaoSign(request_data, account_.key));
  request.decoding = BodyText::kUtf8;
  request.limits = limits_;
  request.billable = true;
  request.billed_to = std::string(kKey);
  return request;
}

FetchRequest KdniaoService::Query(const ServiceQuery& query) const {
  const Courier* courier = FindCourier(query.courier);
  const std::string_view shipper = courier != nullptr ? courier->kdniao : std::string_view();
  return Form(account_.paid ? kQueryPaid : kQueryFree, KdniaoRequestData(shipper, query.number, query.phone));
}

ServiceAnswer KdniaoService::Read(const FetchOutcome& fetched) const {
  const FetchOutcome outcome = WithStatusChecked(fetched);
  if (!outcome.ok) return NotReached(outcome);
  const json::Read read = json::Open(outcome.text, kMaxAnswerBytes);
  if (!read.ok()) return Unreadable(ReadProblem(read));
  if (!read.root.is(json::Type::kObject)) return Unreadable("回答不是 JSON 对象");
  const std::optional<json::Value> success = read.root.Find("Success");
  if (!success || !success->Boolean()) return Unreadable("回答缺少 Success");
  const std::string reason = Shown(json::TextOf(read.root.Find("Reason")), account_.key, 200);
  const std::optional<json::Value> traces = read.root.Find("Traces");
  const bool any_trace = traces && traces->is(json::Type::kArray) && !traces->Elements().empty();

  ServiceAnswer answer;
  if (!*success->Boolean() || !any_trace) {
    // No trace yet comes as a success without traces, or as a failure
    // that says so.
    answer.outcome = *success->Boolean() ? Outcome::kNoResultYet : OutcomeOfReason(reason);
    if (answer.outcome == Outcome::kNoResultYet) answer.rows.emplace_back(AdviceMessage(AnswerKind::kNotRecorded));
    answer.told = reason.empty() ? std::string("快递鸟返回了错误") : reason;
    if (const std::string_view hint = HintOf(answer.outcome); !hint.empty()) {
      answer.told += '\n';
      answer.told += hint;
    }
    return answer;
  }
  TrackingResult& result = answer.result;
  traces->ForEachElement([&result](const json::Value& trace) {
    const std::optional<std::string> station = trace.Find("AcceptStation") ? trace.Find("AcceptStation")->String()
                                                                           : std::nullopt;
    if (!station) return;
    TrackingEvent event;
    event.time = ServiceTime(json::TextOf(trace.Find("AcceptTime")));
    event.context = *station;
    event.area = json::TextOf(trace.Find("Location"));
    if (const auto action = json::CodeOf(trace.Find("Action"))) {
      if (const auto state = StateOf(kStateEx, *action)) event.status = StateText(*state);
    }
    result.events.push_back(std::move(event));
  });
  if (result.events.empty()) return Unreadable("回答的 Traces 中没有动态");
  // Oldest first, as it says; a server that sends them the other way round
  // is turned.
  if (result.events.size() > 1 && result.events.front().time > result.events.back().time) {
    std::reverse(result.events.begin(), result.events.end());
  }
  const std::optional<std::string> state_ex = json::CodeOf(read.root.Find("StateEx"));
  const std::optional<std::string> state = json::CodeOf(read.root.Find("State"));
  std::optional<std::string_view> model = state_ex ? StateOf(kStateEx, *state_ex) : std::nullopt;
  if (!model && state) model = StateOf(kState, *state);
  result.state = std::string(model.value_or(kInTransit));
  TrackingResult seen;
  seen.state = result.state;
  result.signed_for = IsFinal(seen) && !IsReturnedState(result.state);
  result.number = json::TextOf(read.root.Find("LogisticCode"));
  result.city = json::TextOf(read.root.Find("Location"));
  answer.outcome = Outcome::kRows;
  return answer;
}

FetchRequest KdniaoService::Detect(std::string_view number) const {
  return Form(kDetection, "{\"LogisticCode\":" + json::Quote(number) + "}");
}

Detection KdniaoService::ReadDetection(const FetchOutcome& fetched) const {
  Detection detection;
  const FetchOutcome outcome = WithStatusChecked(fetched);
  if (!outcome.ok) {
    detection.told = NotReached(outcome).told;
    return detection;
  }
  const json::Read read = json::Open(outcome.text, kMaxAnswerBytes);
  if (!read.ok() || !read.root.is(json::Type::kObject) || !read.root.Find("Success") ||
      !read.root.Find("Success")->Boolean()) {
    detection.told = Unreadable(read.ok() ? "回答缺少 Success" : ReadProblem(read)).told;
    return detection;
  }
  if (!*read.root.Find("Success")->Boolean()) {
    const std::string reason = json::TextOf(read.root.Find("Reason"));
    // An account without it (no package, expired) is not asked again.
    detection.kind = OutcomeOfReason(reason) == Outcome::kQuotaSpent ? Detection::Kind::kNotOffered
                                                                     : Detection::Kind::kRefused;
    detection.told = Shown(reason, account_.key, 200);
    return detection;
  }
  detection.kind = Detection::Kind::kCandidates;
  if (const std::optional<json::Value> shippers = read.root.Find("Shippers")) {
    shippers->ForEachElement([&detection](const json::Value& shipper) {
      // A courier the table has not: it could not be asked by its code anywhere.
      const Courier* courier = FindCourierAt(CourierColumn::kKdniao, json::TextOf(shipper.Find("ShipperCode")));
      if (courier != nullptr) detection.candidates.push_back({std::string(courier->code), std::string(courier->name)});
    });
  }
  return detection;
}

}  // namespace quenzil
