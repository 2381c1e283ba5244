// The watch list's background refresh at full speed: the real WatchKeeper
// with WinHttpTransfers against the fake keyed API over HTTPS, saving to a
// real watch.json through WatchFileStore, on a clock of its own that jumps
// to whatever moment the keeper next asks to be woken, so a refresh is due
// at once. The program itself refreshes a parcel at most once an interval;
// this compresses days of refreshes into seconds.
//   bench_watch WATCH_FILE [REFRESHES [PARCELS]]    default 1000 refreshes of 200
// Half of the parcels get the same answer every time; the others alternate
// between that answer and one with a new event, so every other refresh of
// theirs merges new events and notifies. Prints the VmHWM/VmRSS of the host
// process running this exe (read through drive Z:) after loading and after
// 100, 500 and REFRESHES refreshes, and the refreshes per second.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "app/watch_keeper.h"
#include "bench_support.h"
#include "common/utf.h"
#include "deploy_config.h"
#include "platform/watch_file_store.h"
#include "query/services/kuaidi100.h"
#include "web/transfers_winhttp.h"

namespace {

using namespace bench;
using quenzil::FetchOutcome;
using quenzil::TransferId;
using quenzil::UnixSeconds;

// Outcomes handed over from the transfers' workers.
class Outcomes {
 public:
  void Deliver(TransferId id, FetchOutcome outcome) {
    {
      std::lock_guard lock(mutex_);
      queue_.emplace_back(id, std::move(outcome));
    }
    ready_.notify_one();
  }
  std::optional<std::pair<TransferId, FetchOutcome>> Take(Millis limit) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, limit, [&] { return !queue_.empty(); })) return std::nullopt;
    auto taken = std::move(queue_.front());
    queue_.pop_front();
    return taken;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::pair<TransferId, FetchOutcome>> queue_;
};

// The transfers, counted: which of them are still out.
class CountedTransfers final : public quenzil::Transfers {
 public:
  explicit CountedTransfers(quenzil::Transfers& inner) : inner_(inner) {}
  TransferId Start(quenzil::FetchRequest request) override {
    const TransferId id = inner_.Start(std::move(request));
    out_.insert(id);
    return id;
  }
  void Cancel(TransferId id) override {
    out_.erase(id);
    inner_.Cancel(id);
  }
  bool Done(TransferId id) { return out_.erase(id) > 0; }
  bool busy() const { return !out_.empty(); }

 private:
  quenzil::Transfers& inner_;
  std::set<TransferId> out_;
};

// The program's side of the keeper, on a clock that the bench moves.
class BenchHost final : public quenzil::WatchHost {
 public:
  explicit BenchHost(quenzil::WatchStore& store) : store_(store) {}
  UnixSeconds Now() const override { return now_; }
  std::int64_t UtcOffset(UnixSeconds) const override { return 0; }
  void RefreshRefused(const quenzil::TrackingService&, const quenzil::ServiceAnswer&) override {}
  std::shared_ptr<const quenzil::TrackingService> ServiceFor(const quenzil::WatchedParcel&) const override {
    return service_;
  }
  bool AskedByHand(std::string_view) const override { return false; }
  std::optional<quenzil::KeptAnswer> Kept(std::string_view, std::string_view) const override { return std::nullopt; }
  void WakeAt(std::optional<UnixSeconds> when) override { wake_ = when; }
  bool Save(const quenzil::WatchList& list) override {
    ++saves_;
    const bool saved = store_.Save(list);
    if (!saved) ++failed_saves_;
    return saved;
  }
  void Notify(std::string_view, std::string_view, std::string_view, std::string_view) override { ++notices_; }
  void WatchListChanged() override {}

  // Jumps to the moment the keeper asked for; false when it asked for none.
  bool JumpToWake() {
    if (!wake_) return false;
    now_ = std::max(now_, *wake_);
    return true;
  }

  UnixSeconds now_ = UnixNow();
  std::optional<UnixSeconds> wake_;
  int saves_ = 0;
  int failed_saves_ = 0;
  int notices_ = 0;
  std::shared_ptr<const quenzil::TrackingService> service_;

 private:
  quenzil::WatchStore& store_;
};

// Round `round` of answers: odd parcels get the answer with the new event in
// odd rounds.
bool SetAnswers(std::size_t parcels, int round) {
  for (std::size_t index = 0; index < parcels; ++index) {
    if (round > 0 && index % 2 == 0) continue;  // the same answer all along
    const bool grown = index % 2 == 1 && round % 2 == 1;
    if (!SetBehavior("poll:" + WatchedNumber(index), grown ? "file:poll-b.json" : "file:poll-a.json")) {
      Note("cannot set the fake server's answers");
      return false;
    }
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    Note("usage: bench_watch WATCH_FILE [REFRESHES [PARCELS]]");
    return 2;
  }
  const std::string path = quenzil::Narrow(argv[1]);
  const int refreshes = Argument(argc, argv, 2, 1000);
  const auto parcels = static_cast<std::size_t>(Argument(argc, argv, 3, 200));
  ::DeleteFileW(argv[1]);
  if (!ResetServer() || !SetAnswers(parcels, 0)) return 1;

  Outcomes outcomes;
  quenzil::WinHttpTransfers winhttp([&outcomes](TransferId id, FetchOutcome outcome) {
    outcomes.Deliver(id, std::move(outcome));
  });
  // Untimed: the first secure request of a process loads the root certificates.
  winhttp.Start(PollRequestFor(WatchedNumber(0)));
  if (const auto first = outcomes.Take(30s); !first || !first->second.ok) {
    Note("the keyed API does not answer");
    return 1;
  }

  quenzil::WatchFileStore store(path);
  // As the program does: the file is read (here: found missing) before it is written.
  store.Load();
  BenchHost host(store);
  CountedTransfers transfers(winhttp);
  quenzil::ScheduleSettings schedule;
  schedule.interval = quenzil::deploy::kWatchIntervalSeconds;
  // Every entry every interval, day and night: the most refreshes a run can make.
  schedule.requery_guard = 0;
  schedule.quiet_hours.reset();
  quenzil::WatchKeeper keeper(transfers, host, schedule);
  keeper.SetMode(quenzil::RefreshMode::kHourly);
  host.service_ = std::make_shared<quenzil::Kuaidi100Service>(
      quenzil::Kuaidi100Hosts{quenzil::deploy::kTrackingPollHost, quenzil::deploy::kTrackingDetectHost},
      quenzil::FetchLimits{}, TestCredentials());
  keeper.Load(BenchWatchList(parcels, host.Now()));
  if (!store.Save(keeper.list())) {
    Note("cannot write the watch file");
    return 1;
  }
  const auto own_pid = OwnHostPid();
  if (!own_pid) {
    Note("cannot find this process on the host");
    return 1;
  }
  if (const auto resident = HostResident(*own_pid)) ResultResident("watch.r0", *resident);

  int done = 0, failed = 0, idle_wakes = 0;
  double refresh_ms = 0;
  auto stretch = Clock::now();
  while (done < refreshes) {
    if (!transfers.busy()) {
      // Nothing out: the clock jumps to the keeper's next moment.
      if (!host.JumpToWake() || ++idle_wakes > 10 * refreshes) {
        Note("the keeper asks for no refresh");
        return 1;
      }
      keeper.OnWake();
      continue;
    }
    const auto taken = outcomes.Take(30s);
    if (!taken) {
      Note("a refresh did not end");
      return 1;
    }
    if (!transfers.Done(taken->first)) continue;  // one the keeper gave up
    if (!taken->second.ok) ++failed;
    keeper.OnTransferDone(taken->first, taken->second);
    ++done;
    if (done % static_cast<int>(parcels) == 0 || done == 100 || done == 500 || done == refreshes) {
      refresh_ms += MillisSince(stretch);
      if (done == 100 || done == 500 || done == refreshes) {
        const auto resident = HostResident(*own_pid);
        if (!resident) {
          Note("cannot read this process's memory");
          return 1;
        }
        ResultResident("watch.r" + std::to_string(done), *resident);
      }
      // A round is over: the alternating parcels change their answer.
      if (done % static_cast<int>(parcels) == 0 && !SetAnswers(parcels, done / static_cast<int>(parcels)))
        return 1;
      stretch = Clock::now();
    }
  }
  keeper.Stop();
  const auto file = ReadWholeFile(argv[1]);
  Result("watch.refreshes", done);
  Result("watch.parcels", static_cast<double>(parcels));
  Result("watch.per_second", done / (refresh_ms / 1000));
  Result("watch.failed", failed);
  Result("watch.saves", host.saves_);
  Result("watch.failed_saves", host.failed_saves_);
  Result("watch.notices", host.notices_);
  Result("watch.file_kib", file ? file->size() / 1024.0 : 0);
  Result("watch.simulated_hours", (host.now_ - UnixNow()) / 3600.0);
  return failed == 0 && host.failed_saves_ == 0 ? 0 : 1;
}
