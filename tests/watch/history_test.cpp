#include "watch/history.h"
#include "platform/history_file_store.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_store.h"
#include "support/unique_folder.h"

namespace quenzil {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string Repeat(std::string_view text, std::size_t times) {
  std::string repeated;
  for (std::size_t i = 0; i < times; ++i) repeated += text;
  return repeated;
}

TEST(HistoryFile, RoundTripKeepsUnknownFieldsAndUnreadEntriesInPlace) {
  const std::string text = R"({"version":1,"owner":"家","entries":[
    {"number":"V0303","carrier":"yuantong","carrier_name":"圆通","first_row":"圆通速递  已签收","phone":"1234",
     "answered":"2026-12-08T09:30:00Z","keyed":true,"state":"3","signed":true,"pinned":true,
     "events":[{"time":"2026-12-07 08:00:00","context":"已揽收","area":"上海","status":"揽收","x":1}]},
    {"carrier":"ems"},
    {"number":"SF1","carrier":"shunfeng"},
    {"number":"V0303","carrier":"ems"}]})";
  const History history = ParseHistoryFile(text);
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.entries[0].answered, 1796722200);
  ASSERT_EQ(history.unread.size(), 2u);
  const std::string written = SerializeHistoryFile(history);
  EXPECT_EQ(Json::parse(written), Json::parse(text));
  EXPECT_EQ(SerializeHistoryFile(ParseHistoryFile(written)), written);
}

TEST(HistoryFile, FilesThatAreNoHistoryAreRefusedAsTheWatchListsAre) {
  for (const char* text : {"[]", R"({"version":2})", R"({"entries":{}})"}) {
    EXPECT_THROW(ParseHistoryFile(text), HistoryFileError) << text;
  }
  EXPECT_EQ(ParseHistoryFile(R"({"entries":[{"number":"1","carrier":"ems"}]})").entries.size(), 1u) << "no version";
}

TEST(HistoryFile, EntriesThatCannotBeReadStayUnreadAtTheirPlace) {
  std::vector<std::string> bad = {"7", R"({"number":"1"})", R"({"number":"","carrier":"ems"})",
                                  R"({"number":"1","carrier":"ems","events":[{"time":"t"},7]})",
                                  R"({"number":"SF1","carrier":"ems"})"};  // a second entry of the number
  for (const char* field : {"number", "carrier", "carrier_name", "first_row", "phone", "answered", "keyed", "state",
                            "signed", "events"}) {
    Json entry = {{"number", "1"}, {"carrier", "ems"}};
    entry[field] = std::string(field) == "keyed" || std::string(field) == "signed" ? Json("yes") : Json({{"x", 1}});
    bad.push_back(entry.dump());
  }
  for (const std::string& entry : bad) {
    const std::string text = R"({"entries":[{"number":"SF1","carrier":"shunfeng"},)" + entry +
                             R"(,{"number":"2","carrier":"yunda"}]})";
    const History history = ParseHistoryFile(text);
    ASSERT_EQ(history.entries.size(), 2u) << entry;
    ASSERT_EQ(history.unread.size(), 1u) << entry;
    EXPECT_EQ(history.unread[0].position, 1u) << entry;
    EXPECT_EQ(Json::parse(SerializeHistoryFile(history))["entries"], Json::parse(text)["entries"]) << entry;
  }
}

TEST(HistoryFile, RecordPutsTheEntryFirstOncePerNumberWithinTheLimits) {
  History history = ParseHistoryFile(R"({"entries":[
    {"number":"A1","carrier":"ems","first_row":"old","pinned":true,"colour":"red"}, 7, {"number":"B2","carrier":"ems"}]})");
  RecordEntry(history, {.number = "A1", .carrier = "yunda", .unknown = {{"colour", R"("colour":"blue")"}}});
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.entries[0].carrier + history.entries[0].first_row, "yunda");
  EXPECT_EQ(history.entries[0].unknown,
            (KeptFields{{"colour", R"("colour":"blue")"}, {"pinned", R"("pinned":true)"}}));
  EXPECT_EQ(Json::parse(SerializeHistoryFile(history))["entries"][1], 7) << "the unread entry keeps its place";

  for (std::size_t i = 0; i < kMaxHistory; ++i) RecordEntry(history, {.number = "N" + std::to_string(i), .carrier = "ems"});
  ASSERT_EQ(history.entries.size(), 20u);
  EXPECT_EQ(history.entries.front().number, "N" + std::to_string(kMaxHistory - 1));
  EXPECT_EQ(history.entries.back().number, "N0");
  // A file of more (written by hand) is read as far as the limit; the rest stays unread.
  Json entries = Json::parse(SerializeHistoryFile(history))["entries"];
  entries.push_back({{"number", "X"}, {"carrier", "ems"}});
  const History read = ParseHistoryFile(Json{{"entries", entries}}.dump());
  EXPECT_EQ(read.entries.size(), kMaxHistory);
  EXPECT_EQ(read.unread.size(), history.unread.size() + 1);

  HistoryEntry talkative{.number = "T1", .carrier = "ems"};
  for (std::size_t i = 0; i < kMaxEvents + 1; ++i) talkative.events.push_back({std::to_string(i), "e"});
  RecordEntry(history, talkative);
  ASSERT_EQ(history.entries[0].events.size(), kMaxEvents);
  EXPECT_EQ(history.entries[0].events.front().time, "1");
}

TEST(RecentLabel, CarrierNumberAndStateOrFirstRowWithinTheMenuWidth) {
  const std::string digits = Repeat("0123456789", 7);
  const struct {
    HistoryEntry entry;
    std::string label;
  } cases[] = {
      {{.number = "V0303", .carrier = "yuantong", .keyed = true, .state = "3"}, "圆通速递 V0303 已签收"},
      {{.number = "V0303", .carrier = "yuantong", .first_row = "在途", .keyed = true}, "圆通速递 V0303"},
      {{.number = "268", .carrier = "shentong", .first_row = "申通快递  在途"}, "申通快递 268 申通快递  在途"},
      {{.number = "1", .carrier = "xyz"}, "xyz 1"},
      {{.number = "1\t2", .carrier = "xyz", .carrier_name = "A\nB"}, "A B 1 2"},
      {{.number = "1", .carrier = "ems", .first_row = Repeat("中", 24)}, "EMS 1 " + Repeat("中", 24)},
      {{.number = "1", .carrier = "ems", .first_row = Repeat("\xF0\x9D\x84\x9E", 25)},
       "EMS 1 " + Repeat("\xF0\x9D\x84\x9E", 23) + "…"},
      {{.number = "1", .carrier = "ems", .first_row = "a\tb\r\nc\x7F"}, "EMS 1 a b  c "},
      {{.number = "1&2", .carrier = "xyz", .carrier_name = "A&B", .first_row = "&"}, "A&&B 1&&2 &&"},
      // The number gives way first: 3 + 1 + 57 + 1 + 2 characters.
      {{.number = digits, .carrier = "ems", .keyed = true, .state = "0"}, "EMS " + digits.substr(0, 56) + "… 在途"},
      // Room for eight characters of the number, just.
      {{.number = digits, .carrier = "xyz", .carrier_name = Repeat("长", 52), .keyed = true, .state = "0"},
       Repeat("长", 52) + " 0123456… 在途"},
      // One more and the number has no room: the line is cut, or fits whole.
      {{.number = digits, .carrier = "xyz", .carrier_name = Repeat("长", 53), .keyed = true, .state = "0"},
       Repeat("长", 53) + " 012345678…"},
      {{.number = "V0303", .carrier = "xyz", .carrier_name = Repeat("长", 55), .keyed = true, .state = "0"},
       Repeat("长", 55) + " V0303 在途"},
      // A name too long to leave the number room: the whole line is cut.
      {{.number = "V0303", .carrier = "xyz", .carrier_name = Repeat("长", 60), .keyed = true, .state = "0"},
       Repeat("长", 60) + " V0…"},
  };
  for (const auto& test : cases) EXPECT_EQ(RecentLabel(test.entry), test.label) << test.entry.number;
}

class HistoryStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = UniqueTestFolder(u8"quenzil-历史");
    const std::u8string text = (folder_ / "sub" / "history.json").u8string();
    path_.assign(text.begin(), text.end());
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
  std::string path_;
};

TEST_F(HistoryStoreTest, UpdateReadsChangesAndWritesAndOnlyAFileThatIsNotJsonIsMovedAside) {
  HistoryFileStore store(path_);
  EXPECT_TRUE(store.Load().entries.empty());
  ASSERT_TRUE(store.Update([](History& history) { RecordEntry(history, {.number = "V0303", .carrier = "ems"}); }));
  ASSERT_TRUE(store.Update([](History& history) { RecordEntry(history, {.number = "SF1", .carrier = "ems"}); }));
  EXPECT_EQ(store.Load().entries.size(), 2u);

  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path_, R"({"version":7})", &error)) << error;
  EXPECT_TRUE(store.Load().entries.empty());
  EXPECT_FALSE(store.Update([](History&) {})) << "another version is not written over";
  EXPECT_EQ(ReadWholeFile(path_).bytes, R"({"version":7})") << "nor moved aside";
  ASSERT_TRUE(ReplaceFileAtomically(path_, "{", &error)) << error;
  ASSERT_TRUE(store.Update([](History& history) { EXPECT_TRUE(history.entries.empty()); }));
  EXPECT_EQ(ReadWholeFile(path_).bytes, SerializeHistoryFile({}));
  int aside = 0;
  for (const auto& file : fs::directory_iterator(folder_ / "sub")) {
    aside += file.path().filename().string().starts_with("history.json.unreadable-") && ReadWholeFile(file.path().string()).bytes == "{";
  }
  EXPECT_EQ(aside, 1) << "the broken file is kept beside";
}

TEST_F(HistoryStoreTest, OneHolderOfTheLockAtATimeAndUpdateDoesNotWaitForever) {
  std::promise<void> taken, release;
  std::thread other([&] {
    const FileLock lock(path_);
    EXPECT_TRUE(lock.held());
    taken.set_value();
    release.get_future().wait();
  });
  taken.get_future().wait();
  EXPECT_FALSE(FileLock(path_, std::chrono::milliseconds{50}).held());
  EXPECT_TRUE(HistoryFileStore(path_).Update([](History& history) {
    RecordEntry(history, {.number = "V0303", .carrier = "ems"});
  }));
  release.set_value();
  other.join();
  EXPECT_TRUE(FileLock(path_, std::chrono::milliseconds{0}).held());
  EXPECT_EQ(HistoryFileStore(path_).Load().entries.size(), 1u);
}

}  // namespace
}  // namespace quenzil
