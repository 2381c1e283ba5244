// One tracking service, as the rest of the program sees it: it builds its
// requests and reads its answers into one service-neutral answer, the
// events and the state in the one state model, and one outcome. Which of
// its codes means which outcome is written once, in the service's own file.
// Nothing outside src/query/ names a service's code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "query/tracking.h"
#include "web/fetch.h"

namespace quenzil {

// Answers longer than this are refused unread.
inline constexpr std::size_t kMaxAnswerBytes = 16u * 1024u * 1024u;

// What an answer comes to.
enum class Outcome {
  kRows,              // the parcel's tracking
  kNoResultYet,       // the service has nothing for the number (yet)
  kPhoneNeeded,       // it wants the phone's last four digits (or others than those sent)
  kCourierNotServed,  // it does not serve this courier
  kAccountRefused,    // the account is wrong, blocked or expired
  kQuotaSpent,        // the account's queries are used up
  kBadRequest,        // it refused the request as made
  kServerError,       // it failed on its side
  kUnreadable,        // an answer that cannot be read
  kNotReached,        // no answer came: the network, a time-out, a proxy
};

struct ServiceAnswer {
  Outcome outcome = Outcome::kUnreadable;
  TrackingResult result;  // kRows
  // Rows a service gives as text rather than events (the old address): its
  // rows with kRows, its advice with kNoResultYet.
  std::vector<std::string> rows;
  // What a box says of it: the service's words and a hint, or why it could
  // not be read; the secret taken out.
  std::string told;
  FetchFailure failure = FetchFailure::kOther;  // kNotReached
};

// One query, as the service is to be asked.
struct ServiceQuery {
  std::string number;
  std::string courier;  // the courier table's code; empty: the service finds it (FindsCourier)
  std::string phone;    // the phone's last four digits, or empty
};

// A courier the service's detection names for a number.
struct CourierCandidate {
  std::string code;  // the courier table's code where the table has it, else the service's own
  std::string name;  // may be empty
};

struct Detection {
  enum class Kind {
    kCandidates,  // best first; may be empty
    kNotOffered,  // the account has no detection (a trial account)
    kRefused,     // another refusal: it says nothing of the account's queries
    kFailed,      // no answer, or one that cannot be read: `told` says why
  };
  Kind kind = Kind::kFailed;
  std::vector<CourierCandidate> candidates;
  std::string told;
};

class TrackingService {
 public:
  virtual ~TrackingService() = default;

  // Its name in the settings and on the command line, e.g. "kdniao".
  virtual std::string_view key() const = 0;
  // Its name for people, e.g. "快递100".
  virtual std::string_view name() const = 0;
  // False for the old public address: it gets the number exactly as typed,
  // knows only its ten couriers, and its rows are not kept for the guard.
  virtual bool keyed() const = 0;
  // True when it can be asked about this courier (the courier table's code).
  virtual bool Serves(std::string_view courier) const = 0;
  // True when it can be asked without a courier and finds it itself.
  virtual bool FindsCourier() const { return false; }

  virtual FetchRequest Query(const ServiceQuery& query) const = 0;
  virtual ServiceAnswer Read(const FetchOutcome& outcome) const = 0;

  // Courier detection, where the service offers it.
  virtual bool OffersDetection() const { return false; }
  virtual FetchRequest Detect(std::string_view number) const;
  virtual Detection ReadDetection(const FetchOutcome& outcome) const;
};

}  // namespace quenzil
