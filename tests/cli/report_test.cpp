#include "cli/report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/watched_file.h"

namespace quenzil::cli {
namespace {

using nlohmann::json;
using Kind = QueryOutcome::Kind;

QueryOutcome Outcome(Kind kind, std::vector<std::string> rows, std::string prompt = {}) {
  QueryOutcome outcome;
  outcome.kind = kind;
  outcome.rows = std::move(rows);
  outcome.prompt = std::move(prompt);
  return outcome;
}

QueryOutcome KeyedRows() {
  QueryOutcome outcome = Outcome(Kind::kRows, {"圆通速递  已签收", "2026-12-01 08:00:00", "已揽收"});
  outcome.number = "YT1";
  outcome.carrier_code = "yuantong";
  outcome.carrier_name = "圆通速递";
  outcome.result = TrackingResult{"YT1", "yuantong", "3", true, {{"2026-12-01 08:00:00", "已揽收", "上海", "揽收"}}};
  return outcome;
}

TEST(Report, ExitCodeTableOfEveryOutcomeAndItsUsageLines) {
  const std::pair<Kind, int> table[] = {
      {Kind::kRows, 0}, {Kind::kAdvice, 1}, {Kind::kFailure, 2}, {Kind::kNotice, 2}, {Kind::kNothing, 2}};
  for (const auto& [kind, code] : table) {
    EXPECT_EQ(static_cast<int>(ExitCodeOf(kind)), code) << static_cast<int>(kind);
    for (const bool as_json : {false, true}) {
      EXPECT_EQ(static_cast<int>(QueryReport(Outcome(kind, {"行"}, "查询失败：x"), {"YT1"}, as_json).exit_code), code);
    }
  }
  for (std::size_t index = 0; index < kExitCodes.size(); ++index) {
    EXPECT_EQ(static_cast<std::size_t>(kExitCodes[index].code), index);
    EXPECT_NE(UsageText().find(std::to_string(index) + "  " + std::string(kExitCodes[index].meaning)),
              std::string::npos);
  }
  EXPECT_EQ(UsageReport("未知的选项：-x").err, "未知的选项：-x\n\n" + UsageText());
  EXPECT_EQ(HelpReport().out, UsageText());
}

TEST(Report, PlainRowsOneALineAndFailuresOnStandardErrorOnly) {
  EXPECT_EQ(QueryReport(KeyedRows(), {"YT1"}, false).out, "圆通速递  已签收\n2026-12-01 08:00:00\n已揽收\n");
  EXPECT_EQ(QueryReport(Outcome(Kind::kAdvice, {"此单号未更新物流信息"}), {"YT1"}, false).out, "此单号未更新物流信息\n");
  for (const Kind kind : {Kind::kFailure, Kind::kNotice}) {
    for (const bool as_json : {false, true}) {
      const Report report = QueryReport(Outcome(kind, {}, "查询失败：无法连接\n（12029）"), {"YT1"}, as_json);
      EXPECT_EQ(report.out, "");
      EXPECT_EQ(report.err, "查询失败：无法连接\n（12029）\n");
    }
  }
}

TEST(Report, JsonOfKeyedKeptOldAndAdviceOutcomes) {
  json keyed = json::parse(QueryReport(KeyedRows(), {"YT1"}, true).out);
  EXPECT_EQ(keyed["number"], "YT1");
  EXPECT_EQ(keyed["courier"], "yuantong");
  EXPECT_EQ(keyed["courier_name"], "圆通速递");
  EXPECT_EQ(keyed["state"], "3");
  EXPECT_EQ(keyed["state_text"], "已签收");
  EXPECT_EQ(keyed["rows"], json({"圆通速递  已签收", "2026-12-01 08:00:00", "已揽收"}));
  EXPECT_EQ(keyed["events"],
            json::parse(R"([{"time":"2026-12-01 08:00:00","context":"已揽收","area":"上海","status":"揽收"}])"));
  EXPECT_EQ(keyed["kept"], false);

  QueryOutcome kept = KeyedRows();
  kept.kept = true;
  EXPECT_EQ(json::parse(QueryReport(kept, {"YT1"}, true).out)["kept"], true);

  QueryOutcome old = Outcome(Kind::kRows, {"2013-01-20 09:05 已签收"});
  old.number = "YT2";
  old.carrier_code = "yuantong";
  old.carrier_name = "圆通";
  const json plain_old = json::parse(QueryReport(old, {"YT2", {}, "yuantong"}, true).out);
  EXPECT_EQ(plain_old["courier_name"], "圆通");
  for (const char* field : {"state", "state_text", "events"}) EXPECT_TRUE(plain_old[field].is_null()) << field;

  // An advice is of the parcel asked for; detected couriers are not known.
  const json advice = json::parse(QueryReport(Outcome(Kind::kAdvice, {"未收录"}), {"YT3"}, true).out);
  EXPECT_EQ(advice["number"], "YT3");
  EXPECT_TRUE(advice["courier"].is_null());
  EXPECT_EQ(advice["rows"], json({"未收录"}));
  const json named = json::parse(QueryReport(Outcome(Kind::kAdvice, {"未收录"}), {"YT3", {}, "ems"}, true).out);
  EXPECT_EQ(named["courier"], "ems");
  EXPECT_EQ(named["courier_name"], "EMS");
}

TEST(Report, WatchListPlainAndJson) {
  WatchList list;
  WatchedParcel moving{"YT1", "yuantong", "", "", "妈妈的快递", "0"};
  moving.events = {{"2026-12-01 08:00:00", "已揽收", "上海", ""}};
  moving.last_checked = 1796113800;  // 2026-12-01T08:30:00Z
  list.parcels = {moving, WatchedParcel{"JT9", "jtexpress", "极兔速递"}};
  EXPECT_EQ(WatchedReport(list, false).out, "圆通速递  YT1  妈妈的快递  在途\n极兔速递  JT9  等待刷新\n");
  EXPECT_EQ(WatchedReport(WatchList{}, false).out, "");

  const json parcels = json::parse(WatchedReport(list, true).out)["parcels"];
  ASSERT_EQ(parcels.size(), 2u);
  EXPECT_EQ(parcels[0], json::parse(R"({"number":"YT1","courier":"yuantong","courier_name":"圆通速递",
      "note":"妈妈的快递","state":"0","state_text":"在途","signed":false,"last_checked":"2026-12-01T08:30:00Z",
      "events":[{"time":"2026-12-01 08:00:00","context":"已揽收","area":"上海","status":""}]})"));
  EXPECT_EQ(parcels[1], json::parse(R"({"number":"JT9","courier":"jtexpress","courier_name":"极兔速递","note":null,
      "state":null,"state_text":null,"signed":false,"last_checked":null,"events":[]})"));
}

TEST(WatchedFile, MissingBusyBrokenAndNewerFiles) {
  const FileRead missing{};
  FileRead busy{true, false, true};
  FileRead whole{true, true};
  whole.bytes = R"({"version":1,"parcels":[{"number":"YT1","carrier":"yuantong"}]})";
  FileRead broken = whole;
  broken.bytes = "{";
  FileRead newer = whole;
  newer.bytes = R"({"version":9,"parcels":[]})";
  FileRead unreadable{true, false};
  unreadable.error = "ReadFile: 5";

  const auto read_after = [](std::vector<FileRead> answers, int attempts, int* pauses) {
    std::size_t next = 0;
    return ReadWatched([&] { return answers.at(std::min(next++, answers.size() - 1)); }, attempts,
                       [pauses] { ++*pauses; });
  };
  int pauses = 0;
  EXPECT_TRUE(read_after({missing}, 3, &pauses).list->parcels.empty());
  EXPECT_EQ(read_after({busy, busy, whole}, 3, &pauses).list->parcels.at(0).number, "YT1");
  EXPECT_EQ(pauses, 2);
  const WatchedRead stays_busy = read_after({busy}, 3, &pauses);
  EXPECT_FALSE(stays_busy.list);
  EXPECT_NE(stays_busy.error.find("占用"), std::string::npos);
  EXPECT_EQ(pauses, 4);
  for (const FileRead& bad : {broken, newer, unreadable}) {
    const WatchedRead read = read_after({bad}, 3, &pauses);
    EXPECT_FALSE(read.list);
    EXPECT_EQ(read.error.rfind("关注列表文件", 0), 0u) << read.error;
  }
  EXPECT_EQ(pauses, 4);
}

}  // namespace
}  // namespace quenzil::cli
