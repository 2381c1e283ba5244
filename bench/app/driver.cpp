#include "driver.h"

#include <dpapi.h>
#include <shlobj.h>

#include <cwchar>
#include <thread>

#include "common/utf.h"
#include "platform/file_store.h"
#include "watch/watch_file.h"
#include "window/control_ids.h"

namespace bench {
namespace {

namespace ids = quenzil::ids;
// Sends to the program are bounded: a hung program fails the run instead of hanging it.
constexpr UINT kSendTimeoutMs = 3000;
constexpr wchar_t kSettingsKey[] = L"Software\\Dravimo\\Quenzil";

std::optional<LRESULT> SendBounded(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
    return std::nullopt;
  return static_cast<LRESULT>(result);
}

template <typename Condition>
bool WaitUntil(Condition condition, Millis limit, Millis step = 10ms) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
  }
}

struct WindowSearch {
  DWORD process_id;
  const wchar_t* window_class;
  bool visible_only;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  if (owner != search.process_id || ::GetClassNameW(window, name, 64) == 0 ||
      std::wcscmp(name, search.window_class) != 0 || (search.visible_only && !::IsWindowVisible(window)))
    return TRUE;
  search.found = window;
  return FALSE;
}

std::wstring WatchFilePath() {
  PWSTR folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &folder)))
    path = folder;
  ::CoTaskMemFree(folder);
  return path.empty() ? path : path + L"\\Quenzil\\watch.json";
}

}  // namespace

std::unique_ptr<Program> Program::Launch(const std::wstring& exe, const wchar_t* window_class) {
  if (exe.empty()) return nullptr;
  std::unique_ptr<Program> program(new Program());
  program->exe_ = exe;
  program->window_class_ = window_class;
  // Taken before the start, so the new host process is the one not in it.
  program->host_pids_before_ = HostPidsRunning(exe);
  std::wstring command_line = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  program->started_at_ = Clock::now();
  if (!::CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &created))
    return nullptr;
  ::CloseHandle(created.hThread);
  program->process_ = created.hProcess;
  program->process_id_ = created.dwProcessId;
  return program;
}

Program::~Program() {
  if (process_ == nullptr) return;
  if (!Exited(0)) {
    HWND window = FindTopLevel(window_class_, false);
    if (window != nullptr) ::PostMessageW(window, WM_CLOSE, 0, 0);
    // The program asks first: OK in its question box, whichever it is.
    const bool closed = window != nullptr && WaitUntil(
        [&] {
          if (HWND box = FindTopLevel(L"#32770", true); box != nullptr) {
            if (HWND ok = ::GetDlgItem(box, IDOK); ok != nullptr) ::PostMessageW(ok, BM_CLICK, 0, 0);
          }
          return Exited(0);
        },
        8s, 50ms);
    if (!closed) {
      Note("a program did not close when asked; ending it");
      ::TerminateProcess(process_, 99);
      Exited(5000);
    }
  }
  ::CloseHandle(process_);
}

bool Program::Exited(DWORD wait_ms) const { return ::WaitForSingleObject(process_, wait_ms) == WAIT_OBJECT_0; }

HWND Program::FindTopLevel(const wchar_t* window_class, bool visible_only) const {
  WindowSearch search{process_id_, window_class, visible_only, nullptr};
  ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::optional<double> Program::WaitVisible(Millis limit) {
  std::optional<double> shown;
  WaitUntil(
      [&] {
        window_ = FindTopLevel(window_class_, true);
        if (window_ != nullptr) shown = MillisSince(started_at_);
        return shown.has_value() || Exited(0);
      },
      limit, 1ms);
  if (!shown) Note("no visible window");
  return shown;
}

bool Program::Visible() const {
  HWND window = FindTopLevel(window_class_, false);
  return window != nullptr && ::IsWindowVisible(window);
}

std::optional<unsigned long> Program::HostPid() {
  if (!host_pid_) host_pid_ = WaitForNewHostPid(exe_, host_pids_before_);
  if (!host_pid_) Note("cannot find the program's host process");
  return host_pid_;
}

HWND Program::Control(int id) const { return window_ ? ::GetDlgItem(window_, id) : nullptr; }

bool Program::Click(int id) {
  HWND control = Control(id);
  return control != nullptr && ::IsWindowVisible(control) && ::IsWindowEnabled(control) &&
         ::PostMessageW(control, BM_CLICK, 0, 0);
}

bool Program::SelectCarrier(int id) {
  return Click(id) && WaitUntil([&] { return SendBounded(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }, 3s);
}

bool Program::TypeNumber(const std::wstring& number) {
  HWND edit = Control(ids::kText2);
  return edit != nullptr && ::IsWindowEnabled(edit) &&
         SendBounded(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(number.c_str())) == TRUE;
}

std::optional<LRESULT> Program::ListCount() const { return SendBounded(Control(ids::kList1), LB_GETCOUNT, 0, 0); }

bool Program::WaitForRowCount(LRESULT rows, Millis limit, Millis step) const {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto count = ListCount();
    if (count == rows) return true;
    if (Clock::now() >= deadline) {
      Note("List1 holds " + std::to_string(count ? static_cast<long>(*count) : -1L) + " rows, not " +
           std::to_string(static_cast<long>(rows)));
      return false;
    }
    if (step.count() > 0) std::this_thread::sleep_for(step);
  }
}

bool Program::PrepareQuery(const std::wstring& number) {
  return Click(ids::kCommand2) && WaitUntil([&] { return ListCount() == 1; }, 5s, 1ms) && TypeNumber(number) &&
         ::IsWindowEnabled(Control(ids::kChaxun));
}

bool Program::PostQueryClick() { return ::PostMessageW(Control(ids::kChaxun), BM_CLICK, 0, 0) != FALSE; }

bool Program::HideToTray() {
  if (!Click(ids::kCommand4) || !WaitUntil([&] { return !Visible(); }, 5s)) {
    Note("the window did not hide");
    return false;
  }
  return true;
}

namespace {

bool WriteText(HKEY key, const wchar_t* name, const std::string& text) {
  const std::wstring wide = quenzil::Widen(text);
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WriteProtected(HKEY key, const wchar_t* name, std::string secret) {
  DATA_BLOB plain{static_cast<DWORD>(secret.size()), reinterpret_cast<BYTE*>(secret.data())};
  DATA_BLOB sealed{};
  if (!::CryptProtectData(&plain, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed)) return false;
  const bool stored = ::RegSetValueExW(key, name, 0, REG_BINARY, sealed.pbData, sealed.cbData) == ERROR_SUCCESS;
  ::LocalFree(sealed.pbData);
  return stored;
}

}  // namespace

bool StoreCredentials(bool present) {
  if (!present) {
    const LSTATUS deleted = ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND || deleted == ERROR_PATH_NOT_FOUND;
  }
  return StoreServiceAccount("kuaidi100");
}

bool StoreServiceAccount(std::string_view service) {
  if (!StoreCredentials(false)) return false;
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool stored = false;
  if (service == "kuaidi100") {
    const quenzil::Credentials account = TestCredentials();
    stored = WriteText(key, L"Customer", account.customer) && WriteProtected(key, L"Key", account.key);
  } else if (service == "kdniao") {
    const quenzil::KdniaoAccount account = TestKdniaoAccount();
    stored = WriteText(key, L"KdniaoId", account.id) && WriteProtected(key, L"KdniaoKey", account.key);
  } else if (service == "appcode") {
    stored = WriteProtected(key, L"AppCode", TestAppCode().code);
  }
  ::RegCloseKey(key);
  return stored;
}

bool WriteWatchList(std::size_t watched) {
  const std::wstring path = WatchFilePath();
  if (path.empty()) return false;
  if (watched == 0) {
    return ::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
           ::GetLastError() == ERROR_PATH_NOT_FOUND;
  }
  std::string error;
  return quenzil::ReplaceFileAtomically(quenzil::Narrow(path),
                                        quenzil::SerializeWatchFile(BenchWatchList(watched, UnixNow())), &error);
}

HWND Program::FindShown(const wchar_t* caption) const {
  struct Search {
    DWORD process_id;
    const wchar_t* caption;
    HWND found;
  } search{process_id_, caption, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& wanted = *reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        wchar_t text[64] = {};
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != wanted.process_id || !::IsWindowVisible(window)) return TRUE;
        ::GetWindowTextW(window, text, static_cast<int>(std::size(text)));
        if (std::wstring_view(text) != wanted.caption) return TRUE;
        wanted.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace bench

