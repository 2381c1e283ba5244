// The registry stores on the test prefix's own HKCU: the value formats that
// other versions and the system read, the count across months, threads and
// a held lock, and the start at login as Task Manager records it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/utf.h"
#include "platform/credential_store_win32.h"
#include "platform/settings_store_win32.h"
#include "platform/user_sid_win32.h"

namespace quenzil {
namespace {

constexpr wchar_t kSettings[] = L"Software\\Dravimo\\Quenzil";
constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApproved[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

struct Raw {
  DWORD type;
  std::vector<BYTE> bytes;
  bool operator==(const Raw&) const = default;
};
void PrintTo(const Raw& raw, std::ostream* out) {
  *out << "type " << raw.type << ":" << std::hex;
  for (const BYTE byte : raw.bytes) *out << ' ' << int{byte};
}
Raw Dword(DWORD value) { return {REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}}; }
Raw Text(std::wstring text, DWORD type = REG_SZ, bool nul = true) {
  if (nul) text.push_back(L'\0');
  const auto* data = reinterpret_cast<const BYTE*>(text.data());
  return {type, std::vector<BYTE>(data, data + text.size() * sizeof(wchar_t))};
}

void Put(const wchar_t* path, const wchar_t* name, const std::optional<Raw>& value) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
  const LSTATUS status = value ? ::RegSetValueExW(key, name, 0, value->type, value->bytes.data(),
                                                  static_cast<DWORD>(value->bytes.size()))
                               : ::RegDeleteValueW(key, name);
  ::RegCloseKey(key);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

std::optional<Raw> Get(const wchar_t* path, const wchar_t* name) {
  Raw raw{REG_NONE, std::vector<BYTE>(512)};
  auto size = static_cast<DWORD>(raw.bytes.size());
  if (::RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_ANY | RRF_NOEXPAND, &raw.type, raw.bytes.data(),
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  raw.bytes.resize(size);
  return raw;
}

class RegistryStores : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    for (const wchar_t* name : {L"AutoRefresh", L"RefreshPaused", L"AutostartAsked", L"QueryMonth", L"QueryCount"}) {
      Put(kSettings, name, std::nullopt);
    }
    Put(kRun, L"Quenzil", std::nullopt);
    Put(kApproved, L"Quenzil", std::nullopt);
  }
  RegistrySettingsStore settings_;
  RegistryQueryCounter counter_;
};

TEST_F(RegistryStores, RefreshModeIsStoredByNameAndAnythingElseIsSmart) {
  for (const auto& [mode, name] : {std::pair{RefreshMode::kHourly, L"hourly"}, {RefreshMode::kOff, L"off"},
                                   {RefreshMode::kSmart, L"smart"}}) {
    ASSERT_TRUE(settings_.SaveRefreshMode(mode));
    EXPECT_EQ(Get(kSettings, L"AutoRefresh"), Text(name));
    EXPECT_EQ(settings_.LoadRefreshMode(), mode);
  }
  const std::pair<std::optional<Raw>, RefreshMode> stored[] = {
      {std::nullopt, RefreshMode::kSmart},        {Text(L"Hourly"), RefreshMode::kSmart},
      {Text(L"manual"), RefreshMode::kSmart},     {Text(L"off", REG_EXPAND_SZ), RefreshMode::kSmart},
      {Dword(2), RefreshMode::kSmart},            {Raw{REG_SZ, {'o', 0, 'f'}}, RefreshMode::kSmart},
      {Text(L"off", REG_SZ, false), RefreshMode::kOff}, {Text(std::wstring(L"hourly\0x", 8)), RefreshMode::kHourly},
  };
  for (std::size_t row = 0; row < std::size(stored); ++row) {
    Put(kSettings, L"AutoRefresh", stored[row].first);
    EXPECT_EQ(settings_.LoadRefreshMode(), stored[row].second) << "row " << row;
  }
}

TEST_F(RegistryStores, FlagsAreADwordOfOneAndAnythingElseIsFalse) {
  ASSERT_TRUE(settings_.SavePaused("kuaidi100", true) && settings_.SaveAutostartAsked());
  EXPECT_EQ(Get(kSettings, L"RefreshPaused"), Dword(1));
  EXPECT_EQ(Get(kSettings, L"AutostartAsked"), Dword(1));
  const std::pair<std::optional<Raw>, bool> stored[] = {
      {std::nullopt, false},       {Dword(1), true}, {Dword(0), false}, {Text(L"1"), false},
      {Raw{REG_BINARY, {1, 0, 0, 0}}, false}, {Raw{REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}, false},
  };
  for (std::size_t row = 0; row < std::size(stored); ++row) {
    Put(kSettings, L"RefreshPaused", stored[row].first);
    Put(kSettings, L"AutostartAsked", stored[row].first);
    EXPECT_EQ(settings_.LoadPaused("kuaidi100"), stored[row].second) << "row " << row;
    EXPECT_EQ(settings_.LoadAutostartAsked(), stored[row].second) << "row " << row;
  }
}

TEST_F(RegistryStores, CountKeepsToTheCurrentMonthAndIgnoresMalformedValues) {
  SYSTEMTIME today{};
  ::GetLocalTime(&today);
  const DWORD now = today.wYear * 100u + today.wMonth;
  const DWORD before = today.wMonth == 1 ? now - 89 : now - 1;
  struct {
    std::optional<Raw> month, count;
    std::uint32_t this_month;
  } rows[] = {
      {std::nullopt, std::nullopt, 0},     {Dword(before), Dword(57), 0}, {Dword(now), Dword(7), 7},
      {Text(L"202401"), Dword(7), 0},      {Dword(now), Text(L"7"), 0},
      {Dword(now), Raw{REG_QWORD, {7, 0, 0, 0, 0, 0, 0, 0}}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    Put(kSettings, L"QueryMonth", row.month);
    Put(kSettings, L"QueryCount", row.count);
    EXPECT_EQ(counter_.ThisMonth("kuaidi100"), row.this_month);
    counter_.CountOne("kuaidi100");
    EXPECT_EQ(counter_.ThisMonth("kuaidi100"), row.this_month + 1);
    EXPECT_EQ(Get(kSettings, L"QueryMonth"), Dword(now));
    EXPECT_EQ(Get(kSettings, L"QueryCount"), Dword(row.this_month + 1));
  }
}

TEST_F(RegistryStores, EachServiceCountsInTheOneMonthAndEachPausesOnItsOwn) {
  SYSTEMTIME today{};
  ::GetLocalTime(&today);
  const DWORD now = today.wYear * 100u + today.wMonth;
  Put(kSettings, L"QueryMonth", Dword(now - 1));
  Put(kSettings, L"QueryCount", Dword(9));
  Put(kSettings, L"AppCodeCount", Dword(4));
  for (int i = 0; i < 2; ++i) counter_.CountOne("kdniao");
  EXPECT_EQ(Get(kSettings, L"KdniaoCount"), Dword(2));
  EXPECT_EQ(Get(kSettings, L"QueryCount"), Dword(0)) << "a new month starts every count again";
  EXPECT_EQ(counter_.ThisMonth("appcode"), 0u);
  counter_.CountOne("appcode");
  EXPECT_EQ(counter_.ThisMonth("appcode") + counter_.ThisMonth("kdniao") + counter_.ThisMonth("kuaidi100"), 3u);
  ASSERT_TRUE(settings_.SavePaused("kdniao", true) && settings_.SavePaused("appcode", false));
  EXPECT_EQ(Get(kSettings, L"KdniaoPaused"), Dword(1));
  EXPECT_TRUE(settings_.LoadPaused("kdniao") && !settings_.LoadPaused("appcode") && !settings_.LoadPaused("kuaidi100"));
}

TEST_F(RegistryStores, AccountsRoundTripSecretsProtectedAndTheOrderDefaults) {
  RegistryCredentialStore store;
  EXPECT_EQ(store.Load().accounts.order, (std::vector<std::string>{"kuaidi100", "kdniao", "appcode"}));
  Accounts accounts;
  accounts.kdniao = {"1237100", "kd-secret", true};
  accounts.appcode = {"ac-secret"};
  accounts.order = {"appcode", "kdniao", "kuaidi100"};
  ASSERT_TRUE(store.Save(accounts));
  EXPECT_EQ(Get(kSettings, L"ServiceOrder"), Text(L"appcode,kdniao,kuaidi100"));
  EXPECT_EQ(Get(kSettings, L"KdniaoId"), Text(L"1237100"));
  for (const wchar_t* secret : {L"KdniaoKey", L"AppCode"}) {
    const std::optional<Raw> stored = Get(kSettings, secret);
    ASSERT_TRUE(stored && stored->type == REG_BINARY) << Narrow(secret);
    EXPECT_EQ(std::search(stored->bytes.begin(), stored->bytes.end(), std::begin("secret"), std::end("secret") - 1),
              stored->bytes.end())
        << "never in plain";
  }
  EXPECT_FALSE(store.Load().unreadable);
  EXPECT_EQ(store.Load().accounts, accounts);
  Put(kSettings, L"ServiceOrder", Text(L"kdniao,bogus"));
  Put(kSettings, L"AppCode", Raw{REG_BINARY, {1, 2, 3}});
  const CredentialStore::Loaded damaged = store.Load();
  EXPECT_TRUE(damaged.unreadable);
  EXPECT_FALSE(damaged.accounts.appcode.complete());
  EXPECT_TRUE(damaged.accounts.kdniao.complete()) << "the others still count";
  EXPECT_EQ(damaged.accounts.order.front(), "kuaidi100") << "an order it cannot read is the default";
  accounts.kdniao = {};
  ASSERT_TRUE(store.Save(accounts));
  EXPECT_EQ(Get(kSettings, L"KdniaoId"), std::nullopt);
}

TEST_F(RegistryStores, CountersOfTwoThreadsLoseNothing) {
  const auto count = [] {
    RegistryQueryCounter counter;  // as in another process
    for (int i = 0; i < 500; ++i) counter.CountOne("kuaidi100");
  };
  std::thread one(count), two(count);
  one.join();
  two.join();
  EXPECT_EQ(counter_.ThisMonth("kuaidi100"), 1000u);
}

TEST_F(RegistryStores, CountWaitsForTheLockOfAnotherProcessABoundedTime) {
  const std::wstring name = Widen("Global\\Dravimo.Quenzil.QueryCount." + CurrentUserSid());
  const HANDLE held = ::CreateMutexW(nullptr, TRUE, name.c_str());
  ASSERT_NE(held, nullptr);
  const auto start = std::chrono::steady_clock::now();
  std::thread counting([] { RegistryQueryCounter().CountOne("kuaidi100"); });
  ::Sleep(300);
  EXPECT_EQ(Get(kSettings, L"QueryCount"), std::nullopt);
  counting.join();  // never released: counted all the same after two seconds
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
  EXPECT_EQ(Get(kSettings, L"QueryCount"), Dword(1));
  ::CloseHandle(held);
}

TEST_F(RegistryStores, AutostartRunsTheQuotedProgramInTheBackground) {
  ASSERT_TRUE(RunKeyAutostart("C:\\Quenzil\\quenzil.exe").TurnOn());
  RunKeyAutostart autostart("C:\\Program Files\\Quenzil 快递\\quenzil.exe");
  ASSERT_TRUE(autostart.TurnOn());  // over the older path
  EXPECT_EQ(Get(kRun, L"Quenzil"), Text(L"\"C:\\Program Files\\Quenzil 快递\\quenzil.exe\" /background"));
  EXPECT_TRUE(autostart.Read().registered && autostart.Read().enabled);
  ASSERT_TRUE(autostart.TurnOff());
  EXPECT_EQ(Get(kRun, L"Quenzil"), std::nullopt);
  EXPECT_FALSE(autostart.Read().registered || autostart.Read().enabled);
  EXPECT_TRUE(autostart.TurnOff());

  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  ASSERT_TRUE(RunKeyAutostart().TurnOn());
  EXPECT_EQ(Get(kRun, L"Quenzil"), Text(L"\"" + std::wstring(self) + L"\" /background"));
  Put(kRun, L"Quenzil", Text(L"x.exe", REG_EXPAND_SZ));
  EXPECT_TRUE(autostart.Read().registered);
  Put(kRun, L"Quenzil", Dword(1));
  EXPECT_FALSE(autostart.Read().registered);
}

TEST_F(RegistryStores, AutostartFollowsTheStartupApprovedRecordAndTurnOnClearsIt) {
  const auto record = [](BYTE first) {
    return Raw{REG_BINARY, {first, 0, 0, 0, 0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0x01}};
  };
  const std::pair<std::optional<Raw>, bool> records[] = {
      {record(0x02), true}, {record(0x06), true}, {record(0x03), false}, {record(0x07), false},
      {std::nullopt, true}, {Raw{REG_BINARY, {0x03, 0, 0, 0}}, true},   {Dword(3), true},
  };
  RunKeyAutostart autostart("C:\\Quenzil\\quenzil.exe");
  for (std::size_t row = 0; row < std::size(records); ++row) {
    SCOPED_TRACE(testing::Message() << "row " << row);
    Put(kApproved, L"Quenzil", records[row].first);
    EXPECT_FALSE(autostart.Read().enabled);  // not registered
    ASSERT_TRUE(autostart.TurnOn());
    Put(kApproved, L"Quenzil", records[row].first);
    EXPECT_EQ(autostart.Read().enabled, records[row].second);
    ASSERT_TRUE(autostart.TurnOn());
    EXPECT_TRUE(autostart.Read().enabled);
    EXPECT_EQ(Get(kApproved, L"Quenzil"), std::nullopt);
    ASSERT_TRUE(autostart.TurnOff());
  }
}

}  // namespace
}  // namespace quenzil
