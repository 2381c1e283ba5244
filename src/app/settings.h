// What the program keeps per user besides the watch list and the last
// queries: the 快递100 授权, the refresh choice and its pause, the one
// question about starting at login, the count of keyed queries, and the
// start at login itself. Small interfaces, so the handlers are tested natively; the Win32
// versions keep them in the registry.
#pragma once

#include <cstdint>

#include "query/services/kuaidi100.h"
#include "watch/refresh_policy.h"

namespace quenzil {

// Where 快递100 授权 is kept between runs.
class CredentialStore {
 public:
  struct Loaded {
    Credentials credentials;
    bool unreadable = false;  // something is stored but cannot be read or decrypted
  };
  virtual ~CredentialStore() = default;
  virtual Loaded Load() = 0;
  virtual bool Save(const Credentials& credentials) = 0;
  virtual bool Clear() = 0;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // 自动刷新; kSmart when nothing (or nothing readable) is stored.
  virtual RefreshMode LoadRefreshMode() = 0;
  virtual bool SaveRefreshMode(RefreshMode mode) = 0;
  // Background refresh stopped because the service refused the account.
  virtual bool LoadRefreshPaused() = 0;
  virtual bool SaveRefreshPaused(bool paused) = 0;
  // The user has been asked once whether to start at login.
  virtual bool LoadAutostartAsked() = 0;
  virtual bool SaveAutostartAsked() = 0;
  // The account's courier detection answered 601: the account has none (a
  // trial account), so it is not asked again until the 授权 is confirmed.
  virtual bool LoadDetectionRefused() = 0;
  virtual bool SaveDetectionRefused(bool refused) = 0;
};

// Keyed requests sent (queries and courier detections), per calendar month
// of local time, shared by every process of the user.
class QueryCounter {
 public:
  virtual ~QueryCounter() = default;
  // One more request sent; may be called from any thread.
  virtual void CountOne() = 0;
  virtual std::uint32_t ThisMonth() = 0;
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
