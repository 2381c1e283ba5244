#include "web/fetch_winhttp.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/unique_handle.h"
#include "common/utf.h"
#include "web/charset.h"

namespace quenzil {
namespace {

using UniqueEvent = UniqueAny<HANDLE, decltype(&::CloseHandle), ::CloseHandle>;
using UniqueInternet = UniqueAny<HINTERNET, decltype(&::WinHttpCloseHandle), ::WinHttpCloseHandle>;

// Winsock codes that Wine's WinHTTP passes through instead of its own.
constexpr DWORD kWsaConnectionAborted = 10053;
constexpr DWORD kWsaConnectionReset = 10054;
constexpr DWORD kWsaTimedOut = 10060;
constexpr DWORD kWsaConnectionRefused = 10061;

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
    default:
      return FetchFailure::kOther;
  }
}

[[noreturn]] void ThrowLastError(const char* api) {
  const DWORD code = ::GetLastError();
  throw FetchError(FailureOf(code), std::string(api) + ": " + std::to_string(code));
}

DWORD ClampedMillis(std::chrono::milliseconds span) {
  const auto count = std::clamp<std::chrono::milliseconds::rep>(span.count(), 0, 0x7FFFFFFF);
  return static_cast<DWORD>(count);
}

}  // namespace

struct WinHttpSession {
  UniqueInternet handle;
};

namespace {

// What the waiting thread and the worker share. The worker may outlive the
// call (after a time-out), so it holds its own reference. The outcome is
// written before `done` is set and read only after it was seen set.
struct Transfer {
  std::shared_ptr<WinHttpSession> session;
  std::string url;
  FetchLimits limits;
  UniqueEvent done;
  // Set when the caller gave up; the worker stops at its next step.
  std::atomic<bool> abandoned{false};

  std::vector<std::uint8_t> body;
  bool failed = false;
  FetchFailure failure = FetchFailure::kOther;
  std::string cause;

  void StopIfAbandoned() const {
    if (abandoned) throw FetchError(FetchFailure::kTimedOut, "abandoned");
  }
};

std::uint64_t ContentLength(HINTERNET request, bool& present) {
  wchar_t text[32] = {};
  DWORD size = sizeof(text);
  present = false;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
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

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    ThrowLastError("WinHttpQueryHeaders(status)");
  }
  return status;
}

bool HasLocation(HINTERNET request) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  // A present header answers "buffer too small" to the size probe.
  return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// The whole exchange, on the worker thread, with blocking WinHTTP calls.
std::vector<std::uint8_t> RunExchange(Transfer& transfer) {
  const std::wstring url = Widen(transfer.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    const DWORD code = ::GetLastError();
    throw FetchError(FetchFailure::kBadAddress, "WinHttpCrackUrl: " + std::to_string(code));
  }
  if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
      parts.dwHostNameLength == 0) {
    throw FetchError(FetchFailure::kBadAddress, "WinHttpCrackUrl: not an http address");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
  target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target.empty()) target = L"/";

  const FetchLimits& limits = transfer.limits;
  // Closed here, on the worker, only: a handle closed under a blocked call
  // could be handed to the next fetch while this one still holds it.
  const UniqueInternet connection(
      ::WinHttpConnect(transfer.session->handle.get(), host.c_str(), parts.nPort, 0));
  if (!connection) ThrowLastError("WinHttpConnect");

  // The caller has already percent-encoded what needs it; "[]" must go out as is.
  DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= WINHTTP_FLAG_SECURE;
  const UniqueInternet request_handle(::WinHttpOpenRequest(
      connection.get(), L"GET", target.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!request_handle) ThrowLastError("WinHttpOpenRequest");
  const HINTERNET request = request_handle.get();
  const int connect_ms = static_cast<int>(ClampedMillis(limits.connect));
  if (!::WinHttpSetTimeouts(request, connect_ms, connect_ms,
                            static_cast<int>(ClampedMillis(limits.send)),
                            static_cast<int>(ClampedMillis(limits.receive)))) {
    ThrowLastError("WinHttpSetTimeouts");
  }
  // Under Wine only this option bounds the wait for the response headers.
  DWORD receive_ms = ClampedMillis(limits.receive);
  if (!::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_ms,
                          sizeof(receive_ms))) {
    ThrowLastError("WinHttpSetOption(RECEIVE_RESPONSE_TIMEOUT)");
  }

  transfer.StopIfAbandoned();
  if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0)) {
    ThrowLastError("WinHttpSendRequest");
  }
  if (!::WinHttpReceiveResponse(request, nullptr)) ThrowLastError("WinHttpReceiveResponse");

  // WinHTTP hands back the last redirect answer when it stops following.
  const DWORD status = StatusCode(request);
  if (status >= 300 && status < 400 && status != 304 && HasLocation(request)) {
    throw FetchError(FetchFailure::kTooManyRedirects,
                     "WinHttpReceiveResponse: redirect not followed, status " +
                         std::to_string(status));
  }

  bool length_known = false;
  const std::uint64_t declared = ContentLength(request, length_known);
  if (length_known && declared > limits.max_body_bytes) {
    throw FetchError(FetchFailure::kTooLarge,
                     "Content-Length " + std::to_string(declared) + " over the limit of " +
                         std::to_string(limits.max_body_bytes));
  }

  std::vector<std::uint8_t> body;
  if (length_known) body.reserve(static_cast<std::size_t>(declared));
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (;;) {
    transfer.StopIfAbandoned();
    DWORD read = 0;
    if (!::WinHttpReadData(request, chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
      ThrowLastError("WinHttpReadData");
    }
    if (read == 0) break;
    if (read > limits.max_body_bytes - body.size()) {
      throw FetchError(FetchFailure::kTooLarge, "body over the limit of " +
                                                    std::to_string(limits.max_body_bytes));
    }
    body.insert(body.end(), chunk.begin(), chunk.begin() + read);
  }
  // A reset after part of the body can look like a clean end.
  if (length_known && body.size() != declared) {
    throw FetchError(FetchFailure::kConnectionLost,
                     "WinHttpReadData: " + std::to_string(body.size()) + " of " +
                         std::to_string(declared) + " bytes");
  }
  return body;
}

void RunOnWorker(const std::shared_ptr<Transfer>& transfer) {
  std::vector<std::uint8_t> body;
  bool failed = true;
  FetchFailure failure = FetchFailure::kOther;
  std::string cause;
  try {
    body = RunExchange(*transfer);
    failed = false;
  } catch (const FetchError& error) {
    failure = error.kind();
    cause = error.cause();
  } catch (const std::exception& error) {
    cause = error.what();
  }
  transfer->body = std::move(body);
  transfer->failed = failed;
  transfer->failure = failure;
  transfer->cause = std::move(cause);
  // Nothing is left to report a failure to; the waiting side then runs into its deadline.
  ::SetEvent(transfer->done.get());
}

}  // namespace

void DispatchWindowMessage(HWND dialog_window, MSG& message) {
  if (dialog_window != nullptr && ::IsDialogMessageW(dialog_window, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

void RunPendingMessages(HWND dialog_window) {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave it for the loop that owns the thread.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    DispatchWindowMessage(dialog_window, message);
  }
}

WinHttpFetcher::WinHttpFetcher(MessagePump& pump) : pump_(pump) {}

std::string WinHttpFetcher::FetchText(const std::string& url, const FetchLimits& limits) {
  if (!session_) {
    auto session = std::make_shared<WinHttpSession>();
    session->handle.reset(::WinHttpOpen(L"Quenzil/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session->handle) ThrowLastError("WinHttpOpen");
    session_ = std::move(session);
  }
  auto transfer = std::make_shared<Transfer>();
  transfer->session = session_;
  transfer->url = url;
  transfer->limits = limits;
  transfer->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!transfer->done) ThrowLastError("CreateEventW");

  const auto deadline = std::chrono::steady_clock::now() + limits.total;
  try {
    std::thread(RunOnWorker, transfer).detach();
  } catch (const std::system_error& error) {
    throw FetchError(FetchFailure::kOther, std::string("thread: ") + error.what());
  }

  // On the way out without an answer, leave the transfer to the worker: it
  // notices between steps, and its own time-outs end any blocked call.
  auto abandon = scope_exit([&transfer] { transfer->abandoned = true; });

  const HANDLE done = transfer->done.get();
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const DWORD wait_ms = ClampedMillis(std::max(left, std::chrono::milliseconds{0}));
#ifdef QUENZIL_NAIVE_ANCHOR
    // Benchmark-only build (QUENZIL_BENCH_NAIVE): poll and pump without ever sleeping.
    DWORD woke = ::WaitForSingleObject(done, 0);
    if (woke == WAIT_TIMEOUT && wait_ms > 0) woke = WAIT_OBJECT_0 + 1;
#else
    const DWORD woke =
        ::MsgWaitForMultipleObjectsEx(1, &done, wait_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
#endif
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      pump_.RunPending();  // handlers, a nested fetch included, run here
      continue;
    }
    if (woke == WAIT_TIMEOUT) {
      if (wait_ms == 0) {
        throw FetchError(FetchFailure::kTimedOut,
                         "no answer within " + std::to_string(limits.total.count()) + " ms");
      }
      continue;
    }
    ThrowLastError("MsgWaitForMultipleObjectsEx");
  }
  abandon.dismiss();

  if (transfer->failed) throw FetchError(transfer->failure, transfer->cause);
  return DecodeBytes(transfer->body);
}

}  // namespace quenzil
