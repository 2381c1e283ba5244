#include "watch/refresh_policy.h"

#include <gtest/gtest.h>

#include <string>

namespace quenzil {
namespace {

constexpr UnixSeconds kHour = 3600;
constexpr std::int64_t kBeijing = 8 * kHour;
// 2026-12-08 00:00 Beijing time.
constexpr UnixSeconds kMidnight = 1796659200;
UnixSeconds At(double local_hour) { return kMidnight + static_cast<UnixSeconds>(local_hour * kHour); }

const RefreshPolicy kSmart{RefreshMode::kSmart, kHour, 1800, QuietHours{23, 7}};

// An entry last checked at `checked`, its last change seen at `changed`.
WatchedParcel Entry(std::string state, std::string newest, double changed, double checked) {
  WatchedParcel parcel{.number = "YT1", .carrier = "yuantong", .state = std::move(state)};
  parcel.events.push_back({"", std::move(newest)});
  parcel.added = At(changed) - 24 * kHour;
  parcel.last_changed = At(changed);
  parcel.last_checked = At(checked);
  return parcel;
}

// The gap before the next refresh, without the entry's steady offset.
double GapHours(const WatchedParcel& parcel, const RefreshPolicy& policy = kSmart) {
  const auto due = NextRefreshAt(parcel, parcel.last_checked, kBeijing, policy);
  if (!due) return -1;
  const UnixSeconds gap = *due - parcel.last_checked;
  return static_cast<double>(gap - gap % (kHour / 4)) / kHour;  // the offset is under 6 min
}

TEST(RefreshPolicy, TheCadenceFollowsTheParcel) {
  struct Case {
    const char* what;
    WatchedParcel parcel;
    double gap_hours;
  };
  const Case cases[] = {
      {"changed 30 min ago", Entry("0", "快件已到达【上海转运中心】", 9.5, 10), 1},
      {"quiet 3 h", Entry("0", "快件已到达【上海转运中心】", 9, 12), 3},
      {"quiet 8 h", Entry("0", "快件已到达【上海转运中心】", 8, 16), 6},
      {"quiet 8 h by noon", Entry("0", "【上海转运中心】已发出，下一站【杭州转运中心】", 4, 12), 5},
      {"out for delivery, quiet", Entry("5", "派件员：王师傅 正在为您派件", 8, 14), 1},
      {"at its outlet, quiet", Entry("0", "快件已到达【上海浦东营业部】", 8, 14), 1},
      {"heading for its outlet, quiet", Entry("0", "【上海转运中心】已发出，下一站【上海浦东营业部】", 8, 14), 2},
      {"waiting at a pickup station", Entry("501", "快件已暂存至【菜鸟驿站】", 8, 14), 1.75},
      {"the night is not quiet time", Entry("0", "快件已到达【上海转运中心】", 22.5, 31), 1},
  };
  for (const Case& entry : cases) EXPECT_EQ(GapHours(entry.parcel), entry.gap_hours) << entry.what;

  RefreshPolicy hourly = kSmart;
  hourly.mode = RefreshMode::kHourly;
  EXPECT_EQ(GapHours(Entry("0", "到达", 0, 21), hourly), 1) << "every interval, whatever the parcel";
  EXPECT_EQ(GapHours(Entry("0", "到达", 0, 23.5), hourly), 1) << "day and night";
  RefreshPolicy off = kSmart;
  off.mode = RefreshMode::kOff;
  EXPECT_EQ(GapHours(Entry("0", "到达", 0, 21), off), -1);
}

TEST(RefreshPolicy, AFailingEntryBacksOffAloneUpToSixHours) {
  for (const auto& [failures, hours] : {std::pair{1, 0.5}, {2, 1.0}, {3, 2.0}, {4, 4.0}, {5, 6.0}, {40, 6.0}}) {
    WatchedParcel parcel = Entry("5", "派件", 9, 10);
    parcel.failures = failures;
    EXPECT_EQ(GapHours(parcel), hours) << failures;
  }
}

TEST(RefreshPolicy, QuietHoursHoldTheNightAndTheFirstLookCatchesUp) {
  // A quiet entry due in the night waits for 07:00, whatever it missed.
  WatchedParcel quiet = Entry("0", "快件已到达【上海转运中心】", 8, 20);
  EXPECT_EQ(NextRefreshAt(quiet, At(20), kBeijing, kSmart), At(31));
  EXPECT_LE(NextRefreshAt(quiet, At(40), kBeijing, kSmart), At(40)) << "overdue after the night: at once";
  // An entry asked every interval takes a last look before 23:00 ...
  EXPECT_EQ(NextRefreshAt(Entry("5", "派件", 21, 22.2), At(22.2), kBeijing, kSmart), At(23) - 60);
  // ... unless it was just asked.
  EXPECT_EQ(NextRefreshAt(Entry("5", "派件", 21, 22.7), At(22.7), kBeijing, kSmart), At(31));
  RefreshPolicy all_night = kSmart;
  all_night.quiet_hours.reset();
  EXPECT_LT(*NextRefreshAt(Entry("5", "派件", 21, 22.7), At(22.7), kBeijing, all_night), At(24));
}

TEST(RefreshPolicy, TheGuardAndTheDigitsHoldEveryRefreshBack) {
  WatchedParcel parcel = Entry("5", "派件", 9, 10);
  parcel.failures = 1;                   // due again in half an hour ...
  parcel.last_answered = At(10) + 1200;  // ... but a query by hand got rows 20 min after
  EXPECT_EQ(NextRefreshAt(parcel, At(10.5), kBeijing, kSmart), parcel.last_answered + 1800);
  parcel.needs_phone = true;
  EXPECT_FALSE(NextRefreshAt(parcel, At(10.5), kBeijing, kSmart));
  EXPECT_TRUE(WithinRequeryGuard(100, 100, 1800));
  EXPECT_TRUE(WithinRequeryGuard(100, 1899, 1800));
  EXPECT_FALSE(WithinRequeryGuard(100, 1900, 1800));
  EXPECT_FALSE(WithinRequeryGuard(100, 99, 1800)) << "the clock went back";
  EXPECT_FALSE(WithinRequeryGuard(0, 100, 1800)) << "never answered";
}

TEST(RefreshPolicy, QuietHoursAreReadFromTheBuildSetting) {
  const struct {
    const char* text;
    std::optional<QuietHours> hours;
  } cases[] = {{"23-7", QuietHours{23, 7}}, {" 1 - 5 ", QuietHours{1, 5}}, {"0-23", QuietHours{0, 23}},
               {"", std::nullopt},          {"7-7", std::nullopt},       {"24-7", std::nullopt},
               {"23", std::nullopt},        {"a-7", std::nullopt},       {"23-7-1", std::nullopt}};
  for (const auto& entry : cases) EXPECT_EQ(ParseQuietHours(entry.text), entry.hours) << entry.text;
}

}  // namespace
}  // namespace quenzil
