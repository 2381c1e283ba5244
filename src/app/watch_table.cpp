#include "app/watch_table.h"

#include <algorithm>
#include <utility>

#include "app/settings.h"
#include "common/text_fit.h"
#include "query/couriers.h"
#include "query/parcel_state.h"
#include "query/tracking_number.h"
#include "watch/refresh_policy.h"

namespace quenzil {

namespace {

constexpr std::array<std::string_view, kFilters.size()> kFilterNames = {"全部",   "运输中", "派件中", "待取件",
                                                                        "问题件", "退回",   "已完成"};
constexpr std::array<std::string_view, kColumnCount> kColumnNames = {
    "备注", "单号", "快递公司", "状态", "当前城市", "最新动态", "动态时间", "上次查询", "查询服务"};

// The couriers' words for a parcel on its way back to the sender.
constexpr std::array<std::string_view, 4> kReturnedWords = {"退回", "退签", "退件", "返回寄件"};

template <std::size_t N>
bool Says(std::string_view text, const std::array<std::string_view, N>& words) {
  return std::any_of(words.begin(), words.end(),
                     [text](std::string_view word) { return text.find(word) != std::string_view::npos; });
}

// 疑难 and its finer states (2xx; 205, overdue at a pickup point, is the
// pickup point's), 清关异常 and 拒签.
bool IsProblemState(std::string_view state) {
  return state == states::kProblem || state == states::kCustomsProblem || state == states::kRejected ||
         (state.size() == 3 && state.front() == '2');
}

std::size_t IndexOfFilter(Filter filter) { return static_cast<std::size_t>(filter); }

std::string StateCell(const WatchedParcel& parcel) {
  if (parcel.needs_phone) return "需要手机号后四位";
  if (parcel.answered()) return StateText(parcel.state);
  if (!parcel.fetched()) return "等待首次查询";
  return parcel.last_problem.empty() ? "暂无物流信息" : "查询失败";
}

// "2026-12-08 17:30" in the local time of that offset; empty for 0.
std::string LocalMinute(UnixSeconds at, std::int64_t utc_offset) {
  if (at == 0) return {};
  const std::string iso = IsoUtc(at + utc_offset);  // "2026-12-08T09:30:00Z"
  if (iso.size() < 16) return {};
  return iso.substr(0, 10) + " " + iso.substr(11, 5);
}

char Upper(char character) { return character >= 'a' && character <= 'z' ? static_cast<char>(character - 'a' + 'A') : character; }

bool BeginsWith(std::string_view text, std::string_view head) {
  if (head.size() > text.size()) return false;
  for (std::size_t at = 0; at < head.size(); ++at) {
    if (Upper(text[at]) != Upper(head[at])) return false;
  }
  return true;
}

}  // namespace

std::string_view FilterName(Filter filter) { return kFilterNames[IndexOfFilter(filter)]; }

std::string_view ColumnName(Column column) { return kColumnNames[static_cast<std::size_t>(column)]; }

std::optional<Filter> BucketOf(const WatchedParcel& parcel, UnixSeconds now) {
  // Due but not stored yet (the keeper puts it away at its next turn): shown as it will be.
  const std::optional<UnixSeconds> put_away_at = PutAwayAt(parcel);
  if (parcel.put_away != 0 || (put_away_at && *put_away_at <= now)) return Filter::kDone;
  TrackingResult seen;
  seen.state = parcel.state;
  seen.signed_for = parcel.signed_for;
  if (IsFinal(seen)) return IsReturnedState(parcel.state) ? std::optional(Filter::kReturned) : std::nullopt;
  const std::string_view newest = parcel.events.empty() ? std::string_view() : std::string_view(parcel.events.back().context);
  const Stage stage = StageOf(parcel);
  if (stage == Stage::kAtPickupPoint) return Filter::kAwaitingPickup;
  if (parcel.state == states::kReturning || Says(newest, kReturnedWords)) return Filter::kReturned;
  // Thirty days without a change are a problem too: 超时未更新.
  if (IsProblemState(parcel.state) || Says(newest, courier_words::kTrouble) || IsRetired(parcel, now)) {
    return Filter::kProblem;
  }
  if (stage == Stage::kOutForDelivery || stage == Stage::kAtItsOutlet) return Filter::kDelivering;
  return Filter::kInTransit;
}

TableRow RowOf(const WatchedParcel& parcel, std::int64_t utc_offset) {
  TableRow row;
  row.parcel = {parcel.number, parcel.carrier};
  const TrackingEvent* newest = parcel.events.empty() ? nullptr : &parcel.events.back();
  row.cells = {OneLine(parcel.note),
               OneLine(parcel.number),
               OneLine(CarrierName(parcel.carrier, parcel.carrier_name)),
               OneLine(StateCell(parcel)),
               OneLine(parcel.city),
               newest ? OneLine(newest->context) : std::string(),
               newest ? OneLine(newest->time) : std::string(),
               LocalMinute(parcel.last_checked, utc_offset),
               parcel.answered() ? std::string(ServiceNameOf(parcel.service)) : std::string()};
  return row;
}

std::string FirstFetchText(std::size_t fetched, std::size_t added) {
  if (added == 0) return {};
  return "等待首次查询（" + std::to_string(std::min(fetched, added)) + "/" + std::to_string(added) + "）";
}

void WatchTable::Rebuild(const WatchList& list, UnixSeconds now, std::int64_t utc_offset) {
  all_.clear();
  all_.reserve(list.parcels.size());
  counts_.fill(0);
  for (const WatchedParcel& parcel : list.parcels) {
    Entry entry{RowOf(parcel, utc_offset), BucketOf(parcel, now), 0, parcel.last_checked, all_.size()};
    if (!parcel.events.empty()) entry.latest = ParseServiceTime(parcel.events.back().time);
    if (entry.bucket != Filter::kDone) ++counts_[IndexOfFilter(Filter::kAll)];
    if (entry.bucket) ++counts_[IndexOfFilter(*entry.bucket)];
    all_.push_back(std::move(entry));
  }
  Sort();
  Show();
}

std::size_t WatchTable::Count(Filter filter) const { return counts_[IndexOfFilter(filter)]; }

void WatchTable::SetFilter(Filter filter) {
  filter_ = filter;
  Show();
}

void WatchTable::SortBy(Column column, bool ascending) {
  sort_column_ = column;
  ascending_ = ascending;
  Sort();
  Show();
}

void WatchTable::Sort() {
  const auto column = static_cast<std::size_t>(sort_column_);
  // -1, 0 or 1 as the left row's key is less, the same or more.
  const auto compare = [this, column](const Entry& left, const Entry& right) -> int {
    switch (sort_column_) {
      case Column::kLatestTime: return (left.latest > right.latest) - (left.latest < right.latest);
      case Column::kLastChecked: return (left.checked > right.checked) - (left.checked < right.checked);
      default: {
        const int text = left.row.cells[column].compare(right.row.cells[column]);
        return (text > 0) - (text < 0);
      }
    }
  };
  // Stable both ways: rows of equal keys keep the list's order, whatever
  // the order before, so a rebuild never shuffles them.
  std::sort(all_.begin(), all_.end(), [&](const Entry& left, const Entry& right) {
    const int order = compare(left, right);
    if (order != 0) return ascending_ ? order < 0 : order > 0;
    return left.position < right.position;
  });
}

void WatchTable::Show() {
  shown_.clear();
  for (const Entry& entry : all_) {
    const bool under = filter_ == Filter::kAll ? entry.bucket != Filter::kDone : entry.bucket == filter_;
    if (under) shown_.push_back(entry.row);
  }
}

std::optional<std::size_t> WatchTable::Find(std::string_view typed, std::size_t from) const {
  if (typed.empty() || shown_.empty()) return std::nullopt;
  const std::string number = TrackingNumberOf(typed);
  for (std::size_t step = 0; step < shown_.size(); ++step) {
    const std::size_t index = (from + step) % shown_.size();
    const auto& cells = shown_[index].cells;
    if ((!number.empty() && BeginsWith(cells[static_cast<std::size_t>(Column::kNumber)], number)) ||
        BeginsWith(cells[static_cast<std::size_t>(Column::kNote)], typed)) {
      return index;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> WatchTable::IndexOf(const ParcelKey& parcel) const {
  for (std::size_t index = 0; index < shown_.size(); ++index) {
    if (shown_[index].parcel == parcel) return index;
  }
  return std::nullopt;
}

std::string CopyText(const std::vector<TableRow>& rows) {
  std::string text;
  const auto line = [&text](const auto& cells) {
    for (std::size_t index = 0; index < cells.size(); ++index) {
      if (index > 0) text += '\t';
      text += cells[index];
    }
    text += "\r\n";
  };
  line(kColumnNames);
  for (const TableRow& row : rows) line(row.cells);
  return text;
}

}  // namespace quenzil
