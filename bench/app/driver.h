// Drives a program from outside, as a person would: starts it, waits for its
// window, clicks, types, reads List1, hides it, closes it (answering the
// exit question). Also sets up what the program finds at start: the key in
// the registry and the watch list in %APPDATA%. Every wait is bounded.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "bench_support.h"

namespace bench {

class Program {
 public:
  // Starts exe, whose main window has this class; the window is not waited for.
  static std::unique_ptr<Program> Launch(const std::wstring& exe, const wchar_t* window_class);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  // Closes the program as a person would (WM_CLOSE, then OK in the
  // question), else ends it.
  ~Program();

  // Milliseconds from the start to the visible main window; nullopt when it
  // did not show within the limit.
  std::optional<double> WaitVisible(Millis limit);
  bool Visible() const;
  // The Wine process running the exe on the host (looked up once).
  std::optional<unsigned long> HostPid();

  HWND Control(int id) const;
  // A posted click on a visible, enabled control (a posted click reaches even
  // a disabled button under Wine).
  bool Click(int id);
  bool SelectCarrier(int id);
  bool TypeNumber(const std::wstring& number);
  std::optional<LRESULT> ListCount() const;
  // Polls List1 until it holds `rows` rows; step 0 polls without pause.
  bool WaitForRowCount(LRESULT rows, Millis limit, Millis step) const;
  // 清空单号 (the list keeps only its placeholder), then the number typed.
  bool PrepareQuery(const std::wstring& number);
  // A posted click on 开始查询; the click's moment is the caller's to take.
  bool PostQueryClick();
  // 缩小到后台: hidden, only the notification-area icon left.
  bool HideToTray();
  HWND window() const { return window_; }
  // A visible top-level window of the program with this caption, or null.
  HWND FindShown(const wchar_t* caption) const;

 private:
  Program() = default;
  HWND FindTopLevel(const wchar_t* window_class, bool visible_only) const;
  bool Exited(DWORD wait_ms) const;

  std::wstring exe_;
  const wchar_t* window_class_ = nullptr;
  HANDLE process_ = nullptr;
  DWORD process_id_ = 0;
  HWND window_ = nullptr;
  Clock::time_point started_at_{};
  std::set<unsigned long> host_pids_before_;
  std::optional<unsigned long> host_pid_;
};

// What the program finds at start: the keyed API's account stored as the
// program stores it (or none), and a watch list of `watched` parcels last
// checked now (or no file at all).
bool StoreCredentials(bool present);
// The account of this one service alone ("kuaidi100", "kdniao", "appcode"),
// the fake server's, stored as the program stores it.
bool StoreServiceAccount(std::string_view service);
bool WriteWatchList(std::size_t watched);

}  // namespace bench
