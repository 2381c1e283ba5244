#include "platform/settings_store_win32.h"

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "common/handles_win32.h"
#include "common/utf.h"
#include "platform/user_sid_win32.h"

namespace quenzil {
namespace {


constexpr wchar_t kSettingsKey[] = L"Software\\Dravimo\\Quenzil";
constexpr wchar_t kAutoRefreshValue[] = L"AutoRefresh";
constexpr wchar_t kRefreshPausedValue[] = L"RefreshPaused";
constexpr wchar_t kAutostartAskedValue[] = L"AutostartAsked";
constexpr wchar_t kDetectionRefusedValue[] = L"DetectionRefused";
constexpr wchar_t kWatchListPlacementValue[] = L"WatchListPlacement";
constexpr wchar_t kQueryMonthValue[] = L"QueryMonth";
constexpr wchar_t kQueryCountValue[] = L"QueryCount";

// Each service's count and pause, by its key.
struct ServiceValues {
  std::string_view service;
  const wchar_t* count;
  const wchar_t* paused;
};
constexpr ServiceValues kServiceValues[] = {
    {Kuaidi100Service::kKey, kQueryCountValue, kRefreshPausedValue},
    {KdniaoService::kKey, L"KdniaoCount", L"KdniaoPaused"},
    {AppCodeService::kKey, L"AppCodeCount", L"AppCodePaused"},
};

const ServiceValues* ValuesOf(std::string_view service) {
  for (const ServiceValues& values : kServiceValues) {
    if (values.service == service) return &values;
  }
  return nullptr;
}

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr wchar_t kRunValue[] = L"Quenzil";

constexpr std::pair<RefreshMode, const wchar_t*> kModeNames[] = {
    {RefreshMode::kSmart, L"smart"},
    {RefreshMode::kHourly, L"hourly"},
    {RefreshMode::kOff, L"off"},
};

// Another process of the user may hold the count for a moment, a hung one
// for ever.
constexpr DWORD kCountLockWaitMs = 2000;

UniqueKey OpenKey(const wchar_t* path, REGSAM access) {
  UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, key.put()) != ERROR_SUCCESS) key.reset();
  return key;
}

UniqueKey CreateKey(const wchar_t* path, REGSAM access) {
  UniqueKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};

// nullopt when the value is missing or cannot be read.
std::optional<RawValue> ReadRaw(HKEY key, const wchar_t* name) {
  RawValue value;
  DWORD size = 0;
  if (::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  // Another process may make the value longer between two calls.
  for (int attempt = 0; attempt < 3; ++attempt) {
    value.bytes.resize(size);
    const LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size);
    if (status == ERROR_SUCCESS) {
      value.bytes.resize(size);
      return value;
    }
    if (status != ERROR_MORE_DATA) break;
  }
  return std::nullopt;
}

std::optional<DWORD> ReadDword(HKEY key, const wchar_t* name) {
  const auto raw = ReadRaw(key, name);
  if (!raw || raw->type != REG_DWORD || raw->bytes.size() != sizeof(DWORD)) return std::nullopt;
  DWORD value = 0;
  std::memcpy(&value, raw->bytes.data(), sizeof(value));
  return value;
}

// REG_SZ only; the text ends at the first NUL, or with the data when a
// program stored it without one.
std::optional<std::wstring> ReadText(HKEY key, const wchar_t* name) {
  const auto raw = ReadRaw(key, name);
  if (!raw || raw->type != REG_SZ || raw->bytes.size() % sizeof(wchar_t) != 0) return std::nullopt;
  std::wstring text(raw->bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), raw->bytes.data(), raw->bytes.size());
  if (const std::size_t end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
  return text;
}

bool WriteDword(HKEY key, const wchar_t* name, DWORD value) {
  return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
         ERROR_SUCCESS;
}

bool WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
  const auto size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), size) ==
         ERROR_SUCCESS;
}

// A value that is not there is as good as deleted.
bool DeleteValue(const wchar_t* path, const wchar_t* name) {
  UniqueKey key;
  const LSTATUS opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, key.put());
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  const LSTATUS status = ::RegDeleteValueW(key.get(), name);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool LoadFlag(const wchar_t* name) {
  const UniqueKey key = OpenKey(kSettingsKey, KEY_QUERY_VALUE);
  return key && ReadDword(key.get(), name).value_or(0) != 0;
}

bool SaveFlag(const wchar_t* name, bool on) {
  const UniqueKey key = CreateKey(kSettingsKey, KEY_SET_VALUE);
  return key && WriteDword(key.get(), name, on ? 1 : 0);
}

std::uint32_t CurrentMonth() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return static_cast<std::uint32_t>(now.wYear) * 100u + now.wMonth;
}

MonthCount ReadCount(HKEY key, const wchar_t* count) {
  return MonthCount{ReadDword(key, kQueryMonthValue).value_or(0), ReadDword(key, count).value_or(0)};
}

// The count's lock, shared by every process of the user in every session.
// An elevated process makes the mutex too: its default access would shut
// out the user's other processes, so the user is named in it.
class CountLock {
 public:
  CountLock() {
    const std::string sid = CurrentUserSid();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
    UniqueDescriptor descriptor;
    if (!sid.empty() && ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                            Widen("D:(A;;GA;;;" + sid + ")(A;;GA;;;SY)").c_str(), SDDL_REVISION_1,
                            descriptor.put(), nullptr)) {
      attributes.lpSecurityDescriptor = descriptor.get();
    }
    const std::wstring name = Widen("Global\\Dravimo.Quenzil.QueryCount." + sid);
    mutex_.reset(::CreateMutexExW(attributes.lpSecurityDescriptor != nullptr ? &attributes : nullptr,
                                  name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!mutex_) return;
    const DWORD waited = ::WaitForSingleObject(mutex_.get(), kCountLockWaitMs);
    // An abandoned lock is ours; its holder died between two writes at worst.
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  CountLock(const CountLock&) = delete;
  CountLock& operator=(const CountLock&) = delete;
  ~CountLock() {
    // Only a mutex this thread does not own refuses; that cannot be here.
    if (held_) static_cast<void>(::ReleaseMutex(mutex_.get()));
  }

 private:
  UniqueHandle mutex_;
  bool held_ = false;
};

bool DisabledElsewhere() {
  const UniqueKey key = OpenKey(kApprovedKey, KEY_QUERY_VALUE);
  if (!key) return false;
  const auto record = ReadRaw(key.get(), kRunValue);
  // Anything but the 12-byte record is not one the system wrote: as if none.
  constexpr std::size_t kRecordSize = 12;
  return record && record->type == REG_BINARY && record->bytes.size() == kRecordSize &&
         (record->bytes[0] & 1u) != 0;
}

}  // namespace

RefreshMode RegistrySettingsStore::LoadRefreshMode() {
  const UniqueKey key = OpenKey(kSettingsKey, KEY_QUERY_VALUE);
  if (!key) return RefreshMode::kSmart;
  const auto text = ReadText(key.get(), kAutoRefreshValue);
  if (!text) return RefreshMode::kSmart;
  for (const auto& [mode, name] : kModeNames) {
    if (*text == name) return mode;
  }
  return RefreshMode::kSmart;
}

bool RegistrySettingsStore::SaveRefreshMode(RefreshMode mode) {
  for (const auto& [known, name] : kModeNames) {
    if (known != mode) continue;
    const UniqueKey key = CreateKey(kSettingsKey, KEY_SET_VALUE);
    return key && WriteText(key.get(), kAutoRefreshValue, name);
  }
  return false;
}

bool RegistrySettingsStore::LoadPaused(std::string_view service) {
  const ServiceValues* values = ValuesOf(service);
  return values != nullptr && LoadFlag(values->paused);
}

bool RegistrySettingsStore::SavePaused(std::string_view service, bool paused) {
  const ServiceValues* values = ValuesOf(service);
  return values != nullptr && SaveFlag(values->paused, paused);
}
bool RegistrySettingsStore::LoadAutostartAsked() { return LoadFlag(kAutostartAskedValue); }
bool RegistrySettingsStore::SaveAutostartAsked() { return SaveFlag(kAutostartAskedValue, true); }
bool RegistrySettingsStore::LoadDetectionRefused() { return LoadFlag(kDetectionRefusedValue); }
bool RegistrySettingsStore::SaveDetectionRefused(bool refused) { return SaveFlag(kDetectionRefusedValue, refused); }

std::string RegistrySettingsStore::LoadWatchListPlacement() {
  const UniqueKey key = OpenKey(kSettingsKey, KEY_QUERY_VALUE);
  if (!key) return {};
  const std::optional<std::wstring> text = ReadText(key.get(), kWatchListPlacementValue);
  return text ? Narrow(*text) : std::string();
}

bool RegistrySettingsStore::SaveWatchListPlacement(std::string_view placement) {
  const UniqueKey key = CreateKey(kSettingsKey, KEY_SET_VALUE);
  return key && WriteText(key.get(), kWatchListPlacementValue, Widen(placement));
}

void RegistryQueryCounter::CountOne(std::string_view service) noexcept {
  // Counting is a side matter of a worker thread: nothing may escape it.
  try {
    const ServiceValues* values = ValuesOf(service);
    if (values == nullptr) return;
    // Without the lock the count is still kept: a collision could lose one
    // request, giving up would lose this one for sure.
    const CountLock lock;
    const UniqueKey key = CreateKey(kSettingsKey, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (!key) return;
    const std::uint32_t month = CurrentMonth();
    const MonthCount next = AfterOneMore(ReadCount(key.get(), values->count), month);
    // One month for every count: a new one starts them all again.
    if (ReadDword(key.get(), kQueryMonthValue).value_or(0) != month) {
      for (const ServiceValues& other : kServiceValues) static_cast<void>(WriteDword(key.get(), other.count, 0));
    }
    // A failed write leaves the count one short; nothing else to do.
    static_cast<void>(WriteDword(key.get(), values->count, next.count) &&
                      WriteDword(key.get(), kQueryMonthValue, next.month));
  } catch (...) {
  }
}

std::uint32_t RegistryQueryCounter::ThisMonth(std::string_view service) {
  const ServiceValues* values = ValuesOf(service);
  if (values == nullptr) return 0;
  // Under the lock: never a new month with the old month's count.
  const CountLock lock;
  const UniqueKey key = OpenKey(kSettingsKey, KEY_QUERY_VALUE);
  if (!key) return 0;
  return CountIn(ReadCount(key.get(), values->count), CurrentMonth());
}

std::string RunningProgramPath() {
  // Paths may be longer than MAX_PATH; a long-path limit is 32767 units.
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return Narrow(path);
    }
    if (path.size() > 32768) return {};
    path.resize(path.size() * 2);
  }
}

RunKeyAutostart::RunKeyAutostart() : RunKeyAutostart(RunningProgramPath()) {}

RunKeyAutostart::RunKeyAutostart(std::string program_path) : program_path_(std::move(program_path)) {}

Autostart::State RunKeyAutostart::Read() {
  State state;
  const UniqueKey run = OpenKey(kRunKey, KEY_QUERY_VALUE);
  if (!run) return state;
  const auto command = ReadRaw(run.get(), kRunValue);
  state.registered = command && (command->type == REG_SZ || command->type == REG_EXPAND_SZ);
  state.enabled = state.registered && !DisabledElsewhere();
  return state;
}

bool RunKeyAutostart::TurnOn() {
  if (program_path_.empty()) return false;
  const UniqueKey run = CreateKey(kRunKey, KEY_SET_VALUE);
  // Quoted: the path may hold blanks.
  return run && WriteText(run.get(), kRunValue, Widen("\"" + program_path_ + "\" /background")) &&
         DeleteValue(kApprovedKey, kRunValue);
}

bool RunKeyAutostart::TurnOff() {
  const bool run_deleted = DeleteValue(kRunKey, kRunValue);
  return DeleteValue(kApprovedKey, kRunValue) && run_deleted;
}

}  // namespace quenzil
