#include "cli/watch_command.h"

#include <algorithm>
#include <utility>

#include "cli/watched_file.h"
#include "query/couriers.h"
#include "watch/watch_file.h"

namespace quenzil::cli {

namespace {

using Verdict = ImportLine::Verdict;

// A file busy for a moment is read again; a window that does not answer is
// asked again, then given up on.
constexpr int kReadAttempts = 6;
constexpr int kTries = 5;

// "第3行<TAB>已加入<TAB>YT…<TAB>圆通速递…": one line a row, to read and to
// cut at the tabs.
std::string LineText(const ImportLine& line, bool numbered) {
  std::string text = numbered ? "第" + std::to_string(line.line) + "行\t" : std::string();
  const std::string name = line.parcel.carrier.empty() ? std::string() : CarrierName(line.parcel.carrier, line.parcel.carrier_name);
  switch (line.verdict) {
    case Verdict::kNew: text += "已加入"; break;
    case Verdict::kAlreadyWatched: text += "已在关注列表"; break;
    case Verdict::kRepeated: text += "重复"; break;
    default: text += "未加入"; break;
  }
  text += "\t" + (line.parcel.number.empty() ? std::string("（无单号）") : line.parcel.number);
  if (!name.empty()) text += "\t" + name + (line.guessed ? "（按单号猜的快递公司）" : "");
  if (!line.reason.empty()) text += "\t" + line.reason;
  return text + "\n";
}

Report LinesReport(const std::vector<ImportLine>& lines, bool numbered) {
  Report report;
  for (const ImportLine& line : lines) {
    report.out += LineText(line, numbered);
    if (IsRefused(line.verdict)) report.exit_code = ExitCode::kAdvice;
  }
  return report;
}

// What the list made of each new parcel.
void Apply(std::vector<ImportLine>& lines, const std::vector<AddResult>& results) {
  auto result = results.begin();
  for (ImportLine& line : lines) {
    if (line.verdict != Verdict::kNew || result == results.end()) continue;
    switch (*result++) {
      case AddResult::kAdded: break;
      case AddResult::kAlreadyWatched: line.verdict = Verdict::kAlreadyWatched; break;
      case AddResult::kFull:
        line.verdict = Verdict::kBeyondLimit;
        line.reason = "最多只能关注" + std::to_string(kMaxWatched) + "个单号";
        break;
    }
  }
}

}  // namespace

Report AddToWatchList(WatchListAccess& access,
                      const std::function<std::vector<ImportLine>(const WatchList&)>& lines_of, bool numbered) {
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (attempt > 0) access.Pause();
    if (!access.Lock()) return FailureReport("关注列表文件正被占用，请稍后再试。");
    const WatchedRead read = ReadWatched([&access] { return access.Read(); }, kReadAttempts, [&access] { access.Pause(); });
    if (!read.list) {
      access.Unlock();
      return FailureReport(read.error);
    }
    WatchList list = *read.list;
    std::vector<ImportLine> lines = lines_of(list);
    std::vector<WatchedParcel> parcels;
    for (const ImportLine& line : lines) {
      if (line.verdict == Verdict::kNew) parcels.push_back(line.parcel);
    }
    if (parcels.empty()) {
      access.Unlock();
      return LinesReport(lines, numbered);
    }
    if (access.WindowRuns()) {
      // The window owns the list: its tracker adds them, and shows them.
      access.Unlock();
      if (const std::optional<std::vector<AddResult>> results = access.HandOver(parcels)) {
        Apply(lines, *results);
        return LinesReport(lines, numbered);
      }
      continue;  // starting, ending, or busy: asked again
    }
    std::vector<AddResult> results;
    for (WatchedParcel& parcel : parcels) {
      parcel.added = access.Now();
      results.push_back(AddParcel(list, std::move(parcel)));
    }
    std::string error;
    const bool written = access.Write(SerializeWatchFile(list), error);
    access.Unlock();
    if (!written) return FailureReport("关注列表文件无法写入（" + error + "），没有加入任何单号。");
    Apply(lines, results);
    return LinesReport(lines, numbered);
  }
  return FailureReport("Quenzil 正在运行，但没有回应，没有加入任何单号。请稍后再试。");
}

std::vector<ImportLine> WatchLine(const Command& command, const WatchList& watched) {
  ImportEntry entry;
  entry.line = 1;
  entry.text = command.number;
  entry.number = command.number;
  entry.courier = command.courier;
  entry.note = command.note;
  entry.phone = command.phone;
  return CheckEntries({entry}, watched);
}

Exported ExportList(const WatchList& list, const Command& command, UnixSeconds now) {
  return {ExportSheet(list, command.events ? ExportRows::kEvents : ExportRows::kParcels, now),
          "已导出 " + std::to_string(list.parcels.size()) + " 个单号到 " + command.file + "\n"};
}

}  // namespace quenzil::cli
