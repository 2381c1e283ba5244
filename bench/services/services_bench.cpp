// Requests one press of 开始查询 costs with several services, through the
// real tracker (its order, the pause of a spent service, the query flow)
// against services of the benchmark's own: for each account mix, every
// number of numbers.tsv queried once with its courier picked, in turn. The
// first press of a mix is shown apart: a spent service is asked first only
// until it has said so. A benchmark, not a test: it always exits 0.
//   bench_services [numbers.tsv]
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "number_table.h"
#include "app/tracker.h"

namespace {

using namespace quenzil;

// How a service of the benchmark answers every query.
enum class Answers { kRows, kSpent, kDown };

struct Mix {
  const char* name;
  std::map<std::string, Answers> services;  // by the service's key, in the default order
};

class Services final : public Transfers {
 public:
  explicit Services(const Mix& mix) : mix_(mix) {}
  TransferId Start(FetchRequest request) override {
    pending_.emplace_back(++last_, std::move(request));
    ++sent_;
    return last_;
  }
  void Cancel(TransferId) override {}
  // The oldest request on its way, answered.
  std::optional<std::pair<TransferId, FetchOutcome>> Next() {
    if (pending_.empty()) return std::nullopt;
    auto [id, request] = std::move(pending_.front());
    pending_.erase(pending_.begin());
    const std::string key = request.url.find("kdniao.test") != std::string::npos    ? "kdniao"
                            : request.url.find("appcode.test") != std::string::npos ? "appcode"
                                                                                    : "kuaidi100";
    ++asked_[key];
    return std::pair{id, Answer(key, mix_.services.at(key))};
  }
  int sent() const { return sent_; }
  const std::map<std::string, int>& asked() const { return asked_; }

 private:
  static FetchOutcome Answer(const std::string& service, Answers answers) {
    if (answers == Answers::kDown) return FetchOutcome::Failed(FetchFailure::kCannotConnect, "connection refused");
    if (service == "kuaidi100") {
      return FetchOutcome::Answered(
          answers == Answers::kSpent
              ? R"({"result":false,"returnCode":"601","message":"没有可用单量"})"
              : R"({"message":"ok","status":"200","state":"0","ischeck":"0","data":[{"time":"2026-12-08 08:00:00","context":"已揽收"}]})");
    }
    if (service == "kdniao") {
      return FetchOutcome::Answered(
          answers == Answers::kSpent
              ? R"({"Success":false,"Reason":"业务错误[没有可用套餐]"})"
              : R"({"Success":true,"State":"2","Traces":[{"AcceptTime":"2026-12-08 08:00:00","AcceptStation":"已揽收"}]})");
    }
    if (answers == Answers::kSpent) {
      FetchOutcome refused = FetchOutcome::Answered("", 403);
      refused.headers.emplace_back("X-Ca-Error-Message", "Quota Exhausted");
      return refused;
    }
    return FetchOutcome::Answered(
        R"({"status":"0","msg":"ok","result":{"list":[{"time":"2026-12-08 08:00:00","status":"已揽收"}],"deliverystatus":"1"}})");
  }

  const Mix& mix_;
  TransferId last_ = 0;
  int sent_ = 0;
  std::map<std::string, int> asked_;
  std::vector<std::pair<TransferId, FetchRequest>> pending_;
};

class NoWatchFile final : public WatchStore {
 public:
  Loaded Load() override { return {}; }
  bool Save(const WatchList&) override { return true; }
};

class NoHistoryFile final : public HistoryStore {
 public:
  History Load() override { return {}; }
  bool Update(const std::function<void(History&)>&) override { return true; }
};

class MemorySettings final : public SettingsStore {
 public:
  RefreshMode LoadRefreshMode() override { return RefreshMode::kSmart; }
  bool SaveRefreshMode(RefreshMode) override { return true; }
  bool LoadPaused(std::string_view service) override { return paused_[std::string(service)]; }
  bool SavePaused(std::string_view service, bool paused) override { return paused_[std::string(service)] = paused, true; }
  bool LoadAutostartAsked() override { return true; }
  bool SaveAutostartAsked() override { return true; }
  bool LoadDetectionRefused() override { return false; }
  bool SaveDetectionRefused(bool) override { return true; }

 private:
  std::map<std::string, bool> paused_;
};

class Outcomes final : public TrackerEvents {
 public:
  void QueryStarted() override {}
  void Rows(const QueryOutcome&) override { ++found; }
  void Advice(const std::vector<std::string>&) override {}
  void Told(std::string_view, std::string_view) override {}
  void CourierPicked(std::string_view) override {}
  bool PhoneWanted(std::string_view, std::string_view) override { return false; }
  void ListChanged() override {}
  bool Notification(std::string_view, std::string_view) override { return true; }
  void WakeAfter(std::optional<std::chrono::milliseconds>) override {}
  int found = 0;
};

class FixedClock final : public Clock {
 public:
  UnixSeconds Now() const override { return 1796000000; }
  std::int64_t UtcOffset(UnixSeconds) const override { return 8 * 3600; }
  std::chrono::milliseconds Ticks() const override { return {}; }
};

using Row = bench::NumberRow;
std::vector<Row> ReadTable(const std::filesystem::path& path) { return bench::ReadNumberTable(path); }

void RunMix(const Mix& mix, const std::vector<Row>& rows) {
  Services services(mix);
  NoWatchFile watch;
  NoHistoryFile history;
  MemorySettings settings;
  Outcomes outcomes;
  const FixedClock clock;
  DeployHosts hosts;
  hosts.tracking_poll = "poll.test";
  hosts.tracking_detect = "detect.test";
  hosts.kdniao = "kdniao.test";
  hosts.appcode = "appcode.test";
  Tracker tracker(services, {watch, history, settings}, outcomes, clock, hosts, {false, false});
  Accounts accounts;
  for (const auto& [key, answers] : mix.services) {
    if (key == "kuaidi100") accounts.kuaidi100 = {"CUSTOMER", "KEY"};
    if (key == "kdniao") accounts.kdniao = {"1900001", "KEY"};
    if (key == "appcode") accounts.appcode = {"CODE"};
  }
  tracker.SetAccounts(accounts);
  tracker.LoadSettings();
  int first = 0, most = 0, later = 0;
  for (std::size_t index = 0; index < rows.size(); ++index) {
    const int before = services.sent();
    tracker.Query(QueryAsk{rows[index].number, std::nullopt, rows[index].courier, ""});
    while (auto answer = services.Next()) tracker.OnTransferDone(answer->first, answer->second);
    const int sent = services.sent() - before;
    (index == 0 ? first : later) += sent;
    most = std::max(most, sent);
  }
  const auto presses = static_cast<double>(rows.size());
  std::string asked;
  for (const auto& [key, count] : services.asked()) asked += " " + key + " " + std::to_string(count);
  std::printf("%5d %8.2f %6d %8.1f%%  %-38s %s\n", first, later / (presses - 1), most, 100.0 * outcomes.found / presses,
              asked.c_str(), mix.name);
}

int RunBenchmark(const std::filesystem::path& table) {
  const std::vector<Row> rows = ReadTable(table);
  if (rows.size() < 2) {
    std::printf("no numbers read from %s\n", table.string().c_str());
    return 0;
  }
  const Mix mixes[] = {
      {"快递100 alone", {{"kuaidi100", Answers::kRows}}},
      {"快递鸟 alone", {{"kdniao", Answers::kRows}}},
      {"AppCode alone", {{"appcode", Answers::kRows}}},
      {"快递100 spent (601), then 快递鸟", {{"kuaidi100", Answers::kSpent}, {"kdniao", Answers::kRows}}},
      {"快递100 spent, 快递鸟 down, then AppCode",
       {{"kuaidi100", Answers::kSpent}, {"kdniao", Answers::kDown}, {"appcode", Answers::kRows}}},
      {"快递100 down, 快递鸟 spent, then AppCode",
       {{"kuaidi100", Answers::kDown}, {"kdniao", Answers::kSpent}, {"appcode", Answers::kRows}}},
  };
  std::printf("requests per press, %zu numbers of %s, each with its courier picked\n\n", rows.size(),
              table.string().c_str());
  std::printf("%5s %8s %6s %9s  %-38s %s\n", "first", "later", "most", "found", "requests per service",
              "accounts, in the default order");
  for (const Mix& mix : mixes) RunMix(mix, rows);
  return 0;
}

}  // namespace

// Programs of the Windows build are linked as Unicode, entering at wmain.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return RunBenchmark(argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path(QUENZIL_GUESS_NUMBERS));
}
#else
int main(int argc, char** argv) { return RunBenchmark(argc > 1 ? argv[1] : QUENZIL_GUESS_NUMBERS); }
#endif
