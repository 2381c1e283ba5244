#include "web/proxy_winhttp.h"

#include <winhttp.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "common/handles_win32.h"
#include "common/utf.h"
#include "web/fetch.h"

namespace quenzil {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kKeepAnswer{60};
// Internet Options are read again after this long: a change the user makes
// counts within seconds, and a run of queries reads the registry once.
constexpr std::chrono::seconds kKeepSettings{3};
// Fetching a proxy script: each step bounded, so a dead script server frees
// the lookup thread for the next address.
constexpr int kScriptStepMs = 5000;

// The user's Internet Options, as WinHTTP reads them.
struct UserProxySettings {
  bool auto_detect = false;
  std::wstring script_url;
  std::string proxy;   // the named proxy setting, as written
  std::string bypass;  // its bypass list

  static UserProxySettings Read() {
    UserProxySettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return settings;
    settings.auto_detect = config.fAutoDetect != FALSE;
    if (config.lpszAutoConfigUrl != nullptr) settings.script_url = config.lpszAutoConfigUrl;
    if (config.lpszProxy != nullptr) settings.proxy = Narrow(config.lpszProxy);
    if (config.lpszProxyBypass != nullptr) settings.bypass = Narrow(config.lpszProxyBypass);
    for (LPWSTR text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass}) {
      if (text != nullptr) ::GlobalFree(text);
    }
    return settings;
  }
};

// One question to the script (or to detection), and its answer.
struct ScriptLookup {
  std::wstring key;     // settings and origin: the cache key
  std::wstring origin;  // "https://host:443/": the script never sees more
  std::wstring script_url;
  bool auto_detect = false;
  UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  // Written before `done` is set.
  bool answered = false;  // false: the script could not be fetched or run
  std::string proxies;    // "host:port; host2:port" or empty for direct
  std::string bypass;
};

}  // namespace

struct ProxyLookups {
  std::mutex mutex;
  UserProxySettings settings;
  std::optional<Clock::time_point> settings_read;
  std::condition_variable wake;
  std::deque<std::shared_ptr<ScriptLookup>> pending;
  bool thread_running = false;
  bool closing = false;
  struct Kept {
    std::shared_ptr<ScriptLookup> lookup;
    Clock::time_point at;
  };
  std::map<std::wstring, Kept> kept;
};

namespace {

void Answer(ScriptLookup& lookup, HINTERNET session) {
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (!lookup.script_url.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = lookup.script_url.c_str();
  }
  if (lookup.auto_detect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO found{};
  if (session == nullptr || !::WinHttpGetProxyForUrl(session, lookup.origin.c_str(), &options, &found)) return;
  lookup.answered = true;
  if (found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && found.lpszProxy != nullptr) {
    lookup.proxies = Narrow(found.lpszProxy);
  }
  if (found.lpszProxyBypass != nullptr) lookup.bypass = Narrow(found.lpszProxyBypass);
  if (found.lpszProxy != nullptr) ::GlobalFree(found.lpszProxy);
  if (found.lpszProxyBypass != nullptr) ::GlobalFree(found.lpszProxyBypass);
}

// The one thread that asks scripts, one address after the other.
void LookupMain(std::shared_ptr<ProxyLookups> lookups) noexcept {
  UniqueInternet session(::WinHttpOpen(L"Quenzil/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
  if (session) ::WinHttpSetTimeouts(session.get(), kScriptStepMs, kScriptStepMs, kScriptStepMs, kScriptStepMs);
  for (;;) {
    std::shared_ptr<ScriptLookup> lookup;
    {
      std::unique_lock lock(lookups->mutex);
      lookups->wake.wait(lock, [&] { return lookups->closing || !lookups->pending.empty(); });
      if (lookups->closing) {
        lookups->thread_running = false;
        return;
      }
      lookup = lookups->pending.front();
    }
    try {
      Answer(*lookup, session.get());
    } catch (...) {
      lookup->answered = false;  // counts as a script that could not run
    }
    std::lock_guard lock(lookups->mutex);
    lookups->pending.pop_front();
    lookups->kept[lookup->key] = {lookup, Clock::now()};
    ::SetEvent(lookup->done.get());
  }
}

// The proxy a setting gives for the address, empty to go direct.
std::wstring Chosen(const std::string& proxies, const std::string& bypass, const AddressParts& address) {
  const std::string proxy = ProxyForScheme(proxies, address.scheme);
  if (proxy.empty() || BypassesProxy(bypass, address.scheme, address.host, address.port)) return L"";
  return Widen(proxy);
}

}  // namespace

bool WaitOrCancel(HANDLE event, HANDLE cancel, Clock::time_point deadline, const std::string& timed_out) {
  const HANDLE handles[2] = {event, cancel};
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw FetchError(FetchFailure::kTimedOut, timed_out);
    const DWORD woke = ::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(std::min<long long>(left, 0x7FFFFFFF)));
    if (woke == WAIT_OBJECT_0) return true;
    if (woke == WAIT_OBJECT_0 + 1) return false;
    // A time-out only sends us back to the deadline check.
    if (woke != WAIT_TIMEOUT) throw FetchError(FetchFailure::kOther, "WaitForMultipleObjects: " + std::to_string(::GetLastError()));
  }
}

ProxyFinder::ProxyFinder() : lookups_(std::make_shared<ProxyLookups>()) {}

ProxyFinder::~ProxyFinder() {
  std::lock_guard lock(lookups_->mutex);
  lookups_->closing = true;
  lookups_->wake.notify_all();
}

std::optional<std::wstring> ProxyFinder::ProxyFor(const AddressParts& address, HANDLE cancel,
                                                  Clock::time_point deadline) {
  UserProxySettings settings;
  {
    std::lock_guard lock(lookups_->mutex);
    if (!lookups_->settings_read || Clock::now() - *lookups_->settings_read > kKeepSettings) {
      lookups_->settings = UserProxySettings::Read();
      lookups_->settings_read = Clock::now();
    }
    settings = lookups_->settings;
  }
  if (settings.auto_detect || !settings.script_url.empty()) {
    std::wstring origin = Widen(address.scheme) + L"://";
    origin += address.host.find(':') != std::string::npos ? L"[" + Widen(address.host) + L"]" : Widen(address.host);
    origin += L":" + std::to_wstring(address.port) + L"/";
    const std::wstring key = settings.script_url + L"|" + (settings.auto_detect ? L"1" : L"0") + L"|" + origin;

    std::shared_ptr<ScriptLookup> lookup;
    {
      std::lock_guard lock(lookups_->mutex);
      if (const auto kept = lookups_->kept.find(key);
          kept != lookups_->kept.end() && Clock::now() - kept->second.at < kKeepAnswer) {
        lookup = kept->second.lookup;
      } else {
        const auto waiting = std::find_if(lookups_->pending.begin(), lookups_->pending.end(),
                                          [&](const auto& pending) { return pending->key == key; });
        if (waiting != lookups_->pending.end()) {
          lookup = *waiting;
        } else {
          lookup = std::make_shared<ScriptLookup>();
          if (!lookup->done) throw FetchError(FetchFailure::kOther, "CreateEventW: " + std::to_string(::GetLastError()));
          lookup->key = key;
          lookup->origin = origin;
          lookup->script_url = settings.script_url;
          lookup->auto_detect = settings.auto_detect;
          lookups_->pending.push_back(lookup);
          if (!lookups_->thread_running) {
            std::thread(LookupMain, lookups_).detach();
            lookups_->thread_running = true;
          }
          lookups_->wake.notify_all();
        }
      }
    }
    if (!WaitOrCancel(lookup->done.get(), cancel, deadline, "proxy script: no answer in time")) return std::nullopt;
    if (lookup->answered) return Chosen(lookup->proxies, lookup->bypass, address);
    // A script that cannot be fetched or run: browsers fall back to the
    // named proxy, if any, and so does this.
  }
  return Chosen(settings.proxy, settings.bypass, address);
}

}  // namespace quenzil
