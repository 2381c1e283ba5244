#include "watch/history.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "watch/file_store.h"

namespace quenzil {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Repeat(std::string_view text, std::size_t times) {
  std::string repeated;
  for (std::size_t i = 0; i < times; ++i) repeated += text;
  return repeated;
}

HistoryEntry Entry(std::string number, std::string carrier = "yuantong") {
  HistoryEntry entry;
  entry.number = std::move(number);
  entry.carrier = std::move(carrier);
  return entry;
}

TEST(HistoryFile, RoundTripKeepsUnknownFieldsAndUnreadEntriesInPlace) {
  const std::string text = R"({"version":1,"owner":"家","entries":[
    {"number":"V0303","carrier":"yuantong","carrier_name":"圆通","first_row":"圆通速递  已签收",
     "phone":"1234","answered":"2026-12-08T09:30:00Z","keyed":true,"state":"3","signed":true,
     "events":[{"time":"2026-12-07 08:00:00","context":"已揽收","area":"上海","status":"揽收","x":1}],
     "pinned":true},
    {"carrier":"ems"},
    {"number":"SF1","carrier":"shunfeng","first_row":"顺丰速运  在途"},
    {"number":"V0303","carrier":"ems"}]})";
  const History history = ParseHistoryFile(text);
  ASSERT_EQ(history.entries.size(), 2u);
  const HistoryEntry& keyed = history.entries[0];
  EXPECT_EQ(keyed.carrier_name, "圆通");
  EXPECT_EQ(keyed.first_row, "圆通速递  已签收");
  EXPECT_EQ(keyed.phone, "1234");
  EXPECT_EQ(keyed.answered, 1796722200);
  EXPECT_TRUE(keyed.keyed && keyed.signed_for);
  EXPECT_EQ(keyed.state, "3");
  ASSERT_EQ(keyed.events.size(), 1u);
  EXPECT_EQ(keyed.events[0].unknown, json({{"x", 1}}));
  EXPECT_EQ(keyed.unknown, json({{"pinned", true}}));
  EXPECT_FALSE(history.entries[1].keyed);
  ASSERT_EQ(history.unread.size(), 2u);
  EXPECT_EQ(history.unread[0].position, 1u);
  EXPECT_EQ(history.unread[1].position, 3u);

  const std::string written = SerializeHistoryFile(history);
  EXPECT_EQ(json::parse(written), json::parse(text));
  EXPECT_EQ(SerializeHistoryFile(ParseHistoryFile(written)), written);
}

TEST(HistoryFile, FilesThatAreNoHistoryAreRefused) {
  for (const std::string& text : std::vector<std::string>{
           "", "not json", R"({"entries":[)", "[]", "null", R"({"version":2,"entries":[]})",
           R"({"version":0})", R"({"version":"1"})", R"({"version":1.0})", R"({"version":1,"entries":{}})",
           R"({"entries":"V0303"})",
           R"({"x":)" + std::string(64, '[') + std::string(64, ']') + "}",
           R"({"entries":[],"x":")" + std::string(kMaxStoredFileBytes, ' ') + "\"}",
       }) {
    EXPECT_THROW(ParseHistoryFile(text), HistoryFileError) << text.substr(0, 80);
  }
  // Without a version it is one; without entries it is empty.
  EXPECT_EQ(ParseHistoryFile(R"({"entries":[{"number":"1","carrier":"ems"}]})").entries.size(), 1u);
  EXPECT_TRUE(ParseHistoryFile("{}").entries.empty());
  EXPECT_EQ(ParseHistoryFile(R"({"x":)" + std::string(63, '[') + std::string(63, ']') + "}").unknown.size(), 1u);
}

TEST(HistoryFile, EntriesThatCannotBeReadStayUnreadAtTheirPlace) {
  for (const std::string& bad : std::vector<std::string>{
           "7", "null", R"("SF1")", "{}", R"({"number":"1"})", R"({"carrier":"ems"})",
           R"({"number":"","carrier":"ems"})", R"({"number":"1","carrier":""})", R"({"number":1,"carrier":"ems"})",
           R"({"number":"1","carrier":"ems","carrier_name":2})", R"({"number":"1","carrier":"ems","first_row":[]})",
           R"({"number":"1","carrier":"ems","phone":1234})", R"({"number":"1","carrier":"ems","answered":5})",
           R"({"number":"1","carrier":"ems","keyed":"yes"})", R"({"number":"1","carrier":"ems","state":3})",
           R"({"number":"1","carrier":"ems","signed":1})", R"({"number":"1","carrier":"ems","events":{}})",
           R"({"number":"1","carrier":"ems","events":[{"time":"t"},7]})",
           R"({"number":"1","carrier":"ems","events":[{"status":null}]})",
           // A second entry of a number, whatever its carrier.
           R"({"number":"SF1","carrier":"ems"})",
       }) {
    const std::string text = R"({"entries":[{"number":"SF1","carrier":"shunfeng"},)" + bad +
                             R"(,{"number":"2","carrier":"yunda"}]})";
    const History history = ParseHistoryFile(text);
    ASSERT_EQ(history.entries.size(), 2u) << bad;
    ASSERT_EQ(history.unread.size(), 1u) << bad;
    EXPECT_EQ(history.unread[0].position, 1u) << bad;
    EXPECT_EQ(json::parse(SerializeHistoryFile(history))["entries"], json::parse(text)["entries"]) << bad;
  }

  json entries = json::array();
  for (std::size_t i = 0; i < kMaxHistory + 2; ++i) entries.push_back({{"number", std::to_string(i)}, {"carrier", "ems"}});
  const History full = ParseHistoryFile(json({{"entries", entries}}).dump());
  EXPECT_EQ(full.entries.size(), kMaxHistory);
  ASSERT_EQ(full.unread.size(), 2u);
  EXPECT_EQ(full.unread[0].position, kMaxHistory);
}

TEST(HistoryFile, RecordPutsTheEntryFirstOncePerNumberWithinTheLimits) {
  History history = ParseHistoryFile(R"({"entries":[
    {"number":"A1","carrier":"ems","first_row":"old","pinned":true,"colour":"red"},
    7,
    {"number":"B2","carrier":"ems"}]})");
  HistoryEntry again = Entry("A1", "yunda");
  again.first_row = "new";
  again.unknown["colour"] = "blue";
  RecordEntry(history, again);
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.entries[0].carrier, "yunda");
  EXPECT_EQ(history.entries[0].first_row, "new");
  EXPECT_EQ(history.entries[0].unknown, json({{"pinned", true}, {"colour", "blue"}}));

  RecordEntry(history, Entry("B2"));
  EXPECT_EQ(history.entries[0].number, "B2");
  EXPECT_EQ(history.entries[1].number, "A1");
  EXPECT_EQ(json::parse(SerializeHistoryFile(history))["entries"][1], 7) << "the unread entry keeps its place";

  for (int i = 0; i < 30; ++i) RecordEntry(history, Entry("N" + std::to_string(i)));
  ASSERT_EQ(history.entries.size(), kMaxHistory);
  EXPECT_EQ(history.entries.front().number, "N29");
  EXPECT_EQ(history.entries.back().number, "N10");
  EXPECT_EQ(json::parse(SerializeHistoryFile(history))["entries"].size(), kMaxHistory + 1);

  HistoryEntry talkative = Entry("T1");
  for (std::size_t i = 0; i < kMaxEvents + 50; ++i) talkative.events.push_back({std::to_string(i), "e"});
  RecordEntry(history, talkative);
  ASSERT_EQ(history.entries[0].events.size(), kMaxEvents);
  EXPECT_EQ(history.entries[0].events.front().time, "50");
  EXPECT_EQ(history.entries[0].events.back().time, std::to_string(kMaxEvents + 49));
}

TEST(RecentLabel, CarrierNumberAndStateOrFirstRowWithinTheMenuWidth) {
  struct Case {
    HistoryEntry entry;
    std::string label;
  };
  const std::string digits = Repeat("0123456789", 7);
  const auto keyed = [](HistoryEntry entry, std::string state) {
    entry.keyed = true;
    entry.state = std::move(state);
    return entry;
  };
  const auto row = [](HistoryEntry entry, std::string first_row) {
    entry.first_row = std::move(first_row);
    return entry;
  };
  const auto named = [](HistoryEntry entry, std::string name) {
    entry.carrier_name = std::move(name);
    return entry;
  };
  const std::vector<Case> cases = {
      {keyed(Entry("V0303"), "3"), "圆通速递 V0303 已签收"},
      {keyed(Entry("V0303"), "301"), "圆通速递 V0303 301"},
      {keyed(row(Entry("V0303"), "圆通速递  在途"), ""), "圆通速递 V0303"},
      {row(Entry("268", "shentong"), "申通快递  在途"), "申通快递 268 申通快递  在途"},
      {Entry("1", "xyz"), "xyz 1"},
      {row(Entry("1", "ems"), Repeat("中", 24)), "EMS 1 " + Repeat("中", 24)},
      {row(Entry("1", "ems"), Repeat("中", 25)), "EMS 1 " + Repeat("中", 23) + "…"},
      {row(Entry("1", "ems"), Repeat("\xF0\x9D\x84\x9E", 30)), "EMS 1 " + Repeat("\xF0\x9D\x84\x9E", 23) + "…"},
      {row(Entry("1", "ems"), "a\tb\r\nc"), "EMS 1 a b  c"},
      {row(named(Entry("1&2", "xyz"), "A&B"), "&"), "A&&B 1&&2 &&"},
      // The number gives way first: 3 + 1 + 57 + 1 + 2 characters.
      {keyed(Entry(digits, "ems"), "0"), "EMS " + digits.substr(0, 56) + "… 在途"},
      // A name too long to leave the number room: the whole line is cut.
      {keyed(named(Entry("V0303", "xyz"), Repeat("长", 60)), "0"), Repeat("长", 60) + " V0…"},
  };
  for (const Case& test : cases) EXPECT_EQ(RecentLabel(test.entry), test.label) << test.entry.number;
}

class HistoryStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / fs::path(u8"quenzil-历史-");
    folder_ += testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
    const std::u8string text = (folder_ / "sub" / "history.json").u8string();
    path_.assign(text.begin(), text.end());
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
  std::string path_;
};

TEST_F(HistoryStoreTest, UpdateReadsChangesAndWritesAndABrokenFileIsMovedAside) {
  HistoryFileStore store(path_);
  EXPECT_TRUE(store.Load().entries.empty());
  ASSERT_TRUE(store.Update([](History& history) { RecordEntry(history, Entry("V0303")); }));
  ASSERT_TRUE(store.Update([](History& history) { RecordEntry(history, Entry("SF1", "shunfeng")); }));
  const History loaded = store.Load();
  ASSERT_EQ(loaded.entries.size(), 2u);
  EXPECT_EQ(loaded.entries[0].number, "SF1");

  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path_, R"({"version":7})", &error)) << error;
  EXPECT_TRUE(store.Load().entries.empty());
  EXPECT_FALSE(ReadWholeFile(path_).exists) << "not moved aside";
  ASSERT_TRUE(ReplaceFileAtomically(path_, "{", &error)) << error;
  ASSERT_TRUE(store.Update([](History& history) {
    EXPECT_TRUE(history.entries.empty());
    RecordEntry(history, Entry("V0303"));
  }));
  EXPECT_EQ(store.Load().entries.size(), 1u);
  std::size_t aside = 0;
  for (const auto& file : fs::directory_iterator(folder_ / "sub")) {
    if (file.path().filename().u8string().find(u8".unreadable-") != std::u8string::npos) ++aside;
  }
  EXPECT_EQ(aside, 2u);
}

// Holds the lock in a thread of its own until released, as another process would.
class LockElsewhere {
 public:
  explicit LockElsewhere(const std::string& path)
      : thread_([this, path] {
          const FileLock lock(path);
          std::unique_lock<std::mutex> guard(mutex_);
          held_ = lock.held();
          taken_ = true;
          changed_.notify_all();
          changed_.wait(guard, [this] { return released_; });
        }) {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [this] { return taken_; });
  }
  ~LockElsewhere() { Release(); }
  bool held() const { return held_; }
  void Release() {
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      released_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool taken_ = false;
  bool held_ = false;
  bool released_ = false;
  std::thread thread_;
};

TEST_F(HistoryStoreTest, OneHolderOfTheLockAtATimeAndUpdateDoesNotWaitForever) {
  LockElsewhere other(path_);
  ASSERT_TRUE(other.held());
  EXPECT_FALSE(FileLock(path_, std::chrono::milliseconds{50}).held());

  const auto start = std::chrono::steady_clock::now();
  HistoryFileStore store(path_);
  EXPECT_TRUE(store.Update([](History& history) { RecordEntry(history, Entry("V0303")); }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds{10});

  other.Release();
  EXPECT_TRUE(FileLock(path_, std::chrono::milliseconds{0}).held());
  EXPECT_EQ(store.Load().entries.size(), 1u);
}

}  // namespace
}  // namespace quenzil
