// What the Windows benchmarks share: printing results, medians, the host
// kernel's process files (CPU and memory as Linux counts them), plain
// synchronous WinHTTP requests (the floors, and the fake server's control
// requests) and the watch list every watch benchmark starts from.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "query/services/appcode.h"
#include "query/services/kdniao.h"
#include "query/services/kuaidi100.h"
#include "watch/watch_list.h"
#include "web/fetch.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
using namespace std::chrono_literals;

double MillisSince(Clock::time_point start);
// "RESULT key value" on standard output: what scripts/bench.sh collects.
void Result(std::string_view key, double value);
// A line on standard error, for people.
void Note(std::string_view text);
double Median(std::vector<double> values);
double Percentile(std::vector<double> values, double share);
void ResultSpread(const std::string& key, const std::vector<double>& millis);  // .count, .median_ms, .p90_ms

std::wstring EnvironmentText(const wchar_t* name);
// argv[index] as a number, or the fallback.
int Argument(int argc, wchar_t** argv, int index, int fallback);

// ---- the host's process files (drive Z: is the host's root) ---------------

std::optional<std::string> ReadWholeFile(const std::wstring& path);
// Host processes whose command line names this exe (a full Windows path).
std::set<unsigned long> HostPidsRunning(const std::wstring& exe);
// The host process of a program started after `before` was taken.
std::optional<unsigned long> WaitForNewHostPid(const std::wstring& exe,
                                               const std::set<unsigned long>& before);
// utime + stime of all the threads of a host process, in seconds.
std::optional<double> HostCpuSeconds(unsigned long pid);
struct Resident {
  double peak_kib = 0;  // VmHWM
  double now_kib = 0;   // VmRSS
};
std::optional<Resident> HostResident(unsigned long pid);
// The host process running this exe, found by its command line: under Wine,
// Z:\proc\self shows another, smaller process.
std::optional<unsigned long> OwnHostPid();
void ResultResident(const std::string& key, const Resident& resident);  // .hwm_kib, .rss_kib

// ---- plain WinHTTP -----------------------------------------------------------

// One synchronous request on a session of its own, as a program with no
// design at all would make it: the floor of a query. The body, or nullopt
// when the exchange failed or the status is not 200.
std::optional<std::string> PlainRequest(const quenzil::FetchRequest& request,
                                        DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY);
// GET http://<tracking host><target>, with the fake server's port.
quenzil::FetchRequest TrackingGet(const std::string& target);

// The fake server's controls: requests whose key is `key` behave as `behavior`.
bool SetBehavior(const std::string& key, const std::string& behavior);
bool ResetServer();
// Request targets in the server's log that start with `start`.
std::vector<std::string> ServerLogLines(std::string_view start);

// The accounts the fake services know.
quenzil::Credentials TestCredentials();
quenzil::KdniaoAccount TestKdniaoAccount();
quenzil::AppCodeAccount TestAppCode();
// The keyed query of one parcel, as the program would send it.
quenzil::FetchRequest PollRequestFor(const std::string& number);
// The query of one parcel with the bench's courier, as the program would
// send it to the service ("kuaidi100", "kdniao", "appcode").
quenzil::FetchRequest ServiceRequestFor(std::string_view service, const std::string& number);

// ---- the watch list ------------------------------------------------------------

inline constexpr char kWatchCarrier[] = "yuantong";
// "W0001"…: the numbers of a bench watch list.
std::string WatchedNumber(std::size_t index);
// `count` parcels, each answered once (state "0", three events), added and
// last checked at `now`: none is due for an interval.
quenzil::WatchList BenchWatchList(std::size_t count, quenzil::UnixSeconds now);
quenzil::UnixSeconds UnixNow();

}  // namespace bench
