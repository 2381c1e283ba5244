// Whole-program benchmarks of quenzil.exe, driven from outside through its
// window as the end-to-end tests drive it. One mode per run:
//   bench_app latency COUNT        click-to-rows time beside a plain WinHTTP GET
//   bench_app waitcpu REPEATS      CPU of the program while a query waits 2.8 s
//   bench_app hidden SECONDS       CPU of the program hidden in the notification area
//   bench_app startup COUNT STALLED  start to visible window, beside a minimal window
//   bench_app memory COUNT ROWS    resident memory after 10, 50, COUNT queries of "big1m"
// Settings come from the environment: QUENZIL_E2E_EXE (the program under
// test), QUENZIL_BENCH_MINIMAL_EXE (the minimal window program),
// QUENZIL_BENCH_CLK_TCK (the host's clock ticks per second). The fake server
// listens on the ports compiled into the program. CPU and memory are read
// from the host kernel's process files (drive Z: is the host's root), since
// the platform's own process counters report about nothing for another
// process here. Results are printed as "RESULT key value" lines.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "driver.h"
#include "window/control_ids.h"

namespace {

namespace ids = quenzil::ids;
using e2e::App;
using e2e::EnvironmentText;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned short kTrackingPort = 18761;
constexpr wchar_t kMinimalClass[] = L"QuenzilBenchMinimal";

double MillisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Result(const std::string& key, double value) {
  std::printf("RESULT %s %.3f\n", key.c_str(), value);
  std::fflush(stdout);
}

void Note(const char* text) {
  std::fprintf(stderr, "bench_app: %s\n", text);
  std::fflush(stderr);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

// ---- the host's process files ----------------------------------------------

std::optional<std::string> ReadHostFile(const std::wstring& host_path) {
  std::wstring path = L"Z:" + host_path;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  for (;;) {
    if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    content.append(buffer, got);
  }
  ::CloseHandle(file);
  if (!ok) return std::nullopt;
  return content;
}

std::set<unsigned long> HostPids() {
  std::set<unsigned long> pids;
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return pids;
  do {
    const std::wstring name = found.cFileName;
    if (!name.empty() && std::all_of(name.begin(), name.end(), iswdigit))
      pids.insert(std::wcstoul(name.c_str(), nullptr, 10));
  } while (::FindNextFileW(search, &found));
  if (!::FindClose(search)) Note("FindClose failed");
  return pids;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Host processes whose command line names this exe (a full path: Wine puts
// the Windows path of the exe there).
std::set<unsigned long> HostPidsRunning(const std::wstring& exe) {
  const std::string wanted = Lower(e2e::Narrow(exe));
  std::set<unsigned long> running;
  for (unsigned long pid : HostPids()) {
    const auto cmdline = ReadHostFile(L"/proc/" + std::to_wstring(pid) + L"/cmdline");
    if (cmdline && Lower(*cmdline).find(wanted) != std::string::npos) running.insert(pid);
  }
  return running;
}

// utime + stime of every thread of the process, in seconds.
std::optional<double> HostCpuSeconds(unsigned long pid) {
  const auto stat = ReadHostFile(L"/proc/" + std::to_wstring(pid) + L"/stat");
  if (!stat) return std::nullopt;
  const auto close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  // Fields after the name: state is field 3, utime 14, stime 15.
  std::vector<std::string> fields;
  std::size_t at = close + 2;
  while (at < stat->size()) {
    const auto end = stat->find(' ', at);
    fields.push_back(stat->substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  if (fields.size() < 13) return std::nullopt;
  const double ticks = std::strtod(fields[11].c_str(), nullptr) + std::strtod(fields[12].c_str(), nullptr);
  const std::wstring tck = EnvironmentText(L"QUENZIL_BENCH_CLK_TCK");
  const double per_second = tck.empty() ? 100.0 : std::wcstod(tck.c_str(), nullptr);
  return ticks / per_second;
}

// VmHWM and VmRSS in KiB.
struct Resident {
  double peak_kib = 0;
  double now_kib = 0;
};

std::optional<Resident> HostResident(unsigned long pid) {
  const auto status = ReadHostFile(L"/proc/" + std::to_wstring(pid) + L"/status");
  if (!status) return std::nullopt;
  const auto field = [&](std::string_view key) -> std::optional<double> {
    const auto at = status->find(std::string(key) + ":");
    if (at == std::string::npos) return std::nullopt;
    return std::strtod(status->c_str() + at + key.size() + 1, nullptr);
  };
  const auto peak = field("VmHWM"), now = field("VmRSS");
  if (!peak || !now) return std::nullopt;
  return Resident{*peak, *now};
}

// The host process of a program started after `before` was taken.
std::optional<unsigned long> WaitForNewHostPid(const std::wstring& exe,
                                               const std::set<unsigned long>& before) {
  std::optional<unsigned long> found;
  e2e::WaitUntil(
      [&] {
        for (unsigned long pid : HostPidsRunning(exe)) {
          if (!before.count(pid)) found = pid;
        }
        return found.has_value();
      },
      5s, 10ms);
  return found;
}

// ---- driving the program ---------------------------------------------------

std::optional<LRESULT> ListCount(HWND list) {
  DWORD_PTR count = 0;
  if (!::SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 3000, &count))
    return std::nullopt;
  return static_cast<LRESULT>(count);
}

struct Started {
  std::unique_ptr<App> app;
  unsigned long host_pid = 0;
};

std::optional<Started> StartProgram(bool with_carrier) {
  Started started;
  const std::wstring& exe = e2e::GetSettings().quenzil_exe;
  const auto before = HostPidsRunning(exe);
  started.app = App::Launch();
  if (!started.app) {
    Note("cannot start the program (QUENZIL_E2E_EXE)");
    return std::nullopt;
  }
  if (!started.app->WaitForWindow(20s)) {
    Note("no window");
    return std::nullopt;
  }
  const auto pid = WaitForNewHostPid(exe, before);
  if (!pid) {
    Note("cannot find the program's host process");
    return std::nullopt;
  }
  started.host_pid = *pid;
  if (with_carrier && !started.app->SelectCarrier(ids::kYuantong)) {
    Note("cannot select a carrier");
    return std::nullopt;
  }
  return started;
}

// Clears the list (placeholder only) and types the number.
bool PrepareQuery(App& app, const std::wstring& number) {
  if (!app.Click(ids::kCommand2)) return false;
  HWND list = app.Control(ids::kList1);
  if (!e2e::WaitUntil([&] { return ListCount(list) == 1; }, 5s, 1ms)) return false;
  return static_cast<bool>(app.TypeNumber(number)) && static_cast<bool>(app.Usable(ids::kChaxun));
}

bool PostQueryClick(App& app) {
  return ::PostMessageW(app.Control(ids::kChaxun), BM_CLICK, 0, 0) != FALSE;
}

// Polls List1 until it holds `rows` rows; step 0 polls without pause.
bool WaitForRowCount(App& app, LRESULT rows, std::chrono::milliseconds limit,
                     std::chrono::milliseconds step) {
  HWND list = app.Control(ids::kList1);
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto count = ListCount(list);
    if (count == rows) return true;
    if (Clock::now() >= deadline) {
      std::fprintf(stderr, "bench_app: List1 holds %ld rows, not %ld\n",
                   count ? static_cast<long>(*count) : -1L, static_cast<long>(rows));
      return false;
    }
    if (step.count() > 0) std::this_thread::sleep_for(step);
  }
}

// ---- the floor of a query: one plain WinHTTP GET ---------------------------

struct InternetHandle {
  HINTERNET handle = nullptr;
  explicit InternetHandle(HINTERNET h) : handle(h) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (handle != nullptr) ::WinHttpCloseHandle(handle);
  }
};

std::optional<std::size_t> PlainGet(unsigned short port, const std::wstring& target,
                                    DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY) {
  InternetHandle session(
      ::WinHttpOpen(L"bench", access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.handle) return std::nullopt;
  InternetHandle connection(::WinHttpConnect(session.handle, L"127.0.0.1", port, 0));
  if (!connection.handle) return std::nullopt;
  InternetHandle request(::WinHttpOpenRequest(connection.handle, L"GET", target.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  if (!request.handle) return std::nullopt;
  if (!::WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(request.handle, nullptr))
    return std::nullopt;
  std::size_t total = 0;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!::WinHttpReadData(request.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got))
      return std::nullopt;
    if (got == 0) break;
    total += got;
  }
  return total;
}

// ---- modes ------------------------------------------------------------------

int Latency(int count, int poll_step_ms) {
  auto started = StartProgram(true);
  if (!started) return 1;
  App& app = *started->app;
  const std::wstring number = L"rows3";
  // A first query, untimed: it warms both sides and tells the exact address.
  if (!e2e::ResetServer() || !PrepareQuery(app, number) || !PostQueryClick(app) ||
      !WaitForRowCount(app, 3, 10s, 10ms)) {
    Note("the first query did not show three rows");
    return 1;
  }
  const auto requests = e2e::ApiRequestsInServerLog();
  if (requests.empty()) {
    Note("the server saw no query");
    return 1;
  }
  const std::wstring target = e2e::Widen(requests.back());
  if (!PlainGet(kTrackingPort, target)) {
    Note("the plain GET failed");
    return 1;
  }
  std::vector<double> program_ms, floor_ms, direct_ms;
  for (int round = 0; round < count; ++round) {
    if (!PrepareQuery(app, number)) {
      Note("cannot prepare a query");
      return 1;
    }
    const auto start = Clock::now();
    if (!PostQueryClick(app) ||
        !WaitForRowCount(app, 3, 10s, std::chrono::milliseconds(poll_step_ms))) {
      Note("a query did not show three rows");
      return 1;
    }
    program_ms.push_back(MillisSince(start));
    const auto floor_start = Clock::now();
    if (!PlainGet(kTrackingPort, target)) {
      Note("the plain GET failed");
      return 1;
    }
    floor_ms.push_back(MillisSince(floor_start));
    const auto direct_start = Clock::now();
    if (!PlainGet(kTrackingPort, target, WINHTTP_ACCESS_TYPE_NO_PROXY)) {
      Note("the plain GET failed");
      return 1;
    }
    direct_ms.push_back(MillisSince(direct_start));
  }
  const auto rows = app.Rows();
  if (!rows || rows->size() != 3 || rows->front().empty()) {
    Note("the rows are not the expected three");
    return 1;
  }
  Result("latency.count", count);
  Result("latency.program.median_ms", Median(program_ms));
  Result("latency.program.p90_ms", Percentile(program_ms, 0.9));
  Result("latency.floor.median_ms", Median(floor_ms));
  Result("latency.floor.p90_ms", Percentile(floor_ms, 0.9));
  Result("latency.floor_no_proxy.median_ms", Median(direct_ms));
  Result("latency.poll_step_ms", poll_step_ms);
  return 0;
}

int WaitCpu(int repeats) {
  auto started = StartProgram(true);
  if (!started) return 1;
  App& app = *started->app;
  if (!e2e::ResetServer()) return 1;
  double cpu_s = 0, wall_ms = 0;
  for (int round = 0; round < repeats; ++round) {
    // Just under the per-step time-out (3 s) of the test build.
    if (!PrepareQuery(app, L"slow:2800:rows3")) {
      Note("cannot prepare a query");
      return 1;
    }
    const auto cpu_before = HostCpuSeconds(started->host_pid);
    const auto start = Clock::now();
    if (!PostQueryClick(app)) return 1;
    // Nothing disturbs the program while it waits; only then is the list read.
    std::this_thread::sleep_for(2800ms);
    if (!WaitForRowCount(app, 3, 10s, 50ms)) {
      Note("the slow query did not show three rows");
      return 1;
    }
    wall_ms += MillisSince(start);
    const auto cpu_after = HostCpuSeconds(started->host_pid);
    if (!cpu_before || !cpu_after) {
      Note("cannot read the program's CPU time");
      return 1;
    }
    cpu_s += *cpu_after - *cpu_before;
  }
  Result("waitcpu.repeats", repeats);
  Result("waitcpu.wall_s", wall_ms / 1000.0);
  Result("waitcpu.cpu_s", cpu_s);
  Result("waitcpu.share_pct", 100.0 * cpu_s / (wall_ms / 1000.0));
  return 0;
}

int Hidden(int seconds) {
  auto started = StartProgram(false);
  if (!started) return 1;
  App& app = *started->app;
  if (!app.Click(ids::kCommand4) || !e2e::WaitUntil([&] { return !app.FormVisible(); }, 5s)) {
    Note("the window did not hide");
    return 1;
  }
  std::this_thread::sleep_for(1s);  // let the hiding settle
  const auto cpu_before = HostCpuSeconds(started->host_pid);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double wall_s = MillisSince(start) / 1000.0;
  const auto cpu_after = HostCpuSeconds(started->host_pid);
  if (!cpu_before || !cpu_after) {
    Note("cannot read the program's CPU time");
    return 1;
  }
  if (app.FormVisible()) {
    Note("the window came back by itself");
    return 1;
  }
  Result("hidden.wall_s", wall_s);
  Result("hidden.cpu_s", *cpu_after - *cpu_before);
  Result("hidden.share_pct", 100.0 * (*cpu_after - *cpu_before) / wall_s);
  return 0;
}

// The minimal window program: started, shown, and closed again.
class MinimalWindow {
 public:
  bool Start() {
    const std::wstring exe = EnvironmentText(L"QUENZIL_BENCH_MINIMAL_EXE");
    if (exe.empty()) return false;
    std::wstring command_line = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    before_ = HostPidsRunning(exe);
    started_at_ = Clock::now();
    if (!::CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process_))
      return false;
    return true;
  }
  // Milliseconds from start to the visible window; nullopt if none came.
  std::optional<double> WaitVisible() {
    std::optional<double> shown;
    e2e::WaitUntil(
        [&] {
          HWND window = ::FindWindowW(kMinimalClass, nullptr);
          if (window == nullptr || !::IsWindowVisible(window)) return false;
          DWORD owner = 0;
          ::GetWindowThreadProcessId(window, &owner);
          if (owner != process_.dwProcessId) return false;
          shown = MillisSince(started_at_);
          window_ = window;
          return true;
        },
        20s, 1ms);
    return shown;
  }
  std::optional<unsigned long> HostPid() {
    return WaitForNewHostPid(EnvironmentText(L"QUENZIL_BENCH_MINIMAL_EXE"), before_);
  }
  ~MinimalWindow() {
    if (process_.hProcess == nullptr) return;
    if (window_ != nullptr && ::PostMessageW(window_, WM_CLOSE, 0, 0) &&
        ::WaitForSingleObject(process_.hProcess, 5000) == WAIT_OBJECT_0) {
    } else if (!::TerminateProcess(process_.hProcess, 99)) {
      Note("cannot end the minimal window program");
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
  }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
  std::set<unsigned long> before_;
  Clock::time_point started_at_{};
};

std::optional<double> ProgramStartMillis(std::chrono::milliseconds limit) {
  auto app = App::Launch();
  if (!app) return std::nullopt;
  std::optional<double> shown;
  e2e::WaitUntil(
      [&] {
        if (!app->FormVisible()) return false;
        shown = std::chrono::duration<double, std::milli>(Clock::now() - app->started_at()).count();
        return true;
      },
      limit, 1ms);
  if (shown && !app->WaitForWindow(1s)) return std::nullopt;  // lets the destructor close it
  return shown;
}

std::optional<double> MinimalStartMillis() {
  MinimalWindow minimal;
  if (!minimal.Start()) return std::nullopt;
  return minimal.WaitVisible();
}

int Startup(int count, int stalled_count) {
  if (!e2e::ResetServer()) return 1;
  // Warm-up of both, untimed: the first start of a program loads more.
  if (!ProgramStartMillis(20s) || !MinimalStartMillis()) {
    Note("the warm-up start failed");
    return 1;
  }
  std::vector<double> program_ms, minimal_ms, stalled_ms;
  for (int round = 0; round < count; ++round) {
    const auto program = ProgramStartMillis(20s);
    const auto minimal = MinimalStartMillis();
    if (!program || !minimal) {
      Note("a start failed");
      return 1;
    }
    program_ms.push_back(*program);
    minimal_ms.push_back(*minimal);
  }
  if (stalled_count > 0) {
    if (!e2e::SetBehavior("gengxin.txt", "stall")) return 1;
    for (int round = 0; round < stalled_count; ++round) {
      const auto program = ProgramStartMillis(30s);
      if (!program) {
        Note("a start with a stalled maker site failed");
        return 1;
      }
      stalled_ms.push_back(*program);
    }
    if (!e2e::ResetServer()) return 1;
  }
  Result("startup.count", count);
  Result("startup.program.median_ms", Median(program_ms));
  Result("startup.program.p90_ms", Percentile(program_ms, 0.9));
  Result("startup.minimal.median_ms", Median(minimal_ms));
  Result("startup.minimal.p90_ms", Percentile(minimal_ms, 0.9));
  if (!stalled_ms.empty()) {
    Result("startup.stalled.count", static_cast<double>(stalled_ms.size()));
    Result("startup.stalled.median_ms", Median(stalled_ms));
  }
  return 0;
}

int Memory(int count, int rows) {
  {
    // Wine's own baseline: the minimal window program, shown and idle.
    MinimalWindow minimal;
    if (!minimal.Start() || !minimal.WaitVisible()) {
      Note("the minimal window did not show");
      return 1;
    }
    std::this_thread::sleep_for(1s);
    const auto pid = minimal.HostPid();
    const auto resident = pid ? HostResident(*pid) : std::nullopt;
    if (!resident) {
      Note("cannot read the minimal window's memory");
      return 1;
    }
    Result("memory.minimal.hwm_kib", resident->peak_kib);
    Result("memory.minimal.rss_kib", resident->now_kib);
  }
  auto started = StartProgram(true);
  if (!started) return 1;
  App& app = *started->app;
  if (!e2e::ResetServer()) return 1;
  std::this_thread::sleep_for(1s);
  if (const auto resident = HostResident(started->host_pid)) {
    Result("memory.q0.hwm_kib", resident->peak_kib);
    Result("memory.q0.rss_kib", resident->now_kib);
  }
  std::vector<double> query_ms;
  for (int query = 1; query <= count; ++query) {
    if (!PrepareQuery(app, L"big1m")) {
      Note("cannot prepare a query");
      return 1;
    }
    const auto start = Clock::now();
    if (!PostQueryClick(app) || !WaitForRowCount(app, rows, 30s, 5ms)) {
      Note("a 1 MiB query did not show its rows");
      return 1;
    }
    query_ms.push_back(MillisSince(start));
    if (query == 10 || query == 50 || query == count) {
      const auto resident = HostResident(started->host_pid);
      if (!resident) {
        Note("cannot read the program's memory");
        return 1;
      }
      Result("memory.q" + std::to_string(query) + ".hwm_kib", resident->peak_kib);
      Result("memory.q" + std::to_string(query) + ".rss_kib", resident->now_kib);
    }
  }
  Result("memory.count", count);
  Result("memory.rows", rows);
  Result("memory.query.median_ms", Median(query_ms));
  return 0;
}

int Argument(int argc, wchar_t** argv, int index, int fallback) {
  return argc > index ? static_cast<int>(std::wcstol(argv[index], nullptr, 10)) : fallback;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  e2e::WinsockSession winsock;
  if (!winsock.ready()) {
    Note("no Winsock");
    return 2;
  }
  if (e2e::GetSettings().quenzil_exe.empty()) {
    Note("QUENZIL_E2E_EXE is not set");
    return 2;
  }
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"latency") return Latency(Argument(argc, argv, 2, 30), Argument(argc, argv, 3, 0));
  if (mode == L"waitcpu") return WaitCpu(Argument(argc, argv, 2, 3));
  if (mode == L"hidden") return Hidden(Argument(argc, argv, 2, 60));
  if (mode == L"startup") return Startup(Argument(argc, argv, 2, 10), Argument(argc, argv, 3, 2));
  if (mode == L"memory") return Memory(Argument(argc, argv, 2, 100), Argument(argc, argv, 3, 0));
  Note("usage: bench_app latency|waitcpu|hidden|startup|memory [numbers]");
  return 2;
}
