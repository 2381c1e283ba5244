// The courier guess over a table of real-shaped numbers (numbers.tsv, with
// where each came from): the share of numbers whose courier the guess puts
// first and among its first three, per courier and overall, and every
// number with letters named with certainty. Then the keyed requests one
// press of 开始查询 costs without a courier picked, through the real query
// flow against a service that knows each number's courier only: for a trial
// account (its detection answers 601) and for a full one (detection names
// the courier). Goals: top-1 at least 85 %, top-3 at least 97 %, every
// number with letters right. A benchmark, not a test: it always exits 0.
//   bench_guess [numbers.tsv]
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "number_table.h"
#include "app/query_flow.h"
#include "query/couriers.h"
#include "query/services/kuaidi100.h"

namespace {

using namespace quenzil;

using Row = bench::NumberRow;
std::vector<Row> ReadTable(const std::filesystem::path& path) { return bench::ReadNumberTable(path); }

bool HasLetter(const std::string& number) {
  for (const char c : number) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  }
  return false;
}

// The service of the benchmark: each number is known to its courier only.
class Service final : public Transfers {
 public:
  TransferId Start(FetchRequest request) override {
    pending_.push_back({++last_, std::move(request)});
    ++sent;
    return last_;
  }
  void Cancel(TransferId) override {}
  std::optional<std::pair<TransferId, FetchOutcome>> Answer(const std::string& courier, bool trial) {
    if (pending_.empty()) return std::nullopt;
    auto [id, request] = std::move(pending_.front());
    pending_.erase(pending_.begin());
    if (request.url.find("/autonumber/") != std::string::npos) {
      const std::string refused = R"({"result":false,"returnCode":"601","message":"POLL:KEY已过期"})";
      return std::pair{id, FetchOutcome::Answered(trial ? refused : R"([{"comCode":")" + courier + R"("}])")};
    }
    const bool known = request.body.find("%22com%22%3A%22" + courier + "%22") != std::string::npos;
    return std::pair{id, FetchOutcome::Answered(known ? R"({"nu":"1","ischeck":"0","com":")" + courier +
                                                            R"(","state":"0","data":[]})"
                                                      : R"({"result":false,"returnCode":"500","message":"查询无结果"})")};
  }
  int sent = 0;

 private:
  TransferId last_ = 0;
  std::vector<std::pair<TransferId, FetchRequest>> pending_;
};

class NothingKept final : public AnswerKeeping {
 public:
  std::optional<KeptAnswer> Kept(std::string_view, std::string_view) const override { return std::nullopt; }
  std::string PhoneFor(std::string_view, std::string_view) const override { return {}; }
  void Keep(const QueryOutcome&) override {}
};

class Host final : public QueryFlowHost {
 public:
  UnixSeconds Now() const override { return 0; }
  void QueryDone(const QueryOutcome& outcome) override { rows = outcome.kind == QueryOutcome::Kind::kRows; }
  void CarrierFound(std::string_view) override {}
  bool PhoneNeeded(std::string_view, std::string_view) override { return false; }
  void ServiceRefused(const TrackingService&, const ServiceAnswer&) override {}
  void ServiceReached(const TrackingService&, bool) override {}
  bool DetectionOff(const TrackingService&) const override { return refused; }
  void DetectionNotOffered(const TrackingService&) override { refused = true; }
  bool rows = false;
  bool refused = false;  // the account's detection is known to be none
};

// One press without a courier picked: the keyed requests it sent, and
// whether it ended with the parcel's rows.
std::pair<int, bool> Press(const Row& row, bool trial, bool refused) {
  Service service;
  NothingKept kept;
  Host host;
  host.refused = refused;
  QueryFlow flow(service, kept, host, 0);
  flow.SetServices({std::make_shared<Kuaidi100Service>(Kuaidi100Hosts{"poll.test", "detect.test"}, FetchLimits{},
                                                       Credentials{"CUSTOMER", "KEY"})},
                   false);
  flow.Start(QueryAsk{row.number, std::nullopt, "", ""});
  while (auto answer = service.Answer(row.courier, trial)) flow.OnTransferDone(answer->first, answer->second);
  return {service.sent, host.rows};
}

double Share(int part, int whole) { return whole == 0 ? 0.0 : 100.0 * part / whole; }

int RunBenchmark(const std::filesystem::path& table) {
  const std::string path = table.string();
  const std::vector<Row> rows = ReadTable(table);
  if (rows.empty()) {
    std::printf("no numbers read from %s\n", path.c_str());
    return 0;
  }
  struct Tally {
    int numbers = 0, top1 = 0, top3 = 0;
  };
  std::map<std::string, Tally> per_courier;
  Tally all, lettered;
  int lettered_certain = 0;
  for (const Row& row : rows) {
    const std::vector<CourierGuess> guesses = GuessCouriers(row.number);
    int rank = 0;
    for (std::size_t index = 0; index < guesses.size() && rank == 0; ++index) {
      if (guesses[index].courier->code == row.courier) rank = static_cast<int>(index) + 1;
    }
    for (Tally* tally : {&per_courier[row.courier], &all}) {
      ++tally->numbers;
      tally->top1 += rank == 1;
      tally->top3 += rank >= 1 && rank <= 3;
    }
    if (HasLetter(row.number)) {
      ++lettered.numbers;
      lettered.top1 += rank == 1;
      lettered_certain += rank == 1 && guesses.front().certain;
    }
  }
  std::printf("courier guess over %zu numbers (%s)\n\n", rows.size(), path.c_str());
  std::printf("%-18s %8s %7s %7s\n", "courier", "numbers", "top-1", "top-3");
  for (const auto& [code, tally] : per_courier) {
    std::printf("%-18s %8d %6.1f%% %6.1f%%\n", code.c_str(), tally.numbers, Share(tally.top1, tally.numbers),
                Share(tally.top3, tally.numbers));
  }
  std::printf("%-18s %8d %6.1f%% %6.1f%%   goals 85 %% / 97 %%\n", "overall", all.numbers,
              Share(all.top1, all.numbers), Share(all.top3, all.numbers));
  std::printf("with letters: %d of %d right, %d of them certain\n\n", lettered.top1, lettered.numbers,
              lettered_certain);

  // Keyed requests per press, and how many presses end with the rows.
  struct Cost {
    int requests = 0, found = 0, most = 0;
  };
  Cost trial_first, trial, full;
  for (const Row& row : rows) {
    // A trial account's first press asks detection once; later ones know it has none.
    for (auto [cost, is_trial, refused] : {std::tuple{&trial_first, true, false}, std::tuple{&trial, true, true},
                                           std::tuple{&full, false, false}}) {
      const auto [requests, found] = Press(row, is_trial, refused);
      cost->requests += requests;
      cost->found += found;
      cost->most = std::max(cost->most, requests);
    }
  }
  const auto n = static_cast<double>(rows.size());
  std::printf("keyed requests per press without a courier picked (detection + queries)\n");
  std::printf("  trial account, first press ever  %.2f on average, at most %d; parcel found %.1f%%\n",
              trial_first.requests / n, trial_first.most, Share(trial_first.found, all.numbers));
  std::printf("  trial account, later presses     %.2f on average, at most %d; parcel found %.1f%%\n",
              trial.requests / n, trial.most, Share(trial.found, all.numbers));
  std::printf("  full account                     %.2f on average, at most %d; parcel found %.1f%%\n",
              full.requests / n, full.most, Share(full.found, all.numbers));
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
