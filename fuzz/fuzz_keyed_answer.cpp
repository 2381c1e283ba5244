// Reading the keyed API's answers from arbitrary bytes, against a reference
// built on nlohmann's own document parser.
//
// Checks: nothing throws; ReadPollAnswer and ReadDetectionAnswer give
// exactly what the reference reads from the parsed document (kind, fields,
// events in order, candidates); a malformed answer says why; ResultRows has
// one row for the heading and two per event, none holding CR or LF; the
// failure text is well-formed UTF-8, has no control character but the one
// line break before a hint, and never shows a secret taken from the message.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/json_reader.h"
#include "fuzz_support.h"
#include "query/couriers.h"
#include "query/parcel_state.h"
#include "query/services/kuaidi100.h"

namespace {

using Json = nlohmann::json;
using quenzil::DetectionAnswer;
using quenzil::PollAnswer;
using quenzil_fuzz::AsText;

int Depth(const Json& root) {
  int deepest = 0;
  std::vector<std::pair<const Json*, int>> pending{{&root, 0}};
  while (!pending.empty()) {
    const auto [value, depth] = pending.back();
    pending.pop_back();
    if (!value->is_structured()) continue;
    deepest = std::max(deepest, depth + 1);
    for (const Json& child : *value) pending.emplace_back(&child, depth + 1);
  }
  return deepest;
}

// A parsed document within the limits, or nothing.
// A NUL byte is no part of a JSON text, though nlohmann stops there.
std::optional<Json> Parse(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  Json document = Json::parse(text, nullptr, false);
  if (document.is_discarded() || Depth(document) > quenzil::json::kMaxDepth) return std::nullopt;
  return document;
}

std::optional<std::string> Text(const Json& object, const char* key, bool integer_too) {
  const auto found = object.find(key);
  if (found == object.end()) return std::string();
  if (found->is_string()) return found->get<std::string>();
  if (integer_too && found->is_number_integer()) return found->dump();
  return std::nullopt;
}

std::string StringOrEmpty(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The failure an object with a returnCode stands for; nullopt inside when
// the code has a wrong type.
std::optional<std::optional<quenzil::ServiceFailure>> ReferenceFailure(const Json& object) {
  if (!object.contains("returnCode")) return std::nullopt;
  const auto code = Text(object, "returnCode", true);
  if (!code) return std::optional<quenzil::ServiceFailure>{};
  return std::optional<quenzil::ServiceFailure>{
      quenzil::ServiceFailure{*code, StringOrEmpty(object, "message")}};
}

void CheckFailure(const quenzil::ServiceFailure& failure, const quenzil::ServiceFailure& expected) {
  FUZZ_CHECK(failure.return_code == expected.return_code);
  FUZZ_CHECK(failure.message == expected.message);
}

PollAnswer::Kind ReferencePoll(std::string_view text, const PollAnswer& answer) {
  const auto document = Parse(text);
  if (!document || !document->is_object()) return PollAnswer::Kind::kMalformed;
  if (const auto failure = ReferenceFailure(*document)) {
    if (!*failure) return PollAnswer::Kind::kMalformed;
    if (answer.kind == PollAnswer::Kind::kFailure) CheckFailure(answer.failure, **failure);
    return PollAnswer::Kind::kFailure;
  }
  const auto state = Text(*document, "state", true);
  const auto data = document->find("data");
  if (!document->contains("state") || !state || data == document->end() || !data->is_array() ||
      !Text(*document, "nu", false) || !Text(*document, "com", false) ||
      !Text(*document, "ischeck", true) || !Text(*document, "status", true)) {
    return PollAnswer::Kind::kMalformed;
  }
  if (answer.kind != PollAnswer::Kind::kResult) return PollAnswer::Kind::kResult;

  std::vector<quenzil::TrackingEvent> events;
  for (const Json& entry : *data) {
    if (!entry.is_object() || !entry.contains("context") || !entry["context"].is_string()) continue;
    const std::string ftime = StringOrEmpty(entry, "ftime");
    const bool has_ftime = entry.contains("ftime") && entry["ftime"].is_string();
    events.push_back({has_ftime ? ftime : StringOrEmpty(entry, "time"),
                      entry["context"].get<std::string>(), StringOrEmpty(entry, "areaName"),
                      StringOrEmpty(entry, "status")});
  }
  if (events.size() > 1 && events.front().time > events.back().time) {
    std::reverse(events.begin(), events.end());
  }
  const quenzil::TrackingResult& result = answer.result;
  FUZZ_CHECK(result.number == *Text(*document, "nu", false));
  FUZZ_CHECK(result.carrier_code == *Text(*document, "com", false));
  FUZZ_CHECK(result.state == *state);
  FUZZ_CHECK(result.signed_for == (*Text(*document, "ischeck", true) == "1"));
  FUZZ_CHECK(result.events == events);
  return PollAnswer::Kind::kResult;
}

DetectionAnswer::Kind ReferenceDetection(std::string_view text, const DetectionAnswer& answer) {
  const auto document = Parse(text);
  if (!document) return DetectionAnswer::Kind::kMalformed;
  if (document->is_array()) {
    std::vector<std::pair<std::string, std::string>> expected, candidates;
    for (const Json& entry : *document) {
      if (!entry.is_object()) continue;
      const auto code = entry.find("comCode");
      if (code == entry.end() || !code->is_string() || code->get<std::string>().empty()) continue;
      expected.emplace_back(code->get<std::string>(), StringOrEmpty(entry, "name"));
    }
    for (const auto& candidate : answer.candidates) {
      candidates.emplace_back(candidate.code, candidate.name);
    }
    if (answer.kind == DetectionAnswer::Kind::kCandidates) FUZZ_CHECK(candidates == expected);
    return DetectionAnswer::Kind::kCandidates;
  }
  if (!document->is_object()) return DetectionAnswer::Kind::kMalformed;
  const auto failure = ReferenceFailure(*document);
  if (!failure || !*failure) return DetectionAnswer::Kind::kMalformed;
  if (answer.kind == DetectionAnswer::Kind::kFailure) CheckFailure(answer.failure, **failure);
  return DetectionAnswer::Kind::kFailure;
}

void CheckRows(const quenzil::TrackingResult& result) {
  const std::vector<std::string> rows = quenzil::ResultRows(result, quenzil::CarrierName(result.carrier_code));
  FUZZ_CHECK(rows.size() == 1 + 2 * result.events.size());
  for (const std::string& row : rows) {
    FUZZ_CHECK(row.find_first_of("\r\n") == std::string::npos);
  }
}

// A run of six or more letters and digits in the message, taken as a secret.
std::string SecretIn(std::string_view message) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= message.size(); ++i) {
    if (i < message.size() && std::isalnum(static_cast<unsigned char>(message[i]))) continue;
    if (i - start >= 6) return std::string(message.substr(start, i - start));
    start = i + 1;
  }
  return {};
}

void CheckFailureText(const quenzil::ServiceFailure& failure) {
  const std::string secret = SecretIn(failure.message);
  const std::string text = quenzil::ServiceFailureText(failure, secret);
  FUZZ_CHECK(quenzil_fuzz::IsWellFormedUtf8(text));
  FUZZ_CHECK(quenzil_fuzz::CountCodePoints(text) < 320);
  std::size_t line_breaks = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') ++line_breaks;
    FUZZ_CHECK(c == '\n' || (byte >= 0x20 && byte != 0x7F));
  }
  FUZZ_CHECK(line_breaks <= 1);
  if (!secret.empty()) FUZZ_CHECK(text.find(secret) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = AsText({data, size});
  try {
    const PollAnswer poll = quenzil::ReadPollAnswer(text);
    FUZZ_CHECK(poll.kind == ReferencePoll(text, poll));
    switch (poll.kind) {
      case PollAnswer::Kind::kResult:
        CheckRows(poll.result);
        break;
      case PollAnswer::Kind::kFailure:
        CheckFailureText(poll.failure);
        break;
      case PollAnswer::Kind::kMalformed:
        FUZZ_CHECK(!poll.malformed.empty());
        break;
    }

    const DetectionAnswer detection = quenzil::ReadDetectionAnswer(text);
    FUZZ_CHECK(detection.kind == ReferenceDetection(text, detection));
    if (detection.kind == DetectionAnswer::Kind::kMalformed) FUZZ_CHECK(!detection.malformed.empty());
    if (detection.kind == DetectionAnswer::Kind::kFailure) CheckFailureText(detection.failure);
  } catch (...) {
    FUZZ_CHECK(!"an exception escaped");
  }
  return 0;
}
