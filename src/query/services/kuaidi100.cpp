#include "query/services/kuaidi100.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "common/json_reader.h"
#include "common/md5.h"
#include "common/text_fit.h"
#include "query/carriers.h"
#include "query/services/kuaidi100_old.h"
#include "query/services/told.h"
#include "query/tracking_number.h"

namespace quenzil {

namespace {

// ---- What its codes mean ----------------------------------------------------

struct CodeMeaning {
  std::string_view code;
  Outcome outcome;
  std::string_view hint;  // shown below the service's words; may be empty
};

constexpr std::array<CodeMeaning, 7> kCodes{{
    {"400", Outcome::kBadRequest, "请检查所选的快递公司，以及窗口系统菜单的“查询服务账号…”中快递100的公司编号。"},
    {"408", Outcome::kPhoneNeeded, "手机号后四位与运单登记的不一致，请检查后再查。"},
    {"500", Outcome::kNoResultYet, ""},
    {"501", Outcome::kServerError, "快递100服务器出错，请稍后再试。"},
    {"502", Outcome::kServerError, "快递100服务器繁忙，请稍后再试。"},
    {"503", Outcome::kAccountRefused, "授权key不正确，请在窗口系统菜单的“查询服务账号…”中检查快递100的授权。"},
    {"601", Outcome::kQuotaSpent, "授权key已过期或查询额度已用完，请在窗口系统菜单的“查询服务账号…”中检查快递100的授权。"},
}};

// Detection's answer for an account that has none (a trial account).
constexpr std::string_view kNoDetection = "601";

const CodeMeaning* MeaningOf(std::string_view code) {
  for (const CodeMeaning& row : kCodes) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

// ---- Reading answers ----------------------------------------------------------

// A field as the reader keeps it: absent, or its value (the last one when
// the key came twice, as parsers take it).
using Field = std::optional<json::Value>;

// Absent is fine; present, it must be a string (or, for codes, a whole number).
bool Acceptable(const Field& field, bool code) {
  return !field || field->is(json::Type::kString) || (code && json::CodeOf(field));
}

// A returnCode, if the object has one. A code of another type is neither a
// failure nor a result.
std::optional<ServiceFailure> FailureOf(const Field& code, const Field& message, std::string& malformed) {
  if (!code) return std::nullopt;
  std::optional<std::string> code_text = json::CodeOf(code);
  if (!code_text) {
    malformed = "回答的 returnCode 类型不对";
    return std::nullopt;
  }
  // A message of another type is harmless to leave out.
  return ServiceFailure{std::move(*code_text), message ? message->String().value_or("") : std::string()};
}

constexpr std::array<std::string_view, 9> kPollKeys{"message", "nu",         "com",  "state",    "ischeck",
                                                    "status",  "returnCode", "data", "routeInfo"};
enum PollKey : std::size_t { kMessage, kNu, kCom, kState, kIscheck, kStatus, kReturnCode, kData, kRouteInfo };

// The named top-level fields of an object, each the last of its name, in
// one pass over the text.
template <std::size_t N>
std::array<Field, N> FieldsOf(const json::Value& object, const std::array<std::string_view, N>& keys) {
  std::array<Field, N> fields;
  object.ForEachMember([&](const json::Member& member) {
    const auto key = std::find(keys.begin(), keys.end(), member.name);
    if (key != keys.end()) fields[static_cast<std::size_t>(key - keys.begin())] = member.value();
  });
  return fields;
}

// What is wrong with the fields of a success answer, if anything.
std::string CheckResultFields(const std::array<Field, kPollKeys.size()>& fields) {
  if (!fields[kState]) return "回答缺少 state";
  if (!fields[kData]) return "回答缺少 data";
  if (!fields[kData]->is(json::Type::kArray)) return "回答的 data 不是列表";
  for (const PollKey key : {kState, kNu, kCom, kIscheck, kStatus}) {
    const bool code = key == kState || key == kIscheck || key == kStatus;
    if (!Acceptable(fields[key], code)) return "回答的 " + std::string(kPollKeys[key]) + " 类型不对";
  }
  return {};
}

// A data entry without a string context is no event; time is ftime, else time.
std::optional<TrackingEvent> EventOf(const json::Value& entry) {
  Field time, ftime, context, area, status;
  entry.ForEachMember([&](const json::Member& member) {
    Field* slot = member.name == "time"       ? &time
                  : member.name == "ftime"    ? &ftime
                  : member.name == "context"  ? &context
                  : member.name == "areaName" ? &area
                  : member.name == "status"   ? &status
                                              : nullptr;
    if (slot) *slot = member.value();
  });
  if (!context || !context->is(json::Type::kString)) return std::nullopt;
  TrackingEvent event;
  event.time = ftime && ftime->is(json::Type::kString) ? json::TextOf(ftime) : json::TextOf(time);
  event.context = json::TextOf(context);
  event.area = json::TextOf(area);
  event.status = json::TextOf(status);
  return event;
}

// Where the parcel is now (resultv2=4): routeInfo.cur.name, "上海,上海市"
// (province, city) or only the city; the city alone is kept, as 快递鸟 names
// it. Empty when the answer does not say; a field of another type is
// passed over.
std::string CurrentCity(const Field& route) {
  if (!route || !route->is(json::Type::kObject)) return {};
  const Field current = route->Find("cur");
  if (!current || !current->is(json::Type::kObject)) return {};
  const std::string written = json::TextOf(current->Find("name"));
  std::string_view name = written;
  for (const std::string_view comma : {std::string_view(","), std::string_view("，")}) {
    if (const std::size_t at = name.rfind(comma); at != std::string_view::npos) name.remove_prefix(at + comma.size());
  }
  return OneLine(TrimBlanks(name));
}

}  // namespace

PollAnswer ReadPollAnswer(std::string_view body) {
  PollAnswer answer;
  const json::Read read = json::Open(body, kMaxAnswerBytes);
  answer.malformed = ReadProblem(read);
  if (!answer.malformed.empty()) return answer;
  if (!read.root.is(json::Type::kObject)) {
    answer.malformed = "回答不是 JSON 对象";
    return answer;
  }
  const auto fields = FieldsOf(read.root, kPollKeys);
  if (auto failure = FailureOf(fields[kReturnCode], fields[kMessage], answer.malformed)) {
    answer.kind = PollAnswer::Kind::kFailure;
    answer.failure = std::move(*failure);
    return answer;
  }
  if (answer.malformed.empty()) answer.malformed = CheckResultFields(fields);
  if (!answer.malformed.empty()) return answer;

  TrackingResult& result = answer.result;
  fields[kData]->ForEachElement([&result](const json::Value& entry) {
    if (auto event = EventOf(entry)) result.events.push_back(std::move(*event));
  });
  result.number = json::TextOf(fields[kNu]);
  result.carrier_code = json::TextOf(fields[kCom]);
  result.state = json::CodeOf(fields[kState]).value_or("");
  result.signed_for = fields[kIscheck] && json::CodeOf(fields[kIscheck]) == "1";
  result.city = CurrentCity(fields[kRouteInfo]);
  // Some servers ignore order=asc. The times sort as text.
  if (result.events.size() > 1 && result.events.front().time > result.events.back().time) {
    std::reverse(result.events.begin(), result.events.end());
  }
  answer.kind = PollAnswer::Kind::kResult;
  return answer;
}

DetectionAnswer ReadDetectionAnswer(std::string_view body) {
  DetectionAnswer answer;
  const json::Read read = json::Open(body, kMaxAnswerBytes);
  answer.malformed = ReadProblem(read);
  if (!answer.malformed.empty()) return answer;
  switch (read.root.type()) {
    case json::Type::kArray:
      answer.kind = DetectionAnswer::Kind::kCandidates;
      // An entry without a (non-empty) string comCode is no candidate.
      read.root.ForEachElement([&answer](const json::Value& entry) {
        const Field code = entry.Find("comCode");
        const Field name = entry.Find("name");
        std::string code_text = json::TextOf(code);
        if (!code || !code->is(json::Type::kString) || code_text.empty()) return;
        answer.candidates.push_back({std::move(code_text), json::TextOf(name)});
      });
      return answer;
    case json::Type::kObject: {
      const Field code = read.root.Find("returnCode");
      if (auto failure = FailureOf(code, read.root.Find("message"), answer.malformed)) {
        answer.kind = DetectionAnswer::Kind::kFailure;
        answer.failure = std::move(*failure);
      } else if (answer.malformed.empty()) {
        answer.malformed = "回答缺少 returnCode";
      }
      return answer;
    }
    default:
      answer.malformed = "回答既不是列表也不是对象";
      return answer;
  }
}

std::string PollParam(std::string_view carrier_code, std::string_view number, std::string_view phone) {
  // Invalid UTF-8 becomes U+FFFD rather than throwing: whatever is sent is
  // what gets signed.
  std::string param = "{\"com\":";
  param += json::Quote(carrier_code);
  param += ",\"num\":";
  param += json::Quote(number);
  param += ",\"phone\":";
  param += json::Quote(phone);
  param += ",\"resultv2\":\"4\",\"show\":\"0\",\"order\":\"asc\"}";
  return param;
}

std::string PollSign(std::string_view param, const Credentials& credentials) {
  std::string signed_text;
  signed_text.reserve(param.size() + credentials.key.size() + credentials.customer.size());
  signed_text += param;
  signed_text += credentials.key;
  signed_text += credentials.customer;
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string sign;
  for (const std::uint8_t byte : Md5(signed_text)) {
    sign += kHexDigits[byte >> 4];
    sign += kHexDigits[byte & 0x0F];
  }
  return sign;
}

std::string PollFormBody(std::string_view customer, std::string_view param, std::string_view sign) {
  return "customer=" + PercentEncode(customer) + "&param=" + PercentEncode(param) + "&sign=" + PercentEncode(sign);
}

FetchRequest BuildPollRequest(std::string_view poll_host, const Credentials& credentials,
                              std::string_view carrier_code, std::string_view number, std::string_view phone,
                              const FetchLimits& limits) {
  const std::string param = PollParam(carrier_code, number, phone);
  FetchRequest request;
  request.url = "https://" + std::string(poll_host) + "/poll/query.do";
  request.method = "POST";
  request.content_type = "application/x-www-form-urlencoded";
  request.body = PollFormBody(credentials.customer, param, PollSign(param, credentials));
  request.decoding = BodyText::kUtf8;
  request.limits = limits;
  request.billable = true;
  request.billed_to = std::string(Kuaidi100Service::kKey);
  return request;
}

FetchRequest BuildDetectRequest(std::string_view detect_host, std::string_view number, std::string_view key,
                                const FetchLimits& limits) {
  FetchRequest request;
  request.url = "https://" + std::string(detect_host) + "/autonumber/auto?num=" + PercentEncode(number) +
                "&key=" + PercentEncode(key);
  request.method = "GET";
  request.decoding = BodyText::kUtf8;
  request.limits = limits;
  request.billable = true;
  request.billed_to = std::string(Kuaidi100Service::kKey);
  return request;
}

std::string ServiceFailureText(const ServiceFailure& failure, std::string_view secret) {
  std::string text = Shown(failure.message, secret, 200);
  if (text.empty()) text = "快递100返回了错误";
  const std::string code = Shown(failure.return_code, secret, 16);
  if (!code.empty()) text += "（" + code + "）";
  const CodeMeaning* meaning = MeaningOf(failure.return_code);
  if (meaning != nullptr && !meaning->hint.empty()) {
    text += '\n';
    text += meaning->hint;
  }
  return text;
}

Outcome OutcomeOfCode(std::string_view return_code) {
  const CodeMeaning* meaning = MeaningOf(return_code);
  // A code it has not documented: told as it comes, and nothing else is tried.
  return meaning != nullptr ? meaning->outcome : Outcome::kBadRequest;
}

FetchRequest Kuaidi100Service::Query(const ServiceQuery& query) const {
  return BuildPollRequest(hosts_.poll, credentials_, query.courier, query.number, query.phone, limits_);
}

ServiceAnswer Kuaidi100Service::Read(const FetchOutcome& fetched) const {
  const FetchOutcome outcome = WithStatusChecked(fetched);
  if (!outcome.ok) {
    ServiceAnswer answer = NotReached(outcome);
    // Nothing the user sees may carry the key.
    answer.told = WithoutSecret(std::move(answer.told), credentials_.key);
    return answer;
  }
  PollAnswer poll = ReadPollAnswer(outcome.text);
  ServiceAnswer answer;
  switch (poll.kind) {
    case PollAnswer::Kind::kMalformed:
      return Unreadable(WithoutSecret(poll.malformed, credentials_.key));
    case PollAnswer::Kind::kResult:
      answer.outcome = Outcome::kRows;
      answer.result = std::move(poll.result);
      return answer;
    case PollAnswer::Kind::kFailure:
      break;
  }
  answer.outcome = OutcomeOfCode(poll.failure.return_code);
  if (answer.outcome == Outcome::kNoResultYet) {
    // Like the old address's 未收录: advice in the list, not a failure box.
    answer.rows.emplace_back(AdviceMessage(AnswerKind::kNotRecorded));
  }
  answer.told = ServiceFailureText(poll.failure, credentials_.key);
  return answer;
}

FetchRequest Kuaidi100Service::Detect(std::string_view number) const {
  return BuildDetectRequest(hosts_.detect, number, credentials_.key, limits_);
}

Detection Kuaidi100Service::ReadDetection(const FetchOutcome& fetched) const {
  const FetchOutcome outcome = WithStatusChecked(fetched);
  Detection detection;
  if (!outcome.ok) {
    detection.told = WithoutSecret(NotReached(outcome).told, credentials_.key);
    return detection;
  }
  DetectionAnswer answer = ReadDetectionAnswer(outcome.text);
  switch (answer.kind) {
    case DetectionAnswer::Kind::kMalformed:
      detection.told = WithoutSecret(Unreadable(answer.malformed).told, credentials_.key);
      return detection;
    case DetectionAnswer::Kind::kFailure:
      // Detection is a product of its own: its refusal says nothing of the
      // key, which the query itself will test.
      detection.kind =
          answer.failure.return_code == kNoDetection ? Detection::Kind::kNotOffered : Detection::Kind::kRefused;
      detection.told = ServiceFailureText(answer.failure, credentials_.key);
      return detection;
    case DetectionAnswer::Kind::kCandidates:
      break;
  }
  detection.kind = Detection::Kind::kCandidates;
  for (CarrierCandidateAnswer& candidate : answer.candidates) {
    detection.candidates.push_back({std::move(candidate.code), std::move(candidate.name)});
  }
  return detection;
}

}  // namespace quenzil
