// The tracking service's current, keyed API: building the signed query and
// the courier-detection request, and reading their JSON answers. Portable;
// MD5 and JSON come from libraries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/kept_json.h"
#include "web/fetch.h"

namespace quenzil {

// 公司编号 and 授权key. The key is a secret: it goes into the signature and
// the detection address, and nowhere else.
struct Credentials {
  std::string customer;
  std::string key;
  bool complete() const { return !customer.empty() && !key.empty(); }
};

struct TrackingEvent {
  std::string time;     // "2012-08-28 16:33:19" (ftime, else time)
  std::string context;  // what happened
  std::string area;     // areaName, may be empty
  std::string status;   // the event's own status word, may be empty
  // Fields a stored copy of the event holds that this program does not
  // know: written back as they were read.
  KeptFields unknown = {};
  bool operator==(const TrackingEvent&) const = default;
};

struct TrackingResult {
  std::string number;        // "nu"
  std::string carrier_code;  // "com"
  std::string state;         // "state" exactly as sent: "0", "3", "301", ...
  bool signed_for = false;   // "ischeck" is "1"
  std::vector<TrackingEvent> events;  // oldest first
};

// Answers longer or more deeply nested than this are refused unread.
inline constexpr std::size_t kMaxAnswerBytes = 16u * 1024u * 1024u;
inline constexpr int kMaxAnswerDepth = 64;

// An answer that carries a returnCode.
struct ServiceFailure {
  std::string return_code;  // "500", "503", ...
  std::string message;      // the service's own words
};

struct PollAnswer {
  enum class Kind { kResult, kFailure, kMalformed };
  Kind kind = Kind::kMalformed;
  TrackingResult result;     // kResult
  ServiceFailure failure;    // kFailure
  std::string malformed;     // kMalformed: what was wrong, for the detail line
};

// Reads the answer of poll/query.do. A returnCode makes it a failure,
// whatever else it holds. Wrong types, missing fields, huge or deeply
// nested JSON give kMalformed; never throws.
PollAnswer ReadPollAnswer(std::string_view body);

struct CarrierCandidate {
  std::string code;  // comCode
  std::string name;  // may be empty
};

struct DetectionAnswer {
  enum class Kind { kCandidates, kFailure, kMalformed };
  Kind kind = Kind::kMalformed;
  std::vector<CarrierCandidate> candidates;  // best first; may be empty
  ServiceFailure failure;
  std::string malformed;
};

// Reads the answer of autonumber/auto. Never throws.
DetectionAnswer ReadDetectionAnswer(std::string_view body);

// {"com":"…","num":"…","phone":"…","resultv2":"4","show":"0","order":"asc"}:
// resultv2=4 asks for the finer states (501 in a locker or pickup station,
// 1001 arrived in the delivery city, 304 signed for there, …).
std::string PollParam(std::string_view carrier_code, std::string_view number,
                      std::string_view phone);

// Upper-case hex MD5 of param + key + customer. Throws std::runtime_error
// if the platform has no MD5 (so does BuildPollRequest).
std::string PollSign(std::string_view param, const Credentials& credentials);

// customer=…&param=…&sign=…, each value percent-encoded: unreserved ASCII
// stays, a space and every other byte become %XX (never "+").
std::string PollFormBody(std::string_view customer, std::string_view param,
                         std::string_view sign);

// POST https://<poll_host>/poll/query.do, signed, answer read as UTF-8.
FetchRequest BuildPollRequest(std::string_view poll_host, const Credentials& credentials,
                              std::string_view carrier_code, std::string_view number,
                              std::string_view phone, const FetchLimits& limits);

// GET https://<detect_host>/autonumber/auto?num=…&key=…, answer read as UTF-8.
FetchRequest BuildDetectRequest(std::string_view detect_host, std::string_view number,
                                std::string_view key, const FetchLimits& limits);

// The service answers with status 200 only: any other status (a proxy's
// 407, a 5xx page) makes the outcome a failure, whatever its body holds.
FetchOutcome WithStatusChecked(FetchOutcome outcome);

// The state as the list shows it: "0" → "在途", "3" → "已签收", "501" →
// "投柜或驿站", …; a value it does not know, as it comes.
std::string StateText(std::string_view state);

// Signed for, or a state of 签收 (3, 301–304), 退签 (4) or 已销单 (401):
// nothing more will happen. Any other state, known or not, is not final.
bool IsFinal(const TrackingResult& result);
// 退签 or 已销单: the parcel went back, or never went.
bool IsReturnedState(std::string_view state);

// What List1 shows: "<carrier name>  <state>", then per event (oldest
// first) its time row and its context row.
std::vector<std::string> ResultRows(const TrackingResult& result, std::string_view carrier_name);

// The text of the 查询失败 box for a failure answer: the service's message
// and code, and a hint in plain Chinese where the code has one. The message
// is cut to about 200 characters; the secret is taken out before the cut,
// which could otherwise leave part of it behind.
std::string ServiceFailureText(const ServiceFailure& failure, std::string_view secret = {});

// At most max_characters code points, never cut inside one; "…" marks a cut.
std::string CutCharacters(std::string text, std::size_t max_characters);

// Every occurrence of the secret taken out of a text that may be shown.
std::string WithoutSecret(std::string text, std::string_view secret);

// True when brackets outside strings nest deeper than the limit.
bool JsonNestedDeeperThan(std::string_view text, int limit);

}  // namespace quenzil
