// The 关注列表 window's rules over a full list: 200 watched parcels with 20
// events each, in every state and stage the buckets tell apart. It times
// Rebuild (the rows, their cells and buckets), SortBy on every column both
// ways and SetFilter on every filter: median and slowest of many rounds.
// Goal: each well under one frame (16 ms), so sorting or filtering never
// makes the list stutter. A benchmark, not a test: it always exits 0.
//   bench_table [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/watch_table.h"

namespace {

using namespace quenzil;
using Clock = std::chrono::steady_clock;

constexpr UnixSeconds kNow = 1796722200;  // 2026-12-08T09:30:00Z

// The newest events of the buckets, and the states they come with.
struct Kind {
  const char* state;
  const char* newest;
};
constexpr Kind kKinds[] = {
    {"0", "【上海市】快件已从 上海转运中心 发出，正在发往 杭州转运中心"},
    {"1001", "【杭州市】快件已到达 杭州转运中心，准备发往【杭州西湖营业部】"},
    {"5", "【杭州市】【杭州西湖营业部】快递员 王师傅 正在为您派件，电话 13800000000"},
    {"501", "【杭州市】快件已暂存至西湖文化广场菜鸟驿站，请凭取件码 8-2-1033 及时取件"},
    {"204", "【杭州市】派送不成功：电话无人接听，快件将于明日再次派送"},
    {"6", "【杭州市】收件人拒收，快件已退回寄件人"},
    {"3", "【杭州市】快件已签收，签收人：本人，如有疑问请联系派件员"},
    {"0", "【广州市】快件已到达 广州白云分拨中心"},
};

WatchList MakeList() {
  WatchList list;
  const char* couriers[] = {"yuantong", "zhongtong", "yunda", "shentong", "jtexpress", "shunfeng"};
  for (int i = 0; i < 200; ++i) {
    const Kind& kind = kKinds[i % std::size(kKinds)];
    WatchedParcel parcel;
    parcel.number = "YT" + std::to_string(4300000000000 + 7919LL * i);
    parcel.carrier = couriers[i % std::size(couriers)];
    if (i % 3 == 0) parcel.note = "客户订单 " + std::to_string(100000 + i) + " 王女士";
    parcel.state = kind.state;
    parcel.signed_for = parcel.state == "3";
    parcel.city = i % 2 ? "杭州市" : "上海市";
    parcel.service = i % 4 ? "kuaidi100" : "kdniao";
    for (int e = 0; e < 20; ++e) {
      char time[32];
      std::snprintf(time, sizeof time, "2026-12-%02d %02d:%02d:00", 1 + e / 4, (e * 5 + i) % 24, (i * 7) % 60);
      parcel.events.push_back({time, e == 19 ? kind.newest : "【上海市】快件已到达 上海转运中心", "", ""});
    }
    parcel.added = kNow - 7 * 86400;
    parcel.last_checked = kNow - (i * 37) % 7200;
    parcel.last_changed = kNow - (i % 5) * 86400;
    if (i % 10 == 9) parcel.put_away = kNow - 3600;
    list.parcels.push_back(std::move(parcel));
  }
  return list;
}

struct Figures {
  double median_ms = 0;
  double slowest_ms = 0;
};

Figures Time(int rounds, const std::function<void()>& step) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    step();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

void Print(const char* what, const Figures& figures) {
  std::printf("%-44s %9.3f ms %9.3f ms   %s\n", what, figures.median_ms, figures.slowest_ms,
              figures.slowest_ms < 16 ? "met" : "NOT MET");
}

int RunBenchmark(int rounds) {
  const WatchList list = MakeList();
  WatchTable table;
  std::printf("watch table over %zu parcels, %d rounds each\n\n", list.parcels.size(), rounds);
  std::printf("%-44s %12s %12s   goal < 16 ms\n", "step", "median", "slowest");
  Print("Rebuild", Time(rounds, [&] { table.Rebuild(list, kNow); }));
  std::vector<std::pair<Column, bool>> sorts;
  for (std::size_t column = 0; column < kColumnCount; ++column) {
    for (const bool ascending : {true, false}) sorts.emplace_back(static_cast<Column>(column), ascending);
  }
  std::size_t next = 0;
  Print("SortBy, every column both ways in turn", Time(rounds, [&] {
          const auto [column, ascending] = sorts[next++ % sorts.size()];
          table.SortBy(column, ascending);
        }));
  next = 0;
  Print("SetFilter, every filter in turn", Time(rounds, [&] { table.SetFilter(kFilters[next++ % kFilters.size()]); }));
  table.SetFilter(Filter::kAll);
  Print("Rebuild + SortBy + SetFilter (a list change)", Time(rounds, [&] {
          table.Rebuild(list, kNow);
          table.SortBy(Column::kLatestTime, false);
          table.SetFilter(Filter::kInTransit);
        }));
  std::printf("\nrows under each filter:");
  for (const Filter filter : kFilters) std::printf(" %s %zu", std::string(FilterName(filter)).c_str(), table.Count(filter));
  std::printf("\n");
  return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return RunBenchmark(argc > 1 ? std::max(1, _wtoi(argv[1])) : 500); }
#else
int main(int argc, char** argv) { return RunBenchmark(argc > 1 ? std::max(1, std::atoi(argv[1])) : 500); }
#endif
