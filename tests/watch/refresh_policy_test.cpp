#include "watch/refresh_policy.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

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

// The newest event dated by the service, at that local hour.
WatchedParcel Dated(WatchedParcel parcel, int local_hour) {
  parcel.events.back().time = "2026-12-08 " + std::string(local_hour < 10 ? "0" : "") + std::to_string(local_hour) + ":00:00";
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
      {"changed 30 min ago", Entry("0", "快件已到达【上海转运中心】", 9.5, 10), 1.25},
      {"quiet 1.5 h", Entry("0", "快件已到达【上海转运中心】", 9, 10.5), 1.5},
      {"quiet just over an hour", Entry("0", "快件已到达【上海转运中心】", 9, 10.1), 1.25},
      {"quiet 3 h", Entry("0", "快件已到达【上海转运中心】", 9, 12), 3},
      {"quiet 8 h", Entry("0", "快件已到达【上海转运中心】", 8, 16), 6},
      {"quiet 8 h by noon", Entry("0", "【上海转运中心】已发出，下一站【杭州转运中心】", 4, 12), 5},
      {"out for delivery, quiet", Entry("5", "派件员：王师傅 正在为您派件", 8, 14), 1.25},
      {"at its outlet, quiet", Entry("0", "快件已到达【上海浦东营业部】", 8, 14), 1.25},
      {"heading for its outlet, quiet", Entry("0", "【上海转运中心】已发出，下一站【上海浦东营业部】", 8, 14), 2},
      {"waiting at a pickup station", Entry("501", "快件已暂存至【菜鸟驿站】", 8, 14), 1.75},
      {"waiting all but the last half hour of a day", Entry("501", "快件已暂存至【菜鸟驿站】", 9, 32.5), 1.75},
      {"waiting a day and an hour", Entry("501", "快件已暂存至【菜鸟驿站】", 9, 34), 1.75},
      {"waiting a day and three hours", Entry("501", "快件已暂存至【菜鸟驿站】", 9, 36), 3},
      {"a day's wait, then two evening and two morning hours", Entry("501", "快件已暂存至【菜鸟驿站】", 21, 57), 4},
      {"205, waiting for two days", Entry("205", "", 9, 58), 6},
      {"a wait counted from its dated arrival", Dated(Entry("501", "快件已暂存至【菜鸟驿站】", 11, 36), 8), 4},
      {"the night is not quiet time", Entry("0", "快件已到达【上海转运中心】", 22.5, 31), 1.25},
      {"quiet since its dated newest event", Dated(Entry("0", "快件已到达【上海转运中心】", 11, 12), 8), 4},
      {"an event dated after it was seen", Dated(Entry("0", "快件已到达【上海转运中心】", 9, 12), 11), 3},
  };
  for (const Case& entry : cases) EXPECT_EQ(GapHours(entry.parcel), entry.gap_hours) << entry.what;
  WatchedParcel two = Dated(Entry("0", "快件已到达【上海转运中心】", 11, 12), 8);
  two.events.insert(two.events.begin(), {"2026-12-08 02:00:00", "已揽收"});
  EXPECT_EQ(GapHours(two), 4) << "quiet since the newest of its events";

  RefreshPolicy hourly = kSmart;
  hourly.mode = RefreshMode::kHourly;
  EXPECT_EQ(GapHours(Entry("0", "到达", 0, 21), hourly), 1) << "every interval, whatever the parcel";
  EXPECT_EQ(GapHours(Entry("0", "到达", 0, 23.5), hourly), 1) << "day and night";
  RefreshPolicy off = kSmart;
  off.mode = RefreshMode::kOff;
  EXPECT_EQ(GapHours(Entry("0", "到达", 0, 21), off), -1);
}

// The newest event as couriers write it (state 0), then by the state and
// the event's own status words.
TEST(RefreshPolicy, WhereTheParcelIsInTheCouriersWordsAndByItsState) {
  const std::pair<Stage, std::vector<const char*>> words[] = {
      {Stage::kAtPickupPoint,
       {"快件已被【城东3号快递柜】代收，请凭取件码取件", "快件已暂存至岳阳汽车站店菜鸟驿站，如有疑问请联系1**********",
        "北服小北门妈妈驿站已发出自提短信，请上门自提", "快件已送达【翡翠雅郡西门店】，如有问题请电联",
        "【杭州市】 快件已送达【丰巢的华联时代大厦(丰巢智能快递柜)】", "您的快件已放入丰巢智能柜，取件码 12-3-4567",
        "快件已由济南翡翠雅郡北区西门店代收，请及时取件", "[代理点]您的快件已被益丰粮油百世邻里代收，请在20点前取件"}},
      {Stage::kOutForDelivery, {"湖南平江公司-平江申通(1**********)-派件中", "【金华市】城东揽投部安排投递，投递员：李强"}},
      {Stage::kAtItsOutlet, {"快件到达【杭州滨江营业部】，上一站是【杭州转运中心】"}},
      {Stage::kHeadingForItsOutlet,
       {"湖南长沙转运中心-已发往-湖南平江公司", "您的快件由【西安灞桥分拣中心】准备发往【西安兴善营业部】"}},
      {Stage::kOnItsWay,
       {"已签收，签收人凭取货码签收。", "快件已从丰巢智能柜取出，感谢使用", "快件派送不成功(收件人要求改天派送)",
        "【济南转运中心公司】 已收入", "快件到达【北京朝阳集散】，上一站是【华北廊坊枢纽】",
        "快件离开 【杭州中转部】 已发往 【杭州景芳路】", "【杭州仓前】 的 承包区-4 已揽收", "快件已发往【菜鸟驿站】",
        "已离开【萧山分拨中心】，下一站【杭州转运中心】，预计发往【滨江营业部】", "【杭州滨江营业部】已收件",
        "【萧山分拨中心】已发往【杭州转运中心】，下一站【滨江营业部】"}},
      // Words that mean something else, next to their genuine counterparts.
      {Stage::kAtPickupPoint, {"您的快件已放入【丰巢智能柜】，请凭取件码 12345678 取件", "快件已到达【翠苑自提点】，请及时取件"}},
      {Stage::kOutForDelivery, {"快件已到达【滨江派送站】，派送员：王某 正在派送", "您的快件正在派送中，请您准备签收"}},
      {Stage::kAtItsOutlet, {"快件已到达【滨江派送站】", "到达【浙江义乌稠城营业部】"}},
      {Stage::kHeadingForItsOutlet, {"快件已发往派送站", "到达【浙江义乌公司】", "已到达-湖南平江公司"}},
      {Stage::kOnItsWay, {"寄件人已将快件放入丰巢柜，待快递员取件", "快件已存放至翠苑驿站，待快递员揽收", "快件已发往【翠苑自提点】"}},
      // With the rows above, each entry of courier_words is alone of its list in a text: removed or changed, it fails one.
      {Stage::kAtPickupPoint,  // kPickupPlaces, each with one of kLeftThere
       {"快件已被【城东快递柜】代收", "快件已投柜至【北门智能柜】", "快件已放至【3号包裹柜】", "快件已投递到【翠苑快件柜】",
        "快件已放入【翠苑3号丰巢柜】", "快件已送达【翠苑代收点】", "快件已放在【翠苑代理点】", "快件已存放于【翠苑快递超市】",
        "快件已入库【北大近邻宝】", "快件已投递至【翠苑速递易】", "快件已由【翠苑兔喜生活】代签收", "快件已入柜【翠苑云柜】",
        "快件到达【中邮e栈】翠苑店", "快件已到【翠苑e站】", "快件已在【翠苑收件宝】上架", "快件已派送至【翠苑熊猫快收】"}},
      {Stage::kOnItsWay, {"快件已放入【翠苑丰巢柜】，等待快递员揽件", "快件已存放至【翠苑中邮驿站】，等待收寄"}},  // kSendersSide
      {Stage::kAtPickupPoint,  // kWaitingForOwner
       {"您的取件码为 12-3-4567", "提货码 2345，感谢使用", "您的取货码 8-2-1234", "快件在北门，请及时取件",
        "包裹在北门，请及时领取", "快件在收发室，请尽快取件", "邮件在收发室，请尽快领取", "您有一个快件待取件",
        "您有一个包裹待领取", "快件在北门，请凭码取件", "快件已被益丰粮油代收，请在20点前取件", "快件已由西门店代收，感谢使用"}},
      {Stage::kOnItsWay,  // kCollected
       {"取件码 12-3-4567 的包裹已取件", "快件已凭取件码取出，感谢使用", "包裹已领取（取件码 5-2-1033）", "快件已提货，提货码 2345",
        "您的快递已签收，凭取货码领取", "快件已妥投，签收人凭取货码签收"}},
      {Stage::kOutForDelivery,  // kDelivering
       {"配送员【张某】正在为您送货", "您的订单正在配送", "您的订单已在配送途中", "快递员已开始配送，请您准备收货",
        "您的邮件投递中", "城东揽投部已安排投递", "您的邮件正在投递", "城东揽投部准备投递", "【金华市】投递员：李强"}},
      {Stage::kOnItsWay,  // kTrouble
       {"派件异常，电话无人接听", "快件派送失败，收件人不在家", "快件派送未成功", "因天气原因派件延迟", "派送延误",
        "该区域暂停派送", "地址有误，无法派送", "收件人拒收，派件员已带回", "客户拒签，派件员：王某", "快件已改派，派件员：王某",
        "应收件人要求退回，派件员：王某", "快件滞留，派件员将尽快派送"}},
      {Stage::kAtItsOutlet,  // kOutlets, some with one of kArrived
       {"【文三路营业点】到件扫描", "【文三路营业厅】 已收入", "快件已到【城东营业所】", "【稠城网点】快件到站扫描",
        "快件已到达【滨江站点】", "已到达 浦口江北新区服务部", "快件已到达【滨江服务站】", "已到达-湖南平江冬塔乡服务点",
        "您的订单已到达【朝阳配送站】", "快件已到达【翠苑快递站】", "到达【滨江揽投部】", "到达【城东投递部】",
        "已到达 浙江义乌稠城分部"}},
      {Stage::kOnItsWay,  // kCentres
       {"已到达 梧州市分拨营销市场部巧韵分部", "快件已发往北京朝阳集散，下一站朝阳站点",
        "已发往 【杭州中转部】，下一站 【景芳路营业部】", "快件已发往华北廊坊枢纽，下一站朝阳营业部",
        "已发往-浙江杭州航空部，下一站滨江服务部", "已发往-浙江义乌操作部，下一站稠城服务部",
        "快件已发往【上海转运场】，下一站【浦东营业部】", "快件已发往【顺义处理场】，下一站【朝阳营业部】"}},
      {Stage::kHeadingForItsOutlet, {"快件已送往【滨江营业部】"}}};  // kBoundFor
  for (const auto& [stage, wordings] : words) {
    for (const char* newest : wordings) EXPECT_EQ(StageOf(Entry("0", newest, 8, 9)), stage) << newest;
  }
  // State, status, newest event.
  const std::tuple<const char*, const char*, const char*, Stage> states[] = {
      {"501", "", "派件员：王师傅 正在为您派件", Stage::kAtPickupPoint}, {"205", "", "", Stage::kAtPickupPoint},
      {"0", "投柜或驿站", "快件已到达", Stage::kAtPickupPoint}, {"5", "", "快件已到达【上海转运中心】", Stage::kOutForDelivery},
      {"0", "派件", "快件已到达", Stage::kOutForDelivery}, {"1001", "", "快件已到达【杭州转运中心】", Stage::kHeadingForItsOutlet},
      {"502", "", "快件已到达【杭州转运中心】", Stage::kOutForDelivery}, {"5001", "", "快件已到达【杭州转运中心】", Stage::kOnItsWay}};
  for (const auto& [state, status, newest, stage] : states) {
    WatchedParcel parcel = Entry(state, newest, 8, 9);
    parcel.events.back().status = status;
    EXPECT_EQ(StageOf(parcel), stage) << state << " " << status;
  }
}

// Every word of the couriers' word lists, alone in a sentence, says what it should.
TEST(RefreshPolicy, EveryWordOfTheCouriersWordsCounts) {
  using namespace courier_words;
  const auto stage_of = [](const std::string& newest) { return StageOf(Entry("0", newest, 8, 9)); };
  const auto each = [](const auto& words, const std::function<void(std::string)>& check) {
    std::set<std::string_view> seen;
    for (const std::string_view word : words) {
      EXPECT_TRUE(seen.insert(word).second) << "twice in a list: " << word;
      check(std::string(word));
    }
  };
  each(kPickupPlaces, [&](std::string word) { EXPECT_EQ(stage_of("快件放入" + word), Stage::kAtPickupPoint) << word; });
  each(kLeftThere, [&](std::string word) { EXPECT_EQ(stage_of("快件" + word + "驿站"), Stage::kAtPickupPoint) << word; });
  each(kWaitingForOwner, [&](std::string word) { EXPECT_EQ(stage_of("您的快件" + word), Stage::kAtPickupPoint) << word; });
  each(kCollected, [&](std::string word) { EXPECT_EQ(stage_of(word + "，取件码 1234"), Stage::kOnItsWay) << word; });
  each(kDelivering, [&](std::string word) { EXPECT_EQ(stage_of("快件" + word), Stage::kOutForDelivery) << word; });
  each(kTrouble, [&](std::string word) { EXPECT_EQ(stage_of("快件派件" + word), Stage::kOnItsWay) << word; });
  each(kOutlets, [&](std::string word) { EXPECT_EQ(stage_of("快件到达【杭州" + word + "】"), Stage::kAtItsOutlet) << word; });
  each(kCentres, [&](std::string word) { EXPECT_EQ(stage_of("快件到达【杭州营业部" + word + "】"), Stage::kOnItsWay) << word; });
  each(kArrived, [&](std::string word) { EXPECT_EQ(stage_of("快件" + word + "【杭州营业部】"), Stage::kAtItsOutlet) << word; });
  each(kBoundFor, [&](std::string word) {
    EXPECT_EQ(stage_of("快件" + word + "【杭州营业部】"), Stage::kHeadingForItsOutlet) << word;
  });
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
  // ... unless it was just asked, or is failing.
  EXPECT_EQ(NextRefreshAt(Entry("5", "派件", 21, 22.7), At(22.7), kBeijing, kSmart), At(31));
  const WatchedParcel heading = Entry("0", "【上海转运中心】已发出，下一站【上海浦东营业部】", 8, 21.5);
  EXPECT_EQ(NextRefreshAt(heading, At(21.5), kBeijing, kSmart), At(23) - 60) << "two intervals still look last";
  WatchedParcel half = Entry("5", "派件", 21, 22);
  half.last_checked = At(22.5) - 60;  // half an interval before the last look still takes it
  EXPECT_EQ(NextRefreshAt(half, half.last_checked, kBeijing, kSmart), At(23) - 60);
  WatchedParcel failing = Entry("5", "派件", 21, 22.4);
  failing.failures = 2;
  EXPECT_EQ(NextRefreshAt(failing, At(22.4), kBeijing, kSmart), At(31));
  RefreshPolicy all_night = kSmart;
  all_night.quiet_hours.reset();
  EXPECT_LT(*NextRefreshAt(Entry("5", "派件", 21, 22.7), At(22.7), kBeijing, all_night), At(25));
  // Quiet hours within one day end at their last hour's end.
  RefreshPolicy early = kSmart;
  early.quiet_hours = QuietHours{1, 5};
  EXPECT_EQ(NextRefreshAt(Entry("5", "派件", 0, 1), At(1), kBeijing, early), At(5));
  EXPECT_LT(*NextRefreshAt(Entry("5", "派件", 0, 3.75), At(3.75), kBeijing, early), At(5.1));
}

TEST(RefreshPolicy, TheGuardAndTheDigitsHoldEveryRefreshBack) {
  WatchedParcel parcel = Entry("5", "派件", 9, 10);
  parcel.failures = 1;                   // due again in half an hour ...
  parcel.last_answered = At(10) + 1200;  // ... but a query by hand got rows 20 min after
  EXPECT_EQ(NextRefreshAt(parcel, At(10.5), kBeijing, kSmart), parcel.last_answered + 1800);
  // The clock went back: an answer or an adding "later" holds nothing back.
  RefreshPolicy unguarded = kSmart;
  unguarded.requery_guard = 0;
  EXPECT_EQ(NextRefreshAt(parcel, At(10.2), kBeijing, kSmart), NextRefreshAt(parcel, At(10.2), kBeijing, unguarded));
  EXPECT_EQ(NextRefreshAt({.number = "N", .carrier = "ems", .added = At(12)}, At(10), kBeijing, kSmart), At(10));
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
               {"23", std::nullopt},        {"a-7", std::nullopt},       {"23-7-1", std::nullopt},
               {"7-24", std::nullopt},      {"7-a", std::nullopt},       {"007-8", std::nullopt},
               {"/9-7", std::nullopt}};
  for (const auto& entry : cases) EXPECT_EQ(ParseQuietHours(entry.text), entry.hours) << entry.text;
}

}  // namespace
}  // namespace quenzil
