#include "app/watch_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "query/parcel_state.h"

namespace quenzil {
namespace {

constexpr UnixSeconds kT0 = 1796722200;  // 2026-12-08T09:30:00Z
constexpr UnixSeconds kDay = 24 * 3600;

WatchedParcel Seen(std::string state, std::string newest = "快件已到达杭州转运中心") {
  return {.number = "YT1", .carrier = "yuantong", .state = std::move(state),
          .events = {{"2026-12-08 08:00:00", std::move(newest)}}, .added = kT0 - kDay, .last_checked = kT0,
          .last_changed = kT0};
}

TEST(WatchTable, EveryStateOfTheModelAndEveryStageOfTheCouriersWordsHasItsBucket) {
  using namespace states;
  using F = Filter;
  const std::optional<Filter> signed_for = std::nullopt;
  struct Case {
    WatchedParcel parcel;
    std::optional<Filter> bucket;
  };
  std::vector<Case> cases;
  const std::vector<std::pair<std::optional<Filter>, std::vector<std::string_view>>> by_state = {
      {F::kInTransit, {kInTransit, kInDeliveryCity, kTrunk, kForwarded, kPickedUp, kOrdered, kAwaitingPickUp,
                       kCollectedFromSender, kRedirected, kCustoms, kAwaitingCustoms, kInCustoms, kCleared, "9"}},
      {F::kProblem, {kProblem, kOverdueUnsigned, kNotUpdated, kRefused, kDeliveryFailed, kUnreachable, kOutOfArea,
                     kStranded, kDamaged, kCancelledOrder, kCustomsProblem, kRejected, "299"}},
      {F::kAwaitingPickup, {kNotCollectedInTime, kAtPickupPoint}},
      {F::kDelivering, {kOutForDelivery}},
      {F::kReturned, {kReturnSigned, kCancelled, kReturning}},
      {signed_for, {kSigned, kSignedInPerson, kSignedAfterProblem, kSignedByOther, kSignedAtPickupPoint}}};
  for (const auto& [bucket, states] : by_state) {
    for (const std::string_view state : states) cases.push_back({Seen(std::string(state)), bucket});
  }
  // The couriers' own words while the state still says 在途.
  for (const auto& [words, bucket] : std::vector<std::pair<std::string, std::optional<Filter>>>{
           {"快件已暂存至【西湖文化广场菜鸟驿站】", F::kAwaitingPickup},
           {"快件已由本人取出", F::kInTransit},
           {"【杭州西湖营业部】派件员正在为您派件", F::kDelivering},
           {"快件到达【杭州西湖营业部】", F::kDelivering},
           {"快件已从杭州转运中心发出，发往【杭州西湖营业部】", F::kInTransit},
           {"派送不成功，改日再派", F::kProblem},
           {"收件人拒收，快件已退回", F::kReturned}}) {
    cases.push_back({Seen("0", words), bucket});
  }
  WatchedParcel put_away = Seen("3"), three_days = Seen("301"), flag_only = Seen("0"), quiet = Seen("0");
  put_away.put_away = kT0;
  three_days.last_changed = three_days.added = kT0 - 3 * kDay;  // due, though the keeper has not stored it yet
  flag_only.signed_for = true;
  quiet.last_changed = quiet.added = kT0 - 31 * kDay;  // 30 days without a change
  cases.insert(cases.end(), {{put_away, F::kDone}, {three_days, F::kDone}, {flag_only, signed_for}, {quiet, F::kProblem}});
  cases.push_back({{.number = "N", .carrier = "ems", .added = kT0}, F::kInTransit});
  for (const Case& test : cases) {
    EXPECT_EQ(BucketOf(test.parcel, kT0), test.bucket)
        << test.parcel.state << " " << test.parcel.events.back().context;
  }
}

TEST(WatchTable, CellsSortingFilterFindAndCopy) {
  WatchList list{.parcels = {
                     {.number = "YT300", .carrier = "yuantong", .note = "妈妈的书", .state = "5",
                      .events = {{"2026-12-08 08:00:00", "派送中"}}, .last_checked = kT0 + 50,
                      .service = "kdniao", .city = "杭州市"},
                     {.number = "JT200", .carrier = "jtexpress", .state = "501",
                      .events = {{"2026-12-08 09:00:00", "已放入\t快递柜"}}, .last_checked = kT0 + 10},
                     {.number = "SF100", .carrier = "shunfeng", .state = "3", .last_checked = kT0 + 30, .put_away = kT0},
                     {.number = "ZT400", .carrier = "zhongtong", .added = kT0},
                 }};
  WatchTable table;
  table.Rebuild(list, kT0 + 60);
  ASSERT_EQ(table.rows().size(), 3u) << "put away: only under 已完成";
  EXPECT_EQ(table.rows()[0].cells, (std::array<std::string, kColumnCount>{
                                       "妈妈的书", "YT300", "圆通速递", "派件", "杭州市", "派送中",
                                       "2026-12-08 08:00:00", "2026-12-08 17:30", "快递鸟"}))
      << "the latest checked first; 上次查询 in Beijing time";
  EXPECT_EQ(table.rows()[2].cells[3], "等待首次查询");
  std::vector<std::size_t> counts;
  for (const Filter filter : kFilters) counts.push_back(table.Count(filter));
  EXPECT_EQ(counts, (std::vector<std::size_t>{3, 1, 1, 1, 0, 0, 1}));

  // Times as times: within one minute the cells agree, the seconds do not.
  list.parcels[0].last_checked = kT0 + 5;
  table.Rebuild(list, kT0 + 60);
  EXPECT_EQ(table.rows()[0].parcel.first, "JT200");
  table.SortBy(Column::kLastChecked, true);
  EXPECT_EQ(table.rows()[0].parcel.first, "ZT400") << "never checked: the oldest";
  // Equal cells keep the list's order both ways, whatever the order was.
  table.SortBy(Column::kCity, true);
  EXPECT_EQ(table.rows()[0].parcel.first + table.rows()[1].parcel.first, "JT200ZT400");
  table.SortBy(Column::kCity, false);
  EXPECT_EQ(table.rows()[0].parcel.first + table.rows()[1].parcel.first, "YT300JT200");
  table.SetFilter(Filter::kDone);
  ASSERT_EQ(table.rows().size(), 1u);
  table.SetFilter(Filter::kAwaitingPickup);
  EXPECT_EQ(table.IndexOf({"JT200", "jtexpress"}), 0u);
  table.SetFilter(Filter::kAll);
  table.SortBy(Column::kNumber, false);
  EXPECT_EQ(table.rows()[0].parcel.first, "ZT400");

  EXPECT_EQ(table.Find("yt3"), 1u) << "a number's letters in any case";
  EXPECT_EQ(table.Find("ｊｔ"), 2u) << "typed full-width";
  EXPECT_EQ(table.Find("妈妈"), 1u);
  EXPECT_EQ(table.Find("Z", 1), 0u) << "from the row after, wrapping";
  EXPECT_EQ(table.Find("SF"), std::nullopt) << "not shown";

  EXPECT_EQ(CopyText({table.rows()[2]}),
            "备注\t单号\t快递公司\t状态\t当前城市\t最新动态\t动态时间\t上次查询\t查询服务\r\n"
            "\tJT200\t极兔速递\t投柜或驿站\t\t已放入 快递柜\t2026-12-08 09:00:00\t2026-12-08 17:30\t快递100\r\n");
  EXPECT_EQ(FirstFetchText(12, 40), "等待首次查询（12/40）");
}

}  // namespace
}  // namespace quenzil
