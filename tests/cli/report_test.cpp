#include "cli/report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string_view>

#include "cli/watched_file.h"
#include "query/carriers.h"

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

TEST(Report, ExitCodeTableOfEveryOutcomeInBothFormsAndTheUsage) {
  const std::pair<Kind, int> table[] = {
      {Kind::kRows, 0}, {Kind::kAdvice, 1}, {Kind::kFailure, 2}, {Kind::kNotice, 2}, {Kind::kNothing, 2}};
  for (const auto& [kind, code] : table) {
    for (const bool as_json : {false, true}) {
      const Report report = QueryReport(Outcome(kind, {"行"}, "查询失败：无法连接\n（12029）"), {"YT1"}, as_json);
      EXPECT_EQ(static_cast<int>(report.exit_code), code);
      // A failure: its message on standard error, nothing on standard output.
      EXPECT_EQ(report.out.empty(), code == 2);
      EXPECT_EQ(report.err, code == 2 ? "查询失败：无法连接\n（12029）\n" : "");
    }
  }
  std::set<std::string_view> meanings;
  for (std::size_t index = 0; index < kExitCodes.size(); ++index) {
    EXPECT_TRUE(meanings.insert(kExitCodes[index].meaning).second) << "two codes share a meaning";
    EXPECT_EQ(static_cast<std::size_t>(kExitCodes[index].code), index);
    EXPECT_NE(UsageText().find(std::to_string(index) + "  " + std::string(kExitCodes[index].meaning)),
              std::string::npos);
  }
  EXPECT_EQ(UsageReport("未知的选项：-x").err, "未知的选项：-x\n\n" + UsageText());
  for (const Carrier& carrier : CarrierTable) {
    EXPECT_NE(UsageText().find(" " + std::string(carrier.service_code)), std::string::npos) << carrier.service_code;
  }
  // A page of the old address that could not be read is no advice.
  const Report unread = QueryReport(Outcome(Kind::kAdvice, {}), {"YT1"}, false);
  EXPECT_EQ(static_cast<int>(unread.exit_code), 2);
  EXPECT_EQ(unread.err, "查询失败：服务器返回的内容无法解析。\n");
  EXPECT_EQ(QueryReport(Outcome(Kind::kNothing, {}), {"YT1"}, false).err, "查询失败\n") << "never an empty line";
}

TEST(Report, PlainRowsAndTheJsonOfKeyedOldAndAdviceOutcomes) {
  QueryOutcome keyed = Outcome(Kind::kRows, {"圆通速递  已签收（刚刚查询）", "2026-12-01 08:00:00", "已揽收"});
  keyed.number = "YT1";
  keyed.carrier_code = "yuantong";
  keyed.carrier_name = "圆通速递";
  keyed.result = TrackingResult{"YT1", "yuantong", "3", true, {{"2026-12-01 08:00:00", "已揽收", "上海", "揽收"}}};
  keyed.kept = true;
  EXPECT_EQ(QueryReport(keyed, {"YT1"}, false).out, "圆通速递  已签收（刚刚查询）\n2026-12-01 08:00:00\n已揽收\n");
  EXPECT_EQ(json::parse(QueryReport(keyed, {"YT1"}, true).out), json::parse(R"({"number":"YT1","courier":"yuantong",
      "courier_name":"圆通速递","state":"3","state_text":"已签收","service":null,
      "rows":["圆通速递  已签收（刚刚查询）","2026-12-01 08:00:00","已揽收"],
      "events":[{"time":"2026-12-01 08:00:00","context":"已揽收","area":"上海","status":"揽收"}],"kept":true})"));

  QueryOutcome old = keyed;
  old.result.reset();
  old.kept = false;
  const json old_json = json::parse(QueryReport(old, {"YT1"}, true).out);
  for (const char* field : {"state", "state_text", "events"}) EXPECT_TRUE(old_json[field].is_null()) << field;

  // An advice is of the parcel asked for; a detected courier is not known.
  const json advice = json::parse(QueryReport(Outcome(Kind::kAdvice, {"未收录"}), {"YT3"}, true).out);
  EXPECT_EQ(advice["number"], "YT3");
  EXPECT_TRUE(advice["courier"].is_null());
  EXPECT_EQ(advice["rows"], json({"未收录"}));
  const json named = json::parse(QueryReport(Outcome(Kind::kAdvice, {"未收录"}), {"YT3", {}, "ems"}, true).out);
  EXPECT_EQ(named["courier_name"], "EMS");
  // A courier outside the table goes by the name detection gave it.
  QueryOutcome foreign = keyed;
  foreign.carrier_code = "zhongtongguoji";
  foreign.carrier_name = "中通国际";
  EXPECT_EQ(json::parse(QueryReport(foreign, {"YT1"}, true).out)["courier_name"], "中通国际");
}

TEST(Report, GuessPlainAndJson) {
  const Report certain = GuessReport("JT5261988016578", GuessCouriers("JT5261988016578"), true);
  EXPECT_EQ(json::parse(certain.out), json::parse(R"({"number":"JT5261988016578",
      "candidates":[{"courier":"jtexpress","courier_name":"极兔速递","certain":true}]})"));
  EXPECT_EQ(GuessReport("1", GuessCouriers("012345678901"), false).out, "shunfeng\t顺丰速运\nquanfengkuaidi\t全峰快递\n");
  EXPECT_EQ(json::parse(GuessReport("1", GuessCouriers("012345678901"), true).out)["candidates"][1]["certain"], false);
  EXPECT_EQ(static_cast<int>(GuessReport("YT9", {}, false).exit_code), 1);
}

TEST(Report, WatchListPlainAndJson) {
  WatchList list;
  WatchedParcel moving{"YT1", "yuantong", "", "", "妈妈的快递", "0"};
  moving.last_checked = moving.put_away = 1796113800;
  list.parcels = {moving, WatchedParcel{"ZT9", "zhongtongguoji", "中通国际"}};
  EXPECT_EQ(WatchedReport(list, false).out, "圆通速递  YT1  妈妈的快递  在途（已完成）\n中通国际  ZT9  等待刷新\n");
  const json parcels = json::parse(WatchedReport(list, true).out)["parcels"];
  EXPECT_EQ(parcels[0]["last_checked"].get<std::string>() + parcels[0]["put_away"].get<std::string>(),
            "2026-12-01T08:30:00Z2026-12-01T08:30:00Z");
  EXPECT_EQ(parcels[0]["signed"], false);
  EXPECT_EQ(parcels[0]["courier_name"], "圆通速递");
  EXPECT_EQ(parcels[1], json::parse(R"({"number":"ZT9","courier":"zhongtongguoji","courier_name":"中通国际","note":null,
      "state":null,"state_text":null,"signed":false,"last_checked":null,"put_away":null,"events":[]})"));
}

TEST(WatchedFile, MissingBusyBrokenAndNewerFiles) {
  FileRead busy{true, false, true};
  FileRead whole{true, true};
  whole.bytes = R"({"version":1,"parcels":[{"number":"YT1","carrier":"yuantong"}]})";
  FileRead broken{true, true, false, false, "{"};
  FileRead newer{true, true, false, false, R"({"version":9,"parcels":[]})"};
  FileRead unreadable{true, false, false, false, {}, "ReadFile: 5"};
  int pauses = 0;
  const auto read_after = [&pauses](std::vector<FileRead> answers) {
    std::size_t next = 0;
    return ReadWatched([&] { return answers.at(std::min(next++, answers.size() - 1)); }, 3, [&] { ++pauses; });
  };
  EXPECT_TRUE(read_after({FileRead{}}).list.value().parcels.empty()) << "no file: nothing watched";
  EXPECT_EQ(read_after({busy, busy, whole}).list->parcels.at(0).number, "YT1");
  EXPECT_EQ(pauses, 2);
  for (const FileRead& bad : {busy, broken, newer, unreadable}) {
    const WatchedRead read = read_after({bad});
    EXPECT_FALSE(read.list);
    EXPECT_EQ(read.error.rfind("关注列表文件", 0), 0u) << read.error;
  }
  EXPECT_EQ(read_after({newer}).error, "关注列表文件是更新版本的程序保存的，本程序无法读取。");
  EXPECT_EQ(read_after({unreadable}).error, "关注列表文件无法读取（ReadFile: 5）。");
  EXPECT_EQ(pauses, 4);
}

}  // namespace
}  // namespace quenzil::cli
