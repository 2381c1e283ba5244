#include "desktop_support.h"

#include <dpapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace desk {
namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Dravimo\\Quenzil";
constexpr UINT kSendTimeoutMs = 3000;
constexpr UINT kGetMenuHandle = 0x01E1;  // MN_GETHMENU

using e2e::Narrow;
using e2e::SplitLines;
using e2e::Widen;
using e2e::WaitUntil;

struct KeyCloser {
  HKEY key = nullptr;
  ~KeyCloser() {
    if (key != nullptr) ::RegCloseKey(key);
  }
};

// A text value and a value of raw bytes, either left out when its name is null.
::testing::AssertionResult WriteSettings(const wchar_t* text_name, const std::string& text, const wchar_t* bytes_name,
                                         const BYTE* bytes, DWORD size) {
  KeyCloser settings;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &settings.key, nullptr) != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "cannot create the settings key";
  const std::wstring wide = Widen(text);
  if ((text_name != nullptr &&
       ::RegSetValueExW(settings.key, text_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) ||
      ::RegSetValueExW(settings.key, bytes_name, 0, REG_BINARY, bytes, size) != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "cannot write the settings";
  return ::testing::AssertionSuccess();
}

// The secret protected with DPAPI as the program stores it.
::testing::AssertionResult StoreProtected(const wchar_t* text_name, const std::string& text, const wchar_t* secret_name,
                                          const std::string& secret) {
  std::string plain = secret;
  DATA_BLOB in{static_cast<DWORD>(plain.size()), reinterpret_cast<BYTE*>(plain.data())};
  DATA_BLOB out{};
  if (!::CryptProtectData(&in, L"Quenzil", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return ::testing::AssertionFailure() << "CryptProtectData failed: " << ::GetLastError();
  auto written = WriteSettings(text_name, text, secret_name, out.pbData, out.cbData);
  ::LocalFree(out.pbData);
  return written;
}


BOOL CALLBACK CollectText(HWND window, LPARAM context) {
  auto& texts = *reinterpret_cast<std::vector<std::wstring>*>(context);
  texts.push_back(WindowTextOf(window));
  // List boxes keep their rows apart from the window text.
  wchar_t class_name[64] = {};
  ::GetClassNameW(window, class_name, 64);
  if (_wcsicmp(class_name, L"ListBox") == 0) {
    DWORD_PTR count = 0;
    if (!::SendMessageTimeoutW(window, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count)) return TRUE;
    for (DWORD_PTR row = 0; row < count; ++row) {
      DWORD_PTR length = 0;
      ::SendMessageTimeoutW(window, LB_GETTEXTLEN, row, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
      std::wstring text(length + 1, L'\0');
      DWORD_PTR copied = 0;
      ::SendMessageTimeoutW(window, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                            kSendTimeoutMs, &copied);
      text.resize(std::min<std::size_t>(copied, length));
      texts.push_back(text);
    }
  }
  return TRUE;
}

}  // namespace

// ---- settings ----------------------------------------------------------------

::testing::AssertionResult StoreAccount(const std::string& customer, const std::string& key) {
  return StoreProtected(L"Customer", customer, L"Key", key);
}

::testing::AssertionResult StoreKdniaoAccount(const std::string& id, const std::string& key) {
  return StoreProtected(L"KdniaoId", id, L"KdniaoKey", key);
}

::testing::AssertionResult StoreAppCode(const std::string& code) { return StoreProtected(nullptr, {}, L"AppCode", code); }

::testing::AssertionResult StoreRawKey(const std::string& customer, const std::vector<BYTE>& bytes) {
  return WriteSettings(L"Customer", customer, L"Key", bytes.data(), static_cast<DWORD>(bytes.size()));
}

std::optional<DWORD> DwordSetting(const wchar_t* name) {
  const auto value = ReadSetting(name);
  if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) return std::nullopt;
  DWORD number = 0;
  std::memcpy(&number, value->bytes.data(), sizeof number);
  return number;
}

void ClearSettings() {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
}

std::optional<StoredValue> ReadSetting(const wchar_t* name) { return ReadUserValue(kSettingsKey, name); }

std::optional<StoredValue> ReadUserValue(const wchar_t* path, const wchar_t* name) {
  KeyCloser key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key.key) != ERROR_SUCCESS) return std::nullopt;
  StoredValue value;
  DWORD size = 0;
  if (::RegQueryValueExW(key.key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  value.bytes.resize(size);
  if (::RegQueryValueExW(key.key, name, nullptr, &value.type, value.bytes.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  value.bytes.resize(size);
  return value;
}

bool WriteUserValue(const wchar_t* path, const wchar_t* name, DWORD type, const std::vector<BYTE>& bytes) {
  KeyCloser key;
  return ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                           &key.key, nullptr) == ERROR_SUCCESS &&
         ::RegSetValueExW(key.key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

void DeleteUserValue(const wchar_t* path, const wchar_t* name) {
  KeyCloser key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, &key.key) == ERROR_SUCCESS)
    ::RegDeleteValueW(key.key, name);
}

std::wstring AsText(const StoredValue& value) {
  std::wstring text(reinterpret_cast<const wchar_t*>(value.bytes.data()), value.bytes.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

std::optional<std::string> Unprotect(const std::vector<BYTE>& bytes) {
  std::vector<BYTE> copy = bytes;
  DATA_BLOB in{static_cast<DWORD>(copy.size()), copy.data()};
  DATA_BLOB out{};
  if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::nullopt;
  std::string plain(reinterpret_cast<const char*>(out.pbData), out.cbData);
  ::LocalFree(out.pbData);
  return plain;
}

// ---- files -------------------------------------------------------------------

std::wstring WatchFolder() {
  PWSTR folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder))) path = folder;
  ::CoTaskMemFree(folder);
  return path + L"\\Quenzil";
}

std::wstring WatchFilePath() { return WatchFolder() + L"\\watch.json"; }

std::optional<std::string> ReadBytes(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ::ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) content.append(buffer, got);
  ::CloseHandle(file);
  if (!ok) return std::nullopt;
  return content;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  ::CreateDirectoryW(folder.c_str(), nullptr);
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  ::CloseHandle(file);
  return ok;
}

std::vector<std::wstring> WatchFolderFiles() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((WatchFolder() + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

void ClearWatchFolder() {
  for (const auto& name : WatchFolderFiles()) ::DeleteFileW((WatchFolder() + L"\\" + name).c_str());
}

::testing::AssertionResult ReadWatchFile(nlohmann::json& out) {
  const auto bytes = ReadBytes(WatchFilePath());
  if (!bytes) return ::testing::AssertionFailure() << "no watch.json";
  try {
    out = nlohmann::json::parse(*bytes);
  } catch (const std::exception& error) {
    return ::testing::AssertionFailure() << "watch.json is not JSON (" << error.what() << "), " << bytes->size()
                                         << " bytes: [" << bytes->substr(0, 200) << "] … ["
                                         << bytes->substr(bytes->size() > 200 ? bytes->size() - 200 : 0) << "]";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult WaitForWatchFile(const std::function<bool(const nlohmann::json&)>& condition,
                                            Millis limit) {
  std::string last = "(none)";
  if (WaitUntil([&] {
        const auto bytes = ReadBytes(WatchFilePath());
        if (!bytes) return false;
        last = *bytes;
        nlohmann::json file;
        try {
          file = nlohmann::json::parse(*bytes);
        } catch (const std::exception&) {
          return false;
        }
        return condition(file);
      }, limit, 50ms))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "watch.json holds " << last;
}

bool PutAnswerFile(const std::string& name, const std::string& bytes) {
  // The wrapper keeps the answers beside the browser log.
  const std::wstring& log = e2e::GetSettings().browser_log;
  const std::size_t separator = log.find_last_of(L'\\');
  if (separator == std::wstring::npos) return false;
  return WriteBytes(log.substr(0, separator) + L"\\answers\\" + Widen(name), bytes);
}

// ---- the fake server -----------------------------------------------------------

namespace {
std::size_t log_start = 0;

std::vector<std::string> WholeLog() {
  const auto log = e2e::HttpGet(e2e::GetSettings().tracking_port, "/__log");
  return log ? SplitLines(*log) : std::vector<std::string>{};
}
}  // namespace

void MarkLogStart() { log_start = WholeLog().size(); }

std::vector<std::string> ServerLog() {
  auto lines = WholeLog();
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(log_start, lines.size())));
  return lines;
}

std::vector<std::string> LogLinesStartingWith(const std::string& head) {
  std::vector<std::string> lines;
  for (auto& line : ServerLog()) {
    if (line.rfind(head, 0) == 0) lines.push_back(line);
  }
  return lines;
}

std::string PollLine(const std::string& com, const std::string& number, const std::string& phone) {
  return "POST /poll/query.do com=" + com + " num=" + number + " phone=" + phone;
}

std::size_t CountPolls(const std::string& number) {
  std::size_t count = 0;
  const std::string needle = " num=" + number + " ";
  for (const auto& line : LogLinesStartingWith("POST /poll/query.do ")) {
    if (line.find(needle) != std::string::npos) ++count;
  }
  return count;
}

std::string PollAnswer(const std::string& com, const std::string& number, const std::string& state,
                       bool signed_for, const std::vector<std::pair<std::string, std::string>>& newest_first) {
  nlohmann::json data = nlohmann::json::array();
  for (const auto& [time, context] : newest_first) {
    data.push_back({{"time", time}, {"ftime", time}, {"context", context}});
  }
  const nlohmann::json answer = {{"message", "ok"}, {"nu", number},   {"ischeck", signed_for ? "1" : "0"},
                                 {"com", com},      {"status", "200"}, {"state", state},
                                 {"data", data}};
  return answer.dump();
}

std::string KdniaoAnswer(const std::string& shipper, const std::string& number, const std::string& state,
                         const std::vector<std::pair<std::string, std::string>>& newest_first) {
  nlohmann::json traces = nlohmann::json::array();
  for (auto event = newest_first.rbegin(); event != newest_first.rend(); ++event) {
    traces.push_back({{"AcceptTime", event->first}, {"AcceptStation", event->second}});
  }
  return nlohmann::json({{"EBusinessID", kKdniaoId}, {"OrderCode", ""}, {"ShipperCode", shipper},
                         {"LogisticCode", number}, {"Success", true}, {"Reason", nullptr}, {"State", state},
                         {"Traces", traces}})
      .dump();
}

std::string AppCodeAnswer(const std::string& type, const std::string& number, const std::string& delivery,
                          const std::vector<std::pair<std::string, std::string>>& newest_first) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& [time, status] : newest_first) list.push_back({{"time", time}, {"status", status}});
  return nlohmann::json({{"status", "0"}, {"msg", "ok"},
                         {"result", {{"number", number}, {"type", type}, {"list", list}, {"deliverystatus", delivery},
                                     {"issign", delivery == "3" ? "1" : "0"}, {"expName", ""}}}})
      .dump();
}

std::string KdniaoLine(const std::string& type, const std::string& shipper, const std::string& number) {
  return "POST /Ebusiness/EbusinessOrderHandle.aspx type=" + type + " shipper=" + shipper + " num=" + number +
         " phone=";
}

// ---- processes and windows ---------------------------------------------------------

std::vector<DWORD> RunningInstances() {
  std::vector<DWORD> pids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"quenzil.exe") == 0) pids.push_back(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
  return pids;
}

void EndEveryInstance() {
  for (DWORD pid : RunningInstances()) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) continue;
    ::TerminateProcess(process, 98);
    ::WaitForSingleObject(process, 5000);
    ::CloseHandle(process);
  }
}

HWND WaitForWindowOf(DWORD pid, const wchar_t* class_name, const wchar_t* title, Millis limit) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindWindowOf(pid, class_name, title, true)) != nullptr; }, limit);
  return found;
}

std::vector<std::wstring> VisibleBoxes(DWORD pid) {
  std::vector<std::wstring> titles;
  for (HWND box : WindowsOf(pid, L"#32770", nullptr, true)) titles.push_back(WindowTextOf(box));
  return titles;
}

std::vector<std::wstring> AllWindowTexts(DWORD pid) {
  std::vector<std::wstring> texts;
  for (HWND window : WindowsOf(pid, nullptr, nullptr, false)) {
    CollectText(window, reinterpret_cast<LPARAM>(&texts));
    ::EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&texts));
  }
  return texts;
}

::testing::AssertionResult SetItemText(HWND dialog, int id, const std::wstring& text) {
  HWND item = ::GetDlgItem(dialog, id);
  if (item == nullptr) return ::testing::AssertionFailure() << "the dialog has no item " << id;
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &result) ||
      result != TRUE)
    return ::testing::AssertionFailure() << "item " << id << " refused the text";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ClickItem(HWND dialog, int id) {
  HWND item = ::GetDlgItem(dialog, id);
  if (item == nullptr || !::IsWindowVisible(item) || !::IsWindowEnabled(item))
    return ::testing::AssertionFailure() << "the dialog has no usable button " << id;
  if (!::PostMessageW(item, BM_CLICK, 0, 0)) return ::testing::AssertionFailure() << "cannot click " << id;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult WaitGone(HWND window, Millis limit) {
  if (WaitUntil([&] { return !::IsWindow(window) || !::IsWindowVisible(window); }, limit))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "[" << Narrow(WindowTextOf(window)) << "] stays open";
}

// ---- popup menus ---------------------------------------------------------------------

HWND WaitForPopupMenu(DWORD pid, Millis limit) { return WaitForWindowOf(pid, L"#32768", nullptr, limit); }

std::optional<std::vector<std::wstring>> MenuItemTexts(HWND menu_window) {
  DWORD_PTR handle = 0;
  if (!::SendMessageTimeoutW(menu_window, kGetMenuHandle, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &handle) ||
      handle == 0)
    return std::nullopt;
  const HMENU menu = reinterpret_cast<HMENU>(handle);
  const int count = ::GetMenuItemCount(menu);
  if (count <= 0) return std::nullopt;
  std::vector<std::wstring> texts;
  for (int index = 0; index < count; ++index) {
    wchar_t text[256] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(index), text, 256, MF_BYPOSITION);
    texts.push_back(text);
  }
  return texts;
}

namespace {

// Real key strokes through the system's input queue: they reach the thread
// whose window is in front, which is the menu's while it tracks. Should the
// system not have put the program in front, the same keys are posted to the
// menu itself, as a pointer click would reach it wherever the focus is.
::testing::AssertionResult TypeKeys(HWND menu_window, const std::vector<WORD>& keys) {
  DWORD menu_pid = 0;
  ::GetWindowThreadProcessId(menu_window, &menu_pid);
  // The program puts itself in front for its menu; the system may take a
  // moment to follow.
  const bool in_front = WaitUntil([&] {
    DWORD foreground_pid = 0;
    ::GetWindowThreadProcessId(::GetForegroundWindow(), &foreground_pid);
    return foreground_pid == menu_pid;
  }, 2s);
  if (!in_front) {
    HWND foreground = ::GetForegroundWindow();
    DWORD foreground_pid = 0;
    ::GetWindowThreadProcessId(foreground, &foreground_pid);
    wchar_t class_name[64] = {};
    ::GetClassNameW(foreground, class_name, 64);
    std::printf("[ note ] the menu's program is not in front (%ls of process %lu; the menu is %s): keys posted to "
                "the menu instead\n",
                foreground != nullptr ? class_name : L"no window", foreground_pid,
                ::IsWindowVisible(menu_window) ? "open" : "closed");
    for (WORD key : keys) {
      const bool posted = key == VK_RETURN ? ::PostMessageW(menu_window, WM_CHAR, L'\r', 1)
                                           : ::PostMessageW(menu_window, WM_KEYDOWN, key, 1);
      if (!posted) return ::testing::AssertionFailure() << "cannot post keys to the menu";
    }
    return ::testing::AssertionSuccess();
  }
  std::vector<INPUT> strokes;
  for (WORD key : keys) {
    for (DWORD flags : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
      INPUT stroke{};
      stroke.type = INPUT_KEYBOARD;
      stroke.ki.wVk = key;
      stroke.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
      stroke.ki.dwFlags = flags | (key == VK_DOWN || key == VK_RIGHT ? KEYEVENTF_EXTENDEDKEY : 0);
      strokes.push_back(stroke);
    }
  }
  if (::SendInput(static_cast<UINT>(strokes.size()), strokes.data(), sizeof(INPUT)) != strokes.size())
    return ::testing::AssertionFailure() << "SendInput refused the keys";
  return ::testing::AssertionSuccess();
}

}  // namespace

::testing::AssertionResult ChooseMenuItem(HWND menu_window, int index, std::optional<int> sub_index) {
  std::vector<WORD> keys(static_cast<std::size_t>(index) + 1, VK_DOWN);
  if (sub_index) {
    keys.push_back(VK_RIGHT);
    keys.insert(keys.end(), static_cast<std::size_t>(*sub_index), VK_DOWN);
  }
  keys.push_back(VK_RETURN);
  if (auto typed = TypeKeys(menu_window, keys); !typed) return typed;
  if (!WaitUntil([&] { return !::IsWindow(menu_window) || !::IsWindowVisible(menu_window); }, 5s))
    return ::testing::AssertionFailure() << "the menu stays open after Enter";
  return ::testing::AssertionSuccess();
}

// ---- console programs -----------------------------------------------------------

namespace {

void Drain(HANDLE pipe, std::string& into) {
  DWORD available = 0, got = 0;
  char buffer[4096];
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
         ::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
    into.append(buffer, got);
}

}  // namespace

Ran RunConsole(const std::wstring& exe, const std::vector<std::string>& arguments) {
  Ran ran;
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  e2e::UniqueHandle read[2], write[2];
  for (int index = 0; index < 2; ++index) {
    if (!::CreatePipe(read[index].put(), write[index].put(), &inherit, 1 << 20) ||
        !::SetHandleInformation(read[index].get(), HANDLE_FLAG_INHERIT, 0)) {
      ADD_FAILURE() << "CreatePipe failed: " << ::GetLastError();
      return ran;
    }
  }
  std::wstring command = L"\"" + exe + L"\"";
  for (const auto& word : arguments) command += L" \"" + e2e::Widen(word) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write[0].get();
  startup.hStdError = write[1].get();
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started)) {
    ADD_FAILURE() << "cannot start " << e2e::Narrow(exe) << ": " << ::GetLastError();
    return ran;
  }
  e2e::UniqueHandle process(started.hProcess), thread(started.hThread);
  write[0].reset();
  write[1].reset();
  const bool ended = e2e::WaitUntil([&] {
    Drain(read[0].get(), ran.out);
    Drain(read[1].get(), ran.err);
    return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
  }, 30s);
  Drain(read[0].get(), ran.out);
  Drain(read[1].get(), ran.err);
  if (!ended) {
    ADD_FAILURE() << e2e::Narrow(exe) << " still runs after 30 s";
    ::TerminateProcess(process.get(), 99);
    ::WaitForSingleObject(process.get(), 5000);
  }
  ::GetExitCodeProcess(process.get(), &ran.code);
  return ran;
}

// ---- a scenario -----------------------------------------------------------------

const nlohmann::json* ParcelIn(const nlohmann::json& file, const std::string& number) {
  if (!file.contains("parcels") || !file["parcels"].is_array()) return nullptr;
  for (const auto& parcel : file["parcels"]) {
    if (parcel.is_object() && parcel.value("number", nlohmann::json()) == number) return &parcel;
  }
  return nullptr;
}

std::string Describe(const std::vector<std::wstring>& texts) {
  std::string all;
  for (const auto& text : texts) all.append("[").append(Narrow(text)).append("] ");
  return all;
}

void DesktopTest::SetUp() {
  ASSERT_TRUE(e2e::ResetServer());
  Clean();
  MarkLogStart();
}

void DesktopTest::TearDown() {
  app_.reset();
  Clean();
  EXPECT_TRUE(RunningInstances().empty()) << "a quenzil.exe outlives the test";
  for (const wchar_t* name : {L"Customer", L"Key", L"KdniaoId", L"KdniaoKey", L"AppCode"})
    EXPECT_FALSE(ReadSetting(name)) << "an account stays stored: " << Narrow(name);
  EXPECT_TRUE(WatchFolderFiles().empty()) << "files stay in the watch folder";
}

void DesktopTest::Clean() {
  EndEveryInstance();
  ClearSettings();
  ClearWatchFolder();
}

::testing::AssertionResult DesktopTest::Start() {
  app_ = e2e::App::Launch();
  if (!app_) return ::testing::AssertionFailure() << "cannot start quenzil.exe";
  auto shown = app_->WaitForWindow(10s);
  // The number box takes the focus a moment after the window shows.
  if (shown) WaitUntil([&] { return app_->FocusedId() != 0; }, 3s);
  return shown;
}

::testing::AssertionResult DesktopTest::PostToForm(UINT message, WPARAM wparam, LPARAM lparam) {
  HWND form = app_->FindForm();
  if (form == nullptr || !::PostMessageW(form, message, wparam, lparam))
    return ::testing::AssertionFailure() << "cannot post message " << message << " to the window";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DesktopTest::NoBoxFor(Millis time) {
  std::vector<std::wstring> shown;
  if (WaitUntil([&] { return !(shown = VisibleBoxes(pid())).empty(); }, time, 50ms))
    return ::testing::AssertionFailure() << "unexpected box: " << Describe(shown);
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DesktopTest::ExpectBox(const std::wstring& title, const std::wstring& text, int button) {
  HWND box = app_->WaitForMessageBox(title, 10s);
  if (box == nullptr)
    return ::testing::AssertionFailure() << "no box [" << Narrow(title) << "]; shown: " << Describe(VisibleBoxes(pid()));
  const std::wstring shown = e2e::App::MessageBoxText(box);
  if (shown != text)
    return ::testing::AssertionFailure() << "box [" << Narrow(title) << "] says [" << Narrow(shown) << "]";
  return e2e::App::Answer(box, button);
}

HWND DesktopTest::WaitForDialog(const std::wstring& title) {
  return WaitForWindowOf(pid(), L"#32770", title.c_str(), 10s);
}

void DesktopTest::LetFocusSettle() {
  HWND last = ::GetForegroundWindow();
  auto since = std::chrono::steady_clock::now();
  WaitUntil([&] {
    HWND now = ::GetForegroundWindow();
    if (now != last) {
      last = now;
      since = std::chrono::steady_clock::now();
    }
    return std::chrono::steady_clock::now() - since >= 300ms;
  }, 3s);
}

HWND DesktopTest::OpenTrayMenu() {
  LetFocusSettle();
  if (!app_->PressTrayIcon(WM_RBUTTONUP)) return nullptr;
  return WaitForPopupMenu(pid(), 5s);
}

void DesktopTest::ExpectMenuTexts(HWND menu, const std::vector<std::wstring>& expected) {
  const auto texts = MenuItemTexts(menu);
  if (!texts) {
    std::printf("[ note ] the popup menu's items cannot be read from another process here\n");
    return;
  }
  EXPECT_EQ(*texts, expected) << Describe(*texts);
}

}  // namespace desk
