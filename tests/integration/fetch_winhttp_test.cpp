// WinHttpFetcher against the fake server (tests/support/fake_server.py),
// whose port comes in QUENZIL_FAKE_PORT.
#include "web/fetch_winhttp.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/unique_handle.h"

namespace quenzil {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using ::testing::HasSubstr;

std::string ServerBase() {
  const char* port = std::getenv("QUENZIL_FAKE_PORT");
  return std::string("http://127.0.0.1:") + (port ? port : "0");
}

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char byte : text) {
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_') {
      encoded += static_cast<char>(byte);
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

// The query address shape of the product, with the behaviour in nu.
std::string ApiUrl(const std::string& behaviour) {
  return ServerBase() + "/api?id=1&com=test&nu=" + PercentEncode(behaviour) + "&valicode=[]";
}

FetchLimits ShortLimits() {
  FetchLimits limits;
  limits.connect = milliseconds{3000};
  limits.send = milliseconds{3000};
  limits.receive = milliseconds{3000};
  limits.total = milliseconds{8000};
  return limits;
}

// A message-only window whose messages go to a callback, to see what the
// pump runs while a fetch waits.
class MessageWindow {
 public:
  explicit MessageWindow(std::function<void(UINT, WPARAM)> on_message)
      : on_message_(std::move(on_message)) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &MessageWindow::Procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = kClassName;
    if (!::RegisterClassExW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      ADD_FAILURE() << "RegisterClassExW: " << ::GetLastError();
    }
    window_.reset(::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    window_class.hInstance, this));
    if (!window_) ADD_FAILURE() << "CreateWindowExW: " << ::GetLastError();
  }
  HWND get() const { return window_.get(); }

 private:
  static constexpr const wchar_t* kClassName = L"QuenzilFetchTestWindow";
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && (message == WM_TIMER || message >= WM_APP)) {
      self->on_message_(message, wparam);
      return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  std::function<void(UINT, WPARAM)> on_message_;
  UniqueAny<HWND, decltype(&::DestroyWindow), ::DestroyWindow> window_;
};

FetchFailure FailureOfFetch(const std::string& url, const FetchLimits& limits,
                            std::string* cause = nullptr) {
  PlainMessagePump pump;
  WinHttpFetcher fetcher(pump);
  try {
    const std::string text = fetcher.FetchText(url, limits);
    ADD_FAILURE() << "expected a failure, got text: " << text.substr(0, 200);
  } catch (const FetchError& error) {
    if (cause) *cause = error.cause();
    EXPECT_FALSE(error.cause().empty());
    return error.kind();
  }
  return FetchFailure::kOther;
}

TEST(WinHttpFetchTest, BodiesAreDecodedWhateverTheStatus) {
  PlainMessagePump pump;
  WinHttpFetcher fetcher(pump);
  const FetchLimits limits = ShortLimits();
  EXPECT_EQ(fetcher.FetchText(ServerBase() + "/utf8.html", limits),
            "<html><body><p>快递已签收，签收人：本人</p></body></html>");
  EXPECT_EQ(fetcher.FetchText(ApiUrl("gbk:查无结果，请核对单号"), limits),
            "查无结果，请核对单号");
  EXPECT_EQ(fetcher.FetchText(ApiUrl("bom:时间 ok"), limits), "时间 ok");
  EXPECT_EQ(fetcher.FetchText(ApiUrl("body:2"), limits), "2");
  EXPECT_EQ(fetcher.FetchText(ApiUrl("status:500:error.html"), limits), "server error: 服务暂停");
  EXPECT_EQ(fetcher.FetchText(ServerBase() + "/no-such-answer", limits), "not found");
  EXPECT_EQ(fetcher.FetchText(ApiUrl("body:"), limits), "");  // a real, empty answer
}

TEST(WinHttpFetchTest, ServerSeesTheAddressExactlyAsGiven) {
  PlainMessagePump pump;
  WinHttpFetcher fetcher(pump);
  const std::string target = "/api?id=1&com=yuantong&nu=AB%20C%2F1%E4%B8%AD&valicode=[]&temp=0.25";
  EXPECT_EQ(fetcher.FetchText(ServerBase() + target, ShortLimits()), "not found");
  const std::string log = fetcher.FetchText(ServerBase() + "/__log", ShortLimits());
  EXPECT_THAT(log, HasSubstr("\n" + target + "\n"));
}

TEST(WinHttpFetchTest, WaitKeepsRunningWindowMessages) {
  PlainMessagePump pump;
  WinHttpFetcher fetcher(pump);
  int ticks = 0;
  bool posted_seen = false;
  MessageWindow window([&](UINT message, WPARAM) {
    if (message == WM_TIMER) ++ticks;
    if (message == WM_APP) posted_seen = true;
  });
  ASSERT_NE(window.get(), nullptr);
  ASSERT_NE(::SetTimer(window.get(), 1, 50, nullptr), 0u);
  ASSERT_TRUE(::PostMessageW(window.get(), WM_APP, 0, 0));
  const std::string text = fetcher.FetchText(ApiUrl("slow:1500:small.txt"), ShortLimits());
  ::KillTimer(window.get(), 1);
  EXPECT_EQ(text, "small answer");
  EXPECT_TRUE(posted_seen);
  EXPECT_GE(ticks, 5) << "timer ticks handled during a 1.5 s wait";
}

TEST(WinHttpFetchTest, NestedFetchEndsBeforeTheOuterOne) {
  PlainMessagePump pump;
  WinHttpFetcher fetcher(pump);
  std::vector<std::string> finished;
  MessageWindow window([&](UINT message, WPARAM) {
    if (message != WM_APP) return;
    finished.push_back("inner:" + fetcher.FetchText(ApiUrl("slow:300:utf8.html"), ShortLimits()));
  });
  ASSERT_NE(window.get(), nullptr);
  ASSERT_TRUE(::PostMessageW(window.get(), WM_APP, 0, 0));
  finished.push_back("outer:" + fetcher.FetchText(ApiUrl("slow:1000:small.txt"), ShortLimits()));
  EXPECT_THAT(finished,
              ::testing::ElementsAre(
                  "inner:<html><body><p>快递已签收，签收人：本人</p></body></html>",
                  "outer:small answer"));
}

TEST(WinHttpFetchTest, FailedTransfersThrowTheirKind) {
  const FetchLimits limits = ShortLimits();
  // Nothing listens on port 1 of the loopback address.
  EXPECT_EQ(FailureOfFetch("http://127.0.0.1:1/", limits), FetchFailure::kCannotConnect);
  EXPECT_EQ(FailureOfFetch("not an address", limits), FetchFailure::kBadAddress);
  EXPECT_EQ(FailureOfFetch("ftp://127.0.0.1/x", limits), FetchFailure::kBadAddress);
  EXPECT_EQ(FailureOfFetch(ApiUrl("redirect-loop"), limits), FetchFailure::kTooManyRedirects);
  std::string cause;
  EXPECT_EQ(FailureOfFetch(ApiUrl("reset"), limits, &cause), FetchFailure::kConnectionLost)
      << cause;
  EXPECT_EQ(FailureOfFetch(ApiUrl("resetmid:page.html"), limits, &cause),
            FetchFailure::kConnectionLost)
      << cause;
}

TEST(WinHttpFetchTest, OversizeBodiesStopAtTheLimit) {
  FetchLimits limits = ShortLimits();
  limits.max_body_bytes = 1024 * 1024;
  std::string cause;
  // Declared length over the limit: refused before reading.
  EXPECT_EQ(FailureOfFetch(ApiUrl("huge:4"), limits, &cause), FetchFailure::kTooLarge);
  EXPECT_THAT(cause, HasSubstr("Content-Length"));
  // No declared length: counted while reading.
  limits.max_body_bytes = 1000;
  EXPECT_EQ(FailureOfFetch(ApiUrl("chunked-truncated:page.html"), limits, &cause),
            FetchFailure::kTooLarge);
  // Exactly at the limit is fine.
  limits.max_body_bytes = 12;
  PlainMessagePump pump;
  EXPECT_EQ(WinHttpFetcher(pump).FetchText(ServerBase() + "/small.txt", limits), "small answer");
}

TEST(WinHttpFetchTest, SilentServerEndsInTimeOut) {
  FetchLimits limits = ShortLimits();
  limits.receive = milliseconds{1500};
  const auto start = steady_clock::now();
  std::string cause;
  EXPECT_EQ(FailureOfFetch(ApiUrl("stall"), limits, &cause), FetchFailure::kTimedOut) << cause;
  // The receive limit, not the overall one, ended it.
  EXPECT_LT(steady_clock::now() - start, milliseconds{7000}) << cause;
}

TEST(WinHttpFetchTest, OverallDeadlineReturnsWithoutWaitingForTheTransfer) {
  FetchLimits limits = ShortLimits();
  limits.total = milliseconds{2000};  // the drip itself keeps each read within receive
  const auto start = steady_clock::now();
  std::string cause;
  EXPECT_EQ(FailureOfFetch(ApiUrl("drip:page.html"), limits, &cause), FetchFailure::kTimedOut);
  const auto took = steady_clock::now() - start;
  EXPECT_GE(took, milliseconds{1900});
  EXPECT_LT(took, milliseconds{4000}) << cause;
  // The abandoned transfer does not disturb the next one.
  PlainMessagePump pump;
  EXPECT_EQ(WinHttpFetcher(pump).FetchText(ServerBase() + "/small.txt", ShortLimits()),
            "small answer");
}

}  // namespace
}  // namespace quenzil

