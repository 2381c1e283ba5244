// When a watched parcel is next worth a keyed query. Every query costs the
// user money, and the service locks a number asked too often, so the policy
// asks often only while something is happening: a parcel that moved lately
// or is out for delivery is asked about every interval, one waiting at a
// pickup point for its first day just often enough to see its 签收 within
// two hours, a quiet one (or one still waiting after that day) less and
// less often, a failing one backs off on its own, and nothing
// is asked in the night. A pure function of the entry, its history and the
// clock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "watch/watch_list.h"

namespace quenzil {

// The user's choice of background refresh.
enum class RefreshMode {
  kSmart,   // the cadence follows the parcel (the default)
  kHourly,  // every entry every interval, day and night
  kOff,     // no background refresh at all
};

// Local hours without background refresh: from `from`:00 up to `to`:00,
// across midnight when from > to.
struct QuietHours {
  int from = 23;
  int to = 7;
  bool operator==(const QuietHours&) const = default;
};

// "23-7" (hours 0–23, blanks allowed around them); nullopt for an empty
// text, equal hours or anything else.
std::optional<QuietHours> ParseQuietHours(std::string_view text);

struct RefreshPolicy {
  RefreshMode mode = RefreshMode::kSmart;
  UnixSeconds interval = 3600;       // the base: an entry that moves is asked this often
  UnixSeconds requery_guard = 1800;  // a number answered with rows is not asked again sooner
  std::optional<QuietHours> quiet_hours = QuietHours{};  // smart mode only
};

inline constexpr UnixSeconds kHourSeconds = 3600;
// The longest gap between two refreshes in the daytime, and the longest
// back-off of a failing entry.
inline constexpr UnixSeconds kLongestGapSeconds = 6 * kHourSeconds;
// An entry that changed less than this long before its last check is asked
// at its shortest gap. Real hours, whatever the interval: a build with a short
// interval treats every entry it watched change as recently changed.
inline constexpr UnixSeconds kRecentChangeSeconds = 1 * kHourSeconds;

// True while an answer with rows at `answered` holds back another query of
// the same number: 0 ≤ now − answered < guard.
bool WithinRequeryGuard(UnixSeconds answered, UnixSeconds now, UnixSeconds guard);

// When the entry is next due; nullopt when it is not refreshed in the
// background at all (mode off, retired, waiting for the phone's digits).
// `utc_offset` is the local time's offset from UTC in seconds (east
// positive), for the quiet hours.
//  - never checked: due since it was added (at once);
//  - checked "later" than now (the clock went back): due now;
//  - failed n times in a row: interval/2 × 2^(n−1) after the last check, at
//    most kLongestGapSeconds;
//  - smart: 1.25 intervals while the parcel is out for delivery (or has
//    reached its outlet) or changed within kRecentChangeSeconds of its last
//    check; 1.75 intervals for the first day it waits at a pickup point
//    (StageOf; the day from its newest event, as the quiet time), then
//    as long as it has waited since that day (its nights not counted),
//    between 1.75 intervals and kLongestGapSeconds; else as long as it has
//    been quiet (outside the quiet hours, from its newest event), between
//    1.25 intervals and kLongestGapSeconds, at most two intervals while it
//    heads for its outlet;
//  - hourly: the interval;
//  plus a steady offset of its own under a tenth of the interval, never
//  inside the requery guard. In smart mode a moment inside the quiet hours
//  moves to their end, or, for an entry asked every interval or two, to
//  just before they begin, so what happens late in the evening is seen
//  before the night.
std::optional<UnixSeconds> NextRefreshAt(const WatchedParcel& parcel, UnixSeconds now,
                                         std::int64_t utc_offset, const RefreshPolicy& policy);

// Where the newest event leaves the parcel, by the state and the newest
// event's own status as the service sends them and by the words couriers
// use; the nearer to its owner of the two. Later stages are nearer.
enum class Stage {
  kOnItsWay,             // handed in, between sorting centres, or nothing known
  kHeadingForItsOutlet,  // left for the outlet that delivers it, at a branch (公司), or in the delivery city (1001)
  kAtItsOutlet,          // arrived at that outlet
  kOutForDelivery,       // on the courier's round (5)
  kAtPickupPoint,        // in a locker, a pickup station or a shop for its owner (501)
};
Stage StageOf(const WatchedParcel& parcel);

// The couriers' own words, as their answers carry them, that StageOf reads.
namespace courier_words {
// Places where a parcel waits for its owner (自提柜 and 自提点 say 自提).
inline constexpr std::array<std::string_view, 18> kPickupPlaces = {
    "驿站", "快递柜", "智能柜", "包裹柜", "快件柜", "丰巢", "代收点", "代理点", "快递超市", "近邻宝", "速递易",
    "兔喜", "云柜", "e栈", "e站", "收件宝", "熊猫快收", "店】"};
// Left at such a place.
inline constexpr std::array<std::string_view, 17> kLeftThere = {
    "代收", "代签", "暂存", "存放", "放入", "放至", "放在", "入柜", "投柜", "投递至", "投递到", "送达", "到达",
    "已到", "派送至", "入库", "上架"};
// The sender's side: put into a locker or left at a 驿站 for the courier to
// take in, not for the owner.
inline constexpr std::array<std::string_view, 4> kSendersSide = {"寄件人", "揽收", "揽件", "收寄"};
// Waiting for its owner, wherever that is.
inline constexpr std::array<std::string_view, 13> kWaitingForOwner = {
    "取件码", "提货码", "取货码", "自提", "请及时取件", "请及时领取", "请尽快取件", "请尽快领取", "待取件",
    "待领取", "凭码", "代收，请", "店代收"};
// Handed to its owner (the state may not say so yet).
inline constexpr std::array<std::string_view, 6> kCollected = {"已取件", "取出", "已领取", "已提货", "已签收", "签收人"};
// On the courier's round.
inline constexpr std::array<std::string_view, 11> kDelivering = {
    "派件", "派送", "配送员", "正在配送", "配送途中", "开始配送", "投递中", "安排投递", "正在投递", "准备投递",
    "投递员"};
// The round did not go as planned: no sign of a delivery soon.
inline constexpr std::array<std::string_view, 13> kTrouble = {
    "异常", "失败", "不成功", "未成功", "延迟", "延误", "暂停", "无法", "拒收", "拒签", "改派", "退回", "滞留"};
// The outlet that delivers a parcel, and the sorting centres before it.
inline constexpr std::array<std::string_view, 15> kOutlets = {
    "营业部", "营业点", "营业厅", "营业所", "网点", "站点", "服务部", "服务站", "服务点", "派送站", "配送站",
    "快递站", "揽投部", "投递部", "分部"};
// A branch that may be the outlet or one on the way (where the parcel was
// handed in, one that sends it on to a 服务点): bound for one or arrived at
// one, a parcel is taken as heading for its outlet, not as at it.
inline constexpr std::array<std::string_view, 1> kBranches = {"公司"};
inline constexpr std::array<std::string_view, 9> kCentres = {
    "中心", "分拨", "集散", "中转", "枢纽", "航空部", "操作部", "转运场", "处理场"};
inline constexpr std::array<std::string_view, 5> kArrived = {"到达", "到件", "已收入", "已到", "到站"};
inline constexpr std::array<std::string_view, 3> kBoundFor = {"下一站", "发往", "送往"};
}  // namespace courier_words

}  // namespace quenzil
