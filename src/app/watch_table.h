// The 关注列表 window's rules, free of the platform: the rows it shows of
// the watch list, their columns, the status buckets and their counts, the
// order, the filter, type-to-find, and the text a copy puts on the
// clipboard. The window only draws what this gives it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "watch/watch_list.h"

namespace quenzil {

// The list's filter buttons, in their order: 全部 · 运输中 · 派件中 · 待取件
// · 问题件 · 退回 · 已完成. 全部 holds every parcel not put away; 已完成
// only those put away.
enum class Filter { kAll, kInTransit, kDelivering, kAwaitingPickup, kProblem, kReturned, kDone };
inline constexpr std::array<Filter, 7> kFilters = {Filter::kAll,     Filter::kInTransit, Filter::kDelivering,
                                                   Filter::kAwaitingPickup, Filter::kProblem, Filter::kReturned,
                                                   Filter::kDone};
std::string_view FilterName(Filter filter);

// The bucket a parcel is in now (never kAll): by its state and its newest
// event as the refresh policy reads them. A parcel signed for and not yet
// put away is in none of the buckets but 全部 (nullopt).
std::optional<Filter> BucketOf(const WatchedParcel& parcel, UnixSeconds now);

// The columns, in their order: 备注, 单号, 快递公司, 状态, 当前城市, 最新动态,
// 动态时间, 上次查询, 查询服务.
enum class Column { kNote, kNumber, kCourier, kState, kCity, kLatest, kLatestTime, kLastChecked, kService };
inline constexpr std::size_t kColumnCount = 9;
std::string_view ColumnName(Column column);

struct TableRow {
  ParcelKey parcel;
  std::array<std::string, kColumnCount> cells;  // as shown, one line each
};

class WatchTable {
 public:
  // The rows of the list as it is now (unread entries are never rows).
  void Rebuild(const WatchList& list, UnixSeconds now);
  // The parcels under each filter.
  std::size_t Count(Filter filter) const;
  void SetFilter(Filter filter);
  Filter filter() const { return filter_; }
  // Sorted by that column (stable; times as times, numbers as text), again
  // when the column is the same with the order turned.
  void SortBy(Column column, bool ascending);
  Column sort_column() const { return sort_column_; }
  bool ascending() const { return ascending_; }
  // The rows shown: under the filter, in the order.
  const std::vector<TableRow>& rows() const { return shown_; }
  // The first shown row at or after `from` (wrapping) whose number or note
  // begins with the text, letters in any case; nullopt when none does.
  std::optional<std::size_t> Find(std::string_view typed, std::size_t from = 0) const;
  // The index of a parcel among the rows shown.
  std::optional<std::size_t> IndexOf(const ParcelKey& parcel) const;

 private:
  void Show();
  struct Entry;
  std::vector<TableRow> all_;
  std::vector<std::optional<Filter>> buckets_;   // by index in all_
  std::vector<std::array<long long, kColumnCount>> keys_;  // the times, for sorting
  std::vector<TableRow> shown_;
  Filter filter_ = Filter::kAll;
  Column sort_column_ = Column::kLastChecked;
  bool ascending_ = false;
};

// Tab-separated, a header row of the column names first, CR LF after every
// row: what 复制 puts on the clipboard, and what Excel pastes as cells.
std::string CopyText(const std::vector<TableRow>& rows);

}  // namespace quenzil
