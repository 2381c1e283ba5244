// One query from its start to its rows: the old public address, finding
// the courier (the number's shape, the service's detection), the keyed
// query, the phone's digits asked once, and the guard that never sends a
// number the service answered with rows a short while ago. Free of the
// platform and of any window: the main window and the console companion
// each drive it through their own host, and their transfers hand its
// outcomes back.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "query/keyed_api.h"
#include "watch/watch_list.h"
#include "web/fetch.h"

namespace quenzil {

// What the user asked for.
struct QueryAsk {
  std::string number;
  std::optional<std::size_t> chosen_row;  // the courier picked (CarrierTable index)
  std::string carrier_code;               // a courier named by its code instead (wins)
  std::string phone;                      // the phone's last four digits given up front
  bool operator==(const QueryAsk&) const = default;
};

// How a query ended.
struct QueryOutcome {
  enum class Kind {
    kRows,     // tracking rows for the list
    kAdvice,   // no such parcel (yet), or the old address's advice: rows to show, no parcel
    kFailure,  // told in a 查询失败 box
    kNotice,   // told in a 系统提示 box (no number, no courier)
    kNothing,  // the user cancelled the phone's digits
  };
  Kind kind = Kind::kNothing;
  std::vector<std::string> rows;  // kRows, kAdvice
  std::string prompt;             // kFailure, kNotice
  std::string title;
  // kRows: the parcel the rows are of.
  std::string number;
  std::string carrier_code;
  std::string carrier_name;
  std::string phone;                     // the digits that got them, if any were needed
  std::optional<TrackingResult> result;  // keyed answers
  bool kept = false;                     // the guard held: shown from a kept answer, nothing sent
  UnixSeconds answered_at = 0;           // when the rows came
};

// A keyed answer with rows kept from earlier.
struct KeptAnswer {
  std::string number;
  std::string carrier_code;
  std::string carrier_name;
  std::string phone;
  TrackingResult result;
  UnixSeconds answered_at = 0;
};

// Where the flow finds and keeps answers: the watch list and the last
// queries.
class AnswerKeeping {
 public:
  virtual ~AnswerKeeping() = default;
  // The newest kept keyed answer of the number with this courier; with any
  // courier when the code is empty.
  virtual std::optional<KeptAnswer> Kept(std::string_view number, std::string_view carrier_code) const = 0;
  // The phone's digits known for the parcel beyond its kept answers (which
  // carry their own), or empty.
  virtual std::string PhoneFor(std::string_view number, std::string_view carrier_code) const = 0;
  // Fresh rows came (kRows): kept for the guard, the watch list and the
  // last queries.
  virtual void Keep(const QueryOutcome& outcome) = 0;
};

class QueryFlowHost {
 public:
  virtual ~QueryFlowHost() = default;
  virtual UnixSeconds Now() const = 0;
  // The query ended: at once (no number, no courier, kept rows) or when its
  // last answer came.
  virtual void QueryDone(const QueryOutcome& outcome) = 0;
  // The courier of a query without one picked was found (by the number's
  // shape, detection, a kept answer, or the answer of a guessed courier):
  // the host shows it as picked.
  virtual void CarrierFound(std::string_view carrier_code) = 0;
  // The service wants the phone's last four digits. True: the host asks the
  // user and answers through PhoneDigits later; false: it cannot ask, and
  // the query ends as a failure.
  virtual bool PhoneNeeded(std::string_view carrier_name, std::string_view number) = 0;
};

struct QueryFlowSettings {
  std::string tracking_api;     // the old public address (http)
  std::string tracking_poll;    // the keyed query (https)
  std::string tracking_detect;  // courier detection (https)
  FetchLimits limits{};
  UnixSeconds requery_guard = 1800;
};

class QueryFlow {
 public:
  // The settings remember an account without courier detection.
  QueryFlow(Transfers& transfers, AnswerKeeping& answers, SettingsStore& settings_store, QueryFlowHost& host,
            QueryFlowSettings settings);

  void SetCredentials(Credentials credentials) { credentials_ = std::move(credentials); }
  const Credentials& credentials() const { return credentials_; }
  bool keyed() const { return credentials_.complete(); }

  // True while this very ask is on its way: pressing again sends nothing.
  bool OnItsWay(const QueryAsk& ask) const;
  bool running() const { return step_.has_value(); }
  // Starts the query, dropping any on its way. Ends at once for an empty
  // number, for no courier without a key, and inside the guard. With a key
  // and no courier: a number whose shape names its courier is queried at
  // once; else detection says, or, for an account without it, the likeliest
  // couriers by the number's shape are queried, at most two.
  void Start(QueryAsk ask);
  // Drops the query on its way: its answer will be ignored.
  void Cancel();
  // An outcome of a transfer; false when it is not this flow's.
  bool OnTransferDone(TransferId id, const FetchOutcome& outcome);
  // The answer to PhoneNeeded: the digits, or nullopt when cancelled.
  void PhoneDigits(std::optional<std::string> digits);

  // "（N分钟前查询）", or "（刚刚查询）" under a minute.
  static std::string AgeSuffix(UnixSeconds answered_at, UnixSeconds now);

 private:
  enum class Kind { kOld, kDetect, kPoll };
  // The step on its way.
  struct Step {
    Kind kind = Kind::kOld;
    TransferId transfer = 0;
    QueryAsk ask;
    bool keyed = false;        // what the query was started as
    std::string carrier_code;  // kOld, kPoll
    std::string carrier_name;  // kPoll
    std::string phone;         // kPoll
    bool phone_asked = false;  // the digits were asked for once already
    // Couriers guessed from the number: those still to try, the names of
    // those that had no result, and whether kPoll asks one of them.
    std::vector<std::string> to_try;
    std::vector<std::string> tried;
    bool guessed = false;
  };

  void Finish(QueryOutcome outcome);
  void Notice(std::string_view prompt, std::string_view title);
  void Failure(std::string prompt);
  // Shows the kept answer when the guard holds it back; true then.
  bool ShowKept(const QueryAsk& ask, std::string_view carrier_code, const std::optional<KeptAnswer>& kept);
  // The digits to send: given, kept with the answer, or known otherwise.
  std::string PhoneFor(const QueryAsk& ask, std::string_view carrier_code,
                       const std::optional<KeptAnswer>& kept) const;
  void StartOld(Step step);
  void StartDetect(Step step);
  // Queries the courier found for the step, shown as picked.
  void PollFound(Step step, std::string_view carrier_code, std::string_view detected_name);
  // Queries the step with that courier, its name and the digits kept for it.
  void PollCourier(Step step, std::string_view carrier_code, std::string_view detected_name);
  // The next guessed courier, or the box that asks for one.
  void TryNextGuess(Step step);
  void StartPoll(Step step);
  void FinishOld(const Step& step, const FetchOutcome& outcome);
  void FinishDetect(Step step, const FetchOutcome& outcome);
  void FinishPoll(Step step, const FetchOutcome& outcome);

  Transfers& transfers_;
  AnswerKeeping& answers_;
  SettingsStore& settings_store_;
  QueryFlowHost& host_;
  QueryFlowSettings settings_;
  Credentials credentials_;
  std::optional<Step> step_;
  // A keyed query waiting for the phone's digits.
  std::optional<Step> waiting_for_phone_;
};

}  // namespace quenzil
