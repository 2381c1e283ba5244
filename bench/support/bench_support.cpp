#include "bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <thread>

#include "common/handles_win32.h"
#include "common/utf.h"
#include "deploy_config.h"

namespace bench {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::wstring ProcFile(unsigned long pid, const wchar_t* name) {
  return L"Z:\\proc\\" + std::to_wstring(pid) + L"\\" + name;
}

std::string QueryEscape(const std::string& value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const unsigned char c : value) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  return escaped;
}

std::optional<std::string> Control(const std::string& target) {
  return PlainRequest(TrackingGet(target), WINHTTP_ACCESS_TYPE_NO_PROXY);
}

}  // namespace

double MillisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Result(std::string_view key, double value) {
  std::printf("RESULT %.*s %.3f\n", static_cast<int>(key.size()), key.data(), value);
  std::fflush(stdout);
}

void Note(std::string_view text) {
  std::fprintf(stderr, "bench: %.*s\n", static_cast<int>(text.size()), text.data());
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

void ResultSpread(const std::string& key, const std::vector<double>& millis) {
  Result(key + ".count", static_cast<double>(millis.size()));
  Result(key + ".median_ms", Median(millis));
  Result(key + ".p90_ms", Percentile(millis, 0.9));
}

std::wstring EnvironmentText(const wchar_t* name) {
  const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) return {};
  value.resize(length);
  return value;
}

int Argument(int argc, wchar_t** argv, int index, int fallback) {
  return argc > index ? static_cast<int>(std::wcstol(argv[index], nullptr, 10)) : fallback;
}

// ---- the host's process files ------------------------------------------------

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  const quenzil::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string content;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) return content;
    content.append(buffer, got);
  }
}

// Host processes whose command line (lower case, NUL-separated) satisfies `wanted`.
template <typename Wanted>
std::set<unsigned long> HostPidsWhere(Wanted wanted) {
  std::set<unsigned long> running;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return running;
  do {
    const std::wstring name = found.cFileName;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](wchar_t c) { return std::iswdigit(c); }))
      continue;
    const unsigned long pid = std::wcstoul(name.c_str(), nullptr, 10);
    const auto cmdline = ReadWholeFile(ProcFile(pid, L"cmdline"));
    if (cmdline && wanted(Lower(*cmdline))) running.insert(pid);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return running;
}

std::set<unsigned long> HostPidsRunning(const std::wstring& exe) {
  const std::string wanted = Lower(quenzil::Narrow(exe));
  return HostPidsWhere([&](const std::string& cmdline) { return cmdline.find(wanted) != std::string::npos; });
}

std::optional<unsigned long> WaitForNewHostPid(const std::wstring& exe,
                                               const std::set<unsigned long>& before) {
  const auto deadline = Clock::now() + 5s;
  do {
    for (const unsigned long pid : HostPidsRunning(exe)) {
      if (!before.count(pid)) return pid;
    }
    std::this_thread::sleep_for(10ms);
  } while (Clock::now() < deadline);
  return std::nullopt;
}

std::optional<double> HostCpuSeconds(unsigned long pid) {
  const auto stat = ReadWholeFile(ProcFile(pid, L"stat"));
  if (!stat) return std::nullopt;
  // After the name in parentheses: state is field 3, utime 14, stime 15.
  const auto close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::vector<std::string> fields;
  for (std::size_t at = close + 2; at < stat->size();) {
    const auto end = std::min(stat->find(' ', at), stat->size());
    fields.push_back(stat->substr(at, end - at));
    at = end + 1;
  }
  if (fields.size() < 13) return std::nullopt;
  const double ticks = std::strtod(fields[11].c_str(), nullptr) + std::strtod(fields[12].c_str(), nullptr);
  const std::wstring tck = EnvironmentText(L"QUENZIL_BENCH_CLK_TCK");
  return ticks / (tck.empty() ? 100.0 : std::wcstod(tck.c_str(), nullptr));
}

std::optional<unsigned long> OwnHostPid() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  // Started from the host, the command line holds the host's path: only the
  // name is compared, with the program's own name (argv[0]), not a wrapper's.
  std::string name = Lower(quenzil::Narrow(path));
  name = name.substr(name.find_last_of('\\') + 1);
  const auto running = HostPidsWhere([&](const std::string& cmdline) {
    const std::string first = cmdline.substr(0, cmdline.find('\0'));
    return first.size() > name.size() && first.compare(first.size() - name.size(), name.size(), name) == 0 &&
           (first[first.size() - name.size() - 1] == '/' || first[first.size() - name.size() - 1] == '\\');
  });
  if (running.size() != 1) return std::nullopt;  // another copy runs: cannot tell which is this one
  return *running.begin();
}

std::optional<Resident> HostResident(unsigned long pid) {
  const auto status = ReadWholeFile(ProcFile(pid, L"status"));
  if (!status) return std::nullopt;
  const auto field = [&](std::string_view key) -> std::optional<double> {
    const auto at = status->find("\n" + std::string(key) + ":");
    if (at == std::string::npos) return std::nullopt;
    return std::strtod(status->c_str() + at + key.size() + 2, nullptr);
  };
  const auto peak = field("VmHWM"), now = field("VmRSS");
  if (!peak || !now) return std::nullopt;
  return Resident{*peak, *now};
}

void ResultResident(const std::string& key, const Resident& resident) {
  Result(key + ".hwm_kib", resident.peak_kib);
  Result(key + ".rss_kib", resident.now_kib);
}

// ---- plain WinHTTP ---------------------------------------------------------------

std::optional<std::string> PlainRequest(const quenzil::FetchRequest& request, DWORD access) {
  const std::wstring url = quenzil::Widen(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return std::nullopt;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const quenzil::UniqueInternet session(
      ::WinHttpOpen(L"bench", access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return std::nullopt;
  const quenzil::UniqueInternet connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return std::nullopt;
  const quenzil::UniqueInternet exchange(::WinHttpOpenRequest(
      connection.get(), quenzil::Widen(request.method).c_str(), target.c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!exchange) return std::nullopt;
  std::wstring headers =
      request.body.empty() ? std::wstring() : L"Content-Type: " + quenzil::Widen(request.content_type) + L"\r\n";
  for (const auto& [name, value] : request.headers) headers += quenzil::Widen(name + ": " + value) + L"\r\n";
  std::string body = request.body;
  if (!::WinHttpSendRequest(exchange.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            static_cast<DWORD>(headers.size()), body.empty() ? nullptr : body.data(),
                            static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
      !::WinHttpReceiveResponse(exchange.get(), nullptr))
    return std::nullopt;
  DWORD status = 0, size = sizeof status;
  if (!::WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
      status != 200)
    return std::nullopt;
  std::string answer;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!::WinHttpReadData(exchange.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got))
      return std::nullopt;
    if (got == 0) return answer;
    answer.append(buffer.data(), got);
  }
}

quenzil::FetchRequest TrackingGet(const std::string& target) {
  quenzil::FetchRequest request;
  request.url = "http://" + std::string(quenzil::deploy::kTrackingApiHost) + target;
  return request;
}

bool SetBehavior(const std::string& key, const std::string& behavior) {
  return Control("/__control?key=" + QueryEscape(key) + "&behavior=" + QueryEscape(behavior)).has_value();
}

bool ResetServer() { return Control("/__control?reset=1").has_value(); }

std::vector<std::string> ServerLogLines(std::string_view start) {
  std::vector<std::string> lines;
  const auto log = Control("/__log");
  if (!log) return lines;
  for (std::size_t at = 0; at < log->size();) {
    const auto end = std::min(log->find('\n', at), log->size());
    std::string line = log->substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(start, 0) == 0) lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

quenzil::Credentials TestCredentials() { return {"TESTCUSTOMER", "testkey0123456789"}; }

quenzil::KdniaoAccount TestKdniaoAccount() { return {"1900001", "kdniao-test-key-0123", false}; }

quenzil::AppCodeAccount TestAppCode() { return {"testappcode0123456789"}; }

quenzil::FetchRequest PollRequestFor(const std::string& number) {
  return quenzil::BuildPollRequest(quenzil::deploy::kTrackingPollHost, TestCredentials(), kWatchCarrier,
                                   number, "", quenzil::FetchLimits{});
}

quenzil::FetchRequest ServiceRequestFor(std::string_view service, const std::string& number) {
  const quenzil::ServiceQuery query{number, kWatchCarrier, ""};
  if (service == "kdniao") {
    return quenzil::KdniaoService(quenzil::deploy::kKdniaoHost, {}, TestKdniaoAccount()).Query(query);
  }
  if (service == "appcode") return quenzil::AppCodeService(quenzil::deploy::kAppCodeHost, {}, TestAppCode()).Query(query);
  return PollRequestFor(number);
}

// ---- the watch list ------------------------------------------------------------------

std::string WatchedNumber(std::size_t index) {
  char number[16];
  std::snprintf(number, sizeof number, "W%04u", static_cast<unsigned>(index + 1));
  return number;
}

quenzil::WatchList BenchWatchList(std::size_t count, quenzil::UnixSeconds now) {
  quenzil::WatchList list;
  for (std::size_t index = 0; index < count; ++index) {
    quenzil::WatchedParcel parcel;
    parcel.number = WatchedNumber(index);
    parcel.carrier = kWatchCarrier;
    parcel.state = "0";
    parcel.events = {
        {"2026-12-01 08:10:00", "【上海分拨中心】已收件", "上海", "揽收"},
        {"2026-12-01 20:42:00", "【上海分拨中心】已发出，下一站【杭州转运中心】", "上海", "在途"},
        {"2026-12-02 06:05:00", "【杭州转运中心】已收入", "杭州", "在途"},
    };
    parcel.added = now;
    parcel.last_checked = now;
    parcel.last_changed = now;
    list.parcels.push_back(std::move(parcel));
  }
  return list;
}

quenzil::UnixSeconds UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace bench
