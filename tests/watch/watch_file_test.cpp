#include "watch/watch_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "watch/file_store.h"

namespace quenzil {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

TEST(IsoTime, KnownMomentsAndRefusals) {
  EXPECT_EQ(IsoUtc(1796722200), "2026-12-08T09:30:00Z");
  EXPECT_EQ(ParseIsoUtc("2024-02-29T23:59:59Z"), 1709251199);
  for (UnixSeconds t = 1; t < 5'000'000'000; t += 86'399'999) EXPECT_EQ(ParseIsoUtc(IsoUtc(t)), t);
  for (const char* bad : {"", "2026-12-08 09:30:00Z", "2026-12-08T09:30:00", "2023-02-29T00:00:00Z",
                          "2026-13-01T00:00:00Z", "2026-12-08T24:00:00Z", "2026-1a-08T09:30:00Z"}) {
    EXPECT_EQ(ParseIsoUtc(bad), 0) << bad;
  }
}

TEST(WatchFile, RoundTripKeepsEveryFieldAndTheUnknownOnes) {
  const std::string text = R"({"version":1,"theme":{"dark":true},"parcels":[
    {"number":"V0303","carrier":"yuantong","carrier_name":"圆通","phone":"1234","note":"书 & 笔",
     "state":"3","signed":true,"events":[{"time":"2026-12-07 08:00:00","context":"已揽收",
     "area":"上海","status":"揽收"}],"added":"2026-12-01T00:00:00Z",
     "last_checked":"2026-12-08T09:30:00Z","last_changed":"2026-12-07T10:00:00Z",
     "last_problem":"超时","colour":"red","tags":[1,2]},
    {"number":"SF1","carrier":"shunfeng"}]})";
  const WatchList list = ParseWatchFile(text);
  ASSERT_EQ(list.parcels.size(), 2u);
  const WatchedParcel& full = list.parcels[0];
  EXPECT_EQ(full.carrier_name, "圆通");
  EXPECT_EQ(full.phone, "1234");
  EXPECT_EQ(full.note, "书 & 笔");
  EXPECT_TRUE(full.signed_for);
  EXPECT_EQ(full.events, (std::vector<TrackingEvent>{{"2026-12-07 08:00:00", "已揽收", "上海", "揽收"}}));
  EXPECT_EQ(full.last_checked, 1796722200);
  EXPECT_EQ(full.last_problem, "超时");

  // A minimal entry is a valid, never fetched one.
  const WatchedParcel& minimal = list.parcels[1];
  EXPECT_FALSE(minimal.fetched());
  EXPECT_FALSE(minimal.answered());
  EXPECT_EQ(minimal.added, 0);

  const std::string written = SerializeWatchFile(list);
  EXPECT_EQ(json::parse(written), json::parse(text));
  EXPECT_EQ(SerializeWatchFile(ParseWatchFile(written)), written);
}

TEST(WatchFile, BrokenFilesAreRefused) {
  for (const std::string& text : std::vector<std::string>{
           "", "not json", R"({"version":1,"parcels":[)", "[]", R"({"parcels":[]})",
           R"({"version":2,"parcels":[]})", R"({"version":"1","parcels":[]})",
           R"({"version":1.0,"parcels":[]})", R"({"version":1,"parcels":{}})",
           R"({"version":1,"parcels":[7]})", R"({"version":1,"parcels":[{"number":"1"}]})",
           R"({"version":1,"parcels":[{"number":"","carrier":"ems"}]})",
           R"({"version":1,"parcels":[{"number":1,"carrier":"ems"}]})",
           R"({"version":1,"parcels":[{"number":"1","carrier":"ems","signed":"yes"}]})",
           R"({"version":1,"parcels":[{"number":"1","carrier":"ems","events":{}}]})",
           R"({"version":1,"parcels":[{"number":"1","carrier":"ems","events":["x"]}]})",
           R"({"version":1,"parcels":[{"number":"1","carrier":"ems","added":5}]})",
           R"({"version":1,"x":)" + std::string(100000, '[') + std::string(100000, ']') + "}",
       }) {
    EXPECT_THROW(ParseWatchFile(text), WatchFileError) << text.substr(0, 80);
  }
}

TEST(WatchFile, DuplicatesCollapseAndBadUtf8DoesNotStopASave) {
  WatchList list = ParseWatchFile(
      R"({"version":1,"parcels":[{"number":"1","carrier":"ems","note":"a"},{"number":"1","carrier":"ems"}]})");
  ASSERT_EQ(list.parcels.size(), 1u);
  list.parcels[0].note = "bad \xFF byte";
  EXPECT_EQ(ParseWatchFile(SerializeWatchFile(list)).parcels[0].note, "bad \xEF\xBF\xBD byte");
}

class FileStore : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / fs::path(u8"quenzil-关注-");
    folder_ += testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string Utf8(const fs::path& path) const {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
  }
  fs::path folder_;
};

TEST_F(FileStore, ReplaceCreatesFoldersAndLeavesNoTemporaryFile) {
  const std::string path = Utf8(folder_ / fs::path(u8"深") / "watch.json");
  EXPECT_FALSE(ReadWholeFile(path).exists);
  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path, "first", &error)) << error;
  ASSERT_TRUE(ReplaceFileAtomically(path, std::string(300000, 'x'), &error)) << error;
  const FileRead read = ReadWholeFile(path);
  EXPECT_TRUE(read.exists && read.ok);
  EXPECT_EQ(read.bytes, std::string(300000, 'x'));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / fs::path(u8"深")), fs::directory_iterator()), 1);
}

TEST_F(FileStore, MoveAsideKeepsEveryUnreadableFile) {
  const std::string path = Utf8(folder_ / "watch.json");
  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path, "one", &error)) << error;
  const std::optional<std::string> first = MoveAside(path);
  ASSERT_TRUE(ReplaceFileAtomically(path, "two", &error)) << error;
  const std::optional<std::string> second = MoveAside(path);
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_EQ(first->rfind(path + ".unreadable-", 0), 0u);
  EXPECT_EQ(ReadWholeFile(*first).bytes, "one");
  EXPECT_EQ(ReadWholeFile(*second).bytes, "two");
  EXPECT_FALSE(ReadWholeFile(path).exists);
  EXPECT_FALSE(MoveAside(path));
}

}  // namespace
}  // namespace quenzil
