// One press from its start to its rows: the courier found (a kept answer,
// the number's shape, a service's detection, the likeliest couriers tried),
// the services asked in the user's order until one answers, the phone's
// digits asked once, and the guard that never sends a number a service
// answered with rows a short while ago. Free of the platform and of any
// window: the tracker drives it, and the transfers hand its outcomes back.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "query/services/service.h"
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
  std::string service;                   // the service that answered, by its key (ServiceNameOf)
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
  std::string service;
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
  // The service refused the account, or its queries are spent.
  virtual void ServiceRefused(const TrackingService& service, const ServiceAnswer& answer) = 0;
  // The service's detection is not to be asked (the account has none), and
  // the news that it has none.
  virtual bool DetectionOff(const TrackingService& service) const = 0;
  // The service answered (or could not be reached at all).
  virtual void ServiceReached(const TrackingService& service, bool reached) = 0;
  virtual void DetectionNotOffered(const TrackingService& service) = 0;
};

using ServiceList = std::vector<std::shared_ptr<const TrackingService>>;

class QueryFlow {
 public:
  QueryFlow(Transfers& transfers, AnswerKeeping& answers, QueryFlowHost& host, UnixSeconds requery_guard);
  ~QueryFlow();
  QueryFlow(const QueryFlow&) = delete;
  QueryFlow& operator=(const QueryFlow&) = delete;

  // The services to ask, in order; the old address alone when the user has
  // no account. A press on its way keeps the ones it started with.
  // `named`: the first row says which service answered.
  void SetServices(ServiceList services, bool named) {
    services_ = std::move(services);
    named_ = named;
  }
  bool keyed() const { return !services_.empty() && services_.front()->keyed(); }

  // True while this very ask is on its way: pressing again sends nothing.
  bool OnItsWay(const QueryAsk& ask) const;
  // A press is on its way or waits for the phone's digits.
  bool running() const { return press_ != nullptr; }
  // The number of the press on its way.
  std::optional<std::string> number() const;
  // Starts the query, dropping any on its way. Ends at once for an empty
  // number, for no courier without a key, and inside the guard.
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
  struct Press;
  void Finish(QueryOutcome outcome);
  void Notice(std::string_view prompt, std::string_view title);
  void Failure(std::string prompt);
  bool ShowKept(const QueryAsk& ask, std::string_view carrier_code, const std::optional<KeptAnswer>& kept);
  std::string PhoneFor(std::string_view carrier_code) const;
  // The courier found: shown as picked, and asked of the service in turn.
  void Found(std::string_view carrier_code, std::string_view detected_name);
  // Asks the service in turn, or the next one that can be asked; ends the
  // press when none is left.
  void Next();
  void AskService();
  void Exhausted();
  void StartQuery(std::string courier, bool guessed);
  void FinishQuery(const FetchOutcome& outcome);
  void FinishDetection(const FetchOutcome& outcome);
  void MoveOn();

  Transfers& transfers_;
  AnswerKeeping& answers_;
  QueryFlowHost& host_;
  UnixSeconds requery_guard_;
  ServiceList services_;
  bool named_ = false;
  std::unique_ptr<Press> press_;
};

}  // namespace quenzil
