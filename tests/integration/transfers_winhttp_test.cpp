// WinHttpTransfers as a black box against tests/support/fake_server.py, run
// by run-transfers-test: the fake server's ports and log, the forwarding
// proxy's port and log, and the proxy setting of this pass come in the
// environment (see with-fake-server).
#include "web/transfers_winhttp.h"

#include <windows.h>
#include <tlhelp32.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/handles_win32.h"
#include "common/utf.h"
#include "query/carriers.h"
#include "query/services/kuaidi100.h"

namespace quenzil {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using ::testing::HasSubstr;
using ::testing::Not;


std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Port(const char* name) {
  const std::string port = Env(name);
  if (port.empty()) ADD_FAILURE() << name << " is not set: run through run-transfers-test";
  return port.empty() ? "1" : port;
}

std::string Plain() { return "http://127.0.0.1:" + Port("QUENZIL_FAKE_PORT"); }
std::string Secure() { return "https://127.0.0.1:" + Port("QUENZIL_FAKE_TLS_PORT"); }

// The old query address's shape, the behaviour in nu.
std::string Api(const std::string& behaviour, const std::string& base = Plain()) {
  return base + "/api?id=1&com=test&nu=" + PercentEncode(behaviour) + "&valicode=[]";
}

FetchLimits Limits(int receive_ms = 3000, int total_ms = 8000) {
  FetchLimits limits;
  limits.connect = milliseconds{3000};
  limits.send = milliseconds{3000};
  limits.receive = milliseconds{receive_ms};
  limits.total = milliseconds{total_ms};
  return limits;
}

FetchRequest Get(std::string url, FetchLimits limits = Limits()) {
  FetchRequest request;
  request.url = std::move(url);
  request.limits = limits;
  return request;
}

// What the sink hands over, on the workers' threads.
class Outcomes {
 public:
  using Entry = std::pair<TransferId, FetchOutcome>;

  static WinHttpTransfers::OutcomeSink SinkOf(const std::shared_ptr<Outcomes>& outcomes) {
    // Shared: a worker may outlive the test that started it.
    return [outcomes](TransferId id, FetchOutcome outcome) {
      {
        std::lock_guard lock(outcomes->mutex_);
        outcomes->arrived_.emplace_back(id, std::move(outcome));
      }
      outcomes->changed_.notify_all();
    };
  }

  // The next outcome to arrive within the limit.
  std::optional<Entry> Next(milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, limit, [this] { return !arrived_.empty(); })) return std::nullopt;
    Entry entry = std::move(arrived_.front());
    arrived_.pop_front();
    return entry;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Entry> arrived_;
};

// Transfers with a queue for their outcomes.
struct Harness {
  explicit Harness(std::size_t max_alive = WinHttpTransfers::kDefaultMaxAlive)
      : outcomes(std::make_shared<Outcomes>()),
        transfers(std::make_unique<WinHttpTransfers>(Outcomes::SinkOf(outcomes), max_alive)) {}

  // The next outcome, which must be the one of id, within the request's
  // total limit and some slack.
  FetchOutcome Await(TransferId id, milliseconds limit) {
    auto entry = outcomes->Next(limit);
    if (!entry) {
      ADD_FAILURE() << "no outcome of transfer " << id << " within " << limit.count() << " ms";
      return FetchOutcome::Failed(FetchFailure::kOther, "test: no outcome");
    }
    EXPECT_EQ(entry->first, id) << "an outcome of another transfer came first: " << entry->second.cause;
    return std::move(entry->second);
  }

  FetchOutcome Fetch(FetchRequest request) {
    const milliseconds limit = request.limits.total + milliseconds{4000};
    return Await(transfers->Start(std::move(request)), limit);
  }

  std::shared_ptr<Outcomes> outcomes;
  std::unique_ptr<WinHttpTransfers> transfers;
};

std::string Text(const FetchOutcome& outcome) {
  EXPECT_TRUE(outcome.ok) << "failure " << static_cast<int>(outcome.failure) << ": " << outcome.cause;
  return outcome.text;
}

// The kind of a failure; the address's query never shows in its cause.
FetchFailure FailureOf(const FetchOutcome& outcome) {
  EXPECT_FALSE(outcome.ok) << "answered " << outcome.status << ": " << outcome.text.substr(0, 200);
  EXPECT_FALSE(outcome.cause.empty());
  EXPECT_THAT(outcome.cause, Not(HasSubstr("nu="))) << "the cause shows the address";
  return outcome.ok ? FetchFailure::kOther : outcome.failure;
}

// A host file seen from Wine (drive Z: is the host's root).
std::wstring HostPath(const std::string& path) {
  std::wstring windows = L"Z:" + Widen(path);
  std::replace(windows.begin(), windows.end(), L'/', L'\\');
  return windows;
}

std::vector<std::string> LogLines(const char* variable) {
  std::vector<std::string> lines;
  std::ifstream file(std::filesystem::path(HostPath(Env(variable))), std::ios::binary);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::size_t Count(const char* variable, const std::string& line) {
  const auto lines = LogLines(variable);
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

bool Logged(const char* variable, const std::string& line) { return Count(variable, line) > 0; }

bool LoggedWith(const char* variable, const std::string& part) {
  const auto lines = LogLines(variable);
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

// Polls a condition every 20 ms until it holds or the limit passes.
bool WaitUntil(const std::function<bool()>& condition, milliseconds limit) {
  const auto give_up = steady_clock::now() + limit;
  while (!condition()) {
    if (steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(milliseconds{20});
  }
  return true;
}

// Tells the fake server how requests with this key behave, without any proxy.
void Control(const std::string& key, const std::string& behaviour) {
  const std::wstring target =
      Widen("/__control?key=" + PercentEncode(key) + "&behavior=" + PercentEncode(behaviour));
  UniqueInternet session(::WinHttpOpen(L"control", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
  ASSERT_TRUE(session) << ::GetLastError();
  ::WinHttpSetTimeouts(session.get(), 3000, 3000, 3000, 3000);
  UniqueInternet connection(::WinHttpConnect(
      session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(std::stoi(Port("QUENZIL_FAKE_PORT"))), 0));
  ASSERT_TRUE(connection) << ::GetLastError();
  UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  ASSERT_TRUE(request) << ::GetLastError();
  ASSERT_TRUE(::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                   0, 0, 0))
      << ::GetLastError();
  ASSERT_TRUE(::WinHttpReceiveResponse(request.get(), nullptr)) << ::GetLastError();
}

std::size_t ThreadsOfThisProcess() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "CreateToolhelp32Snapshot: " << ::GetLastError();
    return 0;
  }
  std::size_t count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
  }
  ::CloseHandle(snapshot);
  return count;
}

Credentials TestAccount() { return {"TESTCUSTOMER", "testkey0123456789"}; }

// A signed query whose number needs form encoding: the server's signature
// check fails on any byte changed on the way. Its answer, returnCode 500
// (no result), says the signature held.
FetchRequest PollRequest(const std::string& number) {
  return BuildPollRequest("127.0.0.1:" + Port("QUENZIL_FAKE_TLS_PORT"), TestAccount(), "yuantong", number,
                          "13800005678", Limits());
}

void ExpectPollAccepted(const FetchOutcome& outcome) {
  const PollAnswer answer = ReadPollAnswer(Text(outcome));
  ASSERT_EQ(answer.kind, PollAnswer::Kind::kFailure) << outcome.text;
  EXPECT_EQ(answer.failure.return_code, "500") << answer.failure.message;
}

// --- Answers ---------------------------------------------------------------

TEST(TransfersTest, BodiesAreDecodedWhateverTheStatus) {
  Harness harness;
  EXPECT_EQ(Text(harness.Fetch(Get(Plain() + "/utf8.html"))),
            "<html><body><p>快递已签收，签收人：本人</p></body></html>");
  EXPECT_EQ(Text(harness.Fetch(Get(Api("gbk:查无结果，请核对单号")))), "查无结果，请核对单号");
  EXPECT_EQ(Text(harness.Fetch(Get(Api("bom:时间 ok")))), "时间 ok");
  const FetchOutcome empty = harness.Fetch(Get(Api("body:")));
  EXPECT_EQ(Text(empty), "");
  EXPECT_EQ(empty.status, 200u);
  const FetchOutcome failed = harness.Fetch(Get(Api("status:500:error.html")));
  EXPECT_EQ(Text(failed), "server error: 服务暂停");
  EXPECT_EQ(failed.status, 500u);
  // The target reaches the server exactly as given.
  const std::string target = "/api?id=1&com=yuantong&nu=AB%20C%2F1%E4%B8%AD&valicode=[]&temp=0.25";
  const FetchOutcome missing = harness.Fetch(Get(Plain() + target));
  EXPECT_EQ(Text(missing), "not found");
  EXPECT_EQ(missing.status, 404u);
  EXPECT_TRUE(Logged("QUENZIL_FAKE_LOG", target));
  // Read as UTF-8, a GBK body is never taken for GBK.
  FetchRequest gbk = Get(Api("gbk:中"));
  gbk.decoding = BodyText::kUtf8;
  // D6 D0: two broken sequences, not 中.
  EXPECT_EQ(Text(harness.Fetch(gbk)), "\uFFFD\uFFFD");
  FetchRequest utf8 = Get(Api("json:{\"message\":\"签收\"}"));
  utf8.decoding = BodyText::kUtf8;
  EXPECT_EQ(Text(harness.Fetch(utf8)), "{\"message\":\"签收\"}");
}

TEST(TransfersTest, SignedPostArrivesIntactOverTls) {
  Harness harness;
  // The server checks the signature over the form body it parsed.
  ExpectPollAccepted(harness.Fetch(PollRequest("QZ 1+2&3=中")));
  EXPECT_TRUE(Logged("QUENZIL_FAKE_LOG", "POST /poll/query.do com=yuantong num=QZ 1+2&3=中 phone=13800005678"));
}

// --- Failures --------------------------------------------------------------

TEST(TransfersTest, FailuresComeWithTheirKind) {
  Harness harness;
  // Nothing listens on port 1 of the loopback address.
  EXPECT_EQ(FailureOf(harness.Fetch(Get("http://127.0.0.1:1/?nu=1"))), FetchFailure::kCannotConnect);
  for (const char* bad : {"not an address", "ftp://127.0.0.1/x", "http://127.0.0.1:99999/", "http:///x"}) {
    EXPECT_EQ(FailureOf(harness.Fetch(Get(bad))), FetchFailure::kBadAddress) << bad;
  }
  EXPECT_EQ(FailureOf(harness.Fetch(Get(Api("redirect-loop")))), FetchFailure::kTooManyRedirects);
  EXPECT_EQ(FailureOf(harness.Fetch(Get(Api("reset")))), FetchFailure::kConnectionLost);
  EXPECT_EQ(FailureOf(harness.Fetch(Get(Api("resetmid:page.html")))), FetchFailure::kConnectionLost);
}

TEST(TransfersTest, BodiesStopAtTheLimit) {
  Harness harness;
  FetchLimits limits = Limits();
  limits.max_body_bytes = 1024 * 1024;
  const FetchOutcome declared = harness.Fetch(Get(Api("huge:4"), limits));
  EXPECT_EQ(FailureOf(declared), FetchFailure::kTooLarge);
  EXPECT_THAT(declared.cause, HasSubstr("Content-Length")) << "refused before reading";
  limits.max_body_bytes = 1000;  // page.html is 4215 bytes, in two chunks
  EXPECT_EQ(FailureOf(harness.Fetch(Get(Api("chunked-truncated:page.html"), limits))),
            FetchFailure::kTooLarge);
  limits.max_body_bytes = 12;  // exactly small.txt
  EXPECT_EQ(Text(harness.Fetch(Get(Plain() + "/small.txt", limits))), "small answer");
}

TEST(TransfersTest, SilentServerTimesOut) {
  Harness harness;
  const auto start = steady_clock::now();
  EXPECT_EQ(FailureOf(harness.Fetch(Get(Api("stall"), Limits(1000, 20000)))), FetchFailure::kTimedOut);
  EXPECT_LT(steady_clock::now() - start, milliseconds{4000}) << "the receive limit did not end the wait";
}

// --- HTTPS -----------------------------------------------------------------

TEST(TransfersTest, HttpsChecksTheCertificate) {
  Harness harness;
  EXPECT_EQ(Text(harness.Fetch(Get(Secure() + "/small.txt"))), "small answer");
  const FetchOutcome untrusted =
      harness.Fetch(Get("https://127.0.0.1:" + Port("QUENZIL_FAKE_UNTRUSTED_PORT") + "/small.txt"));
  EXPECT_EQ(FailureOf(untrusted), FetchFailure::kSecureChannel) << untrusted.cause;
  const FetchOutcome wrong_host =
      harness.Fetch(Get("https://127.0.0.1:" + Port("QUENZIL_FAKE_WRONG_HOST_PORT") + "/small.txt"));
  EXPECT_EQ(FailureOf(wrong_host), FetchFailure::kSecureChannel) << wrong_host.cause;
}

// --- Cancelling and the cap ------------------------------------------------

TEST(TransfersTest, CancelledTransfersReportNothing) {
  Harness harness(1);
  // Cancelled while waiting for the answer, which then comes.
  const TransferId slow = harness.transfers->Start(Get(Api("slow:800:small.txt") + "&t=cancelled"));
  ASSERT_TRUE(WaitUntil([] { return LoggedWith("QUENZIL_FAKE_LOG", "&t=cancelled"); }, milliseconds{5000}));
  harness.transfers->Cancel(slow);
  // Cancelled while queued.
  const TransferId queued = harness.transfers->Start(Get(Api("body:queued")));
  harness.transfers->Cancel(queued);
  const TransferId next = harness.transfers->Start(Get(Api("body:next")));
  EXPECT_EQ(Text(harness.Await(next, milliseconds{8000})), "next");
  // A worker reports before it lets go: once none is left, nothing more can come.
  ASSERT_TRUE(WaitUntil([&] { return harness.transfers->alive() == 0; }, milliseconds{8000}));
  const auto late = harness.outcomes->Next(milliseconds{0});
  EXPECT_FALSE(late) << "transfer " << late->first << " reported after being cancelled";
  EXPECT_FALSE(LoggedWith("QUENZIL_FAKE_LOG", "nu=body%3Aqueued"));
}

TEST(TransfersTest, StartedAndCancelledTransfersStayWithinTheCap) {
  Harness harness;
  const std::size_t cap = WinHttpTransfers::kDefaultMaxAlive;
  const std::size_t threads_before = ThreadsOfThisProcess();
  std::size_t most_alive = 0, most_threads = 0;
  for (int round = 0; round < 60; ++round) {
    // Cancelled once the server has it, or once it queues: a cancelled
    // request keeps its worker until the stall times out.
    const std::string marker = "&round=" + std::to_string(round) + "&";
    const TransferId id = harness.transfers->Start(Get(Api("stall") + marker, Limits(1000, 5000)));
    EXPECT_TRUE(WaitUntil([&] { return harness.transfers->queued() > 0 || LoggedWith("QUENZIL_FAKE_LOG", marker); },
                          milliseconds{5000}));
    most_alive = std::max(most_alive, harness.transfers->alive());
    most_threads = std::max(most_threads, ThreadsOfThisProcess());
    harness.transfers->Cancel(id);
  }
  EXPECT_LE(most_alive, cap);
  EXPECT_EQ(harness.transfers->queued(), 0u);
  // WinHTTP keeps a few threads of its own.
  EXPECT_LE(most_threads, threads_before + cap + 8) << "from " << threads_before;

  // A transfer started now runs once the cancelled ones have let go.
  const TransferId after = harness.transfers->Start(Get(Plain() + "/small.txt"));
  EXPECT_EQ(Text(harness.Await(after, milliseconds{10000})), "small answer");
}

TEST(TransfersTest, DestructorDoesNotWaitForTransfers) {
  Harness harness;
  harness.transfers->Start(Get(Api("stall") + "&t=in-flight", Limits(10000, 20000)));
  ASSERT_TRUE(WaitUntil([] { return LoggedWith("QUENZIL_FAKE_LOG", "&t=in-flight"); }, milliseconds{5000}));
  const auto start = steady_clock::now();
  harness.transfers.reset();
  EXPECT_LT(steady_clock::now() - start, milliseconds{500});
}

// --- The proxy set in Internet Options ---------------------------------------

// Runs only in the pass that set this proxy mode in the prefix.
class ProxyPass : public ::testing::Test {
 protected:
  void RequireMode(const char* mode) {
    if (Env("QUENZIL_IE_PROXY") != mode) GTEST_SKIP() << "needs the proxy setting '" << mode << "'";
  }
};

// Plain HTTP to the first port goes through the proxy, HTTPS to it tunnels
// through the proxy, and the second port goes direct. The bodies and the
// number tell this pass's requests from the other passes' in the shared logs.
void ExpectProxiedTunnelledAndDirect(const std::string& proxied_body, const std::string& number,
                                     const std::string& direct_body) {
  Harness harness;
  const std::string url = Api("body:" + proxied_body);
  EXPECT_EQ(Text(harness.Fetch(Get(url))), proxied_body);
  EXPECT_TRUE(Logged("QUENZIL_PROXY_LOG", "GET " + url));

  const std::string tunnel = "CONNECT 127.0.0.1:" + Port("QUENZIL_FAKE_TLS_PORT");
  const std::size_t tunnels = Count("QUENZIL_PROXY_LOG", tunnel);
  ExpectPollAccepted(harness.Fetch(PollRequest(number)));
  EXPECT_EQ(Count("QUENZIL_PROXY_LOG", tunnel), tunnels + 1);

  const std::string base = "http://127.0.0.1:" + Port("QUENZIL_FAKE_PORT2");
  EXPECT_EQ(Text(harness.Fetch(Get(Api("body:" + direct_body, base)))), direct_body);
  EXPECT_FALSE(LoggedWith("QUENZIL_PROXY_LOG", ":" + Port("QUENZIL_FAKE_PORT2") + "/"));
}

// "localhost:<proxy>" with the bypass list "<local>;*.invalid;127.0.0.1:<second port>".
class NamedProxyTest : public ProxyPass {
 protected:
  void SetUp() override { RequireMode("named"); }
};

TEST_F(NamedProxyTest, HttpGoesThroughItHttpsTunnelsAndBypassGoesDirect) {
  ExpectProxiedTunnelledAndDirect("by proxy", "QZ-TUNNEL", "direct");
  EXPECT_TRUE(Logged("QUENZIL_FAKE_LOG", "POST /poll/query.do com=yuantong num=QZ-TUNNEL phone=13800005678"));
  // The bypass list names the second port: that went direct.
  const std::string base = "http://127.0.0.1:" + Port("QUENZIL_FAKE_PORT2");
  EXPECT_TRUE(Logged("QUENZIL_FAKE_LOG", Api("body:direct", base).substr(base.size())));
}

// The script at http://127.0.0.1:<port>/proxy.pac. A process keeps the
// first script it fetched, so every test here gets the same one.
class ProxyScriptTest : public ProxyPass {
 protected:
  void SetUp() override {
    RequireMode("script");
    if (IsSkipped()) return;
    // The proxy for exactly these two addresses: an address with a path or
    // a query would go direct, and the proxy's log would miss it. Two
    // choices, best first.
    Control("proxy.pac", "pac:function FindProxyForURL(url, host) {\n"
                         "  if (url == '" + Plain() + "/' || url == '" + Secure() + "/')\n"
                         "    return 'PROXY localhost:" + Port("QUENZIL_PROXY_PORT") + "; DIRECT';\n"
                         "  return 'DIRECT';\n"
                         "}\n");
  }
};

// The script proxies only the bare first-port addresses and says DIRECT
// for the second port.
TEST_F(ProxyScriptTest, ScriptSeesOnlySchemeHostAndPortAndMaySayDirect) {
  ExpectProxiedTunnelledAndDirect("scripted", "QZ-SCRIPTED", "told direct");
}

// The same script address, in a process of its own, whose script never comes.
class StalledProxyScriptTest : public ProxyPass {
 protected:
  void SetUp() override {
    RequireMode("stalled-script");
    if (IsSkipped()) return;
    Control("proxy.pac", "stall");
  }
};

TEST_F(StalledProxyScriptTest, LookingUpTheProxyKeepsToTheLimits) {
  Harness harness;
  const auto start = steady_clock::now();
  EXPECT_EQ(FailureOf(harness.Fetch(Get(Api("body:never"), Limits(1000, 2000)))), FetchFailure::kTimedOut);
  EXPECT_LT(steady_clock::now() - start, milliseconds{3500});
}

}  // namespace
}  // namespace quenzil
