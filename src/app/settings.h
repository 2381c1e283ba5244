// What the program keeps per user besides the watch list and the last
// queries: the accounts at the tracking services and their order, the
// refresh choice and the pauses, the one question about starting at login,
// the counts of keyed requests, and the start at login itself. Small
// interfaces, so the handlers are tested natively; the Win32 versions keep
// them in the registry.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "query/services/appcode.h"
#include "query/services/kdniao.h"
#include "query/services/kuaidi100.h"
#include "watch/refresh_policy.h"

namespace quenzil {

// The services a user may have an account at, by their keys, in the order
// they are tried when nothing else is set.
inline constexpr std::array<std::string_view, 3> kServiceKeys = {Kuaidi100Service::kKey, KdniaoService::kKey,
                                                                 AppCodeService::kKey};

// "kdniao,appcode,kuaidi100": the services in that order, each once; those
// it leaves out follow in the default order. A text that names none of
// them, or anything else, gives the default order.
std::vector<std::string> ParseServiceOrder(std::string_view text);
std::string ServiceOrderText(const std::vector<std::string>& order);
// A service's name for people, by its key: "快递鸟" for "kdniao".
std::string_view ServiceNameOf(std::string_view key);

struct Accounts {
  Credentials kuaidi100;
  KdniaoAccount kdniao;
  AppCodeAccount appcode;
  std::vector<std::string> order = ParseServiceOrder({});
  // At least one account is complete.
  bool any() const { return kuaidi100.complete() || kdniao.complete() || appcode.complete(); }
  bool operator==(const Accounts&) const = default;
};

// Where the accounts are kept between runs.
class CredentialStore {
 public:
  struct Loaded {
    Accounts accounts;
    bool unreadable = false;  // something is stored but cannot be read or decrypted
  };
  virtual ~CredentialStore() = default;
  virtual Loaded Load() = 0;
  // Every complete account is written; the values of one that is not are
  // removed.
  virtual bool Save(const Accounts& accounts) = 0;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // 自动刷新; kSmart when nothing (or nothing readable) is stored.
  virtual RefreshMode LoadRefreshMode() = 0;
  virtual bool SaveRefreshMode(RefreshMode mode) = 0;
  // The service refused the account, or its queries are spent: it is not
  // asked first, nor in the background, until the account is confirmed.
  virtual bool LoadPaused(std::string_view service) = 0;
  virtual bool SavePaused(std::string_view service, bool paused) = 0;
  // The user has been asked once whether to start at login.
  virtual bool LoadAutostartAsked() = 0;
  virtual bool SaveAutostartAsked() = 0;
  // The account's courier detection answered 601: the account has none (a
  // trial account), so it is not asked again until the 授权 is confirmed.
  virtual bool LoadDetectionRefused() = 0;
  virtual bool SaveDetectionRefused(bool refused) = 0;
  // The 关注列表 window's size, position and column widths, as its
  // handlers write them; empty when none is kept.
  virtual std::string LoadWatchListPlacement() { return {}; }
  virtual bool SaveWatchListPlacement(std::string_view) { return false; }
};

// Keyed requests sent (queries and courier detections), per service, per
// calendar month of local time (one month for all), shared by every process
// of the user.
class QueryCounter {
 public:
  virtual ~QueryCounter() = default;
  // One more request sent to the service; may be called from any thread.
  virtual void CountOne(std::string_view service) = 0;
  virtual std::uint32_t ThisMonth(std::string_view service) = 0;
};

// The stored count: its month as yyyymm and the requests in it.
struct MonthCount {
  std::uint32_t month = 0;
  std::uint32_t count = 0;
  bool operator==(const MonthCount&) const = default;
};
// The count after one more request in `current_month` (yyyymm): a new month
// starts at one.
MonthCount AfterOneMore(MonthCount stored, std::uint32_t current_month);
// The requests in `current_month`: none when the stored count is of another.
std::uint32_t CountIn(MonthCount stored, std::uint32_t current_month);

// Starting at login.
class Autostart {
 public:
  struct State {
    bool registered = false;  // the program is set to start at login
    bool enabled = false;     // ... and the user has not turned that off elsewhere
  };
  virtual ~Autostart() = default;
  virtual State Read() = 0;
  // Sets the program to start at login (hidden, in the notification area)
  // and clears a record that the user turned it off elsewhere.
  virtual bool TurnOn() = 0;
  virtual bool TurnOff() = 0;
};

}  // namespace quenzil
