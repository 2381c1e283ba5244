// Times ReadPollAnswer + ResultRows over realistic poll answers (thousands
// of events with Chinese contexts) next to floors measured in the same run:
// nlohmann's accept over the same bytes (validating the JSON and nothing
// more), nlohmann's full document parse (what a document-based reader would
// pay before looking at a field), and a plain scan of every byte.
// Goal: a 1 MiB answer read in at most 20 ms under Wine.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "query/couriers.h"
#include "query/parcel_state.h"
#include "query/services/kuaidi100.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr double kGoalMs = 20.0;

// Newest first, as a server that ignores order=asc sends it: the reader
// turns the events round too.
std::string PollAnswerOfSize(std::size_t size, std::size_t& events) {
  static const char* const kPlaces[] = {"上海", "杭州", "广州", "北京", "成都", "武汉"};
  static const char* const kSteps[] = {
      "【{p}分拨中心】已发出，下一站【{q}转运中心】",
      "【{p}转运中心】已收入，快件正在进行分拣作业，请耐心等待",
      "【{p}市浦东新区公司】派件员：王师傅 电话：13800000000 当前正在为您派件",
      "快件已在【{p}市浦东新区公司】签收，签收人：本人，如有疑问请联系派件员",
  };
  std::string body =
      R"({"message":"ok","nu":"YT7712345678901","ischeck":"0","com":"yuantong",)"
      R"("status":"200","state":"0","condition":"F00","data":[)";
  events = 0;
  const std::size_t total_minutes = 60 * 24 * 365;
  while (body.size() < size - 256) {
    const std::size_t minute = total_minutes - events * 7;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "2024-%02zu-%02zu %02zu:%02zu:00", 1 + minute / 43200 % 12,
                  1 + minute / 1440 % 28, minute / 60 % 24, minute % 60);
    std::string context = kSteps[events % 4];
    context.replace(context.find("{p}"), 3, kPlaces[events % 6]);
    if (const std::size_t q = context.find("{q}"); q != std::string::npos) {
      context.replace(q, 3, kPlaces[(events + 1) % 6]);
    }
    if (events != 0) body += ',';
    body += R"({"time":")";
    body += stamp;
    body += R"(","ftime":")";
    body += stamp;
    body += R"(","context":")";
    body += context;
    body += R"(","areaName":")";
    body += kPlaces[events % 6];
    body += R"(市","status":"在途"})";
    ++events;
  }
  body += "]}";
  return body;
}

struct Case {
  const char* name;
  std::function<void()> work;
  std::vector<double> ms;
};

// Runs every case once per round, after one round of warming up, so that a
// change of machine load meets all of them alike; median per case, in ms.
void MeasureInRounds(std::vector<Case>& cases, int rounds) {
  for (int round = -1; round < rounds; ++round) {
    for (Case& one : cases) {
      const auto start = Clock::now();
      one.work();
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (round >= 0) one.ms.push_back(ms);
    }
  }
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

double Percentile90(std::vector<double> values) {
  const std::size_t at = values.size() * 9 / 10;
  std::nth_element(values.begin(), values.begin() + at, values.end());
  return values[at];
}

void Measure(const char* name, std::size_t size, int rounds) {
  std::size_t events = 0;
  const std::string body = PollAnswerOfSize(size, events);
  std::size_t rows = 0;
  bool ok = true;
  bool accepted = false;
  std::size_t elements = 0;
  unsigned sum = 0;
  std::vector<Case> cases;
  cases.push_back({"ReadPollAnswer + ResultRows", [&] {
                     const quenzil::PollAnswer answer = quenzil::ReadPollAnswer(body);
                     ok = answer.kind == quenzil::PollAnswer::Kind::kResult &&
                          answer.result.events.size() == events &&
                          answer.result.events.front().time < answer.result.events.back().time;
                     rows = quenzil::ResultRows(answer.result,
                                                quenzil::CarrierName(answer.result.carrier_code))
                                .size();
                   }, {}});
  cases.push_back({"ReadPollAnswer alone", [&] { (void)quenzil::ReadPollAnswer(body); }, {}});
  cases.push_back({"floor: nlohmann::json::accept", [&] { accepted = nlohmann::json::accept(body); }, {}});
  cases.push_back({"nlohmann::json::parse (document)", [&] {
                     elements = nlohmann::json::parse(body).at("data").size();
                   }, {}});
  // Summing the bytes makes the scan read every one of them.
  cases.push_back({"floor: byte scan", [&] {
                     unsigned s = 0;
                     for (const char c : body) s += static_cast<unsigned char>(c);
                     sum = s;
                   }, {}});
  MeasureInRounds(cases, rounds);

  const bool right = ok && accepted && elements == events && sum != 0;
  std::printf("%s: %zu bytes, %zu events, %zu rows, %d rounds%s\n", name, body.size(), events,
              rows, rounds, right ? "" : "  (WRONG RESULT)");
  std::printf("  %-34s %10s %10s %10s %s\n", "", "median", "p90", "MB/s", "read+rows / this");
  const double full = Median(cases[0].ms);
  const double megabytes = static_cast<double>(body.size()) / 1e6;
  for (const Case& one : cases) {
    const double median = Median(one.ms);
    std::printf("  %-34s %7.3f ms %7.3f ms %10.1f %8.2fx\n", one.name, median,
                Percentile90(one.ms), megabytes / median * 1e3, full / median);
  }
  if (size == kMiB) {
    std::printf("  goal: 1 MiB in at most %.0f ms: %s\n", kGoalMs, full <= kGoalMs ? "met" : "NOT met");
  }
}

int RunBenchmark() {
  Measure("poll answer 1 MiB", kMiB, 30);
  Measure("poll answer 16 MiB (the limit)", 16 * kMiB - 64, 5);
  return 0;
}

}  // namespace

// Programs of the Windows build are linked as Unicode, entering at wmain.
#ifdef _WIN32
int wmain() { return RunBenchmark(); }
#else
int main() { return RunBenchmark(); }
#endif
