#include "app/deployment.h"

#include <algorithm>
#include <chrono>

#include "deploy_config.h"

namespace quenzil {

DeployHosts DeployedHosts() {
  DeployHosts deployment;
  deployment.tracking_api = deploy::kTrackingApiHost;
  deployment.tracking_home = deploy::kTrackingHomeHost;
  deployment.maker = deploy::kMakerHost;
  deployment.tracking_poll = deploy::kTrackingPollHost;
  deployment.tracking_detect = deploy::kTrackingDetectHost;
  deployment.kdniao = deploy::kKdniaoHost;
  deployment.appcode = deploy::kAppCodeHost;
  const std::chrono::milliseconds step_timeout{deploy::kQueryStepTimeoutMs};
  deployment.query_limits.connect = step_timeout;
  deployment.query_limits.send = step_timeout;
  deployment.query_limits.receive = step_timeout;
  deployment.query_limits.total = std::chrono::milliseconds{deploy::kQueryTotalTimeoutMs};
  deployment.watch_schedule.interval = deploy::kWatchIntervalSeconds;
  // A test build's short interval shortens the first fetches' gap alike.
  deployment.watch_schedule.first_fetch_gap = std::clamp<UnixSeconds>(
      deploy::kWatchIntervalSeconds * kFirstFetchGapSeconds / 3600, 1, kFirstFetchGapSeconds);
  deployment.watch_schedule.requery_guard = deploy::kKeyedRequerySeconds;
  deployment.watch_schedule.quiet_hours = ParseQuietHours(deploy::kWatchQuietHours);
  return deployment;
}

}  // namespace quenzil
