// Whole-program benchmarks: the real quenzil.exe driven from outside through
// its window, each figure beside its floor or anchor measured in the same
// run. One mode per run:
//   bench_app latency COUNT         click on 开始查询 to rows, this program and the
//                                   previous release, interleaved, beside a plain GET
//   bench_app keyed COUNT           the same through each service alone (快递100's
//                                   keyed API, 快递鸟, AppCode; HTTPS) beside a plain
//                                   HTTPS request of the same bytes
//   bench_app waitcpu REPEATS       CPU while a query waits 2.8 s, beside the naive anchor
//   bench_app hidden SECONDS        CPU hidden in the notification area: no parcel
//                                   watched, 200 watched, and the naive anchor
//   bench_app startup COUNT STALLED start to visible window beside a minimal window;
//                                   200 watched beside none; a stalled maker site
//   bench_app memory COUNT ROWS     memory after 0/10/50/COUNT queries of a 1 MiB answer
//   bench_app list COUNT            关注列表 with 200 parcels: the first open (the window
//                                   made) and a filter's click to its rows, beside
//                                   a bare report list of 200 rows made here
// Programs come from the environment (Windows paths): QUENZIL_BENCH_EXE (this
// program), QUENZIL_BENCH_BEFORE_EXE (the previous release),
// QUENZIL_BENCH_NAIVE_EXE (the naive anchor: spinning wait, 1 ms clock),
// QUENZIL_BENCH_MINIMAL_EXE (a window and nothing else). The fake server
// listens on the hosts compiled into this build. Results are "RESULT key
// value" lines; CPU and memory are the host kernel's figures for the Wine
// process running the exe (Wine reports about nothing for another process).
#include <windows.h>

#include <commctrl.h>

#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "common/utf.h"
#include "driver.h"
#include "window/control_ids.h"

namespace {

using namespace bench;
namespace ids = quenzil::ids;

constexpr wchar_t kFormClass[] = L"QuenzilForm1";
constexpr wchar_t kMinimalClass[] = L"QuenzilBenchMinimal";
constexpr std::size_t kWatched = 200;
// The old service's answer with three rows, and a keyed answer of three
// events (a heading row and two rows per event).
constexpr wchar_t kRowsNumber[] = L"rows3";
constexpr LRESULT kRows = 3;
constexpr char kKeyedNumber[] = "KEYED1";
constexpr LRESULT kKeyedRows = 7;

std::wstring Exe(const wchar_t* variable) {
  const std::wstring exe = EnvironmentText(variable);
  if (exe.empty()) Note("a program's path is not set: " + quenzil::Narrow(variable));
  return exe;
}

// The program started, shown and with a courier picked.
std::unique_ptr<Program> StartForQueries(const std::wstring& exe) {
  auto program = Program::Launch(exe, kFormClass);
  if (!program || !program->WaitVisible(20s) || !program->SelectCarrier(ids::kYuantong)) {
    Note("cannot start a program for queries");
    return nullptr;
  }
  return program;
}

// One click on 开始查询 to `rows` rows in List1, in milliseconds; List1 is
// polled without pause, as the time of a person looking is not measured.
std::optional<double> TimedQuery(Program& program, const std::wstring& number, LRESULT rows) {
  if (!program.PrepareQuery(number)) {
    Note("cannot prepare a query");
    return std::nullopt;
  }
  const auto start = Clock::now();
  if (!program.PostQueryClick() || !program.WaitForRowCount(rows, 15s, 0ms)) {
    Note("a query did not show its rows");
    return std::nullopt;
  }
  return MillisSince(start);
}

std::optional<double> TimedPlain(const quenzil::FetchRequest& request,
                                 DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY) {
  const auto start = Clock::now();
  if (!PlainRequest(request, access)) {
    Note("a plain request failed");
    return std::nullopt;
  }
  return MillisSince(start);
}

// Sets up what the program finds at start.
bool Setup(bool key, std::size_t watched) {
  if (!StoreCredentials(key)) {
    Note("cannot store or remove the key");
    return false;
  }
  if (!WriteWatchList(watched)) {
    Note("cannot write or remove the watch list");
    return false;
  }
  return true;
}

int Latency(int count) {
  if (!Setup(false, 0) || !ResetServer()) return 1;
  // Blocks of each program in turn, so a slower stretch of the machine
  // falls on both.
  const int blocks = count >= 9 ? 3 : 1;
  const std::pair<const char*, std::wstring> programs[] = {{"after", Exe(L"QUENZIL_BENCH_EXE")},
                                                           {"before", Exe(L"QUENZIL_BENCH_BEFORE_EXE")}};
  std::map<std::string, std::vector<double>> millis;
  std::optional<quenzil::FetchRequest> floor;
  for (int block = 0; block < blocks; ++block) {
    for (const auto& [label, exe] : programs) {
      auto program = StartForQueries(exe);
      // A first query, untimed: it warms both sides and tells the exact address.
      if (!program || !TimedQuery(*program, kRowsNumber, kRows)) return 1;
      if (!floor) {
        const auto requests = ServerLogLines("/api");
        if (requests.empty() || !PlainRequest(TrackingGet(requests.back()))) {
          Note("the plain GET of the query's address failed");
          return 1;
        }
        floor = TrackingGet(requests.back());
      }
      const int rounds = count / blocks + (block == blocks - 1 ? count % blocks : 0);
      for (int round = 0; round < rounds; ++round) {
        const auto query = TimedQuery(*program, kRowsNumber, kRows);
        const auto plain = TimedPlain(*floor);
        const auto direct = TimedPlain(*floor, WINHTTP_ACCESS_TYPE_NO_PROXY);
        if (!query || !plain || !direct) return 1;
        millis[label].push_back(*query);
        millis["floor"].push_back(*plain);
        millis["floor_no_proxy"].push_back(*direct);
      }
    }
  }
  for (const auto& [label, values] : millis) ResultSpread("latency." + label, values);
  return 0;
}

// Through each service alone, beside a plain HTTPS request of the same bytes.
int Keyed(int count) {
  if (!ResetServer() || !WriteWatchList(0)) return 1;
  const std::wstring number = quenzil::Widen(kKeyedNumber);
  for (const char* service : {"kuaidi100", "kdniao", "appcode"}) {
    const std::string name = service;
    const std::string behaviour_key = (name == "kuaidi100" ? "poll:" : name + ":") + kKeyedNumber;
    if (!StoreServiceAccount(name) || !SetBehavior(behaviour_key, "file:" + name + "-a.json")) return 1;
    const quenzil::FetchRequest floor = ServiceRequestFor(name, kKeyedNumber);
    std::map<std::string, std::vector<double>> millis;
    auto program = StartForQueries(Exe(L"QUENZIL_BENCH_EXE"));
    // Untimed: the first secure request of a process loads the root certificates.
    if (!program || !TimedQuery(*program, number, kKeyedRows) || !TimedPlain(floor)) return 1;
    for (int round = 0; round < count; ++round) {
      const auto query = TimedQuery(*program, number, kKeyedRows);
      const auto plain = TimedPlain(floor);
      if (!query || !plain) return 1;
      millis["program"].push_back(*query);
      millis["floor"].push_back(*plain);
    }
    for (const auto& [label, values] : millis) ResultSpread("keyed." + name + "." + label, values);
  }
  return Setup(false, 0) ? 0 : 1;
}

int WaitCpu(int repeats) {
  if (!Setup(false, 0) || !ResetServer()) return 1;
  const std::pair<const char*, std::wstring> programs[] = {{"after", Exe(L"QUENZIL_BENCH_EXE")},
                                                           {"naive", Exe(L"QUENZIL_BENCH_NAIVE_EXE")}};
  for (const auto& [label, exe] : programs) {
    auto program = StartForQueries(exe);
    const auto pid = program ? program->HostPid() : std::nullopt;
    if (!pid) return 1;
    double cpu_s = 0, wall_ms = 0;
    for (int round = 0; round < repeats; ++round) {
      // Just under the per-step time-out (3 s) of the bench build.
      if (!program->PrepareQuery(L"slow:2800:rows3")) return 1;
      const auto cpu_before = HostCpuSeconds(*pid);
      const auto start = Clock::now();
      if (!program->PostQueryClick()) return 1;
      // Nothing disturbs the program while it waits; only then is the list read.
      std::this_thread::sleep_for(2800ms);
      if (!program->WaitForRowCount(kRows, 10s, 50ms)) return 1;
      wall_ms += MillisSince(start);
      const auto cpu_after = HostCpuSeconds(*pid);
      if (!cpu_before || !cpu_after) {
        Note("cannot read a program's CPU time");
        return 1;
      }
      cpu_s += *cpu_after - *cpu_before;
    }
    const std::string key = std::string("waitcpu.") + label;
    Result(key + ".wall_s", wall_ms / 1000);
    Result(key + ".cpu_s", cpu_s);
    Result(key + ".share_pct", 100 * cpu_s / (wall_ms / 1000));
  }
  return 0;
}

int Hidden(int seconds) {
  if (!ResetServer()) return 1;
  struct Arm {
    const char* label;
    std::wstring exe;
    std::size_t watched;
    double cpu_s = 0;
    double wall_s = 0;
  };
  // Both arms of this program hold a key, so a watched parcel could be refreshed.
  Arm arms[] = {{"after", Exe(L"QUENZIL_BENCH_EXE"), 0},
                {"watched", Exe(L"QUENZIL_BENCH_EXE"), kWatched},
                {"naive", Exe(L"QUENZIL_BENCH_NAIVE_EXE"), 0}};
  // Two halves, the arms in turn in each.
  for (int half = 0; half < 2; ++half) {
    for (Arm& arm : arms) {
      if (!Setup(true, arm.watched)) return 1;
      auto program = Program::Launch(arm.exe, kFormClass);
      const auto pid = program && program->WaitVisible(20s) ? program->HostPid() : std::nullopt;
      if (!pid || !program->HideToTray()) return 1;
      std::this_thread::sleep_for(1s);  // the hiding and the watch list's loading settle
      const auto cpu_before = HostCpuSeconds(*pid);
      const auto start = Clock::now();
      std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 500));
      const double wall_s = MillisSince(start) / 1000;
      const auto cpu_after = HostCpuSeconds(*pid);
      if (!cpu_before || !cpu_after || program->Visible()) {
        Note("cannot read a program's CPU time, or its window came back by itself");
        return 1;
      }
      arm.cpu_s += *cpu_after - *cpu_before;
      arm.wall_s += wall_s;
    }
  }
  for (const Arm& arm : arms) {
    const std::string key = std::string("hidden.") + arm.label;
    Result(key + ".wall_s", arm.wall_s);
    Result(key + ".cpu_s", arm.cpu_s);
    Result(key + ".share_pct", 100 * arm.cpu_s / arm.wall_s);
  }
  return Setup(false, 0) ? 0 : 1;
}

std::optional<double> StartMillis(const std::wstring& exe, const wchar_t* window_class, Millis limit) {
  auto program = Program::Launch(exe, window_class);
  return program ? program->WaitVisible(limit) : std::nullopt;
}

int Startup(int count, int stalled) {
  if (!ResetServer()) return 1;
  struct Arm {
    const char* label;
    std::wstring exe;
    const wchar_t* window_class;
    bool key;
    std::size_t watched;
    std::vector<double> millis;
  };
  const std::wstring exe = Exe(L"QUENZIL_BENCH_EXE");
  Arm arms[] = {{"program", exe, kFormClass, false, 0, {}},
                {"minimal", Exe(L"QUENZIL_BENCH_MINIMAL_EXE"), kMinimalClass, false, 0, {}},
                {"keyed", exe, kFormClass, true, 0, {}},
                {"watched", exe, kFormClass, true, kWatched, {}}};
  // Round 0 warms every arm up and is not counted: a first start loads more.
  // The arms take turns, in reverse order every other round.
  constexpr std::size_t kArms = std::size(arms);
  for (int round = 0; round <= count; ++round) {
    for (std::size_t turn = 0; turn < kArms; ++turn) {
      Arm& arm = arms[round % 2 ? kArms - 1 - turn : turn];
      if (!Setup(arm.key, arm.watched)) return 1;
      const auto shown = StartMillis(arm.exe, arm.window_class, 20s);
      if (!shown) return 1;
      if (round > 0) arm.millis.push_back(*shown);
    }
  }
  for (const Arm& arm : arms) ResultSpread(std::string("startup.") + arm.label, arm.millis);
  // The watch list's cost, round by round: a slow stretch of the machine
  // falls on both starts of a round.
  const Arm& keyed = arms[2];
  const Arm& watched = arms[3];
  std::vector<double> watch_cost;
  for (int round = 0; round < count; ++round) watch_cost.push_back(watched.millis[round] - keyed.millis[round]);
  Result("startup.watch_cost.median_ms", Median(watch_cost));
  if (stalled > 0) {
    if (!Setup(false, 0) || !SetBehavior("gengxin.txt", "stall")) return 1;
    std::vector<double> millis;
    for (int round = 0; round < stalled; ++round) {
      const auto shown = StartMillis(exe, kFormClass, 30s);
      if (!shown) return 1;
      millis.push_back(*shown);
    }
    ResultSpread("startup.stalled", millis);
    if (!ResetServer()) return 1;
  }
  return Setup(false, 0) ? 0 : 1;
}

int Memory(int count, int rows) {
  if (!Setup(false, 0) || !ResetServer()) return 1;
  {
    // Wine's own baseline: the minimal window, shown and idle.
    auto minimal = Program::Launch(Exe(L"QUENZIL_BENCH_MINIMAL_EXE"), kMinimalClass);
    const auto pid = minimal && minimal->WaitVisible(20s) ? minimal->HostPid() : std::nullopt;
    std::this_thread::sleep_for(1s);
    const auto resident = pid ? HostResident(*pid) : std::nullopt;
    if (!resident) {
      Note("cannot read the minimal window's memory");
      return 1;
    }
    ResultResident("memory.minimal", *resident);
  }
  auto program = StartForQueries(Exe(L"QUENZIL_BENCH_EXE"));
  const auto pid = program ? program->HostPid() : std::nullopt;
  if (!pid) return 1;
  std::this_thread::sleep_for(1s);
  std::vector<double> millis;
  for (int query = 0; query <= count; ++query) {
    if (query > 0) {
      const auto shown = TimedQuery(*program, L"big1m", rows);
      if (!shown) return 1;
      millis.push_back(*shown);
    }
    if (query == 0 || query == 10 || query == 50 || query == count) {
      const auto resident = HostResident(*pid);
      if (!resident) {
        Note("cannot read the program's memory");
        return 1;
      }
      ResultResident("memory.q" + std::to_string(query), *resident);
    }
  }
  Result("memory.count", count);
  Result("memory.rows", rows);
  ResultSpread("memory.query", millis);
  return 0;
}

constexpr wchar_t kListCaption[] = L"关注列表";
constexpr int kListParcels = 310;   // the list window's report list
constexpr int kFilterAll = 300;     // its 全部 button
constexpr int kFilterDone = 306;    // 已完成

LRESULT RowsOf(HWND list) {
  DWORD_PTR rows = 0;
  if (::SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &rows) == 0) return -1;
  return static_cast<LRESULT>(rows);
}

// The floor: a report list of 200 rows drawn on demand, in a window of its
// own, made and shown in this process.
LRESULT CALLBACK BareProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NOTIFY) {
    auto* shown = reinterpret_cast<NMLVDISPINFOW*>(lparam);
    if (shown->hdr.code == LVN_GETDISPINFOW && (shown->item.mask & LVIF_TEXT) != 0) {
      ::lstrcpynW(shown->item.pszText, L"YT0000000001000", shown->item.cchTextMax);
    }
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

std::vector<double> bare_filter;  // the bare list's rows gone and back, in turn

std::optional<double> BareListMillis() {
  const auto start = Clock::now();
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = BareProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"QuenzilBenchBareList";
  ::RegisterClassExW(&window_class);  // already there after the first round
  HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"bare", WS_OVERLAPPEDWINDOW, 0, 0, 900, 500, nullptr,
                                  nullptr, window_class.hInstance, nullptr);
  HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA, 0, 0, 880, 460,
                                window, nullptr, window_class.hInstance, nullptr);
  if (window == nullptr || list == nullptr) return std::nullopt;
  for (int column = 0; column < 9; ++column) {
    LVCOLUMNW head{};
    head.mask = LVCF_TEXT | LVCF_WIDTH;
    head.pszText = const_cast<wchar_t*>(L"列");
    head.cx = 90;
    ::SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&head));
  }
  ::SendMessageW(list, LVM_SETITEMCOUNT, 200, 0);
  ::ShowWindow(window, SW_SHOW);
  ::UpdateWindow(window);
  const double millis = MillisSince(start);
  // The bare list's part of a filter's click: its rows gone and back.
  const auto emptied = Clock::now();
  ::SendMessageW(list, LVM_SETITEMCOUNT, 0, LVSICF_NOSCROLL);
  bare_filter.push_back(MillisSince(emptied));
  const auto refilled = Clock::now();
  ::SendMessageW(list, LVM_SETITEMCOUNT, 200, LVSICF_NOSCROLL);
  bare_filter.push_back(MillisSince(refilled));
  ::DestroyWindow(window);
  return millis;
}

// Polls until the list holds `rows` rows; the milliseconds from `start`.
// A millisecond between looks: a look is a message into the program, and
// looking without a pause would slow the very thread it times.
std::optional<double> UntilRows(HWND list, LRESULT rows, Clock::time_point start) {
  while (MillisSince(start) < 10000) {
    if (RowsOf(list) == rows) return MillisSince(start);
    std::this_thread::sleep_for(1ms);
  }
  Note("the list did not show its rows");
  return std::nullopt;
}

int ListWindow(int count) {
  if (!ResetServer()) return 1;
  std::vector<double> opened, bare, filtered, unchanged;
  for (int round = 0; round <= count; ++round) {
    if (!Setup(true, kWatched)) return 1;
    auto program = Program::Launch(Exe(L"QUENZIL_BENCH_EXE"), kFormClass);
    if (!program || !program->WaitVisible(20s)) return 1;
    std::this_thread::sleep_for(500ms);  // the watch list read
    const auto start = Clock::now();
    ::PostMessageW(program->window(), WM_SYSCOMMAND, 0x0180, 0);
    HWND shown = nullptr;
    while (shown == nullptr && MillisSince(start) < 10000) {
      shown = program->FindShown(kListCaption);
      if (shown == nullptr) std::this_thread::yield();
    }
    const HWND list = shown != nullptr ? ::GetDlgItem(shown, kListParcels) : nullptr;
    const auto open = list != nullptr ? UntilRows(list, kWatched, start) : std::nullopt;
    if (!open) return 1;
    const auto floor = BareListMillis();
    if (!floor) return 1;
    // A filter's click, sent so that it returns once the window has handled
    // it: 已完成 (none of them) and back to 全部; beside the same click on
    // the filter already shown, which changes nothing.
    // The button has the keys first (untimed), as after a person's Tab:
    // the click itself moves no focus.
    const auto click = [&](int button) {
      DWORD_PTR ignored = 0;
      ::SendMessageTimeoutW(shown, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(shown, button)), TRUE,
                            SMTO_ABORTIFHUNG, 5000, &ignored);
      const auto start = Clock::now();
      ::SendMessageTimeoutW(::GetDlgItem(shown, button), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
      return MillisSince(start);
    };
    const double done = click(kFilterDone);
    const double done_again = click(kFilterDone);
    const double all = click(kFilterAll);
    const double all_again = click(kFilterAll);
    if (RowsOf(list) != static_cast<LRESULT>(kWatched)) {
      Note("the filters did not show their rows");
      return 1;
    }
    if (round == 0) continue;  // warms both up
    opened.push_back(*open);
    bare.push_back(*floor);
    filtered.push_back(done);
    filtered.push_back(all);
    unchanged.push_back(done_again);
    unchanged.push_back(all_again);
  }
  ResultSpread("list.open", opened);
  ResultSpread("list.bare", bare);
  ResultSpread("list.filter", filtered);
  ResultSpread("list.filter_same", unchanged);
  ResultSpread("list.bare_filter", bare_filter);
  return Setup(false, 0) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  const auto number = [&](int index, int fallback) { return Argument(argc, argv, index, fallback); };
  if (mode == L"latency") return Latency(number(2, 30));
  if (mode == L"keyed") return Keyed(number(2, 30));
  if (mode == L"waitcpu") return WaitCpu(number(2, 3));
  if (mode == L"hidden") return Hidden(number(2, 60));
  if (mode == L"startup") return Startup(number(2, 10), number(3, 2));
  if (mode == L"memory") return Memory(number(2, 100), number(3, 0));
  if (mode == L"list") return ListWindow(number(2, 10));
  Note("usage: bench_app latency|keyed|waitcpu|hidden|startup|memory|list [numbers]");
  return 2;
}
