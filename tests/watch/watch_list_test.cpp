#include "watch/watch_list.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "query/parcel_state.h"

namespace quenzil {
namespace {

constexpr UnixSeconds kDay = 24 * 3600;
constexpr UnixSeconds kT0 = 1796722200;  // 2026-12-08T09:30:00Z

const TrackingEvent kPicked{"2026-12-07 08:00:00", "已揽收", "", ""};
const TrackingEvent kSorted{"2026-12-07 20:00:00", "到达上海分拨中心", "", ""};

TrackingResult Answer(std::string state, std::vector<TrackingEvent> events, bool signed_for = false) {
  return {"V0303", "yuantong", std::move(state), signed_for, std::move(events)};
}

// UTF-16 units as the shell counts them; nullopt when a character is cut.
std::optional<std::size_t> Units(const std::string& text) {
  std::size_t units = 0;
  for (std::size_t at = 0; at < text.size(); ++units) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    const std::size_t follow = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if ((lead & 0xC0) == 0x80) return std::nullopt;
    for (std::size_t i = 0; i < follow; ++i, ++at) {
      if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) return std::nullopt;
    }
    if (follow == 3) ++units;
  }
  return units;
}

TEST(Merge, FirstAnswerIsSilentEvenAfterFailedChecksThenEachChangeNotifies) {
  WatchedParcel parcel{.number = "V0303", .carrier = "yuantong", .last_checked = kT0 - 60,
                       .last_problem = "超时", .failures = 3, .failing_since = kT0 - 7200};
  const MergeOutcome first = MergeResult(parcel, Answer("0", {kPicked}), kT0);
  EXPECT_TRUE(first.changed);
  EXPECT_FALSE(first.notify);
  EXPECT_TRUE(parcel.last_problem.empty());
  EXPECT_EQ(parcel.failures + parcel.failing_since, 0) << "rows end the failures";

  EXPECT_FALSE(MergeResult(parcel, Answer("0", {kPicked}), kT0 + 60).changed);
  EXPECT_EQ(parcel.last_checked, kT0 + 60);
  EXPECT_EQ(parcel.last_changed, kT0);
  EXPECT_TRUE(MergeResult(parcel, Answer("0", {kPicked, kSorted}), kT0 + 120).notify);
  EXPECT_TRUE(MergeResult(parcel, Answer("5", {kPicked, kSorted}), kT0 + 180).notify);
  EXPECT_TRUE(MergeResult(parcel, Answer("5", {kPicked, kSorted}, true), kT0 + 240).notify);
  EXPECT_EQ(parcel.last_changed, kT0 + 240);
}

TEST(Merge, EventsAreComparedByTimeAndContextAndCappedToTheNewest) {
  WatchedParcel parcel = ParcelFromResult(Answer("0", {kPicked, kSorted}), "圆通", "0303", "书", kT0);
  EXPECT_EQ(parcel.carrier_name + parcel.phone + parcel.note, "圆通0303书");
  const TrackingResult signed_for = Answer("0", {kPicked}, true);
  const TrackingResult back = ResultOf(ParcelFromResult(signed_for, "", "", "", kT0));
  EXPECT_EQ(std::tie(back.number, back.carrier_code, back.state, back.signed_for, back.events),
            std::tie(signed_for.number, signed_for.carrier_code, signed_for.state, signed_for.signed_for, signed_for.events));
  // What the stored copy of an event held beyond the service's fields stays.
  parcel.events[0].unknown = {{"x", R"("x":1)"}};
  MergeResult(parcel, Answer("0", {kPicked, kSorted}), kT0);
  EXPECT_EQ(parcel.events[0].unknown.size(), 1u);
  TrackingEvent other_area = kSorted;
  other_area.area = "上海";
  EXPECT_FALSE(MergeResult(parcel, Answer("0", {kPicked, other_area}), kT0 + 1).changed);
  EXPECT_FALSE(MergeResult(parcel, Answer("0", {kSorted}), kT0 + 2).changed);
  TrackingEvent reworded = kSorted;
  reworded.context = "离开上海分拨中心";
  EXPECT_TRUE(MergeResult(parcel, Answer("0", {reworded}), kT0 + 3).notify);

  std::vector<TrackingEvent> many;
  for (int i = 0; i < 350; ++i) many.push_back({std::string("t").append(std::to_string(1000 + i)), "e"});
  MergeResult(parcel, Answer("0", many), kT0 + 4);
  ASSERT_EQ(parcel.events.size(), kMaxEvents);
  EXPECT_EQ(parcel.events.front().time, "t1050");
  // The oldest ones cut off are not news the next time.
  EXPECT_FALSE(MergeResult(parcel, Answer("0", many), kT0 + 5).changed);
}

TEST(Retirement, FinalStatesAndThirtyQuietDaysAsLastSeen) {
  EXPECT_TRUE(IsRetired({.state = "3"}, kT0));
  EXPECT_TRUE(IsRetired({.state = "4"}, kT0));
  EXPECT_TRUE(IsRetired({.state = "0", .signed_for = true}, kT0));

  WatchedParcel quiet{.state = "0", .added = kT0, .last_checked = kT0 + 30 * kDay - 1,
                      .last_changed = kT0};
  EXPECT_FALSE(IsRetired(quiet, kT0 + 90 * kDay)) << "not looked at since: looks once more";
  quiet.last_checked = kT0 + 30 * kDay;
  EXPECT_TRUE(IsRetired(quiet, kT0 + 30 * kDay));
  EXPECT_FALSE(IsRetired({.added = kT0}, kT0 + 90 * kDay)) << "never checked";
  EXPECT_TRUE(IsRetired({.added = kT0, .last_checked = kT0 + 31 * kDay}, kT0 + 31 * kDay))
      << "checked, never answered: counts from when it was added";
  EXPECT_FALSE(IsRetired({.state = "0", .added = kT0, .last_checked = kT0 + 31 * kDay, .last_changed = kT0 + 20 * kDay},
                         kT0 + 31 * kDay))
      << "counts from the last change";
}

TEST(Texts, NotificationFitsTheShellAndNeverCutsACharacter) {
  WatchedParcel parcel = ParcelFromResult(Answer("3", {kPicked}), "", "", "", kT0);
  EXPECT_EQ(NotificationTitle(parcel), "圆通速递 V0303：已签收");
  EXPECT_EQ(NotificationText(parcel), "2026-12-07 08:00:00 已揽收");
  for (const std::string piece : {"a", "寄", "😀", "a寄😀"}) {
    for (parcel.note = piece; parcel.note.size() < 300; parcel.note += piece) {
      const std::string title = NotificationTitle(parcel);
      ASSERT_TRUE(Units(title)) << title;
      EXPECT_LE(*Units(title), 63u) << title;
      EXPECT_EQ(title.rfind("圆通速递 ", 0), 0u) << title;
      EXPECT_TRUE(title.ends_with(*Units(parcel.note) + 9 > 63 ? "…：已签收" : "：已签收")) << title;
    }
  }
  // A name that leaves no room for the number: the whole line is cut.
  WatchedParcel long_name = parcel;
  long_name.carrier = "xyz";
  long_name.carrier_name = std::string(58, 'n');
  long_name.note.clear();
  EXPECT_EQ(NotificationTitle(long_name), std::string(58, 'n') + " V03…");
  long_name.carrier_name.pop_back();  // one unit left for the number: "…"
  EXPECT_EQ(NotificationTitle(long_name), std::string(57, 'n') + " …：已签收");
  parcel.events.back().context = "到达\n上海";
  EXPECT_EQ(NotificationText(parcel), "2026-12-07 08:00:00 到达 上海") << "a balloon shows one line";
  parcel.city = "杭州市";
  EXPECT_EQ(NotificationText(parcel), "[杭州市] 2026-12-07 08:00:00 到达 上海");
  parcel.events.back().context = std::string(400, 'x');
  EXPECT_EQ(Units(NotificationText(parcel)), 255u);
  parcel.events.clear();
  EXPECT_EQ(NotificationText(parcel), "已签收") << "an empty text would hide the balloon";
  parcel.state.clear();
  EXPECT_EQ(NotificationText(parcel), "暂无物流信息");
}

TEST(Texts, MenuLabelAndRowsFollowTheEntry) {
  WatchedParcel parcel{.number = "V0303", .carrier = "yuantong", .added = kT0};
  parcel.last_problem = "超时";
  EXPECT_EQ(MenuLabel(parcel, kT0), "圆通速递 V0303（等待刷新）");
  EXPECT_EQ(ParcelRows(parcel), std::vector<std::string>{"圆通速递  V0303  等待第一次刷新（上次：超时）"});

  MergeResult(parcel, Answer("0", {kPicked, kSorted}), kT0);
  EXPECT_EQ(ParcelRows(parcel), ResultRows(Answer("0", {kPicked, kSorted}), "圆通速递"));
  // A failure says so only once the entry has failed for a day.
  parcel.last_problem = "超时";
  parcel.failures = 3;
  parcel.failing_since = kT0;
  EXPECT_EQ(MenuLabel(parcel, kT0 + kDay - 1), "圆通速递 V0303 在途");
  EXPECT_EQ(MenuLabel(parcel, kT0 + kDay), "圆通速递 V0303 在途（刷新失败）");
  parcel.needs_phone = true;
  EXPECT_EQ(MenuLabel(parcel, kT0), "圆通速递 V0303 在途（需要手机号后四位）");
  parcel.last_checked = kT0 + 30 * kDay;
  EXPECT_EQ(MenuLabel(parcel, kT0 + 30 * kDay), "圆通速递 V0303 在途（30天无变化，不再刷新）");
  MergeResult(parcel, Answer("3", {kPicked}, true), kT0 + 31 * kDay);
  parcel.note = std::string(40, 'n');
  EXPECT_EQ(MenuLabel(parcel, kT0), "圆通速递 " + std::string(31, 'n') + "… 已签收（已签收，不再刷新）");
  parcel.note = "R&D 样品";
  EXPECT_EQ(MenuLabel(parcel, kT0), "圆通速递 R&&D 样品 已签收（已签收，不再刷新）");
  parcel.state = "4";
  parcel.signed_for = false;
  EXPECT_EQ(MenuLabel(parcel, kT0), "圆通速递 R&&D 样品 退签（已退签，不再刷新）");
}

}  // namespace
}  // namespace quenzil
