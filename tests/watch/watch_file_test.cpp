#include "watch/watch_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "watch/file_store.h"
#include "watch/watch_store.h"

#ifdef _WIN32
#include <windows.h>

#include "common/utf.h"
#endif

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
     "area":"上海","status":"揽收","courier":{"name":"王"}}],"added":"2026-12-01T00:00:00Z",
     "last_checked":"2026-12-08T09:30:00Z","last_changed":"2026-12-07T10:00:00Z",
     "last_problem":"超时","colour":"red","tags":[1,2]},
    {"number":"SF1","carrier":"shunfeng"}]})";
  const WatchList list = ParseWatchFile(text);
  ASSERT_EQ(list.parcels.size(), 2u);
  EXPECT_TRUE(list.unread.empty());
  const WatchedParcel& full = list.parcels[0];
  EXPECT_EQ(full.carrier_name, "圆通");
  EXPECT_EQ(full.phone, "1234");
  EXPECT_EQ(full.note, "书 & 笔");
  EXPECT_TRUE(full.signed_for);
  TrackingEvent picked{"2026-12-07 08:00:00", "已揽收", "上海", "揽收"};
  picked.unknown["courier"] = {{"name", "王"}};
  EXPECT_EQ(full.events, std::vector<TrackingEvent>{picked});
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

TEST(WatchFile, FilesThatAreNoWatchListAreRefused) {
  for (const std::string& text : std::vector<std::string>{
           "", "not json", R"({"version":1,"parcels":[)", "[]", "7", R"({"version":"1","parcels":[]})",
           R"({"version":1.0,"parcels":[]})", R"({"version":null})", R"({"version":1,"parcels":{}})",
           R"({"version":1,"parcels":null})",
           R"({"version":1,"x":)" + std::string(100000, '[') + std::string(100000, ']') + "}",
           R"({"version":1,"x":)" + std::string(64, '[') + std::string(64, ']') + "}",
       }) {
    try {
      ParseWatchFile(text);
      ADD_FAILURE() << "taken: " << text.substr(0, 80);
    } catch (const WatchFileVersionError&) {
      ADD_FAILURE() << "taken for a newer version: " << text.substr(0, 80);
    } catch (const WatchFileError&) {
    }
  }
  // A newer program's file, told apart so that it is left alone.
  for (const char* text : {R"({"version":2,"parcels":[]})", R"({"version":0})", R"({"version":-1})",
                           R"({"version":18446744073709551615})"}) {
    EXPECT_THROW(ParseWatchFile(text), WatchFileVersionError) << text;
  }
  // Without a version it is one.
  EXPECT_EQ(ParseWatchFile(R"({"parcels":[{"number":"1","carrier":"ems"}]})").parcels.size(), 1u);
  EXPECT_TRUE(ParseWatchFile(R"({"version":1})").parcels.empty());
  EXPECT_EQ(ParseWatchFile(R"({"version":1,"x":)" + std::string(63, '[') + std::string(63, ']') + "}").unknown.size(),
            1u);
}

TEST(WatchFile, EntriesThatCannotBeReadStayUnreadAtTheirPlace) {
  for (const std::string& bad : std::vector<std::string>{
           "7", R"("V0303")", "null", "[]", R"({})", R"({"number":"1"})", R"({"carrier":"ems"})",
           R"({"number":"","carrier":"ems"})", R"({"number":"1","carrier":""})",
           R"({"number":1,"carrier":"ems"})", R"({"number":"1","carrier":["ems"]})",
           R"({"number":"1","carrier":"ems","note":null})", R"({"number":"1","carrier":"ems","signed":"yes"})",
           R"({"number":"1","carrier":"ems","needs_phone":1})", R"({"number":"1","carrier":"ems","events":{}})",
           R"({"number":"1","carrier":"ems","events":["x"]})",
           R"({"number":"1","carrier":"ems","events":[{"time":"t","context":5}]})",
           R"({"number":"1","carrier":"ems","events":[{"time":"t","context":"c"},{"area":false}]})",
           R"({"number":"1","carrier":"ems","added":5})", R"({"number":"1","carrier":"ems","failures":-1})",
           R"({"number":"1","carrier":"ems","failures":"2"})",
           R"({"number":"1","carrier":"ems","failures":1.5})",
           // A second copy of the first entry.
           R"({"number":"SF1","carrier":"shunfeng","note":"copy"})",
       }) {
    const std::string text = R"({"version":1,"parcels":[{"number":"SF1","carrier":"shunfeng"},)" + bad +
                             R"(,{"number":"1","carrier":"yunda"}]})";
    const WatchList list = ParseWatchFile(text);
    ASSERT_EQ(list.parcels.size(), 2u) << bad;
    EXPECT_EQ(list.parcels[0].number, "SF1") << bad;
    ASSERT_EQ(list.unread.size(), 1u) << bad;
    EXPECT_EQ(list.unread[0].position, 1u) << bad;
    EXPECT_EQ(json::parse(SerializeWatchFile(list)), json::parse(text)) << bad;
  }
  // The same number with another carrier is another parcel.
  EXPECT_EQ(ParseWatchFile(R"({"parcels":[{"number":"1","carrier":"ems"},{"number":"1","carrier":"yunda"}]})")
                .parcels.size(),
            2u);
}

TEST(WatchFile, EntriesPastTheLimitStayUnreadAndUnreadOnesGoBackInOrder) {
  json parcels = json::array();
  parcels.push_back("broken");
  for (std::size_t i = 0; i < kMaxWatched + 3; ++i) {
    parcels.push_back({{"number", std::to_string(i)}, {"carrier", "ems"}});
  }
  const json document = {{"version", 1}, {"parcels", parcels}};
  WatchList list = ParseWatchFile(document.dump());
  ASSERT_EQ(list.parcels.size(), kMaxWatched);
  ASSERT_EQ(list.unread.size(), 4u);
  EXPECT_EQ(list.unread[0].position, 0u);
  EXPECT_EQ(list.unread[1].position, kMaxWatched + 1);
  EXPECT_EQ(list.unread[3].value, parcels.back());
  EXPECT_EQ(json::parse(SerializeWatchFile(list)), document);

  // After removals an unread entry goes back at its place or at the end,
  // in position order whatever the order of the list.
  WatchList shrunk;
  shrunk.parcels = {{.number = "a", .carrier = "ems"}, {.number = "b", .carrier = "ems"}};
  shrunk.unread = {{7, "late"}, {0, "first"}, {2, "middle"}};
  EXPECT_EQ(json::parse(SerializeWatchFile(shrunk))["parcels"],
            json::parse(R"(["first",{"number":"a","carrier":"ems"},"middle",{"number":"b","carrier":"ems"},"late"])"));
}

TEST(WatchFile, BadUtf8DoesNotStopASave) {
  WatchList list = ParseWatchFile(R"({"version":1,"parcels":[{"number":"1","carrier":"ems","note":"a"}]})");
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

// The names in the folder, sorted.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  std::sort(names.begin(), names.end());
  return names;
}

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

TEST_F(FileStore, ReadStopsAtTheLimitWithoutReadingMore) {
  const std::string path = Utf8(folder_ / "watch.json");
  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path, "0123456789", &error)) << error;
  EXPECT_TRUE(ReadWholeFile(path, 10).ok);
  const FileRead big = ReadWholeFile(path, 9);
  EXPECT_TRUE(big.exists && big.too_large);
  EXPECT_FALSE(big.ok || big.busy);
  EXPECT_TRUE(big.bytes.empty());
}

TEST_F(FileStore, WatchStoreKeepsEveryFileItCannotTakeWhole) {
  const std::string path = Utf8(folder_ / "watch.json");
  WatchList one;
  one.parcels.push_back({.number = "SF1", .carrier = "shunfeng"});
  std::string error;

  {  // No file: an empty list, written only once the missing file was seen.
    WatchFileStore store(path);
    EXPECT_FALSE(store.Save(one)) << "written before the file was read";
    const WatchStore::Loaded loaded = store.Load();
    EXPECT_TRUE(loaded.list.parcels.empty());
    EXPECT_FALSE(loaded.moved_aside || loaded.busy || loaded.newer_version);
    EXPECT_TRUE(store.Save(one));
  }
  {  // A bad entry stays in the file; the others are read.
    const std::string text = R"({"version":1,"parcels":[7,{"number":"SF1","carrier":"shunfeng"}]})";
    ASSERT_TRUE(ReplaceFileAtomically(path, text, &error)) << error;
    WatchFileStore store(path);
    WatchStore::Loaded loaded = store.Load();
    EXPECT_FALSE(loaded.moved_aside);
    ASSERT_EQ(loaded.list.parcels.size(), 1u);
    loaded.list.parcels.push_back({.number = "V0303", .carrier = "yuantong"});
    ASSERT_TRUE(store.Save(loaded.list));
    EXPECT_EQ(json::parse(ReadWholeFile(path).bytes)["parcels"][0], 7);
    EXPECT_EQ(Names(folder_), std::vector<std::string>{"watch.json"});
  }
  {  // A newer program's file is neither moved nor written.
    const std::string text = R"({"version":2,"parcels":[{"number":"SF1","carrier":"shunfeng"}]})";
    ASSERT_TRUE(ReplaceFileAtomically(path, text, &error)) << error;
    WatchFileStore store(path);
    const WatchStore::Loaded loaded = store.Load();
    EXPECT_TRUE(loaded.newer_version);
    EXPECT_FALSE(loaded.moved_aside || loaded.busy);
    EXPECT_FALSE(store.Save(one));
    EXPECT_EQ(ReadWholeFile(path).bytes, text);
  }
  // Not a watch list, or too large to read: moved aside, a new list begins.
  for (const std::string& text : {std::string("{\"version\":1,\"parcels\":"),
                                   std::string(kMaxStoredFileBytes + 1, ' ')}) {
    fs::remove_all(folder_);
    ASSERT_TRUE(ReplaceFileAtomically(path, text, &error)) << error;
    WatchFileStore store(path);
    const WatchStore::Loaded loaded = store.Load();
    ASSERT_TRUE(loaded.moved_aside && !loaded.moved_aside->empty()) << text.size();
    EXPECT_EQ(ReadWholeFile(*loaded.moved_aside, text.size()).bytes, text);
    EXPECT_TRUE(store.Save(one));
    EXPECT_EQ(ParseWatchFile(ReadWholeFile(path).bytes).parcels.size(), 1u);
  }
}

#ifdef _WIN32
// Another program holds the file (a virus scanner, a backup tool): busy, and
// nothing is moved or written until it lets go.
TEST_F(FileStore, AFileOpenedWithoutSharingIsBusyNotBroken) {
  const std::string path = Utf8(folder_ / "watch.json");
  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path, R"({"parcels":[{"number":"1","carrier":"ems"}]})", &error)) << error;
  const HANDLE held = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const FileRead read = ReadWholeFile(path);
  EXPECT_TRUE(read.exists && read.busy) << read.error;
  EXPECT_FALSE(read.ok || read.too_large);
  WatchFileStore store(path);
  const WatchStore::Loaded loaded = store.Load();
  EXPECT_TRUE(loaded.busy);
  EXPECT_FALSE(loaded.moved_aside || loaded.newer_version);
  EXPECT_FALSE(store.Save(WatchList{}));
  ::CloseHandle(held);

  const WatchStore::Loaded again = store.Load();
  EXPECT_FALSE(again.busy);
  EXPECT_EQ(again.list.parcels.size(), 1u);
  EXPECT_TRUE(store.Save(again.list));
  EXPECT_EQ(Names(folder_), std::vector<std::string>{"watch.json"});
}
#endif

}  // namespace
}  // namespace quenzil
