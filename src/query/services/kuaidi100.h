// 快递100's keyed API: the signed query (poll/query.do), courier detection
// (autonumber/auto), reading their JSON answers, and what its answer codes
// mean. Portable; MD5 comes from the platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "query/services/service.h"
#include "query/tracking.h"
#include "web/fetch.h"

namespace quenzil {

// 公司编号 and 授权key. The key is a secret: it goes into the signature and
// the detection address, and nowhere else.
struct Credentials {
  std::string customer;
  std::string key;
  bool complete() const { return !customer.empty() && !key.empty(); }
  bool operator==(const Credentials&) const = default;
};

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

struct CarrierCandidateAnswer {
  std::string code;  // comCode
  std::string name;  // may be empty
};

struct DetectionAnswer {
  enum class Kind { kCandidates, kFailure, kMalformed };
  Kind kind = Kind::kMalformed;
  std::vector<CarrierCandidateAnswer> candidates;  // best first; may be empty
  ServiceFailure failure;
  std::string malformed;
};

// Reads the answer of autonumber/auto. Never throws.
DetectionAnswer ReadDetectionAnswer(std::string_view body);

// {"com":"…","num":"…","phone":"…","resultv2":"4","show":"0","order":"asc"}:
// resultv2=4 asks for the finer states (501 in a locker or pickup station,
// 1001 arrived in the delivery city, 304 signed for there, …).
std::string PollParam(std::string_view carrier_code, std::string_view number, std::string_view phone);

// Upper-case hex MD5 of param + key + customer. Throws std::runtime_error
// if the platform has no MD5 (so does BuildPollRequest).
std::string PollSign(std::string_view param, const Credentials& credentials);

// customer=…&param=…&sign=…, each value percent-encoded: unreserved ASCII
// stays, a space and every other byte become %XX (never "+").
std::string PollFormBody(std::string_view customer, std::string_view param, std::string_view sign);

// POST https://<poll_host>/poll/query.do, signed, answer read as UTF-8.
FetchRequest BuildPollRequest(std::string_view poll_host, const Credentials& credentials,
                              std::string_view carrier_code, std::string_view number, std::string_view phone,
                              const FetchLimits& limits);

// GET https://<detect_host>/autonumber/auto?num=…&key=…, answer read as UTF-8.
FetchRequest BuildDetectRequest(std::string_view detect_host, std::string_view number, std::string_view key,
                                const FetchLimits& limits);

// The text of the 查询失败 box for a failure answer: the service's message
// and code, and a hint in plain Chinese where the code has one. The message
// is cut to about 200 characters; the secret is taken out before the cut,
// which could otherwise leave part of it behind.
std::string ServiceFailureText(const ServiceFailure& failure, std::string_view secret = {});

// What an answer code means.
Outcome OutcomeOfCode(std::string_view return_code);

struct Kuaidi100Hosts {
  std::string poll;    // the keyed query (https)
  std::string detect;  // courier detection (https)
};

class Kuaidi100Service final : public TrackingService {
 public:
  Kuaidi100Service(Kuaidi100Hosts hosts, FetchLimits limits, Credentials credentials)
      : hosts_(std::move(hosts)), limits_(limits), credentials_(std::move(credentials)) {}
  static constexpr std::string_view kKey = "kuaidi100";
  std::string_view key() const override { return kKey; }
  std::string_view name() const override { return "快递100"; }
  bool keyed() const override { return true; }
  // Any code: the courier table's codes are 快递100's, and a courier the
  // table lacks is named by 快递100's code too.
  bool Serves(std::string_view courier) const override { return !courier.empty(); }
  FetchRequest Query(const ServiceQuery& query) const override;
  ServiceAnswer Read(const FetchOutcome& outcome) const override;
  bool OffersDetection() const override { return true; }
  FetchRequest Detect(std::string_view number) const override;
  Detection ReadDetection(const FetchOutcome& outcome) const override;

  const Credentials& credentials() const { return credentials_; }

 private:
  Kuaidi100Hosts hosts_;
  FetchLimits limits_;
  Credentials credentials_;
};

}  // namespace quenzil
