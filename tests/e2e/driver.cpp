#include "driver.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "window/control_ids.h"

namespace e2e {
namespace {

constexpr wchar_t kExitTitle[] = L"退出确认";
// Sends to the program are bounded so a hung program fails a test instead of
// hanging it.
constexpr UINT kSendTimeoutMs = 3000;

using UniqueSocket = quenzil::Unique<quenzil::ClosedBy<SOCKET, &::closesocket, INVALID_SOCKET>>;

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    content.append(buffer, got);
  }
  return content;
}

std::optional<LRESULT> SendBounded(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result))
    return std::nullopt;
  return static_cast<LRESULT>(result);
}

std::wstring DescribeRows(const std::optional<std::vector<std::wstring>>& rows) {
  if (!rows) return L"(list unreadable)";
  std::wstring text = std::to_wstring(rows->size()) + L" rows";
  for (const auto& row : *rows) text += L"\n  [" + row + L"]";
  return text;
}

struct WindowSearch {
  DWORD pid;
  const wchar_t* class_name;
  const wchar_t* title;
  bool visible_only;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search.pid) return TRUE;
  wchar_t class_name[64] = {};
  ::GetClassNameW(window, class_name, 64);
  if (search.class_name != nullptr && wcscmp(class_name, search.class_name) != 0) return TRUE;
  if (search.title != nullptr && WindowTextOf(window) != search.title) return TRUE;
  if (search.visible_only && !::IsWindowVisible(window)) return TRUE;
  search.found.push_back(window);
  return TRUE;
}

}  // namespace

std::wstring WindowTextOf(HWND window) {
  const auto length = SendBounded(window, WM_GETTEXTLENGTH, 0, 0);
  if (!length || *length < 0) return {};
  std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
  const auto copied = SendBounded(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  if (!copied || *copied < 0) return {};
  text.resize(std::min(static_cast<size_t>(*copied), static_cast<size_t>(*length)));
  return text;
}

std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* class_name, const wchar_t* title, bool visible_only) {
  WindowSearch search{pid, class_name, title, visible_only, {}};
  ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindWindowOf(DWORD pid, const wchar_t* class_name, const wchar_t* title, bool visible_only) {
  const auto found = WindowsOf(pid, class_name, title, visible_only);
  return found.empty() ? nullptr : found.front();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
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

const Settings& GetSettings() {
  static const Settings settings = [] {
    Settings read;
    read.quenzil_exe = EnvironmentText(L"QUENZIL_E2E_EXE");
    read.browser_log = EnvironmentText(L"QUENZIL_E2E_BROWSER_LOG");
    read.screenshot_dir = EnvironmentText(L"QUENZIL_E2E_SHOTS");
    const auto port = [](const wchar_t* name, unsigned short otherwise) {
      const int value = _wtoi(EnvironmentText(name).c_str());
      return value > 0 && value < 65536 ? static_cast<unsigned short>(value) : otherwise;
    };
    read.tracking_port = port(L"QUENZIL_E2E_TRACKING_PORT", read.tracking_port);
    read.maker_port = port(L"QUENZIL_E2E_MAKER_PORT", read.maker_port);
    return read;
  }();
  return settings;
}

std::string TrackingOrigin() {
  return "http://127.0.0.1:" + std::to_string(GetSettings().tracking_port);
}

std::string MakerOrigin() { return "http://127.0.0.1:" + std::to_string(GetSettings().maker_port); }

bool WaitUntil(const std::function<bool()>& condition, Millis limit, Millis step) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
  }
}

bool HoldsFor(const std::function<bool()>& condition, Millis time, Millis step) {
  const auto deadline = std::chrono::steady_clock::now() + time;
  for (;;) {
    if (!condition()) return false;
    if (std::chrono::steady_clock::now() >= deadline) return true;
    std::this_thread::sleep_for(step);
  }
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int needed =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        needed);
  return wide;
}

std::string Narrow(const std::wstring& utf16) {
  if (utf16.empty()) return {};
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                           nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string narrow(static_cast<size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), narrow.data(),
                        needed, nullptr, nullptr);
  return narrow;
}

// ---- fake server -----------------------------------------------------------

std::optional<std::string> HttpGet(unsigned short port, const std::string& target) {
  UniqueSocket connection(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!connection) return std::nullopt;
  const DWORD timeout_ms = 5000;
  ::setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO,
               reinterpret_cast<const char*>(&timeout_ms), sizeof timeout_ms);
  ::setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO,
               reinterpret_cast<const char*>(&timeout_ms), sizeof timeout_ms);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return std::nullopt;
  const std::string request = "GET " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::send(connection.get(), request.data(), static_cast<int>(request.size()), 0) !=
      static_cast<int>(request.size()))
    return std::nullopt;
  std::string response;
  char buffer[4096];
  for (;;) {
    const int got = ::recv(connection.get(), buffer, sizeof buffer, 0);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    response.append(buffer, static_cast<size_t>(got));
  }
  const auto header_end = response.find("\r\n\r\n");
  if (response.rfind("HTTP/1.", 0) != 0 || header_end == std::string::npos) return std::nullopt;
  if (response.compare(9, 3, "200") != 0) return std::nullopt;
  return response.substr(header_end + 4);
}

namespace {
std::string QueryEscape(const std::string& value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : value) {
    if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  return escaped;
}
}  // namespace

::testing::AssertionResult ResetServer() {
  const unsigned short port = GetSettings().tracking_port;
  if (!HttpGet(port, "/__control?reset=1"))
    return ::testing::AssertionFailure() << "the fake server does not answer on " << port;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SetBehavior(const std::string& key, const std::string& behavior) {
  if (!HttpGet(GetSettings().tracking_port,
               "/__control?key=" + QueryEscape(key) + "&behavior=" + QueryEscape(behavior)))
    return ::testing::AssertionFailure() << "cannot set " << key << " to " << behavior;
  return ::testing::AssertionSuccess();
}

std::vector<std::string> ApiRequestsInServerLog() {
  std::vector<std::string> api;
  const auto log = HttpGet(GetSettings().tracking_port, "/__log");
  if (!log) return api;
  for (auto& line : SplitLines(*log)) {
    if (line.rfind("/api", 0) == 0) api.push_back(line);
  }
  return api;
}

std::size_t UpdateChecksInServerLog() {
  const auto log = HttpGet(GetSettings().tracking_port, "/__log");
  if (!log) return 0;
  const auto lines = SplitLines(*log);
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), "/gengxin.txt"));
}

// ---- stand-in browser ------------------------------------------------------

void ClearBrowserLog() { ::DeleteFileW(GetSettings().browser_log.c_str()); }

std::vector<BrowserCall> BrowserCalls() {
  std::vector<BrowserCall> calls;
  const auto content = ReadWholeFile(GetSettings().browser_log);
  if (!content) return calls;
  for (const auto& line : SplitLines(*content)) {
    BrowserCall call;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) {
      if (field.rfind("show=", 0) == 0) call.show = field.substr(5);
      if (field.rfind("url=", 0) == 0) call.url = field.substr(4);
    }
    calls.push_back(call);
  }
  return calls;
}

// ---- screenshots -----------------------------------------------------------

bool TakeScreenshot(const std::string& name) {
  const auto& folder = GetSettings().screenshot_dir;
  if (folder.empty()) return false;
  // The wrapper watches for "<name>.request", shoots the display and removes
  // the request.
  const std::wstring request = folder + L"\\" + Widen(name) + L".request";
  {
    const UniqueFile file(::CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
  }
  const bool taken = WaitUntil(
      [&] { return ::GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, 8s, 50ms);
  if (!taken) ::DeleteFileW(request.c_str());
  return taken;
}

// ---- what the program stores ----------------------------------------------------

bool RemoveStoredState() {
  bool clean = true;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Dravimo\\Quenzil", 0,
                      KEY_SET_VALUE | KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    for (const wchar_t* name : {L"Customer", L"Key", L"KdniaoId", L"KdniaoKey", L"AppCode"}) {
      ::RegDeleteValueW(key, name);
      if (::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
        clean = false;
    }
    ::RegCloseKey(key);
  }
  wchar_t appdata[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appdata)))
    return false;
  for (const wchar_t* name : {L"\\Quenzil\\watch.json", L"\\Quenzil\\watch.json.tmp"}) {
    const std::wstring path = std::wstring(appdata) + name;
    ::DeleteFileW(path.c_str());
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) clean = false;
  }
  return clean;
}

// ---- title -----------------------------------------------------------------

std::optional<SYSTEMTIME> ParseTitleClock(const std::wstring& title, const std::wstring& prefix) {
  if (title.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  size_t at = prefix.size();
  // The clock: each number after one blank, no zero padding.
  const auto number = [&](int& value) {
    if (at >= title.size() || title[at] != L' ') return false;
    ++at;
    const size_t first = at;
    while (at < title.size() && iswdigit(title[at]) && at - first < 5) ++at;
    if (at == first || (title[first] == L'0' && at - first > 1)) return false;
    value = std::stoi(title.substr(first, at - first));
    return true;
  };
  const auto literal = [&](wchar_t c) {
    if (at >= title.size() || title[at] != c) return false;
    ++at;
    return true;
  };
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!(number(year) && literal(L'-') && number(month) && literal(L'-') && number(day) &&
        literal(L' ') && number(hour) && literal(L':') && number(minute) && literal(L':') &&
        number(second) && at == title.size()))
    return std::nullopt;
  SYSTEMTIME parsed{};
  parsed.wYear = static_cast<WORD>(year);
  parsed.wMonth = static_cast<WORD>(month);
  parsed.wDay = static_cast<WORD>(day);
  parsed.wHour = static_cast<WORD>(hour);
  parsed.wMinute = static_cast<WORD>(minute);
  parsed.wSecond = static_cast<WORD>(second);
  return parsed;
}

bool NotificationAreaShown() {
  // Wine without a desktop shows a stand-alone tray window of its own.
  for (const wchar_t* area_class : {L"__winex11_standalone_tray", L"Shell_TrayWnd"}) {
    HWND area = ::FindWindowW(area_class, nullptr);
    if (area != nullptr && ::IsWindowVisible(area)) return true;
  }
  return false;
}

// ---- clipboard -------------------------------------------------------------

namespace {
// Opens the clipboard for this scope, retrying briefly while another program
// holds it.
class ClipboardSession {
 public:
  ClipboardSession() {
    open_ = WaitUntil([] { return ::OpenClipboard(nullptr) != FALSE; }, 3s, 30ms);
  }
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;
  ~ClipboardSession() {
    if (open_) ::CloseClipboard();
  }
  bool open() const { return open_; }

 private:
  bool open_ = false;
};
}  // namespace

ClipboardHold::ClipboardHold() {
  held_ = WaitUntil([] { return ::OpenClipboard(nullptr) != FALSE; }, 3s, 30ms);
}

ClipboardHold::~ClipboardHold() { Release(); }

void ClipboardHold::Release() {
  if (held_ && ::CloseClipboard()) held_ = false;
}

std::optional<std::wstring> ClipboardText() {
  ClipboardSession session;
  if (!session.open()) return std::nullopt;
  HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) return std::nullopt;
  const auto* text = static_cast<const wchar_t*>(::GlobalLock(data));
  if (text == nullptr) return std::nullopt;
  const size_t capacity = ::GlobalSize(data) / sizeof(wchar_t);
  std::wstring copy(text, wcsnlen(text, capacity));
  ::GlobalUnlock(data);
  return copy;
}

bool PutTextOnClipboard(const std::wstring& text) {
  ClipboardSession session;
  if (!session.open() || !::EmptyClipboard()) return false;
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (memory == nullptr) return false;
  auto* target = static_cast<wchar_t*>(::GlobalLock(memory));
  if (target == nullptr) {
    ::GlobalFree(memory);
    return false;
  }
  std::copy(text.begin(), text.end(), target);
  target[text.size()] = L'\0';
  ::GlobalUnlock(memory);
  if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
    ::GlobalFree(memory);
    return false;
  }
  return true;  // the clipboard owns the memory now
}

// ---- a window of another program ------------------------------------------------

namespace {
struct ForeignStart {
  HANDLE ready;
  HWND hwnd;
};

DWORD WINAPI ForeignThread(void* context) {
  auto* start = static_cast<ForeignStart*>(context);
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = ::DefWindowProcW;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"QuenzilE2eForeign";
  ::RegisterClassW(&window_class);
  HWND hwnd = ::CreateWindowExW(0, window_class.lpszClassName, L"foreign", WS_POPUP | WS_VISIBLE |
                                WS_CAPTION, 900, 700, 200, 120, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  start->hwnd = hwnd;
  ::SetEvent(start->ready);
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (hwnd != nullptr) ::DestroyWindow(hwnd);
  return 0;
}
}  // namespace

ForeignWindow::ForeignWindow() {
  ForeignStart start{::CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
  thread_ = ::CreateThread(nullptr, 0, ForeignThread, &start, 0, &thread_id_);
  if (thread_ != nullptr) ::WaitForSingleObject(start.ready, 10000);
  ::CloseHandle(start.ready);
  hwnd_ = start.hwnd;
}

ForeignWindow::~ForeignWindow() {
  if (thread_ == nullptr) return;
  ::PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
  ::WaitForSingleObject(thread_, 10000);
  ::CloseHandle(thread_);
}

::testing::AssertionResult ForeignWindow::Activate() {
  if (hwnd_ == nullptr) return ::testing::AssertionFailure() << "no foreign window";
  int asked = 0;
  if (!WaitUntil(
          [&] {
            if (::GetForegroundWindow() == hwnd_) return true;
            if (asked++ % 10 == 0) ::SetForegroundWindow(hwnd_);
            return false;
          },
          5s))
    return ::testing::AssertionFailure() << "the foreign window did not come to the front";
  return ::testing::AssertionSuccess();
}

// ---- notification area and resources -------------------------------------

bool DeleteTrayIconOf(HWND owner, UINT id) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = id;
  return ::Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
}

namespace {

BOOL CALLBACK CountChild(HWND, LPARAM count) {
  ++*reinterpret_cast<std::size_t*>(count);
  return TRUE;
}

struct WindowCount {
  DWORD process_id;
  std::size_t count;
};

BOOL CALLBACK CountTopLevel(HWND window, LPARAM context) {
  auto& counting = *reinterpret_cast<WindowCount*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != counting.process_id) return TRUE;
  ++counting.count;
  ::EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&counting.count));
  return TRUE;
}

// "Name:   123 kB" -> 123.
std::optional<long long> StatusField(const std::string& status, const std::string& name) {
  for (const auto& line : SplitLines(status)) {
    if (line.rfind(name + ":", 0) != 0) continue;
    const auto digits = line.find_first_of("0123456789");
    if (digits == std::string::npos) return std::nullopt;
    return std::stoll(line.substr(digits));
  }
  return std::nullopt;
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// The host's process directory ("Z:\proc\N") of the program, found by its
// command line and its prefix; empty when there is no such host view.
std::wstring HostProcessDirectory() {
  const std::string prefix = Narrow(EnvironmentText(L"WINEPREFIX"));
  if (prefix.empty()) return {};
  const std::string exe = GetSettings().quenzil_exe.empty()
                              ? std::string()
                              : Lowercase(Narrow(GetSettings().quenzil_exe));
  const std::string exe_name = exe.substr(exe.find_last_of('\\') + 1);
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  std::wstring result;
  do {
    const std::wstring name = found.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    const std::wstring folder = L"Z:\\proc\\" + name;
    const auto command_line = ReadWholeFile(folder + L"\\cmdline");
    if (!command_line || Lowercase(*command_line).find("\\" + exe_name) == std::string::npos) continue;
    const auto environment = ReadWholeFile(folder + L"\\environ");
    if (!environment) continue;
    const std::string wanted = "WINEPREFIX=" + prefix;
    bool same_prefix = false;
    for (size_t at = 0; at < environment->size();) {
      const size_t end = std::min(environment->find('\0', at), environment->size());
      if (environment->compare(at, end - at, wanted) == 0) same_prefix = true;
      at = end + 1;
    }
    if (same_prefix) {
      result = folder;
      break;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return result;
}

}  // namespace

std::string Describe(const ResourceCounts& counts) {
  const auto figure = [](const auto& value) {
    return value ? std::to_string(*value) : std::string("n/a");
  };
  return "handles=" + figure(counts.handles) + " probed_handles=" +
         figure(counts.probed_handles) + " gdi=" + figure(counts.gdi_objects) +
         " user=" + figure(counts.user_objects) + " windows=" + std::to_string(counts.windows) +
         " host_rss_kib=" + figure(counts.host_rss_kib) + " host_threads=" +
         figure(counts.host_threads) + " host_fds=" + figure(counts.host_fds);
}

// ---- the program -----------------------------------------------------------

namespace {
// The program's one-instance lock exists while an instance lives.
bool InstanceAlive() {
  HANDLE token_handle = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token_handle)) return false;
  UniqueHandle token(token_handle);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    return false;
  LPWSTR sid = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid))
    return false;
  const std::wstring name = L"Global\\Dravimo.Quenzil." + std::wstring(sid);
  ::LocalFree(sid);
  HANDLE lock = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  if (lock == nullptr) return false;
  ::CloseHandle(lock);
  return true;
}
}  // namespace

std::unique_ptr<App> App::Launch(bool second_instance, const std::wstring& arguments) {
  const auto& exe = GetSettings().quenzil_exe;
  if (exe.empty()) return nullptr;
  if (!second_instance && !WaitUntil([] { return !InstanceAlive(); }, 10s)) {
    std::fprintf(stderr, "an earlier quenzil.exe is still running\n");
    return nullptr;
  }
  std::wstring command_line = L"\"" + exe + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  std::unique_ptr<App> app(new App());
  app->started_at_ = std::chrono::steady_clock::now();
  // Under load the compatibility layer may refuse a start for a moment.
  bool started = false;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = ::CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &created) != FALSE;
    if (!started) {
      std::fprintf(stderr, "CreateProcessW failed: %lu\n", ::GetLastError());
      ::Sleep(200);
    }
  }
  if (!started) return nullptr;
  ::CloseHandle(created.hThread);
  app->process_.reset(created.hProcess);
  app->process_id_ = created.dwProcessId;
  app->second_instance_ = second_instance;
  return app;
}

App::~App() {
  if (!process_) return;
  // The ordinary way out: a close request answered with OK. With a box of
  // its own open the program would not ask.
  const bool box_open = FindWindowOf(process_id_, L"#32770", nullptr, false) != nullptr;
  bool asked = false;
  if (HWND form = FindForm(); Running() && !box_open && form != nullptr &&
                              ::PostMessageW(form, WM_CLOSE, 0, 0)) {
    if (HWND box = WaitForMessageBox(kExitTitle, 4s); box != nullptr) asked = Answer(box, IDOK);
  }
  if (!WaitForExit(asked ? 4s : 0ms)) ::TerminateProcess(process_.get(), 99);
  // The next test may start the program only once this one is gone.
  // A second instance never held the lock: the first one still does.
  if (!WaitForExit(10s) || (!second_instance_ && !WaitUntil([] { return !InstanceAlive(); }, 5s)))
    std::fprintf(stderr, "quenzil.exe (pid %lu) did not end\n", process_id_);
}

HWND App::FindForm() const {
  return FindWindowOf(process_id_, quenzil::ids::kFormClassName, nullptr, false);
}

bool App::FormVisible() const {
  HWND form = FindForm();
  return form != nullptr && ::IsWindowVisible(form);
}

::testing::AssertionResult App::WaitForWindow(Millis limit) {
  HWND found = nullptr;
  const bool shown = WaitUntil(
      [&] {
        found = FindWindowOf(process_id_, quenzil::ids::kFormClassName, nullptr, true);
        return found != nullptr || !Running();
      },
      limit);
  if (!shown || found == nullptr) {
    return ::testing::AssertionFailure()
           << "no visible main window within " << limit.count() << " ms"
           << (Running() ? "" : " (the program has ended)");
  }
  form_ = found;
  thread_id_ = ::GetWindowThreadProcessId(form_, nullptr);
  return ::testing::AssertionSuccess();
}

bool App::Running() const {
  return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool App::WaitForExit(Millis limit, DWORD* exit_code) const {
  if (!process_) return true;
  if (::WaitForSingleObject(process_.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
    return false;
  if (exit_code != nullptr) ::GetExitCodeProcess(process_.get(), exit_code);
  return true;
}

HWND App::Control(int id) const { return form_ ? ::GetDlgItem(form_, id) : nullptr; }

::testing::AssertionResult App::Usable(int id) const {
  HWND control = Control(id);
  if (control == nullptr) return ::testing::AssertionFailure() << "no control with id " << id;
  if (!::IsWindowVisible(control))
    return ::testing::AssertionFailure() << "control " << id << " is not visible";
  if (!::IsWindowEnabled(control))
    return ::testing::AssertionFailure() << "control " << id << " is disabled";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::Click(int id) {
  if (auto usable = Usable(id); !usable) return usable;
  if (!::PostMessageW(Control(id), BM_CLICK, 0, 0))
    return ::testing::AssertionFailure() << "cannot post a click to " << id;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::SelectCarrier(int id) {
  if (auto clicked = Click(id); !clicked) return clicked;
  if (!WaitUntil([&] { return IsChecked(id); }, 3s))
    return ::testing::AssertionFailure() << "option " << id << " did not become selected";
  return ::testing::AssertionSuccess();
}

bool App::IsChecked(int id) const {
  const auto state = SendBounded(Control(id), BM_GETCHECK, 0, 0);
  return state && *state == BST_CHECKED;
}

::testing::AssertionResult App::TypeNumber(const std::wstring& number) {
  if (auto usable = Usable(quenzil::ids::kText2); !usable) return usable;
  const auto sent = SendBounded(Control(quenzil::ids::kText2), WM_SETTEXT, 0,
                                reinterpret_cast<LPARAM>(number.c_str()));
  if (!sent || *sent != TRUE) return ::testing::AssertionFailure() << "Text2 refused the text";
  if (Text2() != number) return ::testing::AssertionFailure() << "Text2 does not hold the text";
  return ::testing::AssertionSuccess();
}

std::optional<std::wstring> App::Text2() const {
  HWND edit = Control(quenzil::ids::kText2);
  const auto length = SendBounded(edit, WM_GETTEXTLENGTH, 0, 0);
  if (!length) return std::nullopt;
  std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
  const auto copied = SendBounded(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  if (!copied) return std::nullopt;
  text.resize(static_cast<size_t>(*copied));
  return text;
}

std::optional<std::vector<std::wstring>> App::Rows() const {
  HWND list = Control(quenzil::ids::kList1);
  const auto count = SendBounded(list, LB_GETCOUNT, 0, 0);
  if (!count || *count < 0) return std::nullopt;
  std::vector<std::wstring> rows;
  for (LRESULT index = 0; index < *count; ++index) {
    const auto length = SendBounded(list, LB_GETTEXTLEN, index, 0);
    if (!length || *length < 0) return std::nullopt;
    std::wstring row(static_cast<size_t>(*length) + 1, L'\0');
    const auto copied = SendBounded(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(row.data()));
    if (!copied || *copied < 0) return std::nullopt;
    row.resize(static_cast<size_t>(*copied));
    rows.push_back(row);
  }
  return rows;
}

::testing::AssertionResult App::WaitForRows(const std::vector<std::wstring>& expected,
                                            Millis limit) {
  std::optional<std::vector<std::wstring>> rows;
  if (WaitUntil([&] { return (rows = Rows()) && *rows == expected; }, limit, 30ms))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "List1 holds " << Narrow(DescribeRows(rows))
                                       << "\nexpected " << Narrow(DescribeRows(expected))
                                       << (Running() ? "" : "\n(the program has ended)");
}

std::wstring App::Title() const {
  wchar_t title[512] = {};
  ::GetWindowTextW(form_, title, 512);
  return title;
}

HWND App::FocusedWindow() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(thread_id_, &info)) return nullptr;
  return info.hwndFocus;
}

int App::FocusedId() const {
  HWND focus = FocusedWindow();
  if (focus == nullptr || ::GetParent(focus) != form_) return 0;
  return ::GetDlgCtrlID(focus);
}

::testing::AssertionResult App::BringToFront() {
  const auto ours = [&] {
    DWORD owner = 0;
    HWND front = ::GetForegroundWindow();
    return front != nullptr && ::GetWindowThreadProcessId(front, &owner) != 0 &&
           owner == process_id_;
  };
  // Asked again now and then: without a window manager the platform may
  // hand the foreground back to the window that had it.
  int asked = 0;
  if (!WaitUntil(
          [&] {
            if (ours()) return true;
            if (asked++ % 10 == 0) ::SetForegroundWindow(form_);
            return false;
          },
          5s))
    return ::testing::AssertionFailure() << "the program's window does not come to the front";
  return ::testing::AssertionSuccess();
}

namespace {
bool ExtendedKey(WORD key) {
  switch (key) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
    case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
    case VK_INSERT: case VK_DELETE:
      return true;
    default:
      return false;
  }
}

INPUT KeyInput(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (ExtendedKey(key) ? KEYEVENTF_EXTENDEDKEY : 0);
  return input;
}
}  // namespace

::testing::AssertionResult App::SendKey(WORD key, bool up) {
  // Keys go to whichever window is in front: never type into another.
  DWORD owner = 0;
  HWND front = ::GetForegroundWindow();
  if (front == nullptr || ::GetWindowThreadProcessId(front, &owner) == 0 || owner != process_id_)
    return ::testing::AssertionFailure() << "no window of the program is in front";
  INPUT input = KeyInput(key, up);
  if (::SendInput(1, &input, sizeof input) != 1)
    return ::testing::AssertionFailure() << "SendInput refused key " << key;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::PressKey(WORD key, bool shift) {
  if (shift) {
    if (auto down = SendKey(VK_SHIFT, false); !down) return down;
  }
  auto pressed = SendKey(key, false);
  if (pressed) pressed = SendKey(key, true);
  if (shift) {
    // Never leave Shift down, whatever happened.
    INPUT release = KeyInput(VK_SHIFT, true);
    ::SendInput(1, &release, sizeof release);
  }
  return pressed;
}

::testing::AssertionResult App::PressAlt(WORD key) {
  if (auto down = SendKey(VK_MENU, false); !down) return down;
  auto pressed = SendKey(key, false);
  if (pressed) pressed = SendKey(key, true);
  // Never leave Alt down, whatever happened.
  INPUT release = KeyInput(VK_MENU, true);
  ::SendInput(1, &release, sizeof release);
  return pressed;
}

::testing::AssertionResult App::TypeText(const std::wstring& text) {
  for (const wchar_t unit : text) {
    DWORD owner = 0;
    HWND front = ::GetForegroundWindow();
    if (front == nullptr || ::GetWindowThreadProcessId(front, &owner) == 0 || owner != process_id_)
      return ::testing::AssertionFailure() << "no window of the program is in front";
    INPUT strokes[2] = {};
    for (int up = 0; up < 2; ++up) {
      strokes[up].type = INPUT_KEYBOARD;
      strokes[up].ki.wScan = unit;
      strokes[up].ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
    }
    if (::SendInput(2, strokes, sizeof(INPUT)) != 2) return ::testing::AssertionFailure() << "SendInput refused a character";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::HoldKey(WORD key, Millis time,
                                        const std::function<void()>& meanwhile) {
  // The usual typematic rate: a repeat every 33 ms once the key is down.
  constexpr Millis kRepeat = 33ms;
  const auto until = std::chrono::steady_clock::now() + time;
  ::testing::AssertionResult held = ::testing::AssertionSuccess();
  while (held && std::chrono::steady_clock::now() < until) {
    held = SendKey(key, false);
    if (meanwhile) meanwhile();
    std::this_thread::sleep_for(kRepeat);
  }
  INPUT release = KeyInput(key, true);
  ::SendInput(1, &release, sizeof release);
  return held;
}

::testing::AssertionResult App::KeyMovesFocusTo(WORD key, int id, bool shift) {
  if (auto pressed = PressKey(key, shift); !pressed) return pressed;
  if (!WaitUntil([&] { return FocusedId() == id; }, 3s))
    return ::testing::AssertionFailure() << "key " << key << (shift ? " with Shift" : "")
                                         << " moved the focus to " << FocusedId() << ", not "
                                         << id;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::TabTo(int id, bool backwards) {
  return KeyMovesFocusTo(VK_TAB, id, backwards);
}

::testing::AssertionResult App::TabAround(int id) {
  for (int press = 0; press < 10 && FocusedId() != id; ++press) {
    const int before = FocusedId();
    if (auto pressed = PressKey(VK_TAB); !pressed) return pressed;
    if (!WaitUntil([&] { return FocusedId() != before; }, 3s))
      return ::testing::AssertionFailure() << "Tab does not move the focus from " << before;
  }
  if (FocusedId() != id) return ::testing::AssertionFailure() << "Tab never reaches " << id;
  return ::testing::AssertionSuccess();
}

RECT App::ControlRectInClient(int id) const {
  RECT rect{};
  ::GetWindowRect(Control(id), &rect);
  ::MapWindowPoints(HWND_DESKTOP, form_, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

::testing::AssertionResult App::MoveMouse(POINT client_point) {
  if (!::PostMessageW(form_, WM_MOUSEMOVE, 0, MAKELPARAM(client_point.x, client_point.y)))
    return ::testing::AssertionFailure() << "cannot post a mouse move";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::MoveMouseOverControl(int id) {
  if (auto usable = Usable(id); !usable) return usable;
  const RECT rect = ControlRectInClient(id);
  return MoveMouse(POINT{rect.left + 3, (rect.top + rect.bottom) / 2});
}

::testing::AssertionResult App::ClickLabel(int id) {
  if (auto usable = Usable(id); !usable) return usable;
  const RECT rect = ControlRectInClient(id);
  const LPARAM at = MAKELPARAM(rect.left + 3, (rect.top + rect.bottom) / 2);
  if (!::PostMessageW(form_, WM_MOUSEMOVE, 0, at) ||
      !::PostMessageW(form_, WM_LBUTTONDOWN, MK_LBUTTON, at) ||
      !::PostMessageW(form_, WM_LBUTTONUP, 0, at))
    return ::testing::AssertionFailure() << "cannot post a click on label " << id;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::DoubleClickLabel(int id) {
  if (auto usable = Usable(id); !usable) return usable;
  const RECT rect = ControlRectInClient(id);
  const LPARAM at = MAKELPARAM(rect.left + 3, (rect.top + rect.bottom) / 2);
  if (!::PostMessageW(form_, WM_MOUSEMOVE, 0, at) ||
      !::PostMessageW(form_, WM_LBUTTONDOWN, MK_LBUTTON, at) ||
      !::PostMessageW(form_, WM_LBUTTONUP, 0, at) ||
      !::PostMessageW(form_, WM_LBUTTONDBLCLK, MK_LBUTTON, at) ||
      !::PostMessageW(form_, WM_LBUTTONUP, 0, at))
    return ::testing::AssertionFailure() << "cannot post a double click on label " << id;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::PostQuitToWindowThread() {
  if (thread_id_ == 0 || !::PostThreadMessageW(thread_id_, WM_QUIT, 0, 0))
    return ::testing::AssertionFailure() << "cannot post WM_QUIT to the window's thread";
  return ::testing::AssertionSuccess();
}

std::optional<LRESULT> App::SendToForm(UINT message, WPARAM wparam, LPARAM lparam,
                                       Millis limit) const {
  HWND form = FindForm();
  DWORD_PTR result = 0;
  if (form == nullptr || !::SendMessageTimeoutW(form, message, wparam, lparam, SMTO_ABORTIFHUNG,
                                                static_cast<UINT>(limit.count()), &result))
    return std::nullopt;
  return static_cast<LRESULT>(result);
}

::testing::AssertionResult App::PressTrayIcon(UINT mouse_message) {
  HWND form = FindForm();
  if (form == nullptr) return ::testing::AssertionFailure() << "no main window";
  if (!::PostMessageW(form, quenzil::ids::kTrayCallbackMessage, quenzil::ids::kTrayIconId,
                      mouse_message))
    return ::testing::AssertionFailure() << "cannot post the tray icon's report";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::RequestClose() {
  HWND form = FindForm();
  if (form == nullptr || !::PostMessageW(form, WM_CLOSE, 0, 0))
    return ::testing::AssertionFailure() << "cannot post WM_CLOSE";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult App::PostTaskbarCreated() {
  const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
  HWND form = FindForm();
  if (message == 0 || form == nullptr || !::PostMessageW(form, message, 0, 0))
    return ::testing::AssertionFailure() << "cannot post TaskbarCreated";
  return ::testing::AssertionSuccess();
}

std::optional<Millis> App::Ping(Millis limit) const {
  HWND form = FindForm();
  if (form == nullptr) return std::nullopt;
  wchar_t title[512] = {};
  DWORD_PTR copied = 0;
  const auto start = std::chrono::steady_clock::now();
  if (!::SendMessageTimeoutW(form, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(title),
                             SMTO_ABORTIFHUNG, static_cast<UINT>(limit.count()), &copied))
    return std::nullopt;
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start);
}

ResourceCounts App::Resources() const {
  ResourceCounts counts;
  if (!process_) return counts;
  DWORD handles = 0;
  if (::GetProcessHandleCount(process_.get(), &handles) && handles != 0) counts.handles = handles;
  // Zero with an error means the platform does not count; a live GUI
  // program always holds some of both.
  if (const DWORD gdi = ::GetGuiResources(process_.get(), GR_GDIOBJECTS); gdi != 0)
    counts.gdi_objects = gdi;
  if (const DWORD user = ::GetGuiResources(process_.get(), GR_USEROBJECTS); user != 0)
    counts.user_objects = user;
  {
    // Handle values are multiples of 4; a program this size holds far
    // fewer than the probed range.
    constexpr std::uintptr_t kProbedValues = 8192;
    DWORD valid = 0;
    for (std::uintptr_t value = 4; value <= kProbedValues * 4; value += 4) {
      HANDLE copy = nullptr;
      if (::DuplicateHandle(process_.get(), reinterpret_cast<HANDLE>(value),
                            ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        ++valid;
        ::CloseHandle(copy);
      }
    }
    if (valid != 0) counts.probed_handles = valid;
  }
  WindowCount windows{process_id_, 0};
  ::EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&windows));
  counts.windows = windows.count;

  if (host_directory_.empty()) host_directory_ = HostProcessDirectory();
  const std::wstring host = host_directory_;
  if (!host.empty()) {
    if (const auto status = ReadWholeFile(host + L"\\status")) {
      counts.host_rss_kib = StatusField(*status, "VmRSS");
      counts.host_threads = StatusField(*status, "Threads");
    }
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((host + L"\\fd\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      long long fds = 0;
      do {
        if (found.cFileName[0] != L'.') ++fds;
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
      counts.host_fds = fds;
    }
  }
  return counts;
}

std::optional<std::string> App::HostFile(const wchar_t* name) const {
  if (host_directory_.empty()) host_directory_ = HostProcessDirectory();
  if (host_directory_.empty()) return std::nullopt;
  return ReadWholeFile(host_directory_ + L"\\" + name);
}

std::optional<long long> App::HostThreads() const {
  const auto status = HostFile(L"status");
  if (!status) return std::nullopt;
  return StatusField(*status, "Threads");
}

std::optional<long long> App::HostCpuTicks() const {
  // utime and stime are the 14th and 15th fields, after "(name)".
  const auto stat = HostFile(L"stat");
  if (!stat) return std::nullopt;
  const auto name_end = stat->rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(name_end + 1));
  std::string field;
  long long ticks = 0;
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index >= 14) ticks += std::stoll(field);
  }
  return ticks;
}

HWND App::WaitForMessageBox(const std::wstring& title, Millis limit) const {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        box = FindWindowOf(process_id_, L"#32770", title.c_str(), true);
        return box != nullptr || !Running();
      },
      limit);
  return box;
}

bool App::NoMessageBoxFor(const std::wstring& title, Millis time) const {
  return !WaitUntil(
      [&] { return FindWindowOf(process_id_, L"#32770", title.c_str(), false) != nullptr; }, time);
}

std::wstring App::MessageBoxText(HWND box) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(::GetDlgItem(box, 0xFFFF), text, 1024);
  return text;
}

::testing::AssertionResult App::Answer(HWND box, int button_id) {
  HWND button = ::GetDlgItem(box, button_id);
  if (button == nullptr || !::IsWindowVisible(button) || !::IsWindowEnabled(button))
    return ::testing::AssertionFailure() << "the message box has no usable button " << button_id;
  if (!::PostMessageW(button, BM_CLICK, 0, 0))
    return ::testing::AssertionFailure() << "cannot click the message box";
  if (!WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 5s))
    return ::testing::AssertionFailure() << "the message box stays open";
  return ::testing::AssertionSuccess();
}

void AppTest::SetUp() {
  ASSERT_TRUE(RemoveStoredState()) << "a stored key or watch list stays";
  // A number left on the clipboard would be offered to the number box.
  if (::OpenClipboard(nullptr)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
}

void AppTest::TearDown() {
  app_.reset();
  EXPECT_TRUE(RemoveStoredState()) << "a stored key or watch list stays";
}

::testing::AssertionResult AppTest::Start() {
  app_ = App::Launch();
  if (!app_) return ::testing::AssertionFailure() << "cannot start quenzil.exe";
  auto shown = app_->WaitForWindow(10s);
  // The window shows a moment before a control gets the focus; a test
  // that acts before then races the program's start.
  if (shown) WaitUntil([&] { return app_->FocusedId() != 0; }, 3s);
  return shown;
}

}  // namespace e2e
