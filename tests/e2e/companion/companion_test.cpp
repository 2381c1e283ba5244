// quenzilc.exe end to end: exit codes, plain and JSON output through pipes,
// detection, the requery guard and the count, and the watch list left as it
// was. Each test starts from no account, no files in the program's folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "desktop_support.h"
#include "expected_texts.h"

namespace desk {
namespace {

using e2e::Widen;
using nlohmann::json;

constexpr char kUsageHead[] = "用法：";

struct Ran {
  DWORD code = 0xFFFF;
  std::string out;
  std::string err;
};

void Drain(HANDLE pipe, std::string& into) {
  DWORD available = 0;
  char buffer[4096];
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD got = 0;
    if (!::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) return;
    into.append(buffer, got);
  }
}

// Runs the companion with its output and errors in pipes, read as they
// come; ended after the limit.
Ran RunCompanion(const std::vector<std::string>& arguments, Millis limit = 30s) {
  Ran ran;
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  e2e::UniqueHandle pipes[2][2];  // [out, err][read, write]
  for (auto& pipe : pipes) {
    if (!::CreatePipe(pipe[0].put(), pipe[1].put(), &inherit, 1 << 20) ||
        !::SetHandleInformation(pipe[0].get(), HANDLE_FLAG_INHERIT, 0)) {
      ADD_FAILURE() << "CreatePipe failed: " << ::GetLastError();
      return ran;
    }
  }
  std::wstring command = L"\"" + e2e::GetSettings().quenzil_exe + L"\"";
  for (const auto& word : arguments) command += L" \"" + Widen(word) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = pipes[0][1].get();
  startup.hStdError = pipes[1][1].get();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "cannot start quenzilc.exe: " << ::GetLastError();
    return ran;
  }
  e2e::UniqueHandle owned_process(process.hProcess), owned_thread(process.hThread);
  pipes[0][1].reset();
  pipes[1][1].reset();
  const bool ended = e2e::WaitUntil([&] {
    Drain(pipes[0][0].get(), ran.out);
    Drain(pipes[1][0].get(), ran.err);
    return ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
  }, limit);
  Drain(pipes[0][0].get(), ran.out);
  Drain(pipes[1][0].get(), ran.err);
  if (!ended) {
    ::TerminateProcess(process.hProcess, 99);
    ::WaitForSingleObject(process.hProcess, 5000);
    ADD_FAILURE() << "quenzilc.exe still runs after " << limit.count() << " ms";
  }
  ::GetExitCodeProcess(process.hProcess, &ran.code);
  return ran;
}

std::string Lines(const std::vector<std::wstring>& rows) {
  std::string text;
  for (const auto& row : rows) text += e2e::Narrow(row) + "\n";
  return text;
}

std::optional<DWORD> QueryCount() {
  const auto value = ReadSetting(L"QueryCount");
  if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) return std::nullopt;
  DWORD count = 0;
  std::memcpy(&count, value->bytes.data(), sizeof count);
  return count;
}

class Companion : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(e2e::ResetServer());
    Clean();
    MarkLogStart();
  }
  void TearDown() override { Clean(); }
  static void Clean() {
    ClearSettings();
    ClearWatchFolder();
  }
};

TEST_F(Companion, HelpAndBadArgumentsTable) {
  const struct {
    std::vector<std::string> arguments;
    DWORD code;
    std::string err_part;  // in the first line; empty: the usage on standard output
  } cases[] = {
      {{"--help"}, 0, ""},
      {{"-h"}, 0, ""},
      {{"/?"}, 0, ""},
      {{"--bogus"}, 3, "未知的选项：--bogus"},
      {{"YT1", "--courier"}, 3, "选项 --courier 缺少取值"},
      {{"\xE3\x80\x80"}, 3, "请输入快递单号"},
      {{"YT1"}, 3, "无法自动识别快递公司"},
      {{"YT1", "--courier", "jtexpress"}, 3, "--courier 只能是"},
  };
  for (const auto& row : cases) {
    const Ran ran = RunCompanion(row.arguments);
    const std::string& usage = row.err_part.empty() ? ran.out : ran.err;
    EXPECT_EQ(ran.code, row.code) << row.arguments[0];
    EXPECT_EQ((row.err_part.empty() ? ran.err : ran.out), "") << row.arguments[0];
    EXPECT_NE(ran.err.substr(0, ran.err.find('\n')).find(row.err_part), std::string::npos) << ran.err;
    EXPECT_NE(usage.find(kUsageHead), std::string::npos) << usage;
    EXPECT_NE(usage.find("  3  参数不正确\n"), std::string::npos) << usage;
    EXPECT_EQ(usage.find('\r'), std::string::npos);
  }
  EXPECT_TRUE(ServerLog().empty());
}

TEST_F(Companion, OldAddressRowsAndAdvice) {
  ASSERT_TRUE(e2e::SetBehavior("OLD1001", "file:rows3"));
  ASSERT_TRUE(e2e::SetBehavior("OLD1002", "file:marker-notrecorded"));
  Ran ran = RunCompanion({"OLD1001", "--courier", "yuantong"});
  EXPECT_EQ(ran.code, 0u);
  EXPECT_EQ(ran.out, Lines(e2e::kThreeRows));
  EXPECT_EQ(ran.err, "");

  ran = RunCompanion({"--json", "OLD1001", "--courier", "yuantong"});
  EXPECT_EQ(ran.code, 0u);
  const json answer = json::parse(ran.out);
  EXPECT_EQ(answer["number"], "OLD1001");
  EXPECT_EQ(answer["courier"], "yuantong");
  json rows = json::array();
  for (const auto& row : e2e::kThreeRows) rows.push_back(e2e::Narrow(row));
  EXPECT_EQ(answer["rows"], rows);
  EXPECT_TRUE(answer["state"].is_null());
  EXPECT_EQ(answer["kept"], false);

  ran = RunCompanion({"OLD1002", "--courier", "shentong"});
  EXPECT_EQ(ran.code, 1u);
  EXPECT_EQ(ran.out, Lines({e2e::kNotRecordedAdvice}));
}

TEST_F(Companion, DetectionRowsThenTheGuardKeepsThemWithoutSending) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  const std::vector<std::pair<std::string, std::string>> events = {
      {"2026-12-02 09:00:00", "已签收，签收人：本人"}, {"2026-12-01 08:00:00", "已揽收"}};
  ASSERT_TRUE(e2e::SetBehavior("detect:YT7001", R"(json:[{"comCode":"yuantong","name":"圆通速递"}])"));
  ASSERT_TRUE(e2e::SetBehavior("poll:YT7001", "json:" + PollAnswer("yuantong", "YT7001", "3", true, events)));
  const std::vector<std::string> rows = {"圆通速递  已签收", "2026-12-01 08:00:00", "已揽收", "2026-12-02 09:00:00",
                                         "已签收，签收人：本人"};

  Ran ran = RunCompanion({"YT7001", "--json"});
  ASSERT_EQ(ran.code, 0u) << ran.err;
  const json answer = json::parse(ran.out);
  EXPECT_EQ(answer["courier"], "yuantong");
  EXPECT_EQ(answer["courier_name"], "圆通速递");
  EXPECT_EQ(answer["state"], "3");
  EXPECT_EQ(answer["state_text"], "已签收");
  EXPECT_EQ(answer["rows"], json(rows));
  ASSERT_EQ(answer["events"].size(), 2u);
  EXPECT_EQ(answer["events"][0]["context"], "已揽收");
  EXPECT_EQ(answer["kept"], false);
  EXPECT_EQ(LogLinesStartingWith("/autonumber/auto?num=YT7001").size(), 1u);
  EXPECT_EQ(QueryCount(), 2u);

  // Within the guard: the kept rows, nothing sent, nothing counted.
  ran = RunCompanion({"YT7001"});
  EXPECT_EQ(ran.code, 0u) << ran.err;
  std::vector<std::string> kept = rows;
  kept[0] += "（刚刚查询）";
  std::string expected;
  for (const auto& row : kept) expected += row + "\n";
  EXPECT_EQ(ran.out, expected);
  EXPECT_EQ(CountPolls("YT7001"), 1u);
  EXPECT_EQ(LogLinesStartingWith("/autonumber/auto").size(), 1u);
  EXPECT_EQ(QueryCount(), 2u);
}

TEST_F(Companion, KeyedNoResultIsAdvice) {
  ASSERT_TRUE(StoreAccount(kCustomer, kKey));
  const Ran ran = RunCompanion({"NR8001", "--courier", "jtexpress", "--json"});
  EXPECT_EQ(ran.code, 1u) << ran.err;
  const json answer = json::parse(ran.out);
  EXPECT_EQ(answer["courier"], "jtexpress");
  EXPECT_EQ(answer["rows"], json({e2e::Narrow(e2e::kNotRecordedAdvice)}));
  EXPECT_EQ(ServerLog(), std::vector<std::string>{PollLine("jtexpress", "NR8001")});
}

TEST_F(Companion, FailuresOnStandardErrorOnly) {
  ASSERT_TRUE(e2e::SetBehavior("OLD3001", "reset"));
  Ran ran = RunCompanion({"OLD3001", "--courier", "ems"});
  EXPECT_EQ(ran.code, 2u);
  EXPECT_EQ(ran.out, "");
  EXPECT_EQ(ran.err.rfind("查询失败：", 0), 0u) << ran.err;

  ASSERT_TRUE(StoreAccount(kCustomer, "not-the-key"));
  ran = RunCompanion({"YT3002", "--courier", "yuantong", "--json"});
  EXPECT_EQ(ran.code, 2u);
  EXPECT_EQ(ran.out, "");
  EXPECT_NE(ran.err.find("503"), std::string::npos) << ran.err;
  EXPECT_EQ(ran.err.find("not-the-key"), std::string::npos);
}

TEST_F(Companion, WatchListReadAndLeftAsItWas) {
  Ran ran = RunCompanion({"--watched"});
  EXPECT_EQ(ran.code, 0u);
  EXPECT_EQ(ran.out, "");

  const std::string file = R"({"version":1,"parcels":[
    {"number":"YT2588814371952","carrier":"yuantong","note":"妈妈的快递","state":"0","future":1,
     "events":[{"time":"2026-12-01 08:00:00","context":"已揽收","area":"上海","status":"揽收"}],
     "last_checked":"2026-12-08T09:30:00Z"},
    {"number":"JT0001","carrier":"jtexpress"}]})";
  ASSERT_TRUE(WriteBytes(WatchFilePath(), file));
  ran = RunCompanion({"--watched"});
  EXPECT_EQ(ran.code, 0u) << ran.err;
  EXPECT_EQ(ran.out, "圆通速递  YT2588814371952  妈妈的快递  在途\n极兔速递  JT0001  等待刷新\n");

  ran = RunCompanion({"--json", "--watched"});
  EXPECT_EQ(ran.code, 0u) << ran.err;
  const json parcels = json::parse(ran.out)["parcels"];
  ASSERT_EQ(parcels.size(), 2u);
  EXPECT_EQ(parcels[0]["note"], "妈妈的快递");
  EXPECT_EQ(parcels[0]["state_text"], "在途");
  EXPECT_EQ(parcels[0]["last_checked"], "2026-12-08T09:30:00Z");
  EXPECT_EQ(parcels[0]["events"][0]["area"], "上海");
  EXPECT_TRUE(parcels[1]["state"].is_null());
  EXPECT_EQ(ReadBytes(WatchFilePath()), file);

  // Neither a broken file nor one held by another program is touched.
  ASSERT_TRUE(WriteBytes(WatchFilePath(), "{broken"));
  ran = RunCompanion({"--watched"});
  EXPECT_EQ(ran.code, 2u);
  EXPECT_EQ(ran.err.rfind("关注列表文件无法读取", 0), 0u) << ran.err;
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
