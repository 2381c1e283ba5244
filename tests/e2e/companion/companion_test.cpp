// quenzilc.exe end to end: exit codes, plain and JSON output through pipes,
// detection, the requery guard and the count, and the watch list left as it
// was. Each test starts with no account and no files in the program's folder.
#include <gtest/gtest.h>

#include <cstdio>

#include "desktop_support.h"
#include "expected_texts.h"

namespace desk {
namespace {

using nlohmann::json;

// The companion with its output in pipes.
Ran RunCompanion(const std::vector<std::string>& arguments) {
  return RunConsole(e2e::GetSettings().quenzil_exe, arguments);
}

std::string Lines(const std::vector<std::wstring>& rows) {
  std::string text;
  for (const auto& row : rows) text += e2e::Narrow(row) + "\n";
  return text;
}

class Companion : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(e2e::ResetServer());
    TearDown();
    MarkLogStart();
  }
  void TearDown() override {
    ClearSettings();
    ClearWatchFolder();
  }
};

TEST_F(Companion, HelpAndBadArgumentsTable) {
  const struct {
    std::vector<std::string> arguments;
    DWORD code;
    std::string reason;  // the first line of standard error; empty: the usage on standard output
  } cases[] = {
      {{"--help"}, 0, ""},
      {{"/?"}, 0, ""},
      {{"--bogus"}, 3, "未知的选项：--bogus"},
      {{"YT1", "--courier"}, 3, "选项 --courier 缺少取值"},
      {{"\xE3\x80\x80"}, 3, "请输入快递单号"},
      {{"YT1"}, 3, "没有设置查询服务账号，无法自动识别快递公司，请用 --courier 指定"},
      {{"YT1", "--courier", "jtexpress"}, 3, "没有设置查询服务账号时，--courier 只能是用法中列出的十家之一：jtexpress"},
      {{"YT1", "--service", "kdniao"}, 3, "没有设置快递鸟的账号：--service kdniao"},
  };
  for (const auto& row : cases) {
    const Ran ran = RunCompanion(row.arguments);
    EXPECT_EQ(ran.code, row.code) << row.arguments[0];
    const std::string& usage = row.reason.empty() ? ran.out : ran.err;
    EXPECT_EQ(row.reason.empty() ? ran.err : ran.out, "");
    EXPECT_EQ(ran.err.substr(0, ran.err.find('\n')), row.reason);
    EXPECT_EQ(usage.find("用法：\n  quenzilc <单号>"), row.reason.empty() ? 0 : row.reason.size() + 2) << usage;
    EXPECT_NE(usage.find("\n  3  参数不正确\n"), std::string::npos) << usage;
  }
  EXPECT_TRUE(ServerLog().empty());
}

TEST_F(Companion, OldAddressRowsAdviceAndFailures) {
  ASSERT_TRUE(e2e::SetBehavior("OLD1001", "file:rows3"));
  ASSERT_TRUE(e2e::SetBehavior("OLD1002", "file:marker-notrecorded"));
  ASSERT_TRUE(e2e::SetBehavior("OLD1003", "reset"));
  Ran ran = RunCompanion({"OLD1001", "--courier", "yuantong"});
  EXPECT_EQ(ran.code, 0u);
  EXPECT_EQ(ran.out, Lines(e2e::kThreeRows));
  EXPECT_EQ(ran.err, "");
  ran = RunCompanion({"--courier", "shentong", "OLD1002"});
  EXPECT_EQ(ran.code, 1u);
  EXPECT_EQ(ran.out, Lines({e2e::kNotRecordedAdvice}));
  ran = RunCompanion({"OLD1003", "--courier", "ems"});
  EXPECT_EQ(ran.code, 2u);
  EXPECT_EQ(ran.out, "");
  EXPECT_EQ(ran.err.rfind("查询失败：", 0), 0u) << ran.err;
}

TEST_F(Companion, DetectionRowsThenTheGuardKeepsThemWithoutSending) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(e2e::SetBehavior("detect:YT7001", R"(json:[{"comCode":"yuantong","name":"圆通速递"}])"));
  ASSERT_TRUE(e2e::SetBehavior("poll:YT7001", "json:" + PollAnswer("yuantong", "YT7001", "3", true,
      {{"2026-12-02 09:00:00", "已签收，签收人：本人"}, {"2026-12-01 08:00:00", "已揽收"}})));
  const std::vector<std::string> rows = {"圆通速递  已签收", "2026-12-01 08:00:00", "已揽收", "2026-12-02 09:00:00",
                                         "已签收，签收人：本人"};
  Ran ran = RunCompanion({"YT7001", "--json"});
  ASSERT_EQ(ran.code, 0u) << ran.err;
  const json answer = json::parse(ran.out);
  EXPECT_EQ(answer["courier"], "yuantong");
  EXPECT_EQ(answer["state_text"], "已签收");
  EXPECT_EQ(answer["rows"], json(rows));
  EXPECT_EQ(answer["events"][0]["context"], "已揽收");
  EXPECT_EQ(answer["kept"], false);
  EXPECT_EQ(DwordSetting(L"QueryCount"), 2u);  // detection and query

  // Within the guard: the kept rows, nothing sent, nothing counted.
  ran = RunCompanion({"YT7001"});
  EXPECT_EQ(ran.code, 0u) << ran.err;
  std::string expected;
  for (const auto& row : rows) expected += row + (expected.empty() ? "（刚刚查询）\n" : "\n");
  EXPECT_EQ(ran.out, expected);
  EXPECT_EQ(ServerLog(), (std::vector<std::string>{"/autonumber/auto?num=YT7001&key=***", PollLine("yuantong", "YT7001")}));
  EXPECT_EQ(DwordSetting(L"QueryCount"), 2u);
}

TEST_F(Companion, KeyedNoResultIsAdviceAndAWrongKeyAFailure) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  Ran ran = RunCompanion({"NR8001", "--courier", "极兔", "--json"});
  EXPECT_EQ(ran.code, 1u) << ran.err;
  const json answer = json::parse(ran.out);
  EXPECT_EQ(answer["courier"], "jtexpress");
  EXPECT_EQ(answer["rows"], json({e2e::Narrow(e2e::kNotRecordedAdvice)}));

  ASSERT_TRUE(StoreAccount(kCustomer, "not-the-key"));
  ran = RunCompanion({"YT3002", "--courier", "yuantong", "--json"});
  EXPECT_EQ(ran.code, 2u);
  EXPECT_EQ(ran.out, "");
  EXPECT_NE(ran.err.find("503"), std::string::npos) << ran.err;
}

TEST_F(Companion, OneServiceAskedByName) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  ASSERT_TRUE(StoreKdniaoAccount(kKdniaoId, kKdniaoKey));
  ASSERT_TRUE(e2e::SetBehavior("kdniao:YT7301000000001", "json:" + KdniaoAnswer("YTO", "YT7301000000001", "3",
      {{"2026-12-08 18:00:00", "已签收"}, {"2026-12-08 08:00:00", "已揽收"}})));
  Ran ran = RunCompanion({"YT7301000000001", "--service", "kdniao", "--json"});
  ASSERT_EQ(ran.code, 0u) << ran.err;
  const json answer = json::parse(ran.out);
  EXPECT_EQ(answer["service"], "kdniao");
  EXPECT_EQ(answer["rows"][0], "圆通速递  已签收（快递鸟）");
  EXPECT_EQ(ServerLog(), std::vector<std::string>{KdniaoLine("1002", "YTO", "YT7301000000001")}) << "快递100 was asked";

  // The gateway's refusal of an AppCode, told with its words.
  ASSERT_TRUE(StoreAppCode("not-the-code"));
  ran = RunCompanion({"YT7301000000002", "--service", "appcode"});
  EXPECT_EQ(ran.code, 2u);
  EXPECT_NE(ran.err.find("Invalid AppCode"), std::string::npos) << ran.err;
  EXPECT_EQ(ran.err.find("not-the-code"), std::string::npos) << ran.err;
}

TEST_F(Companion, GuessesBestFirstWithoutTheNetwork) {
  Ran ran = RunCompanion({"--guess", "1100123456789"});
  EXPECT_EQ(ran.code, 0u) << ran.err;
  EXPECT_EQ(ran.out, "ems\tEMS\nyouzhengguonei\t邮政快递包裹\nyunda\t韵达快递\n");
  ran = RunCompanion({"--json", "--guess", "JT5261988016578"});
  EXPECT_EQ(json::parse(ran.out), json::parse(R"({"number":"JT5261988016578",
      "candidates":[{"courier":"jtexpress","courier_name":"极兔速递","certain":true}]})"));
  EXPECT_EQ(RunCompanion({"--guess", "ABC"}).code, 1u);
  EXPECT_TRUE(ServerLog().empty());
}

TEST_F(Companion, WatchListReadAndLeftAsItWas) {
  Ran ran = RunCompanion({"--watched"});
  EXPECT_EQ(ran.code, 0u);
  EXPECT_EQ(ran.out, "");

  const std::string file = R"({"version":1,"parcels":[
    {"number":"YT2588814371952","carrier":"yuantong","note":"妈妈的快递","state":"0","future":1,
     "events":[{"time":"2026-12-01 08:00:00","context":"已揽收","area":"上海"}],"last_checked":"2026-12-08T09:30:00Z"},
    {"number":"JT0001","carrier":"jtexpress"}]})";
  ASSERT_TRUE(WriteBytes(WatchFilePath(), file));
  ran = RunCompanion({"--watched"});
  EXPECT_EQ(ran.code, 0u) << ran.err;
  EXPECT_EQ(ran.out, "圆通速递  YT2588814371952  妈妈的快递  在途\n极兔速递  JT0001  等待刷新\n");
  ran = RunCompanion({"--json", "--watched"});
  EXPECT_EQ(ran.code, 0u) << ran.err;
  const json parcels = json::parse(ran.out)["parcels"];
  EXPECT_EQ(parcels[0]["last_checked"], "2026-12-08T09:30:00Z");
  EXPECT_EQ(parcels[0]["events"][0]["area"], "上海");
  EXPECT_TRUE(parcels[1]["state"].is_null());
  EXPECT_EQ(ReadBytes(WatchFilePath()), file);

  // Neither a broken file nor one held by another program is touched.
  ASSERT_TRUE(WriteBytes(WatchFilePath(), "{broken"));
  EXPECT_EQ(RunCompanion({"--watched"}).code, 2u);
  {
    e2e::UniqueHandle held(::CreateFileW(WatchFilePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
    ran = RunCompanion({"--watched"});
    EXPECT_EQ(ran.code, 2u);
    EXPECT_NE(ran.err.find("占用"), std::string::npos) << ran.err;
  }
  EXPECT_EQ(ReadBytes(WatchFilePath()), "{broken");
  EXPECT_EQ(WatchFolderFiles(), std::vector<std::wstring>{L"watch.json"});
}

}  // namespace
}  // namespace desk

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  e2e::WinsockSession winsock;
  if (!winsock.ready() || e2e::GetSettings().quenzil_exe.empty()) {
    std::fprintf(stderr, "no Winsock, or QUENZIL_E2E_EXE is not set\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
