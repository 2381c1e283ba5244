// FetchText over WinHTTP: the transfer runs on a worker thread while the
// calling (window) thread waits for it and keeps running window messages.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "web/fetch.h"

namespace quenzil {

// What the waiting thread does when window input arrives.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Runs every window message pending now, then returns.
  virtual void RunPending() = 0;
};

// Hands a message to the dialog manager of `dialog_window` (Tab between
// controls) or, when that takes none or there is no such window, to its
// window procedure.
void DispatchWindowMessage(HWND dialog_window, MSG& message);

// Runs every message pending now through DispatchWindowMessage, then
// returns. A WM_QUIT it meets is posted again so the outer loop sees it.
void RunPendingMessages(HWND dialog_window);

// RunPendingMessages with no dialog handling; for tests and tools.
class PlainMessagePump final : public MessagePump {
 public:
  void RunPending() override { RunPendingMessages(nullptr); }
};

// One GET per call; each call owns its own state, so a fetch started from a
// handler that runs inside another fetch's wait ends first.
struct WinHttpSession;

class WinHttpFetcher final : public Fetcher {
 public:
  explicit WinHttpFetcher(MessagePump& pump);
  std::string FetchText(const std::string& url, const FetchLimits& limits) override;

 private:
  MessagePump& pump_;
  // One session for the program's life: opening one reads the proxy
  // settings, which costs more than a local request.
  std::shared_ptr<WinHttpSession> session_;
};

}  // namespace quenzil
