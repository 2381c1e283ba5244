#include "web/transfers_winhttp.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/handles_win32.h"
#include "common/utf.h"
#include "web/charset.h"
#include "web/proxy_rules.h"
#include "web/proxy_winhttp.h"

namespace quenzil {
namespace {

using Clock = std::chrono::steady_clock;

// Winsock codes that Wine's WinHTTP passes through instead of its own.
constexpr DWORD kWsaConnectionAborted = 10053;
constexpr DWORD kWsaConnectionReset = 10054;
constexpr DWORD kWsaTimedOut = 10060;
constexpr DWORD kWsaConnectionRefused = 10061;

constexpr std::size_t kReadChunkBytes = 64 * 1024;
// How long a cancelled request may take to let go before its bookkeeping is
// left to the callback (never freed) instead of waited for.
constexpr std::chrono::milliseconds kCloseGrace{2000};

FetchFailure FailureOf(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case kWsaTimedOut:
      return FetchFailure::kTimedOut;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return FetchFailure::kNameNotResolved;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case kWsaConnectionRefused:
      return FetchFailure::kCannotConnect;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case kWsaConnectionReset:
    case kWsaConnectionAborted:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:  // Wine's answer to a reset before the head
      return FetchFailure::kConnectionLost;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return FetchFailure::kBadAddress;
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return FetchFailure::kTooManyRedirects;
    case ERROR_WINHTTP_SECURE_FAILURE:         // Windows, with the reason in a callback
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:   // Wine, for every TLS failure
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
      return FetchFailure::kSecureChannel;
    default:
      return FetchFailure::kOther;
  }
}

[[noreturn]] void ThrowCode(const char* api, DWORD code) {
  throw FetchError(FailureOf(code), std::string(api) + ": " + std::to_string(code));
}

[[noreturn]] void ThrowLastError(const char* api) { ThrowCode(api, ::GetLastError()); }

DWORD ClampedMillis(std::chrono::milliseconds span) {
  const auto count = std::clamp<std::chrono::milliseconds::rep>(span.count(), 0, 0x7FFFFFFF);
  return static_cast<DWORD>(count);
}

// A transfer that was cancelled: no outcome is reported.
struct Cancelled {};

// What the worker and WinHTTP's callback share for one request. It must live
// until the request's handle is closed for good (HANDLE_CLOSING).
struct RequestEvents {
  enum class Step { kNone, kSent, kHeaders, kDataAvailable, kRead, kError };

  std::mutex mutex;
  UniqueHandle step_done{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle closed{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  Step step = Step::kNone;
  DWORD bytes_read = 0;
  DWORD error = 0;
  // Buffers WinHTTP fills or reads until the matching completion.
  std::string request_body;
  std::vector<std::uint8_t> read_buffer = std::vector<std::uint8_t>(kReadChunkBytes);

  void Record(Step done, DWORD bytes, DWORD error_code) {
    {
      std::lock_guard lock(mutex);
      step = done;
      bytes_read = bytes;
      error = error_code;
    }
    ::SetEvent(step_done.get());
  }
};

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                              DWORD info_length) noexcept {
  if (context == 0) return;  // the session or a connection
  auto* events = reinterpret_cast<RequestEvents*>(context);
  // Nothing may be thrown into WinHTTP's thread; a lock that fails leaves
  // the transfer to its deadline.
  try {
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      events->Record(RequestEvents::Step::kSent, 0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      events->Record(RequestEvents::Step::kHeaders, 0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      events->Record(RequestEvents::Step::kDataAvailable,
                     info != nullptr ? *static_cast<const DWORD*>(info) : 0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      events->Record(RequestEvents::Step::kRead, info_length, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
      events->Record(RequestEvents::Step::kError, 0, result != nullptr ? result->dwError : 0);
      break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      ::SetEvent(events->closed.get());
      break;
    default:
      break;
  }
  } catch (...) {
  }
}

struct Job {
  TransferId id = 0;
  FetchRequest request;
  // The total limit counts from the start, time spent queued included.
  Clock::time_point started = Clock::now();
  UniqueHandle cancel{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  bool cancelled() const { return ::WaitForSingleObject(cancel.get(), 0) == WAIT_OBJECT_0; }
};

}  // namespace

struct TransferPool {
  WinHttpTransfers::OutcomeSink sink;
  std::size_t max_alive = WinHttpTransfers::kDefaultMaxAlive;

  mutable std::mutex mutex;
  // Asynchronous sessions, one per proxy ("" is direct), each with the
  // status callback. A proxy is a session's setting: some WinHTTP builds
  // ignore one set on a request.
  std::map<std::wstring, UniqueInternet> sessions;
  ProxyFinder proxies;
  TransferId next_id = 1;
  // Workers stay for the next job: a thread costs more to make than a
  // local request takes. There are never more than max_alive of them.
  std::size_t workers = 0;
  std::size_t idle = 0;
  std::condition_variable work_ready;
  bool closing = false;
  std::deque<std::shared_ptr<Job>> queued;
  std::unordered_map<TransferId, std::shared_ptr<Job>> running;

  // The session that goes through this proxy; throws FetchError.
  HINTERNET SessionFor(const std::wstring& proxy) {
    std::lock_guard lock(mutex);
    if (const auto found = sessions.find(proxy); found != sessions.end()) return found->second.get();
    UniqueInternet session(::WinHttpOpen(
        L"Quenzil/1.0", proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
        proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session) ThrowLastError("WinHttpOpen");
    const DWORD notifications = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;
    if (::WinHttpSetStatusCallback(session.get(), OnRequestStatus, notifications, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
      ThrowLastError("WinHttpSetStatusCallback");
    }
    return sessions.emplace(proxy, std::move(session)).first->second.get();
  }
};

namespace {

// Closes the request when the exchange ends, whichever way, and waits a
// little for WinHTTP to let go of the shared bookkeeping.
class RequestCloser {
 public:
  RequestCloser(HINTERNET request, std::unique_ptr<RequestEvents> events, bool context_set,
                std::chrono::milliseconds grace)
      : request_(request), events_(std::move(events)), context_set_(context_set), grace_(grace) {}
  RequestCloser(const RequestCloser&) = delete;
  RequestCloser& operator=(const RequestCloser&) = delete;
  ~RequestCloser() {
    // Closing ends a pending operation; HANDLE_CLOSING is the last callback.
    const bool closing = ::WinHttpCloseHandle(request_) != FALSE;
    if (!context_set_) return;  // no callback ever sees the bookkeeping
    if (!closing || ::WaitForSingleObject(events_->closed.get(), ClampedMillis(grace_)) != WAIT_OBJECT_0) {
      // A callback may still come: leave the bookkeeping to it for good.
      static_cast<void>(events_.release());
    }
  }
  RequestEvents& events() { return *events_; }

 private:
  HINTERNET request_;
  std::unique_ptr<RequestEvents> events_;
  bool context_set_;
  std::chrono::milliseconds grace_;
};

// One transfer's exchange. Its handles are members: the outcome is reported
// before the destructor closes the request and waits for WinHTTP to let go.
class Exchange {
 public:
  Exchange(TransferPool& pool, Job& job)
      : pool_(pool), job_(job), limits_(job.request.limits), deadline_(job.started + limits_.total) {}

  FetchOutcome Run() {
    const FetchRequest& request = job_.request;
    const std::wstring url = Widen(request.url);
    AddressParts address;
    if (url.empty() || !SplitAddress(request.url, address)) {
      throw FetchError(FetchFailure::kBadAddress, "not an http or https address");
    }
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
      ThrowLastError("WinHttpCrackUrl");
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
    target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    target = target.substr(0, target.find(L'#'));  // a fragment never leaves the program
    if (target.empty()) target = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    // A proxy script may take a while; the wait keeps to the limits.
    const std::optional<std::wstring> proxy = pool_.proxies.ProxyFor(address, job_.cancel.get(), deadline_);
    if (!proxy) throw Cancelled{};
    StopIfCancelled();

    connection_.reset(::WinHttpConnect(pool_.SessionFor(*proxy), host.c_str(), parts.nPort, 0));
    if (!connection_) ThrowLastError("WinHttpConnect");
    // The caller has percent-encoded what needs it; "[]" must go out as is.
    DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
    if (secure) flags |= WINHTTP_FLAG_SECURE;
    const std::wstring method = Widen(request.method);
    const HINTERNET request_handle =
        ::WinHttpOpenRequest(connection_.get(), method.c_str(), target.c_str(), nullptr,
                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (request_handle == nullptr) ThrowLastError("WinHttpOpenRequest");

    auto events = std::make_unique<RequestEvents>();
    if (!events->step_done || !events->closed) {
      const DWORD create_error = ::GetLastError();  // before the close can overwrite it
      ::WinHttpCloseHandle(request_handle);
      ThrowCode("CreateEventW", create_error);
    }
    events->request_body = request.body;
    auto context = reinterpret_cast<DWORD_PTR>(events.get());
    const bool context_set = ::WinHttpSetOption(request_handle, WINHTTP_OPTION_CONTEXT_VALUE,
                                                &context, sizeof(context)) != FALSE;
    const DWORD set_context_error = ::GetLastError();
    closer_.emplace(request_handle, std::move(events), context_set,
                    std::max(limits_.connect, limits_.receive) + kCloseGrace);
    if (!context_set) ThrowCode("WinHttpSetOption(CONTEXT_VALUE)", set_context_error);
    RequestEvents& shared = closer_->events();

    SetRequestOptions(request_handle);
    Send(request_handle, shared, context);
    if (!::WinHttpReceiveResponse(request_handle, nullptr)) ThrowLastError("WinHttpReceiveResponse");
    WaitFor(shared, RequestEvents::Step::kHeaders);

    FetchOutcome outcome;
    outcome.status = StatusCode(request_handle);
    // WinHTTP hands back the last redirect answer when it stops following.
    if (outcome.status >= 300 && outcome.status < 400 && outcome.status != 304 &&
        HasLocation(request_handle)) {
      throw FetchError(FetchFailure::kTooManyRedirects,
                       "redirect not followed, status " + std::to_string(outcome.status));
    }
    for (const std::string& name : request.wanted_headers) {
      if (auto value = Header(request_handle, name)) outcome.headers.emplace_back(name, std::move(*value));
    }
    std::vector<std::uint8_t> body = ReadBody(request_handle, shared);
    outcome.ok = true;
    outcome.text = request.decoding == BodyText::kUtf8 ? DecodeUtf8WithoutBom(body) : DecodeBytes(body);
    return outcome;
  }

 private:
  void StopIfCancelled() const {
    if (job_.cancelled()) throw Cancelled{};
  }

  void SetRequestOptions(HINTERNET request) {
    const int connect_ms = static_cast<int>(ClampedMillis(limits_.connect));
    if (!::WinHttpSetTimeouts(request, connect_ms, connect_ms, static_cast<int>(ClampedMillis(limits_.send)),
                              static_cast<int>(ClampedMillis(limits_.receive)))) {
      ThrowLastError("WinHttpSetTimeouts");
    }
    // Under Wine only this option bounds the wait for the response headers.
    DWORD receive_ms = ClampedMillis(limits_.receive);
    if (!::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_ms,
                            sizeof(receive_ms))) {
      ThrowLastError("WinHttpSetOption(RECEIVE_RESPONSE_TIMEOUT)");
    }
  }

  void Send(HINTERNET request, RequestEvents& shared, DWORD_PTR context) {
    std::wstring headers;
    if (!job_.request.content_type.empty()) {
      headers = L"Content-Type: " + Widen(job_.request.content_type) + L"\r\n";
    }
    for (const auto& [name, value] : job_.request.headers) headers += Widen(name) + L": " + Widen(value) + L"\r\n";
    const std::string& body = shared.request_body;
    if (body.size() > 0x7FFFFFFF) throw FetchError(FetchFailure::kOther, "request body too large");
    const auto body_size = static_cast<DWORD>(body.size());
    StopIfCancelled();
    if (!::WinHttpSendRequest(request, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                              headers.empty() ? 0 : static_cast<DWORD>(-1),
                              body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                              body_size, body_size, context)) {
      ThrowLastError("WinHttpSendRequest");
    }
    WaitFor(shared, RequestEvents::Step::kSent);
    if (job_.request.on_sent) job_.request.on_sent();
  }

  std::vector<std::uint8_t> ReadBody(HINTERNET request, RequestEvents& shared) {
    bool length_known = false;
    const std::uint64_t declared = ContentLength(request, length_known);
    if (length_known && declared > limits_.max_body_bytes) {
      throw FetchError(FetchFailure::kTooLarge, "Content-Length " + std::to_string(declared) +
                                                    " over the limit of " +
                                                    std::to_string(limits_.max_body_bytes));
    }
    std::vector<std::uint8_t> body;
    if (length_known) body.reserve(static_cast<std::size_t>(declared));
    for (;;) {
      // Asked first how much has come: a read of more than that waits for
      // the buffer to fill, on the calling thread, past any deadline.
      if (!::WinHttpQueryDataAvailable(request, nullptr)) ThrowLastError("WinHttpQueryDataAvailable");
      const DWORD available = WaitFor(shared, RequestEvents::Step::kDataAvailable);
      if (available == 0) break;
      const auto wanted = static_cast<DWORD>(std::min<std::size_t>(available, shared.read_buffer.size()));
      if (!::WinHttpReadData(request, shared.read_buffer.data(), wanted, nullptr)) {
        ThrowLastError("WinHttpReadData");
      }
      const DWORD read = WaitFor(shared, RequestEvents::Step::kRead);
      if (read == 0) break;
      if (read > limits_.max_body_bytes - body.size()) {
        throw FetchError(FetchFailure::kTooLarge,
                         "body over the limit of " + std::to_string(limits_.max_body_bytes));
      }
      body.insert(body.end(), shared.read_buffer.begin(), shared.read_buffer.begin() + read);
    }
    // A reset after part of the body can look like a clean end.
    if (length_known && body.size() != declared) {
      throw FetchError(FetchFailure::kConnectionLost, "WinHttpReadData: " + std::to_string(body.size()) +
                                                          " of " + std::to_string(declared) + " bytes");
    }
    return body;
  }

  // Waits for the completion of the one operation under way; its byte
  // count for a read or a data-available. Throws on failure, cancellation
  // and the deadline.
  DWORD WaitFor(RequestEvents& shared, RequestEvents::Step expected) {
    const std::string timed_out = "no answer within " + std::to_string(limits_.total.count()) + " ms";
    for (;;) {
      if (!WaitOrCancel(shared.step_done.get(), job_.cancel.get(), deadline_, timed_out)) throw Cancelled{};
      std::lock_guard lock(shared.mutex);
      if (shared.step == RequestEvents::Step::kError) ThrowCode("WinHTTP", shared.error);
      if (shared.step != expected) continue;  // not this operation's completion
      return shared.bytes_read;
    }
  }

  static DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
      ThrowLastError("WinHttpQueryHeaders(status)");
    }
    return status;
  }

  // A response header by name; nullopt when it did not come.
  static std::optional<std::string> Header(HINTERNET request, const std::string& name) {
    const std::wstring wide_name = Widen(name);
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, wide_name.c_str(), WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, wide_name.c_str(), value.data(), &size,
                               WINHTTP_NO_HEADER_INDEX)) {
      return std::nullopt;
    }
    value.resize(size / sizeof(wchar_t));
    return Narrow(value);
  }

  static bool HasLocation(HINTERNET request) {
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                          WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    // A present header answers "buffer too small" to the size probe.
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  }

  static std::uint64_t ContentLength(HINTERNET request, bool& present) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    present = false;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                               &size, WINHTTP_NO_HEADER_INDEX)) {
      if (::GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND) return 0;
      ThrowLastError("WinHttpQueryHeaders(Content-Length)");
    }
    const std::string digits = Narrow(text);
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
      throw FetchError(FetchFailure::kOther, "bad Content-Length: " + digits);
    }
    present = true;
    return length;
  }

  TransferPool& pool_;
  Job& job_;
  const FetchLimits limits_;
  const Clock::time_point deadline_;
  // Closed in reverse: the request, then its connection.
  UniqueInternet connection_;
  std::optional<RequestCloser> closer_;
};

// Runs one job and reports its outcome unless it was cancelled.
void RunJob(TransferPool& pool, Job& job) noexcept {
  FetchOutcome outcome;
  bool cancelled = false;
  // Destroyed after the outcome is out: closing the request may wait for a
  // server that does not answer.
  std::optional<Exchange> exchange;
  try {
    exchange.emplace(pool, job);
    outcome = exchange->Run();
  } catch (const Cancelled&) {
    cancelled = true;
  } catch (const FetchError& error) {
    outcome = FetchOutcome::Failed(error.kind(), error.what());
  } catch (const std::bad_alloc&) {
    outcome = FetchOutcome::Failed(FetchFailure::kOther, "out of memory");
  } catch (const std::exception& error) {
    outcome = FetchOutcome::Failed(FetchFailure::kOther, error.what());
  } catch (...) {
    outcome = FetchOutcome::Failed(FetchFailure::kOther, "unknown failure");
  }
  if (cancelled || job.cancelled()) return;
  try {
    pool.sink(job.id, std::move(outcome));
  } catch (...) {
    // Nobody is left to tell; the window treats the transfer as lost.
  }
}

// One worker: takes queued jobs one after the other until the pool closes.
void WorkerMain(std::shared_ptr<TransferPool> pool) noexcept {
  std::unique_lock lock(pool->mutex);
  for (;;) {
    ++pool->idle;
    pool->work_ready.wait(lock, [&] { return pool->closing || !pool->queued.empty(); });
    --pool->idle;
    if (pool->closing) break;
    std::shared_ptr<Job> job = std::move(pool->queued.front());
    pool->queued.pop_front();
    pool->running.emplace(job->id, job);
    lock.unlock();
    RunJob(*pool, *job);
    lock.lock();
    pool->running.erase(job->id);
  }
  --pool->workers;
}

}  // namespace

WinHttpTransfers::WinHttpTransfers(OutcomeSink sink, std::size_t max_alive)
    : pool_(std::make_shared<TransferPool>()) {
  pool_->sink = std::move(sink);
  pool_->max_alive = std::max<std::size_t>(max_alive, 1);
}

WinHttpTransfers::~WinHttpTransfers() {
  std::lock_guard lock(pool_->mutex);
  pool_->closing = true;
  pool_->queued.clear();
  for (auto& [id, job] : pool_->running) ::SetEvent(job->cancel.get());
  pool_->work_ready.notify_all();
}

TransferId WinHttpTransfers::Start(FetchRequest request) {
  auto job = std::make_shared<Job>();
  job->request = std::move(request);
  std::unique_lock lock(pool_->mutex);
  job->id = pool_->next_id++;
  const auto fail = [&](const std::string& cause) {
    // Reported like any failed transfer; the sink only queues it.
    try {
      pool_->sink(job->id, FetchOutcome::Failed(FetchFailure::kOther, cause));
    } catch (...) {
    }
  };
  if (!job->cancel) {
    fail("CreateEventW: " + std::to_string(::GetLastError()));
    return job->id;
  }
  pool_->queued.push_back(job);
  if (pool_->idle > pool_->queued.size() - 1) {
    pool_->work_ready.notify_one();
  } else if (pool_->workers < pool_->max_alive) {
    try {
      std::thread(WorkerMain, pool_).detach();
      ++pool_->workers;
    } catch (const std::exception& error) {
      pool_->queued.pop_back();
      fail(std::string("thread: ") + error.what());
    }
  }
  return job->id;
}

void WinHttpTransfers::Cancel(TransferId id) {
  std::lock_guard lock(pool_->mutex);
  const auto queued = std::find_if(pool_->queued.begin(), pool_->queued.end(),
                                   [id](const std::shared_ptr<Job>& job) { return job->id == id; });
  if (queued != pool_->queued.end()) {
    pool_->queued.erase(queued);
    return;
  }
  if (const auto running = pool_->running.find(id); running != pool_->running.end()) {
    ::SetEvent(running->second->cancel.get());
  }
}

std::size_t WinHttpTransfers::alive() const {
  std::lock_guard lock(pool_->mutex);
  return pool_->running.size();
}

std::size_t WinHttpTransfers::queued() const {
  std::lock_guard lock(pool_->mutex);
  return pool_->queued.size();
}

}  // namespace quenzil
