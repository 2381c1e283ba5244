// The deployment values the build was made with: the hosts, the limits of
// a query, the background refresh and the requery guard. Shared by the
// window and the console companion.
#pragma once

#include <string>

#include "watch/schedule.h"
#include "web/fetch.h"

namespace quenzil {

struct DeployHosts {
  std::string tracking_api;     // the old query address
  std::string tracking_home;    // Label3
  std::string maker;            // update flag, Label5
  std::string tracking_poll;    // the keyed API (https)
  std::string tracking_detect;  // courier detection (https)
  std::string kdniao;           // 快递鸟 (https)
  std::string appcode;          // the AppCode market API (https)
  // How long a query may take; the update check has its own, shorter limits.
  FetchLimits query_limits{};
  // Background refresh of watched parcels, and the requery guard.
  ScheduleSettings watch_schedule{};
};

// What this build was configured with.
DeployHosts DeployedHosts();

}  // namespace quenzil
