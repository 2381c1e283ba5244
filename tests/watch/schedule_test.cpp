#include "watch/schedule.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace quenzil {
namespace {

constexpr UnixSeconds kT0 = 1796722200;
constexpr ScheduleSettings kSettings{.interval = 600, .offline_retry = 50};

WatchedParcel Checked(std::string number, UnixSeconds at) {
  return {.number = std::move(number), .carrier = "yunda", .state = "0", .added = at,
          .last_checked = at, .last_changed = at};
}

TEST(Schedule, EachEntryHasASteadyOffsetUnderATenthOfTheInterval) {
  RefreshSchedule schedule(kSettings);
  schedule.SetMode(RefreshMode::kHourly);
  std::set<UnixSeconds> offsets;
  for (int i = 0; i < 40; ++i) {
    const UnixSeconds due = *schedule.DueAt(Checked(std::string("N").append(std::to_string(i)), kT0), kT0);
    EXPECT_GE(due, kT0 + 600);
    EXPECT_LT(due, kT0 + 660);
    offsets.insert(due);
  }
  EXPECT_GT(offsets.size(), 20u) << "entries checked together must drift apart";
  // The same on every run and platform (a fixed hash, not std::hash).
  EXPECT_EQ(*schedule.DueAt(Checked("V030344422", kT0), kT0) - kT0, 600 + 16);
  EXPECT_EQ(*schedule.DueAt(Checked("N0", kT0), kT0) - kT0, 600 + 56);
}

TEST(Schedule, NewDueAtOnceRetiredNever) {
  const RefreshSchedule schedule(kSettings);
  EXPECT_EQ(schedule.DueAt({.number = "1", .carrier = "ems"}, kT0), kT0);
  WatchedParcel signed_for = Checked("2", kT0);
  signed_for.state = "3";
  EXPECT_FALSE(schedule.DueAt(signed_for, kT0));
  // The clock went back past the last check.
  EXPECT_EQ(schedule.DueAt(Checked("3", kT0 + 500), kT0), kT0);

  WatchList retired_only{.parcels = {signed_for}};
  EXPECT_FALSE(schedule.NextWake(retired_only, kT0));
  EXPECT_FALSE(schedule.PickDue(retired_only, kT0));
}

TEST(Schedule, MostOverdueFirstWithAGapBetweenStarts) {
  RefreshSchedule schedule(kSettings);
  WatchList list{.parcels = {Checked("a", kT0 - 700), Checked("b", kT0 - 900),
                             {.number = "c", .carrier = "ems", .added = kT0 - 1000},
                             Checked("d", kT0)}};
  EXPECT_EQ(schedule.PickDue(list, kT0), 2u) << "never fetched: waiting since it was added";
  // Held back (asked by hand) never; tried lately in an outage only after the others.
  EXPECT_EQ(schedule.PickDue(list, kT0, 0, {[](const WatchedParcel& parcel) { return parcel.number == "c"; }, {}}), 1u);
  EXPECT_EQ(schedule.PickDue(list, kT0, 0, {{}, {{"c", "ems"}}}), 1u);
  const WatchList c_and_d{.parcels = {list.parcels[2], list.parcels[3]}};
  EXPECT_EQ(schedule.NextWake(c_and_d, kT0, 0, {[](const WatchedParcel& parcel) { return parcel.number == "c"; }, {}}),
            schedule.DueAt(list.parcels[3], kT0))
      << "one held back is no reason to wake";
  schedule.NoteStarted(kT0);
  list.parcels[2] = Checked("c", kT0);
  // Four active entries: 600 / (2 × 4) = 75 s between starts.
  EXPECT_FALSE(schedule.PickDue(list, kT0 + 74));
  EXPECT_EQ(schedule.NextWake(list, kT0 + 1), kT0 + 75);
  EXPECT_EQ(schedule.PickDue(list, kT0 + 75), 1u);
}

TEST(Schedule, OfflinePauseDoublesUpToTheIntervalAndEndsWithAnAnswer) {
  RefreshSchedule schedule(kSettings);
  const WatchList list{.parcels = {{.number = "1", .carrier = "ems"}}};
  UnixSeconds now = kT0;
  for (const UnixSeconds pause : {50, 100, 200, 400, 600, 600}) {
    schedule.NoteUnreachable(now);
    EXPECT_FALSE(schedule.PickDue(list, now + pause - 1)) << pause;
    EXPECT_EQ(schedule.NextWake(list, now), now + pause);
    now += pause;
    EXPECT_TRUE(schedule.PickDue(list, now)) << pause;
  }
  schedule.NoteReachable();
  schedule.NoteUnreachable(now);
  EXPECT_EQ(schedule.NextWake(list, now), now + 50) << "backoff starts over";
}

TEST(Schedule, ABatchOfNewParcelsIsFetchedOneByOneTenSecondsApartBesideTheRefreshes) {
  RefreshSchedule schedule({.interval = 3600});
  WatchList list{.parcels = {Checked("old", kT0 - 7 * 3600)}};
  for (int i = 1; i < 200; ++i) list.parcels.push_back({.number = "N" + std::to_string(i), .carrier = "ems", .added = kT0});
  std::vector<UnixSeconds> starts;
  for (UnixSeconds now = kT0; starts.size() < list.parcels.size() && now < kT0 + 86400;) {
    if (const auto pick = schedule.PickDue(list, now)) {
      starts.push_back(now);
      schedule.NoteStarted(list.parcels[*pick].last_checked = now);
      continue;
    }
    const auto wake = schedule.NextWake(list, now);
    ASSERT_TRUE(wake && *wake > now) << now - kT0;
    now = *wake;
  }
  ASSERT_EQ(starts.size(), 200u);
  EXPECT_EQ(starts[0], kT0) << "the overdue refresh goes first";
  for (std::size_t i = 1; i < starts.size(); ++i) EXPECT_EQ(starts[i] - starts[i - 1], 10) << i;

  // A first fetch waits its 10 s, not the refreshes' spread (3600 / (2 × 2)).
  const WatchList two{.parcels = {Checked("due", kT0 - 7 * 3600), {.number = "new", .carrier = "ems", .added = kT0}}};
  schedule.NoteStarted(kT0);
  EXPECT_FALSE(schedule.PickDue(two, kT0 + 9));
  EXPECT_EQ(schedule.NextWake(two, kT0), kT0 + 10);
  EXPECT_EQ(schedule.PickDue(two, kT0 + 10), 1u);
  EXPECT_EQ(schedule.PickDue(WatchList{.parcels = {two.parcels[0]}}, kT0 + 899), std::nullopt);
}

}  // namespace
}  // namespace quenzil
