#include "watch/watch_file.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "platform/file_store.h"
#include "platform/watch_file_store.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include "common/utf.h"
#endif

namespace quenzil {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Json = nlohmann::json;

// How a file that is no watch list is refused.
enum class Refusal { kNone, kNotJson, kUntouchable, kNewerVersion };
Refusal RefusalOf(const std::string& text) {
  try {
    ParseWatchFile(text);
  } catch (const WatchFileVersionError&) {
    return Refusal::kNewerVersion;
  } catch (const WatchFileUntouchableError&) {
    return Refusal::kUntouchable;
  } catch (const WatchFileError&) {
    return Refusal::kNotJson;
  }
  return Refusal::kNone;
}

TEST(IsoTime, KnownMomentsAndRefusals) {
  EXPECT_EQ(IsoUtc(1796722200), "2026-12-08T09:30:00Z");
  EXPECT_EQ(ParseIsoUtc("2024-02-29T23:59:59Z"), 1709251199);
  EXPECT_EQ(IsoUtc(253402300799) + IsoUtc(253402300800) + IsoUtc(0), "9999-12-31T23:59:59Z") << "four digits of year";
  for (UnixSeconds t = 1; t < 5'000'000'000; t += 86'399'999) EXPECT_EQ(ParseIsoUtc(IsoUtc(t)), t);
  for (const char* bad : {"", "2026-12-08 09:30:00Z", "2026-12-08T09:30:00", "2023-02-29T00:00:00Z",
                          "2026-13-01T00:00:00Z", "2026-12-08T24:00:00Z", "2026-1a-08T09:30:00Z",
                          "1969-12-31T23:59:59Z", "2026-00-10T00:00:00Z", "2026-12-00T00:00:00Z", "2026-12-32T00:00:00Z",
                          "2026-12-08T23:60:00Z", "2026-12-08T23:59:60Z", "2026-12-08T09:30:00+"}) {
    EXPECT_EQ(ParseIsoUtc(bad), 0) << bad;
  }
  for (const std::size_t separator : {4, 7, 10, 13, 16, 19}) {
    std::string iso = "2026-12-08T09:30:00Z", service = "2026-12-08 17:30:00";
    iso[separator] = '0';
    EXPECT_EQ(ParseIsoUtc(iso), 0) << iso;
    if (separator >= service.size()) continue;
    service[separator] = '0';
    EXPECT_EQ(ParseServiceTime(service), 0) << service;
  }
  // The service's event times are Beijing time.
  EXPECT_EQ(ParseServiceTime("2026-12-08 17:30:00"), 1796722200);
  EXPECT_EQ(ParseServiceTime("2026-12-08 17:30"), 1796722200);
  EXPECT_EQ(ParseServiceTime("2026-12-08 17:30:59"), 1796722259);
  for (const char* bad : {"", "2026-12-08T17:30:00", "2026-12-08 17:30:0", "2026-02-30 10:00", "今天 10:00"}) {
    EXPECT_EQ(ParseServiceTime(bad), 0) << bad;
  }
}

TEST(WatchFile, RoundTripKeepsEveryFieldAndTheUnknownOnes) {
  const std::string text = R"({"version":1,"theme":{"dark":true},"parcels":[
    {"number":"V0303","carrier":"yuantong","carrier_name":"圆通","phone":"1234","note":"书 & 笔",
     "state":"3","signed":true,"events":[{"time":"2026-12-07 08:00:00","context":"已揽收",
     "area":"上海","status":"揽收","courier":{"name":"王"}}],"added":"2026-12-01T00:00:00Z",
     "last_checked":"2026-12-08T09:30:00Z","last_changed":"2026-12-07T10:00:00Z",
     "last_problem":"超时","colour":"red","tags":[1,2],"last_answered":"2026-12-08T09:00:00Z","failures":500,
     "failing_since":"2026-12-08T08:00:00Z","needs_phone":true,"put_away":"2026-12-08T09:31:00Z"},
    {"number":"SF1","carrier":"shunfeng"}]})";
  const WatchList list = ParseWatchFile(text);
  ASSERT_EQ(list.parcels.size(), 2u);
  std::string crlf;  // as Notepad saves it
  for (const char character : text) crlf += character == '\n' ? std::string("\r\n") : std::string(1, character);
  EXPECT_EQ(ParseWatchFile(crlf).parcels.size(), 2u);
  const WatchedParcel& full = list.parcels[0];
  EXPECT_EQ(full.carrier_name, "圆通");
  EXPECT_EQ(full.phone, "1234");
  EXPECT_EQ(full.note, "书 & 笔");
  EXPECT_TRUE(full.signed_for);
  EXPECT_EQ(full.events, (std::vector<TrackingEvent>{
                             {"2026-12-07 08:00:00", "已揽收", "上海", "揽收", {{"courier", R"("courier":{"name":"王"})"}}}}));
  EXPECT_EQ(full.last_checked, 1796722200);
  EXPECT_EQ(full.last_problem, "超时");
  EXPECT_EQ(full.put_away, 1796722260);

  // A minimal entry is a valid, never fetched one.
  const WatchedParcel& minimal = list.parcels[1];
  EXPECT_FALSE(minimal.fetched());
  EXPECT_FALSE(minimal.answered());
  EXPECT_EQ(minimal.added, 0);

  const std::string written = SerializeWatchFile(list);
  EXPECT_EQ(Json::parse(written), Json::parse(text));
  EXPECT_EQ(SerializeWatchFile(ParseWatchFile(written)), written);
  EXPECT_EQ(ParseWatchFile(R"({"parcels":[{"number":"1","carrier":"ems","failures":0}]})").parcels.size(), 1u);
  const std::string one_failure = R"({"version":1,"parcels":[{"number":"1","carrier":"ems","failures":1}]})";
  EXPECT_EQ(Json::parse(SerializeWatchFile(ParseWatchFile(one_failure))), Json::parse(one_failure));
}

TEST(WatchFile, OnlyWhatIsNotJsonIsRefusedForGoodJsonOfAnotherShapeIsLeftAlone) {
  const auto nested = [](int depth) { return R"({"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}"; };
  const std::pair<std::string, Refusal> cases[] = {
      {"", Refusal::kNotJson}, {R"({"version":1,"parcels":[)", Refusal::kNotJson},
      {"\xEF\xBB\xBF{\"version\":1} x", Refusal::kNotJson}, {"[]", Refusal::kUntouchable},
      {R"("parcels")", Refusal::kUntouchable}, {R"({"version":"1"})", Refusal::kUntouchable},
      {R"({"version":1.0})", Refusal::kUntouchable}, {R"({"parcels":{}})", Refusal::kUntouchable},
      {R"({"parcels":null})", Refusal::kUntouchable}, {nested(64), Refusal::kUntouchable},
      {R"({"parcels":[{"number":"1","carrier":"ems"}],"parcels":[]})", Refusal::kUntouchable},
      {R"({"version":1,"version":1})", Refusal::kUntouchable},
      {R"({"version":2,"parcels":[]})", Refusal::kNewerVersion}, {R"({"version":0})", Refusal::kNewerVersion},
      {R"({"version":18446744073709551615})", Refusal::kNewerVersion}, {"\xEF\xBB\xBF {\"version\":1}", Refusal::kNone}};
  for (const auto& [text, refusal] : cases) EXPECT_EQ(RefusalOf(text), refusal) << text.substr(0, 80);
  EXPECT_EQ(ParseWatchFile(R"({"parcels":[{"number":"1","carrier":"ems"}]})").parcels.size(), 1u) << "no version";
  EXPECT_EQ(ParseWatchFile(nested(63)).unknown.size(), 1u);
}

TEST(WatchFile, EntriesThatCannotBeReadStayUnreadAtTheirPlace) {
  std::vector<std::string> bad = {"7", "null", "[]", R"({"number":"1"})", R"({"carrier":"ems"})",
                                  R"({"number":"","carrier":"ems"})", R"({"number":"1","carrier":"ems","events":[7]})",
                                  R"({"number":"1","carrier":"ems","events":[{"time":"t"},{"area":false}]})",
                                  R"({"number":"1","carrier":"ems","failures":-1})",
                                  R"({"number":"SF1","carrier":"shunfeng","note":"a second copy"})",
                                  // A value the user wrote that this program would not write back the same.
                                  R"({"number":"1","carrier":"ems","added":"2025-01-01T00:00:00.000Z"})",
                                  R"({"number":"1","carrier":"ems","last_checked":"yesterday"})",
                                  R"({"number":"1","carrier":"ems","note":"a","note":"b"})",
                                  R"({"number":"1","carrier":"ems","events":[{"time":"t","time":"u"}]})"};
  for (const char* field : {"number", "carrier", "carrier_name", "phone", "note", "state", "signed", "events",
                            "added", "last_checked", "last_changed", "last_answered", "last_problem", "failures",
                            "failing_since", "needs_phone", "put_away"}) {
    Json entry = {{"number", "1"}, {"carrier", "ems"}};
    entry[field] = std::string(field) == "signed" || std::string(field) == "needs_phone" ? Json(1) : Json({{"x", 1}});
    bad.push_back(entry.dump());
  }
  for (const std::string& entry : bad) {
    const std::string text = R"({"parcels":[{"number":"SF1","carrier":"shunfeng"},)" + entry +
                             R"(,{"number":"1","carrier":"yunda"}]})";
    const WatchList list = ParseWatchFile(text);
    ASSERT_EQ(list.parcels.size(), 2u) << entry;
    ASSERT_EQ(list.unread.size(), 1u) << entry;
    EXPECT_EQ(list.unread[0].position, 1u) << entry;
    EXPECT_EQ(Json::parse(SerializeWatchFile(list))["parcels"], Json::parse(text)["parcels"]) << entry;
  }
}

TEST(WatchFile, EntriesPastTheLimitStayUnreadAndUnreadOnesGoBackInOrder) {
  Json parcels = {"broken"};
  for (std::size_t i = 0; i < kMaxWatched + 3; ++i) parcels.push_back({{"number", std::to_string(i)}, {"carrier", "ems"}});
  const Json document = {{"version", 1}, {"parcels", parcels}};
  const WatchList list = ParseWatchFile(document.dump());
  EXPECT_EQ(list.parcels.size(), 200u);
  ASSERT_EQ(list.unread.size(), 4u);
  EXPECT_EQ(list.unread[1].position, kMaxWatched + 1);
  EXPECT_EQ(Json::parse(SerializeWatchFile(list)), document);

  // After removals an unread entry goes back at its place or at the end.
  WatchList shrunk{.parcels = {{.number = "a", .carrier = "ems"}, {.number = "b", .carrier = "ems"}},
                   .unread = {{7, R"("late")"}, {0, R"("first")"}, {2, R"("middle")"}}};
  EXPECT_EQ(Json::parse(SerializeWatchFile(shrunk))["parcels"],
            Json::parse(R"(["first",{"number":"a","carrier":"ems"},"middle",{"number":"b","carrier":"ems"},"late"])"));
  // A second copy goes with its parcel, or it would come back as watched.
  WatchList copies = ParseWatchFile(R"({"parcels":[{"number":"A","carrier":"ems"},{"number":"A","carrier":"ems"},7,
                                                   {"number":"A","carrier":"sf"},{"number":"A","carrier":"sf"}]})");
  ASSERT_TRUE(RemoveParcel(copies, "A", "ems"));
  EXPECT_EQ(Json::parse(SerializeWatchFile(copies))["parcels"],
            Json::parse(R"([{"number":"A","carrier":"sf"},7,{"number":"A","carrier":"sf"}])"));
}

TEST(WatchFile, UnreadEntriesAndUnknownFieldsGoBackAsTheyWereWritten) {
  const std::string unread = R"({ "number" : 92612345678901234567890, "z":"}\"]", "a":[ 1 ,2 ] })";
  const std::string text = R"({"zz" : 1.50, "version":1, "parcels":[)" + unread +
                           R"(,{"number":"1","id":123456789012345678901234567890,"carrier":"ems",
                               "events":[{"time":"t","context":"c","\u0078":"y"}]}]})";
  const std::string written = SerializeWatchFile(ParseWatchFile(text));
  for (const std::string& piece : {unread, R"("zz" : 1.50)"s, R"("id":123456789012345678901234567890)"s, R"("\u0078":"y")"s}) {
    EXPECT_NE(written.find(piece), std::string::npos) << piece << " in " << written;
  }
}

TEST(WatchFile, BadUtf8DoesNotStopASave) {
  WatchList list = ParseWatchFile(R"({"version":1,"parcels":[{"number":"1","carrier":"ems","note":"a"}]})");
  list.parcels[0].note = "bad \xFF byte";
  EXPECT_EQ(ParseWatchFile(SerializeWatchFile(list)).parcels[0].note, "bad \xEF\xBF\xBD byte");
}

class FileStore : public testing::Test {
 protected:
  std::string Utf8(const fs::path& path) const {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
  }
  testing_support::TempFolder temp_{u8"quenzil-关注-"};
  const fs::path& folder_ = temp_.path();
  // Beside the lock's file, where the lock is one (not on Windows).
  std::size_t Files() const {
    return static_cast<std::size_t>(std::count_if(fs::directory_iterator(folder_), fs::directory_iterator(),
                                                  [](const auto& entry) { return entry.path().extension() != ".lock"; }));
  }
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

TEST_F(FileStore, WatchStoreKeepsEveryFileItCannotTakeWhole) {
  const std::string path = Utf8(folder_ / "watch.json");
  const WatchList one{.parcels = {{.number = "SF1", .carrier = "shunfeng"}}};
  WatchFileStore fresh(path);
  EXPECT_FALSE(fresh.Save(one)) << "written before the file was read";
  EXPECT_TRUE(fresh.Load().list.parcels.empty());
  ASSERT_TRUE(fresh.Save(one));

  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path, R"({"parcels":[7,{"number":"SF1","carrier":"shunfeng"}]})", &error));
  WatchFileStore store(path);
  const WatchStore::Loaded loaded = store.Load();
  EXPECT_FALSE(loaded.moved_aside);
  ASSERT_TRUE(store.Save(loaded.list));
  EXPECT_EQ(Json::parse(ReadWholeFile(path).bytes)["parcels"][0], 7);

  const std::string newer = R"({"version":2,"parcels":[{"number":"SF1","carrier":"shunfeng"}]})";
  ASSERT_TRUE(ReplaceFileAtomically(path, newer, &error)) << error;
  WatchFileStore later(path);
  EXPECT_TRUE(later.Load().newer_version);
  EXPECT_FALSE(later.Save(one));
  EXPECT_EQ(ReadWholeFile(path).bytes, newer);
  EXPECT_EQ(Files(), 1u);

  // Not a watch list, or too large to be read: moved aside, a new list begins.
  for (const std::string& text : {std::string("{"), std::string(kMaxStoredFileBytes + 1, ' ')}) {
    ASSERT_TRUE(ReplaceFileAtomically(path, text, &error)) << error;
    EXPECT_TRUE(ReadWholeFile(path, text.size()).ok);
    EXPECT_TRUE(ReadWholeFile(path, text.size() - 1).too_large);
    WatchFileStore broken(path);
    const WatchStore::Loaded moved = broken.Load();
    ASSERT_TRUE(moved.moved_aside && !moved.moved_aside->empty()) << text.size();
    EXPECT_EQ(ReadWholeFile(*moved.moved_aside, text.size()).bytes, text);
    EXPECT_TRUE(broken.Save(one));
  }
  EXPECT_EQ(Files(), 3u);

  // The console companion changes the file under its lock: a read meanwhile is busy, not empty.
  std::promise<void> held, done;
  std::thread companion([&] {
    const FileLock lock(path);
    held.set_value();
    done.get_future().wait();
  });
  held.get_future().wait();
  EXPECT_TRUE(WatchFileStore(path).Load().busy);
  done.set_value();
  companion.join();
  EXPECT_EQ(WatchFileStore(path).Load().list.parcels.size(), 1u);
}

#ifdef _WIN32
// Held by another program (a virus scanner, a backup tool): busy, and
// nothing is moved or written until it lets go.
TEST_F(FileStore, AFileOpenedWithoutSharingIsBusyNotBroken) {
  const std::string path = Utf8(folder_ / "watch.json");
  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(path, R"({"parcels":[{"number":"1","carrier":"ems"}]})", &error)) << error;
  const HANDLE held = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const FileRead read = ReadWholeFile(path);
  EXPECT_TRUE(read.exists && read.busy && !read.ok) << read.error;
  WatchFileStore store(path);
  const WatchStore::Loaded loaded = store.Load();
  EXPECT_TRUE(loaded.busy && !loaded.moved_aside);
  EXPECT_FALSE(store.Save(WatchList{}));
  ::CloseHandle(held);
  EXPECT_EQ(store.Load().list.parcels.size(), 1u);
  EXPECT_EQ(Files(), 1u);
}
#endif

}  // namespace
}  // namespace quenzil
