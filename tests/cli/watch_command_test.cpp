#include "cli/watch_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watch/watch_file.h"

namespace quenzil::cli {
namespace {

constexpr UnixSeconds kT0 = 1796722200;

// The file, the window and the lock as the test sets them; what was done, in order.
class FakeAccess final : public WatchListAccess {
 public:
  std::string file = R"({"version":1,"parcels":[{"number":"4311159956248","carrier":"yunda"}]})";
  bool window = false;
  int silent = 0;  // hand-overs the window does not answer; then it has ended
  std::vector<AddResult> answer;
  std::string done;
  bool WindowRuns() override { return window; }
  std::optional<std::vector<AddResult>> HandOver(const std::vector<WatchedParcel>& parcels) override {
    done += "hand over " + std::to_string(parcels.size()) + ",";
    if (silent-- > 0) return window = silent > 0, std::nullopt;
    return answer;
  }
  bool Lock() override { return done += "lock,", true; }
  void Unlock() override { done += "unlock,"; }
  FileRead Read() override { return {.exists = true, .ok = true, .bytes = file}; }
  bool Write(const std::string& text, std::string&) override { return file = text, done += "write,", true; }
  UnixSeconds Now() override { return kT0; }
  void Pause() override { done += "pause,"; }
};

TEST(CompanionWatch, TheRunningWindowAddsWhatItIsHandedElseTheFileIsChangedUnderItsLock) {
  const auto pasted = [](const WatchList& list) { return ReadPastedLines("YT2588814371952 书\n4311159956248\nx\n", list); };
  const std::string added = "第1行\t已加入\tYT2588814371952\t圆通速递（按单号猜的快递公司）\n";
  const std::string rest = "第2行\t已在关注列表\t4311159956248\t韵达快递\n第3行\t未加入\tX\t“x”不是快递单号";
  struct Case {
    const char* what;
    bool window;
    int silent;
    std::vector<AddResult> answer;
    std::string done, first;  // what was done (empty: not looked at), the first line (empty: nothing added)
    std::size_t in_file;
  };
  const std::vector<Case> cases = {
      {"no window: the file", false, 0, {}, "lock,write,unlock,", added, 2},
      {"the window adds it", true, 0, {AddResult::kAdded}, "lock,unlock,hand over 1,", added, 1},
      {"the window is full", true, 0, {AddResult::kFull}, "", "第1行\t未加入\tYT2588814371952\t圆通速递（按单号猜的快递公司）\t最多只能关注200个单号\n", 1},
      {"the window ends meanwhile", true, 1, {}, "lock,unlock,hand over 1,pause,lock,write,unlock,", added, 2},
      {"the window never answers", true, 9, {}, "", "", 1},
  };
  for (const Case& test : cases) {
    FakeAccess access;
    access.window = test.window;
    access.silent = test.silent;
    access.answer = test.answer;
    const Report report = AddToWatchList(access, pasted, true);
    EXPECT_EQ(static_cast<int>(report.exit_code), test.first.empty() ? 2 : 1) << test.what << report.err;
    if (!test.done.empty()) {
      EXPECT_EQ(access.done, test.done) << test.what;
    }
    if (!test.first.empty()) {
      EXPECT_EQ(report.out.substr(0, report.out.find("（应为")), test.first + rest) << test.what;
    }
    const WatchList list = ParseWatchFile(access.file);
    ASSERT_EQ(list.parcels.size(), test.in_file) << test.what;
    if (test.in_file == 2) {
      EXPECT_EQ(list.parcels[1].note + std::to_string(list.parcels[1].added), "书" + std::to_string(kT0));
    }
  }
}

}  // namespace
}  // namespace quenzil::cli
