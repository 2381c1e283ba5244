#include "query/keyed_api.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <utility>

#include "common/md5.h"
#include "query/carriers.h"

namespace quenzil {

namespace {

using Json = nlohmann::json;

// ---- Reading answers -------------------------------------------------------

// A value the reader keeps: strings and integers as text, anything else
// only as "present, of another type".
struct Scalar {
  enum class Type { kAbsent, kString, kInteger, kArray, kOther };
  Type type = Type::kAbsent;
  std::string text;

  bool is_string() const { return type == Type::kString; }
  // Codes and flags may come as numbers.
  bool is_code() const { return type == Type::kString || type == Type::kInteger; }
  // Assigned in place: a slot used again keeps its buffer.
  void Set(Type new_type, std::string_view new_text = {}) {
    type = new_type;
    text.assign(new_text);
  }
};

using Names = std::span<const std::string_view>;

int IndexOf(Names names, std::string_view name) {
  int index = 0;
  for (const std::string_view candidate : names) {
    if (candidate == name) return index;
    ++index;
  }
  return -1;
}

// One object of the list, by index in the entry keys.
inline constexpr std::size_t kMaxEntryKeys = 5;
using Entry = std::array<Scalar, kMaxEntryKeys>;

// Takes the list's entries one by one as each ends.
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  // The list key came again: the last list wins.
  virtual void Restart() = 0;
  // May move texts out of the entry.
  virtual void Take(Entry& entry) = 0;
};

// What both answers are made of: a top-level object's scalar fields, and one
// list of objects (the top-level array itself, or the array under one of the
// object's keys) with their scalar fields. Only the named keys are kept;
// everything else is skipped as it streams past, so no document is built
// and an answer of thousands of events costs few allocations.
// A repeated key: the last one wins.
class ShallowReader {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  enum class Top { kNone, kObject, kArray, kOther };

  // list_key: the top-level key whose array is the list; empty: the list is
  // the top-level array.
  ShallowReader(Names top_keys, std::string_view list_key, Names entry_keys, EntrySink& sink)
      : top_keys_(top_keys),
        entry_keys_(entry_keys),
        list_field_(list_key.empty() ? -1 : IndexOf(top_keys, list_key)),
        fields_(top_keys.size()),
        sink_(sink) {}

  Top top() const { return top_; }
  // By index in top_keys.
  const Scalar& field(std::size_t index) const { return fields_[index]; }
  std::optional<std::size_t> error_at() const { return error_at_; }

  bool null() { return Value(Scalar::Type::kOther); }
  bool boolean(bool) { return Value(Scalar::Type::kOther); }
  bool number_integer(number_integer_t value) {
    return Value(Scalar::Type::kInteger, std::to_string(value));
  }
  bool number_unsigned(number_unsigned_t value) {
    return Value(Scalar::Type::kInteger, std::to_string(value));
  }
  bool number_float(number_float_t, const string_t&) { return Value(Scalar::Type::kOther); }
  bool binary(binary_t&) { return Value(Scalar::Type::kOther); }
  bool string(string_t& value) { return Value(Scalar::Type::kString, value); }

  bool key(string_t& name) {
    if (depth_ == 1 && top_ == Top::kObject) {
      top_slot_ = IndexOf(top_keys_, name);
    } else if (in_entry_ && depth_ == list_depth_ + 1) {
      entry_slot_ = IndexOf(entry_keys_, name);
    }
    return true;
  }

  bool start_object(std::size_t) { return Open(false); }
  bool start_array(std::size_t) { return Open(true); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
    error_at_ = position;
    return false;
  }

 private:
  // Where a value at the current position is kept, if anywhere.
  Scalar* Slot() {
    if (depth_ == 1 && top_ == Top::kObject && top_slot_ >= 0) {
      return &fields_[static_cast<std::size_t>(top_slot_)];
    }
    if (in_entry_ && depth_ == list_depth_ + 1 && entry_slot_ >= 0) {
      return &entry_[static_cast<std::size_t>(entry_slot_)];
    }
    return nullptr;
  }

  bool Value(Scalar::Type type, std::string_view text = {}) {
    if (depth_ == 0) {
      top_ = Top::kOther;
    } else if (Scalar* slot = Slot()) {
      slot->Set(type, text);
    }
    return true;
  }

  bool Open(bool is_array) {
    if (depth_ == 0) {
      top_ = is_array ? Top::kArray : Top::kObject;
      if (is_array && list_field_ < 0) list_depth_ = 1;
    } else if (depth_ == 1 && top_ == Top::kObject && list_field_ >= 0 &&
               top_slot_ == list_field_ && is_array) {
      list_depth_ = 2;
      sink_.Restart();
      fields_[static_cast<std::size_t>(list_field_)].Set(Scalar::Type::kArray);
    } else if (list_depth_ != 0 && depth_ == list_depth_ && !is_array) {
      for (Scalar& field : entry_) field.type = Scalar::Type::kAbsent;
      entry_slot_ = -1;
      in_entry_ = true;
    } else if (Scalar* slot = Slot()) {
      slot->Set(is_array ? Scalar::Type::kArray : Scalar::Type::kOther);
    }
    // The pre-scan has already refused this; kept so the reader stands alone.
    return ++depth_ <= kMaxAnswerDepth;
  }

  bool Close() {
    --depth_;
    if (in_entry_ && depth_ == list_depth_) {
      in_entry_ = false;
      sink_.Take(entry_);
    } else if (list_depth_ != 0 && depth_ == list_depth_ - 1) {
      list_depth_ = 0;
    }
    return true;
  }

  Names top_keys_;
  Names entry_keys_;
  int list_field_;
  std::vector<Scalar> fields_;
  EntrySink& sink_;
  Entry entry_;  // the one being read
  Top top_ = Top::kNone;
  int depth_ = 0;
  int list_depth_ = 0;  // depth inside the list's array; 0: not in it
  bool in_entry_ = false;
  int top_slot_ = -1;
  int entry_slot_ = -1;
  std::optional<std::size_t> error_at_;
};

// Runs the reader over the body; an empty result, or why it failed.
std::string Read(std::string_view body, ShallowReader& reader) {
  if (body.size() > kMaxAnswerBytes) return "回答过大（超过 16 MiB）";
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) return "回答为空";
  // The parser would take a NUL for the end of the text and quietly drop
  // whatever follows it.
  if (const auto nul = body.find('\0'); nul != std::string_view::npos) {
    return "回答不是有效的 JSON（第 " + std::to_string(nul + 1) + " 字节处）";
  }
  if (JsonNestedDeeperThan(body, kMaxAnswerDepth)) return "回答嵌套过深";
  try {
    if (Json::sax_parse(body.data(), body.data() + body.size(), &reader)) return {};
  } catch (const std::exception&) {
    return "无法读取回答";
  }
  if (const auto at = reader.error_at()) {
    return "回答不是有效的 JSON（第 " + std::to_string(*at) + " 字节处）";
  }
  return "回答嵌套过深";
}

// Absent is fine; present, it must be a string (or, for codes, an integer).
bool Acceptable(const Scalar& value, bool code) {
  return value.type == Scalar::Type::kAbsent || value.is_string() || (code && value.is_code());
}

// A returnCode, if the object has one. A code of another type is neither a
// failure nor a result.
std::optional<ServiceFailure> FailureOf(const Scalar& code, const Scalar& message,
                                        std::string& malformed) {
  if (code.type == Scalar::Type::kAbsent) return std::nullopt;
  if (!code.is_code()) {
    malformed = "回答的 returnCode 类型不对";
    return std::nullopt;
  }
  // A message of another type is harmless to leave out.
  return ServiceFailure{code.text, message.is_string() ? message.text : std::string()};
}

// The keys each answer is read for, and their indices.
constexpr std::array<std::string_view, 8> kPollKeys{"message", "nu",     "com",        "state",
                                                    "ischeck", "status", "returnCode", "data"};
enum PollKey : std::size_t { kMessage, kNu, kCom, kState, kIscheck, kStatus, kReturnCode, kData };
constexpr std::array<std::string_view, 5> kEventKeys{"time", "ftime", "context", "areaName",
                                                     "status"};
enum EventKey : std::size_t { kTime, kFtime, kContext, kAreaName, kEventStatus };
constexpr std::array<std::string_view, 2> kDetectionKeys{"message", "returnCode"};
enum DetectionKey : std::size_t { kDetectionMessage, kDetectionReturnCode };
constexpr std::array<std::string_view, 2> kCandidateKeys{"comCode", "name"};
enum CandidateKey : std::size_t { kComCode, kName };
static_assert(kEventKeys.size() <= kMaxEntryKeys && kCandidateKeys.size() <= kMaxEntryKeys);

// A data entry without a string context is no event; time is ftime, else time.
class EventSink : public EntrySink {
 public:
  explicit EventSink(std::vector<TrackingEvent>& events) : events_(events) {}
  void Restart() override { events_.clear(); }
  void Take(Entry& entry) override {
    if (!entry[kContext].is_string()) return;
    TrackingEvent& event = events_.emplace_back();
    if (entry[kFtime].is_string()) {
      event.time = std::move(entry[kFtime].text);
    } else if (entry[kTime].is_string()) {
      event.time = std::move(entry[kTime].text);
    }
    event.context = std::move(entry[kContext].text);
    if (entry[kAreaName].is_string()) event.area = std::move(entry[kAreaName].text);
    if (entry[kEventStatus].is_string()) event.status = std::move(entry[kEventStatus].text);
  }

 private:
  std::vector<TrackingEvent>& events_;
};

// An entry without a (non-empty) string comCode is no candidate.
class CandidateSink : public EntrySink {
 public:
  explicit CandidateSink(std::vector<CarrierCandidate>& candidates) : candidates_(candidates) {}
  void Restart() override { candidates_.clear(); }
  void Take(Entry& entry) override {
    Scalar& code = entry[kComCode];
    Scalar& name = entry[kName];
    if (!code.is_string() || code.text.empty()) return;
    candidates_.push_back(
        {std::move(code.text), name.is_string() ? std::move(name.text) : std::string()});
  }

 private:
  std::vector<CarrierCandidate>& candidates_;
};

// What is wrong with the fields of a success answer, if anything.
std::string CheckResultFields(const ShallowReader& reader) {
  const Scalar& state = reader.field(kState);
  const Scalar& data = reader.field(kData);
  if (state.type == Scalar::Type::kAbsent) return "回答缺少 state";
  if (data.type == Scalar::Type::kAbsent) return "回答缺少 data";
  if (data.type != Scalar::Type::kArray) return "回答的 data 不是列表";
  for (const PollKey key : {kState, kNu, kCom, kIscheck, kStatus}) {
    const bool code = key == kState || key == kIscheck || key == kStatus;
    if (!Acceptable(reader.field(key), code)) {
      return "回答的 " + std::string(kPollKeys[key]) + " 类型不对";
    }
  }
  return {};
}

// ---- Texts -----------------------------------------------------------------

struct CodeName {
  std::string_view code;
  std::string_view name;
};

// The states as the service names them, the finer ones (asked for with
// resultv2=4) beside the ten it always sends.
constexpr std::array<CodeName, 36> kStateTexts{{
    {"0", "在途"},
    {"1001", "到达派件城市"},
    {"1002", "干线"},
    {"1003", "转递"},
    {"1", "揽收"},
    {"101", "已下单"},
    {"102", "待揽收"},
    {"103", "已揽收"},
    {"2", "疑难"},
    {"201", "超时未签收"},
    {"202", "超时未更新"},
    {"203", "拒收"},
    {"204", "派件异常"},
    {"205", "柜或驿站超时未取"},
    {"206", "无法联系"},
    {"207", "超区"},
    {"208", "滞留"},
    {"209", "破损"},
    {"210", "销单"},
    {"3", "已签收"},
    {"301", "本人签收"},
    {"302", "派件异常后签收"},
    {"303", "代签"},
    {"304", "投柜或站签收"},
    {"4", "退签"},
    {"401", "已销单"},
    {"5", "派件"},
    {"501", "投柜或驿站"},
    {"6", "退回"},
    {"7", "转投"},
    {"8", "清关"},
    {"10", "待清关"},
    {"11", "清关中"},
    {"12", "已清关"},
    {"13", "清关异常"},
    {"14", "拒签"},
}};

// Nothing more happens to a parcel in these states: signed for (3 and its
// finer states), sent back and signed for by the sender (4), cancelled (401).
// A state not named here, known or not, never ends the refreshes.
constexpr std::array<std::string_view, 5> kSignedStates{"3", "301", "302", "303", "304"};
constexpr std::array<std::string_view, 2> kReturnedStates{"4", "401"};

constexpr std::array<CodeName, 6> kFailureHints{{
    {"400", "请检查所选的快递公司，以及窗口系统菜单的“快递100 授权…”中的公司编号。"},
    {"408", "手机号后四位与运单登记的不一致，请检查后再查。"},
    {"501", "快递100服务器出错，请稍后再试。"},
    {"502", "快递100服务器繁忙，请稍后再试。"},
    {"503", "授权key不正确，请在窗口系统菜单的“快递100 授权…”中检查。"},
    {"601", "授权key已过期或查询额度已用完，请在窗口系统菜单的“快递100 授权…”中检查。"},
}};

std::string_view Lookup(std::span<const CodeName> table, std::string_view code) {
  for (const CodeName& row : table) {
    if (row.code == code) return row.name;
  }
  return {};
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// One list row is one line: each control character becomes a space, a CR LF
// pair a single one.
std::string OneLine(std::string_view text) {
  // Most rows have none: copied whole.
  const auto first = std::find_if(text.begin(), text.end(),
                                  [](char c) { return IsControl(static_cast<unsigned char>(c)); });
  std::string line(text.begin(), first);
  if (first == text.end()) return line;
  line.reserve(text.size());
  for (std::size_t i = line.size(); i < text.size(); ++i) {
    const char c = text[i];
    if (!IsControl(static_cast<unsigned char>(c))) {
      line += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    line += ' ';
  }
  return line;
}

// Without C0, DEL and C1 (U+0080–U+009F, C2 80–C2 9F in UTF-8).
std::string WithoutControls(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (IsControl(byte)) continue;
    if (byte == 0xC2 && i + 1 < text.size() &&
        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      ++i;
      continue;
    }
    kept += text[i];
  }
  return kept;
}


// A text from the service made fit for a message box.
std::string Shown(std::string_view text, std::string_view secret, std::size_t max_characters) {
  return CutCharacters(WithoutSecret(WithoutControls(text), secret), max_characters);
}

// A JSON string literal. Invalid UTF-8 becomes U+FFFD rather than throwing:
// whatever is sent is what gets signed.
std::string JsonString(std::string_view value) {
  return Json(std::string(value)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

PollAnswer ReadPollAnswer(std::string_view body) {
  PollAnswer answer;
  TrackingResult& result = answer.result;
  EventSink sink(result.events);
  ShallowReader reader(kPollKeys, kPollKeys[kData], kEventKeys, sink);
  answer.malformed = Read(body, reader);
  if (answer.malformed.empty() && reader.top() != ShallowReader::Top::kObject) {
    answer.malformed = "回答不是 JSON 对象";
  }
  if (answer.malformed.empty()) {
    if (auto failure =
            FailureOf(reader.field(kReturnCode), reader.field(kMessage), answer.malformed)) {
      answer.kind = PollAnswer::Kind::kFailure;
      answer.failure = std::move(*failure);
    } else if (answer.malformed.empty()) {
      answer.malformed = CheckResultFields(reader);
    }
  }
  if (answer.kind == PollAnswer::Kind::kFailure || !answer.malformed.empty()) {
    result = TrackingResult{};
    return answer;
  }

  result.number = reader.field(kNu).text;
  result.carrier_code = reader.field(kCom).text;
  result.state = reader.field(kState).text;
  result.signed_for = reader.field(kIscheck).text == "1";
  // Some servers ignore order=asc. The times sort as text.
  if (result.events.size() > 1 && result.events.front().time > result.events.back().time) {
    std::reverse(result.events.begin(), result.events.end());
  }
  answer.kind = PollAnswer::Kind::kResult;
  return answer;
}

DetectionAnswer ReadDetectionAnswer(std::string_view body) {
  DetectionAnswer answer;
  CandidateSink sink(answer.candidates);
  ShallowReader reader(kDetectionKeys, {}, kCandidateKeys, sink);
  answer.malformed = Read(body, reader);
  if (answer.malformed.empty()) {
    switch (reader.top()) {
      case ShallowReader::Top::kArray:
        answer.kind = DetectionAnswer::Kind::kCandidates;
        break;
      case ShallowReader::Top::kObject:
        if (auto failure = FailureOf(reader.field(kDetectionReturnCode),
                                     reader.field(kDetectionMessage), answer.malformed)) {
          answer.kind = DetectionAnswer::Kind::kFailure;
          answer.failure = std::move(*failure);
        } else if (answer.malformed.empty()) {
          answer.malformed = "回答缺少 returnCode";
        }
        break;
      default:
        answer.malformed = "回答既不是列表也不是对象";
        break;
    }
  }
  if (answer.kind != DetectionAnswer::Kind::kCandidates) answer.candidates.clear();
  return answer;
}

std::string PollParam(std::string_view carrier_code, std::string_view number,
                      std::string_view phone) {
  std::string param = "{\"com\":";
  param += JsonString(carrier_code);
  param += ",\"num\":";
  param += JsonString(number);
  param += ",\"phone\":";
  param += JsonString(phone);
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

std::string PollFormBody(std::string_view customer, std::string_view param,
                         std::string_view sign) {
  return "customer=" + PercentEncode(customer) + "&param=" + PercentEncode(param) +
         "&sign=" + PercentEncode(sign);
}

FetchRequest BuildPollRequest(std::string_view poll_host, const Credentials& credentials,
                              std::string_view carrier_code, std::string_view number,
                              std::string_view phone, const FetchLimits& limits) {
  const std::string param = PollParam(carrier_code, number, phone);
  FetchRequest request;
  request.url = "https://" + std::string(poll_host) + "/poll/query.do";
  request.method = "POST";
  request.content_type = "application/x-www-form-urlencoded";
  request.body = PollFormBody(credentials.customer, param, PollSign(param, credentials));
  request.decoding = BodyText::kUtf8;
  request.limits = limits;
  request.billable = true;
  return request;
}

FetchRequest BuildDetectRequest(std::string_view detect_host, std::string_view number,
                                std::string_view key, const FetchLimits& limits) {
  FetchRequest request;
  request.url = "https://" + std::string(detect_host) + "/autonumber/auto?num=" +
                PercentEncode(number) + "&key=" + PercentEncode(key);
  request.method = "GET";
  request.decoding = BodyText::kUtf8;
  request.limits = limits;
  request.billable = true;
  return request;
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

std::string StateText(std::string_view state) {
  const std::string_view text = Lookup(kStateTexts, state);
  return std::string(text.empty() ? state : text);
}

bool IsReturnedState(std::string_view state) {
  return std::find(kReturnedStates.begin(), kReturnedStates.end(), state) != kReturnedStates.end();
}

bool IsFinal(const TrackingResult& result) {
  return result.signed_for || IsReturnedState(result.state) ||
         std::find(kSignedStates.begin(), kSignedStates.end(), result.state) != kSignedStates.end();
}

std::vector<std::string> ResultRows(const TrackingResult& result, std::string_view carrier_name) {
  std::vector<std::string> rows;
  rows.reserve(1 + 2 * result.events.size());
  rows.push_back(OneLine(std::string(carrier_name) + "  " + StateText(result.state)));
  for (const TrackingEvent& event : result.events) {
    rows.push_back(OneLine(event.time));
    rows.push_back(OneLine(event.context));
  }
  return rows;
}

std::string ServiceFailureText(const ServiceFailure& failure, std::string_view secret) {
  std::string text = Shown(failure.message, secret, 200);
  if (text.empty()) text = "快递100返回了错误";
  const std::string code = Shown(failure.return_code, secret, 16);
  if (!code.empty()) text += "（" + code + "）";
  const std::string_view hint = Lookup(kFailureHints, failure.return_code);
  if (!hint.empty()) {
    text += '\n';
    text += hint;
  }
  return text;
}

std::string WithoutSecret(std::string text, std::string_view secret) {
  if (secret.empty()) return text;
  constexpr std::string_view kMask = "***";
  for (std::size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + kMask.size())) {
    text.replace(at, secret.size(), kMask);
  }
  return text;
}

// Brackets outside strings, counted in one pass: no hostile nesting ever
// reaches a parser.
bool JsonNestedDeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth > limit) return true;
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  return false;
}

std::string CutCharacters(std::string text, std::size_t max_characters) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == max_characters) {
      text.resize(i);
      text += "…";
      break;
    }
  }
  return text;
}

}  // namespace quenzil
