// Drives a real quenzil.exe from outside, as a user would: finds its window
// and controls, types, clicks, reads what it shows, answers its message
// boxes. Also talks to the fake tracking/maker server and reads the stand-in
// browser's log. Every wait is bounded.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/handles_win32.h"

namespace e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;
using quenzil::UniqueFile;
using quenzil::UniqueHandle;

// Winsock for a whole run: the driver talks to the fake server directly.
class WinsockSession {
 public:
  WinsockSession() { ready_ = ::WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  ~WinsockSession() {
    if (ready_) ::WSACleanup();
  }
  bool ready() const { return ready_; }

 private:
  WSADATA data_{};
  bool ready_ = false;
};

// The non-empty lines of a text, without their CR.
std::vector<std::string> SplitLines(const std::string& text);

// Top-level windows of the process with this class and title (any when
// null), visible ones only when asked; the first of them, or null.
std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* class_name, const wchar_t* title, bool visible_only);
HWND FindWindowOf(DWORD pid, const wchar_t* class_name, const wchar_t* title, bool visible_only);
// A window's text; empty when it cannot be read.
std::wstring WindowTextOf(HWND window);

// An environment variable's value; empty when unset.
std::wstring EnvironmentText(const wchar_t* name);

// Settings handed in by the test wrapper through the environment.
struct Settings {
  std::wstring quenzil_exe;       // QUENZIL_E2E_EXE
  std::wstring browser_log;       // QUENZIL_E2E_BROWSER_LOG
  std::wstring screenshot_dir;    // QUENZIL_E2E_SHOTS (optional)
  // The wrapper's folder for requests it carries out on the host (optional).
  // The fake server's ports, as compiled into the test build.
  unsigned short tracking_port = 18761;  // QUENZIL_E2E_TRACKING_PORT
  unsigned short maker_port = 18762;     // QUENZIL_E2E_MAKER_PORT
};
const Settings& GetSettings();

// "http://127.0.0.1:PORT" of the tracking service and of the maker site.
std::string TrackingOrigin();
std::string MakerOrigin();

// Polls until the condition holds or the limit passes; true if it held.
bool WaitUntil(const std::function<bool()>& condition, Millis limit, Millis step = 20ms);
// Polls the condition for the whole time; false as soon as it fails.
bool HoldsFor(const std::function<bool()>& condition, Millis time, Millis step = 20ms);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

// The fake server (both ports answer the same).
std::optional<std::string> HttpGet(unsigned short port, const std::string& target);
::testing::AssertionResult ResetServer();
// Overrides the answer for a key: a tracking number or "gengxin.txt".
::testing::AssertionResult SetBehavior(const std::string& key, const std::string& behavior);
// The request targets of /api requests, in arrival order.
std::vector<std::string> ApiRequestsInServerLog();
// "gengxin.txt" requests so far.
std::size_t UpdateChecksInServerLog();

// The stand-in browser's records.
struct BrowserCall {
  std::string show;  // wShowWindow as decimal, or "none"
  std::string url;
};
void ClearBrowserLog();
std::vector<BrowserCall> BrowserCalls();

// Asks the wrapper for a screenshot of the whole display; false if nobody
// took it in time (no wrapper, or no display tool).
bool TakeScreenshot(const std::string& name);


// Removes what a run of the program may leave for the next one: the stored
// key of the keyed API and the watch list. True when none is left.
bool RemoveStoredState();

// Splits the clock part of a title " Y- M- D  h: m: s"; nullopt if the text
// has any other form.
std::optional<SYSTEMTIME> ParseTitleClock(const std::wstring& title, const std::wstring& prefix);

// True while the shell's notification area shows any icon. Without a
// taskbar the area is a window of its own, shown only while it holds icons.
bool NotificationAreaShown();

// Holds the clipboard open for its lifetime, as another program might.
class ClipboardHold {
 public:
  ClipboardHold();
  ClipboardHold(const ClipboardHold&) = delete;
  ClipboardHold& operator=(const ClipboardHold&) = delete;
  ~ClipboardHold();
  bool held() const { return held_; }
  void Release();

 private:
  bool held_ = false;
};

// Removes an icon of another program from the notification area, as a shell
// that restarts forgets it; true if the shell had it.
bool DeleteTrayIconOf(HWND owner, UINT id);

// A plain window of the driver's own, on a thread of its own: activating it
// takes the foreground away from the program, as another program would.
class ForeignWindow {
 public:
  ForeignWindow();
  ForeignWindow(const ForeignWindow&) = delete;
  ForeignWindow& operator=(const ForeignWindow&) = delete;
  ~ForeignWindow();
  HWND hwnd() const { return hwnd_; }
  ::testing::AssertionResult Activate();

 private:
  HWND hwnd_ = nullptr;
  DWORD thread_id_ = 0;
  HANDLE thread_ = nullptr;
};

// What a process holds, as far as this platform lets another process see.
// A missing figure could not be read.
struct ResourceCounts {
  std::optional<DWORD> handles;     // GetProcessHandleCount
  // Handle values that can be duplicated out of the process: a count that
  // does not rely on the platform's bookkeeping of handle counts.
  std::optional<DWORD> probed_handles;
  std::optional<DWORD> gdi_objects;  // GetGuiResources(GR_GDIOBJECTS)
  std::optional<DWORD> user_objects; // GetGuiResources(GR_USEROBJECTS)
  std::size_t windows = 0;           // its top-level and child windows
  // From the host's /proc when the program runs on a compatibility layer.
  std::optional<long long> host_rss_kib;
  std::optional<long long> host_threads;
  std::optional<long long> host_fds;
};
std::string Describe(const ResourceCounts& counts);

// The clipboard's Unicode text; nullopt if it holds none or cannot be opened.
std::optional<std::wstring> ClipboardText();
bool PutTextOnClipboard(const std::wstring& text);

// One running quenzil.exe.
class App {
 public:
  // Starts the program once no earlier one is left (a second instance
  // would only bring the first forward), or at once as a second instance;
  // the window is not waited for.
  static std::unique_ptr<App> Launch(bool second_instance = false, const std::wstring& arguments = {});
  App(const App&) = delete;
  App& operator=(const App&) = delete;
  // Ends the program if it still runs: WM_CLOSE and OK, else
  // TerminateProcess; returns once the process is gone.
  ~App();

  DWORD pid() const { return process_id_; }
  std::chrono::steady_clock::time_point started_at() const { return started_at_; }

  // The program's visible main window, once it exists.
  ::testing::AssertionResult WaitForWindow(Millis limit);
  HWND form() const { return form_; }
  // The main window whether visible or not (null if none).
  HWND FindForm() const;
  bool FormVisible() const;

  bool Running() const;
  // True once the process has ended within the limit; the exit code then.
  bool WaitForExit(Millis limit, DWORD* exit_code = nullptr) const;

  HWND Control(int id) const;
  // Fails unless the control exists, is visible and enabled (a posted click
  // reaches even a disabled button under some platforms).
  ::testing::AssertionResult Usable(int id) const;
  ::testing::AssertionResult Click(int id);
  ::testing::AssertionResult SelectCarrier(int id);
  ::testing::AssertionResult TypeNumber(const std::wstring& number);
  bool IsChecked(int id) const;
  std::optional<std::wstring> Text2() const;
  std::optional<std::vector<std::wstring>> Rows() const;
  // Waits until the rows are exactly these; on failure says what was there.
  ::testing::AssertionResult WaitForRows(const std::vector<std::wstring>& expected, Millis limit);
  std::wstring Title() const;
  // The child window that has the keyboard focus in the program's thread.
  HWND FocusedWindow() const;
  // The id of the control with the focus; 0 if none of the main window's.
  int FocusedId() const;
  RECT ControlRectInClient(int id) const;

  // The keyboard, through the system's input queue (SendInput): the keys
  // reach the program's window that is in front and pass through its
  // dialog manager like typed ones. Fails unless a window of the program is
  // the foreground window.
  ::testing::AssertionResult BringToFront();
  ::testing::AssertionResult PressKey(WORD key, bool shift = false);
  // Alt and the key: a mnemonic, as the dialog manager takes it.
  ::testing::AssertionResult PressAlt(WORD key);
  // Types the text as characters (what a keyboard layout or an input method
  // hands the focused control).
  ::testing::AssertionResult TypeText(const std::wstring& text);
  // Holds the key down for the time, repeating it as a keyboard does, and
  // calls `meanwhile` between repeats; then lets it go.
  ::testing::AssertionResult HoldKey(WORD key, Millis time,
                                     const std::function<void()>& meanwhile = {});
  // Presses Tab (or Shift+Tab) and waits until the focus has moved there.
  ::testing::AssertionResult TabTo(int id, bool backwards = false);
  // Presses the key and waits until the control has the focus.
  ::testing::AssertionResult KeyMovesFocusTo(WORD key, int id, bool shift = false);
  // Presses Tab as often as it takes the focus to reach the control.
  ::testing::AssertionResult TabAround(int id);

  // Posts a pointer movement at a client point of the main window.
  ::testing::AssertionResult MoveMouse(POINT client_point);
  ::testing::AssertionResult MoveMouseOverControl(int id);
  // A label click as the mouse gives it: press and release over the label.
  ::testing::AssertionResult ClickLabel(int id);
  ::testing::AssertionResult PressTrayIcon(UINT mouse_message = WM_LBUTTONDOWN);
  // Two presses of the left button in a row, as the system reports them:
  // the second comes as a double click.
  ::testing::AssertionResult DoubleClickLabel(int id);
  ::testing::AssertionResult RequestClose();
  // The shell's broadcast after it (re)starts.
  ::testing::AssertionResult PostTaskbarCreated();
  // Leaves WM_QUIT in the queue of the program's window thread.
  ::testing::AssertionResult PostQuitToWindowThread();
  // Sends a message to the main window, bounded in time; nullopt if it was
  // not answered.
  std::optional<LRESULT> SendToForm(UINT message, WPARAM wparam, LPARAM lparam,
                                    Millis limit = 3000ms) const;

  // How long the window takes to answer a WM_GETTEXT; nullopt if it does
  // not answer within the limit.
  std::optional<Millis> Ping(Millis limit = 2000ms) const;
  ResourceCounts Resources() const;
  // The host's thread count of the program alone (quick to read).
  std::optional<long long> HostThreads() const;
  // The processor time the program has used on the host, in clock ticks.
  std::optional<long long> HostCpuTicks() const;

  // A message box of this program with this title, once it is visible.
  HWND WaitForMessageBox(const std::wstring& title, Millis limit) const;
  // True if none with this title shows up within the time.
  bool NoMessageBoxFor(const std::wstring& title, Millis time) const;
  static std::wstring MessageBoxText(HWND box);
  // Clicks the box's button (IDOK / IDCANCEL) and waits until it is gone.
  static ::testing::AssertionResult Answer(HWND box, int button_id);

 private:
  App() = default;
  ::testing::AssertionResult SendKey(WORD key, bool up);
  std::optional<std::string> HostFile(const wchar_t* name) const;
  quenzil::UniqueHandle process_;
  DWORD process_id_ = 0;
  DWORD thread_id_ = 0;
  bool second_instance_ = false;
  HWND form_ = nullptr;
  std::chrono::steady_clock::time_point started_at_{};
  mutable std::wstring host_directory_;
};

// A fresh quenzil.exe per test, ended when the test ends. No stored key or
// watch list before or after: with them the program behaves differently.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts the program and waits for its window and the first focus.
  ::testing::AssertionResult Start();

  std::unique_ptr<App> app_;
};

}  // namespace e2e
