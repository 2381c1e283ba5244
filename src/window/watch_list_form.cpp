#include "window/watch_list_form.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "app/texts.h"
#include "platform/file_store.h"
#include "query/couriers.h"

namespace quenzil {
namespace {

// The list window is titled 关注列表 itself: its boxes are the program's
// usual notices.
constexpr std::string_view kListBoxTitle = kSystemNoticeTitle;
// A sheet bigger than this is no list of parcels.
constexpr std::size_t kMaxSheetBytes = 8u * 1024u * 1024u;

std::optional<int> IntOf(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string CountText(std::size_t count) { return std::to_string(count) + " 个单号"; }

}  // namespace

std::optional<ListWindowPlacement> ParseListPlacement(std::string_view text) {
  std::vector<int> values;
  for (std::size_t from = 0;;) {
    const std::size_t comma = text.find(',', from);
    const std::optional<int> value = IntOf(text.substr(from, comma == std::string_view::npos ? comma : comma - from));
    if (!value) return std::nullopt;
    values.push_back(*value);
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  if (values.size() != 5 && values.size() != 5 + kColumnCount) return std::nullopt;
  ListWindowPlacement placement{values[0], values[1], values[2], values[3], values[4] != 0, {}};
  // Too small to be seen or used: the default placement instead.
  if (placement.width < 100 || placement.height < 80) return std::nullopt;
  placement.column_widths.assign(values.begin() + 5, values.end());
  if (std::any_of(placement.column_widths.begin(), placement.column_widths.end(),
                  [](int width) { return width < 0 || width > 4000; })) {
    placement.column_widths.clear();
  }
  return placement;
}

std::string ListPlacementText(const ListWindowPlacement& placement) {
  std::vector<int> values = {placement.x, placement.y, placement.width, placement.height, placement.maximized ? 1 : 0};
  values.insert(values.end(), placement.column_widths.begin(), placement.column_widths.end());
  std::string text;
  for (const int value : values) {
    if (!text.empty()) text += ',';
    text += std::to_string(value);
  }
  return text;
}

std::array<std::string, 6> PreviewCells(const ImportLine& line) {
  std::string courier;
  if (!line.parcel.carrier.empty()) {
    courier = CarrierName(line.parcel.carrier, line.parcel.carrier_name);
    if (line.guessed) courier += "（猜测）";
  }
  std::string verdict(VerdictText(line.verdict));
  if (!line.reason.empty()) verdict += "：" + line.reason;
  return {std::string("第 ") + std::to_string(line.line) + " 行", line.parcel.number, std::move(courier), line.parcel.note,
          line.parcel.phone, std::move(verdict)};
}

std::string PastedLinesOf(const std::vector<ImportLine>& lines) {
  std::string text;
  for (const ImportLine& line : lines) {
    if (line.parcel.number.empty()) {
      // Nothing could be read of it: the row as the sheet had it.
      text += line.text;
    } else {
      text += line.parcel.number;
      if (!line.guessed && !line.parcel.carrier.empty()) text += "\t" + line.parcel.carrier;
      if (!line.parcel.note.empty()) text += "\t" + line.parcel.note;
      if (!line.parcel.phone.empty()) text += "\t" + line.parcel.phone;
    }
    text += "\r\n";
  }
  return text;
}

void WatchListForm::Open() {
  view_.ShowList(made_ ? std::string() : host_.settings.LoadWatchListPlacement());
  made_ = true;
  Rebuild();
}

void WatchListForm::ListChanged() {
  if (made_) Rebuild();
}

void WatchListForm::Rebuild() {
  const std::vector<ParcelKey> selected = made_ ? Selected() : std::vector<ParcelKey>{};
  const UnixSeconds now = host_.clock.Now();
  table_.Rebuild(host_.tracker.list(), now, host_.clock.UtcOffset(now));
  std::array<std::string, kFilters.size()> texts;
  for (std::size_t index = 0; index < kFilters.size(); ++index) {
    texts[index] = std::string(FilterName(kFilters[index])) + "（" + std::to_string(table_.Count(kFilters[index])) + "）";
  }
  view_.SetFilterTexts(texts, static_cast<std::size_t>(table_.filter()));
  ShowRows(selected);
  const FirstFetches first = host_.tracker.first_fetches();
  std::string status = CountText(host_.tracker.list().parcels.size()) + "（最多 " + std::to_string(kMaxWatched) + " 个）";
  if (const std::string fetching = FirstFetchText(first.fetched, first.added); !fetching.empty()) {
    status += "　" + fetching;
  }
  if (host_.tracker.refresh_paused()) status += "　自动刷新已暂停";
  view_.SetListStatus(status);
}

// The rows in their order and under their filter, those selected before
// selected again.
void WatchListForm::ShowRows(const std::vector<ParcelKey>& selected) {
  view_.ShowRowCount(table_.rows().size(), static_cast<std::size_t>(table_.sort_column()), table_.ascending());
  std::vector<std::size_t> rows;
  for (const ParcelKey& parcel : selected) {
    if (const std::optional<std::size_t> row = table_.IndexOf(parcel)) rows.push_back(*row);
  }
  if (!rows.empty()) view_.SelectRows(rows, rows.front());
}

std::vector<ParcelKey> WatchListForm::Selected() const {
  std::vector<ParcelKey> parcels;
  for (const std::size_t row : view_.SelectedRows()) {
    if (row < table_.rows().size()) parcels.push_back(table_.rows()[row].parcel);
  }
  return parcels;
}

void WatchListForm::Filter_Click(std::size_t filter) {
  if (filter >= kFilters.size() || kFilters[filter] == table_.filter()) return;
  const std::vector<ParcelKey> selected = Selected();
  table_.SetFilter(kFilters[filter]);
  ShowRows(selected);  // the counts stay as they are
}

void WatchListForm::Column_Click(std::size_t column) {
  if (column >= kColumnCount) return;
  const auto chosen = static_cast<Column>(column);
  // The same column again turns the order.
  const std::vector<ParcelKey> selected = Selected();
  table_.SortBy(chosen, chosen == table_.sort_column() ? !table_.ascending() : true);
  ShowRows(selected);
}

std::optional<std::size_t> WatchListForm::FindRow(std::string_view typed, std::size_t from) const {
  return table_.Find(typed, from);
}

std::string WatchListForm::CellText(std::size_t row, std::size_t column) const {
  if (row >= table_.rows().size() || column >= kColumnCount) return {};
  return table_.rows()[row].cells[column];
}

void WatchListForm::Row_Activate(std::size_t row) {
  if (row < table_.rows().size()) host_.show_parcel(table_.rows()[row].parcel);
}

void WatchListForm::ContextMenu() {
  const bool any = !view_.SelectedRows().empty();
  std::vector<MenuItem> sort;
  for (std::size_t column = 0; column < kColumnCount; ++column) {
    const bool current = column == static_cast<std::size_t>(table_.sort_column());
    sort.push_back({list_commands::kSortFirst + static_cast<int>(column), std::string(ColumnName(static_cast<Column>(column))),
                    true, current, {}});
  }
  const std::vector<MenuItem> items = {
      {list_commands::kShowRows, "查看物流信息", any, false, {}},
      {list_commands::kRefresh, "立即刷新", any, false, {}},
      {list_commands::kCopy, "复制", any, false, {}},
      {list_commands::kNote, "修改备注…", any, false, {}},
      {list_commands::kPhone, "手机后四位…", any, false, {}},
      {list_commands::kRewatch, "重新关注", any, false, {}},
      {list_commands::kUnwatch, "取消关注", any, false, {}},
      {0, {}, true, false, {}},
      {1, "排序方式", true, false, sort},
      {0, {}, true, false, {}},
      {list_commands::kBulkAdd, "批量添加…", true, false, {}},
      {list_commands::kOpen, "打开…", true, false, {}},
      {list_commands::kSaveAs, "另存为…", true, false, {}},
  };
  std::optional<int> chosen;
  {
    ModalGate::Scope modal(host_.modal);
    chosen = view_.ShowListMenu(items);
  }
  if (chosen) Command(*chosen);
}

bool WatchListForm::Command(int command) {
  if (command >= list_commands::kSortFirst && command < list_commands::kSortFirst + static_cast<int>(kColumnCount)) {
    Column_Click(static_cast<std::size_t>(command - list_commands::kSortFirst));
    return true;
  }
  switch (command) {
    case list_commands::kRefresh: Refresh_Click(); return true;
    case list_commands::kUnwatch: Unwatch_Click(); return true;
    case list_commands::kCopy: Copy_Click(); return true;
    case list_commands::kNote: Note_Click(); return true;
    case list_commands::kPhone: Phone_Click(); return true;
    case list_commands::kRewatch: Rewatch_Click(); return true;
    case list_commands::kShowRows: {
      const std::vector<std::size_t> rows = view_.SelectedRows();
      if (!rows.empty()) Row_Activate(rows.front());
      return true;
    }
    case list_commands::kBulkAdd: BulkAdd_Click(); return true;
    case list_commands::kOpen: Open_Click(); return true;
    case list_commands::kSaveAs: SaveAs_Click(); return true;
    default: return false;
  }
}

void WatchListForm::Closing() {
  if (const std::string placement = view_.ListPlacement(); !placement.empty()) {
    host_.settings.SaveWatchListPlacement(placement);
  }
}

void WatchListForm::Tell(std::string_view prompt) {
  host_.modal.WhenClear([this, text = std::string(prompt)] {
    ModalGate::Scope modal(host_.modal);
    view_.ShowListMessage(text, kListBoxTitle);
  });
}

void WatchListForm::Refresh_Click() {
  const std::vector<ParcelKey> parcels = Selected();
  if (parcels.empty()) return Tell("请先选择要刷新的单号。");
  host_.tracker.RefreshNow(parcels);
  view_.SetListStatus(std::string("正在刷新选中的 ") + CountText(parcels.size()) + "，每次只查询一个。");
}

void WatchListForm::Unwatch_Click() {
  const std::vector<ParcelKey> parcels = Selected();
  if (parcels.empty()) return Tell("请先选择要取消关注的单号。");
  host_.modal.WhenClear([this, parcels] {
    bool confirmed = false;
    {
      ModalGate::Scope modal(host_.modal);
      confirmed = view_.ConfirmInList(std::string("取消关注选中的 ") + CountText(parcels.size()) + "？", kListBoxTitle);
    }
    if (!confirmed) return;
    for (const ParcelKey& parcel : parcels) host_.tracker.Unwatch(parcel.first, parcel.second);
  });
}

void WatchListForm::Copy_Click() {
  std::vector<TableRow> rows;
  for (const std::size_t row : view_.SelectedRows()) {
    if (row < table_.rows().size()) rows.push_back(table_.rows()[row]);
  }
  if (rows.empty()) return Tell("请先选择要复制的单号。");
  host_.copy(CopyText(rows));
}

void WatchListForm::Note_Click() {
  const std::vector<ParcelKey> parcels = Selected();
  if (parcels.empty()) return Tell("请先选择要修改备注的单号。");
  host_.modal.WhenClear([this, parcels] {
    const std::optional<std::size_t> first = FindParcel(host_.tracker.list(), parcels.front().first, parcels.front().second);
    const std::string current = first ? host_.tracker.list().parcels[*first].note : std::string();
    const std::string about = parcels.size() == 1 ? parcels.front().first : CountText(parcels.size());
    std::optional<std::string> note;
    {
      ModalGate::Scope modal(host_.modal);
      note = view_.AskListNote(about, current);
    }
    if (!note) return;
    for (const ParcelKey& parcel : parcels) host_.tracker.SetNote(parcel, *note);
  });
}

void WatchListForm::Phone_Click() {
  const std::vector<ParcelKey> parcels = Selected();
  if (parcels.empty()) return Tell("请先选择要填写手机后四位的单号。");
  host_.modal.WhenClear([this, parcels] {
    const std::string about = parcels.size() == 1 ? parcels.front().first : CountText(parcels.size());
    std::optional<std::string> digits;
    {
      ModalGate::Scope modal(host_.modal);
      digits = view_.AskListPhone(CarrierName(parcels.front().second), about);
    }
    if (!digits) return;
    for (const ParcelKey& parcel : parcels) host_.tracker.SetPhone(parcel, *digits);
  });
}

void WatchListForm::Rewatch_Click() {
  std::size_t brought_back = 0;
  const UnixSeconds now = host_.clock.Now();
  for (const ParcelKey& parcel : Selected()) {
    // Under 已完成: put away, or due to be at the keeper's next turn.
    const std::optional<std::size_t> index = FindParcel(host_.tracker.list(), parcel.first, parcel.second);
    if (index && BucketOf(host_.tracker.list().parcels[*index], now) == Filter::kDone &&
        host_.tracker.Rewatch(parcel.first, parcel.second)) {
      ++brought_back;
    }
  }
  if (brought_back == 0) return Tell("选中的单号都不在“已完成”中，不需要重新关注。");
  view_.SetListStatus(std::string("已重新关注 ") + CountText(brought_back) + "。");
}

void WatchListForm::BulkAdd_Click(std::string text) {
  host_.modal.WhenClear([this, text = std::move(text)] {
    ModalGate::Scope modal(host_.modal);
    view_.AskBulkAdd(*this, text);
  });
}

std::vector<ImportLine> WatchListForm::Preview(std::string_view text) {
  return ReadPastedLines(text, host_.tracker.list());
}

BulkAddHost::Added WatchListForm::Add(std::string_view text) {
  const std::vector<ImportLine> lines = ReadPastedLines(text, host_.tracker.list());
  std::vector<WatchedParcel> parcels;
  std::vector<const ImportLine*> added_lines;
  for (const ImportLine& line : lines) {
    if (line.verdict != ImportLine::Verdict::kNew) continue;
    parcels.push_back(line.parcel);
    added_lines.push_back(&line);
  }
  const std::vector<AddResult> results = parcels.empty() ? std::vector<AddResult>{} : host_.tracker.WatchAll(std::move(parcels));
  std::size_t added = 0;
  std::string kept;
  std::size_t result = 0;
  for (const ImportLine& line : lines) {
    const bool sent = result < added_lines.size() && added_lines[result] == &line;
    const AddResult outcome = sent ? results.at(result++) : AddResult::kAlreadyWatched;
    if (sent && outcome == AddResult::kAdded) ++added;
    // A line not taken stays for the user to mend: refused ones, and any
    // the list had no room for after all.
    if (IsRefused(line.verdict) || (sent && outcome == AddResult::kFull)) kept += line.text + "\r\n";
  }
  Added answer;
  answer.told = std::string("已加入 ") + CountText(added) + "。";
  if (!kept.empty()) answer.told += "没有加入的行留在框中，改正后可再次添加。";
  answer.kept = std::move(kept);
  return answer;
}

void WatchListForm::Open_Click() {
  host_.modal.WhenClear([this] {
    std::optional<std::string> path;
    {
      ModalGate::Scope modal(host_.modal);
      path = view_.PickSheetToOpen();
    }
    if (!path) return;
    const FileRead read = ReadWholeFile(*path, kMaxSheetBytes);
    if (read.too_large) return Tell("文件太大，不像是单号表格。");
    if (read.busy) return Tell("文件正被其他程序占用（例如 Excel），请关闭它或稍后再试。");
    if (!read.ok) return Tell("无法读取文件：" + (read.error.empty() ? *path : read.error));
    const SheetRead sheet = ReadSheet(read.bytes, host_.tracker.list());
    if (!sheet.lines) return Tell(sheet.error);
    BulkAdd_Click(PastedLinesOf(*sheet.lines));
  });
}

void WatchListForm::SaveAs_Click() {
  host_.modal.WhenClear([this] {
    std::optional<std::pair<std::string, ExportRows>> target;
    {
      ModalGate::Scope modal(host_.modal);
      target = view_.PickSheetToSave();
    }
    if (!target) return;
    const std::string sheet = ExportSheet(host_.tracker.list(), target->second, host_.clock.Now());
    std::string error;
    if (!ReplaceFileAtomically(target->first, sheet, &error)) return Tell("文件无法写入：" + error);
    view_.SetListStatus(std::string("已导出 ") + CountText(host_.tracker.list().parcels.size()) + "：" + target->first);
  });
}

}  // namespace quenzil
