// The 关注列表 window's rules, free of the platform: the rows it shows of
// the watch list, their columns, the status buckets and their counts, the
// order, the filter, type-to-find, and the text a copy puts on the
// clipboard. The window only draws what this gives it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// 上次查询 is shown in this local time unless the shell says otherwise:
// Beijing time, as the services date their events.
inline constexpr std::int64_t kBeijingUtcOffset = 8 * 3600;

// The parcel's cells: 状态 is the state's text, or 等待首次查询 (never
// fetched), 暂无物流信息, 查询失败 or 需要手机号后四位 before an answer;
// 最新动态 and 动态时间 are the newest event's; 上次查询 is
// "2026-12-08 17:30" in that local time; 查询服务 names the service.
TableRow RowOf(const WatchedParcel& parcel, std::int64_t utc_offset = kBeijingUtcOffset);

// "等待首次查询（12/40）": how far the first fetches of the parcels added
// lately have got; empty when none waits (added is 0).
std::string FirstFetchText(std::size_t fetched, std::size_t added);

class WatchTable {
 public:
  // The rows of the list as it is now (unread entries are never rows), in
  // the order and under the filter set before.
  void Rebuild(const WatchList& list, UnixSeconds now, std::int64_t utc_offset = kBeijingUtcOffset);
  // The parcels under each filter.
  std::size_t Count(Filter filter) const;
  void SetFilter(Filter filter);
  Filter filter() const { return filter_; }
  // Sorted by that column (stable: rows of equal cells keep the list's
  // order; times as times, numbers as text), again when the column is the
  // same with the order turned.
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
  struct Entry {
    TableRow row;
    std::optional<Filter> bucket;
    UnixSeconds latest = 0;   // 动态时间, 0 when none can be read
    UnixSeconds checked = 0;  // 上次查询
    std::size_t position = 0;  // in the list
  };
  void Sort();
  void Show();
  std::vector<Entry> all_;  // in the order
  std::array<std::size_t, kFilters.size()> counts_{};
  std::vector<TableRow> shown_;
  Filter filter_ = Filter::kAll;
  Column sort_column_ = Column::kLastChecked;
  bool ascending_ = false;
};

// Tab-separated, a header row of the column names first, CR LF after every
// row: what 复制 puts on the clipboard, and what Excel pastes as cells.
std::string CopyText(const std::vector<TableRow>& rows);

}  // namespace quenzil
