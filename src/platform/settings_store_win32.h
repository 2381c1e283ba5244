// The settings, the query count and the start at login in the registry, per
// user:
//   HKCU\Software\Dravimo\Quenzil
//     AutoRefresh     REG_SZ     "smart" | "hourly" | "off"
//     RefreshPaused   REG_DWORD  1 or 0: 快递100 paused (KdniaoPaused, AppCodePaused likewise)
//     AutostartAsked  REG_DWORD  1
//     DetectionRefused REG_DWORD 1 or 0
//     QueryMonth      REG_DWORD  yyyymm of local time
//     QueryCount      REG_DWORD  快递100's keyed requests sent in that month
//     KdniaoCount, AppCodeCount  REG_DWORD  the other services' requests in that month
//   HKCU\Software\Microsoft\Windows\CurrentVersion\Run
//     Quenzil         REG_SZ     "<full path of the program>" /background
// A value of the wrong type or size counts as absent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/settings.h"

namespace quenzil {

class RegistrySettingsStore final : public SettingsStore {
 public:
  RefreshMode LoadRefreshMode() override;
  bool SaveRefreshMode(RefreshMode mode) override;
  bool LoadPaused(std::string_view service) override;
  bool SavePaused(std::string_view service, bool paused) override;
  bool LoadAutostartAsked() override;
  bool SaveAutostartAsked() override;
  bool LoadDetectionRefused() override;
  bool SaveDetectionRefused(bool refused) override;
  std::string LoadWatchListPlacement() override;
  bool SaveWatchListPlacement(std::string_view placement) override;
};

// Every process of the user counts under one lock (a named mutex, in any
// session); a lock not had within two seconds does not stop the count.
class RegistryQueryCounter final : public QueryCounter {
 public:
  // Never throws: a count that cannot be kept is lost.
  void CountOne(std::string_view service) noexcept override;
  std::uint32_t ThisMonth(std::string_view service) override;
};

// The full path of the running program, UTF-8; empty if it cannot be read.
std::string RunningProgramPath();

// The Run value, and the user's choice that Task Manager and Settings record
// under ...\Explorer\StartupApproved\Run: 12 bytes of REG_BINARY whose first
// byte is odd when starting at login was turned off there.
class RunKeyAutostart final : public Autostart {
 public:
  RunKeyAutostart();
  explicit RunKeyAutostart(std::string program_path);
  State Read() override;
  bool TurnOn() override;
  bool TurnOff() override;

 private:
  std::string program_path_;
};

}  // namespace quenzil
