#include "window/watch_list_form.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "support/temp_folder.h"
#include "platform/file_store.h"
#include "window/form1.h"

namespace quenzil {
namespace {

using namespace testing;  // the fakes

class FakeListView : public WatchListView {
 public:
  bool shown = false;
  std::array<std::string, kFilters.size()> filters;
  std::size_t rows = 0;
  std::vector<std::size_t> selected;
  std::string status;
  std::vector<std::string> messages;
  bool confirm = true;
  std::optional<std::string> line_answer;
  std::string bulk_text;                   // what 批量添加's box held at first
  std::vector<std::string> bulk_pastes;    // pressed 添加 with each in turn
  std::vector<BulkAddHost::Added> added;
  std::optional<std::string> open_path;
  std::optional<std::pair<std::string, ExportRows>> save_target;

  void ShowList(std::string_view) override { shown = true; }
  std::string ListPlacement() const override { return "10,20,640,400,0"; }
  void SetFilterTexts(const std::array<std::string, kFilters.size()>& texts, std::size_t) override { filters = texts; }
  void ShowRowCount(std::size_t count, std::size_t, bool) override {
    rows = count;
    selected.clear();
  }
  std::vector<std::size_t> SelectedRows() const override { return selected; }
  void SelectRows(const std::vector<std::size_t>& chosen, std::optional<std::size_t>) override { selected = chosen; }
  void SetListStatus(std::string_view text) override { status = text; }
  void ShowListMessage(std::string_view prompt, std::string_view) override { messages.emplace_back(prompt); }
  bool ConfirmInList(std::string_view prompt, std::string_view) override {
    messages.emplace_back(prompt);
    return confirm;
  }
  std::optional<std::string> AskListNote(std::string_view, std::string_view) override { return line_answer; }
  std::optional<std::string> AskListPhone(std::string_view, std::string_view) override { return line_answer; }
  std::optional<int> ShowListMenu(const std::vector<MenuItem>&) override { return std::nullopt; }
  void AskBulkAdd(BulkAddHost& host, std::string_view text) override {
    bulk_text = text;
    for (const std::string& paste : bulk_pastes) added.push_back(host.Add(paste));
  }
  std::optional<std::string> PickSheetToOpen() override { return open_path; }
  std::optional<std::pair<std::string, ExportRows>> PickSheetToSave() override { return save_target; }
};

class ListFormView : public FakeFormView {
 public:
  FakeListView list;
  WatchListView* watch_list_view() override { return &list; }
};

class WatchListFormTest : public ::testing::Test {
 protected:
  ListFormView view;
  FakeListView& list = view.list;
  FakeTransfers transfers;
  FakeCredentialStore credentials;
  FakeWatchStore watch_store;
  FakeHistoryStore history;
  FakeSettingsStore settings;
  FakeQueryCounter counter;
  FakeAutostart autostart;
  FakeClock clock{std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count()};
  std::unique_ptr<Form1> form;
  testing_support::TempFolder folder{u8"quenzil-关注-"};

  void SetUp() override {
    credentials.stored.accounts.kuaidi100 = {"CUST01", "k3y-secret-0123"};
    const auto now = clock.Now();
    auto& parcels = watch_store.stored.list.parcels;
    parcels.push_back({.number = "YT1000000001", .carrier = "yuantong", .note = "书", .state = "0",
                       .events = {{"2026-12-01 08:00:00", "已揽收"}}, .added = now - 100, .last_checked = now - 50,
                       .last_answered = now - 50});
    parcels.push_back({.number = "SF1000000002", .carrier = "shunfeng", .added = now - 90, .last_checked = now - 40,
                       .needs_phone = true});
    parcels.push_back({.number = "ZT1000000003", .carrier = "zhongtong", .state = "3", .signed_for = true,
                       .added = now - 80, .last_checked = now - 30, .put_away = now - 10});
    form = std::make_unique<Form1>(view, transfers, FormStores{credentials, watch_store, history, settings, counter, autostart},
                                   clock, kFormHosts);
    form->Form_Load();
    form->OnTransferDone(transfers.Last().id, FetchOutcome::Answered("1"));
    form->OnTimer(*view.Take("deferred start"));
    form->SystemMenu_Click(commands::kWatchListWindow);
  }
  // A file of the folder, as the shell hands paths over: UTF-8.
  std::string PathOf(std::string_view name) const {
    const std::u8string path = (folder.path() / std::u8string(name.begin(), name.end())).u8string();
    return std::string(path.begin(), path.end());
  }
  WatchListForm& Handlers() { return *form->watch_list(); }
  void Select(std::initializer_list<std::string_view> numbers) {
    list.selected.clear();
    for (std::size_t row = 0; row < list.rows; ++row) {
      for (const std::string_view number : numbers) {
        if (Handlers().table().rows()[row].parcel.first == number) list.selected.push_back(row);
      }
    }
  }
  const WatchedParcel* Watched(std::string_view number) const {
    for (const WatchedParcel& parcel : form->tracker().list().parcels) {
      if (parcel.number == number) return &parcel;
    }
    return nullptr;
  }
};

TEST_F(WatchListFormTest, OpensWithEachBucketCountedAndThePutAwayOnlyUnderDone) {
  EXPECT_EQ(list.filters[0], "全部（2）");
  EXPECT_EQ(list.filters[6], "已完成（1）");
  EXPECT_EQ(list.rows, 2u);
  Handlers().Filter_Click(6);
  EXPECT_EQ(list.rows, 1u);
  Select({"ZT1000000003"});
  Handlers().Command(list_commands::kRewatch);
  EXPECT_EQ(Watched("ZT1000000003")->put_away, 0);
  EXPECT_EQ(list.filters[6], "已完成（0）") << "the window follows the list";
  Handlers().Closing();
  EXPECT_EQ(settings.LoadWatchListPlacement(), "10,20,640,400,0");
}

TEST_F(WatchListFormTest, ActionsTakeEverySelectedRow) {
  Select({"YT1000000001", "SF1000000002"});
  list.line_answer = "店铺 A";
  Handlers().Command(list_commands::kNote);
  EXPECT_EQ(Watched("YT1000000001")->note, "店铺 A");
  EXPECT_EQ(Watched("SF1000000002")->note, "店铺 A");

  Select({"YT1000000001", "SF1000000002"});
  Handlers().Command(list_commands::kCopy);
  EXPECT_EQ(std::count(view.clipboard.begin(), view.clipboard.end(), '\n'), 3) << "the heads and both rows";

  // New digits let the parcel that asked for them be asked again, at once
  // when it is asked for; one answered a moment ago is not sent again.
  Select({"SF1000000002"});
  list.line_answer = "1234";
  Handlers().Command(list_commands::kPhone);
  EXPECT_FALSE(Watched("SF1000000002")->needs_phone);
  const std::size_t before = transfers.started.size();
  Select({"YT1000000001", "SF1000000002"});
  Handlers().Command(list_commands::kRefresh);
  ASSERT_EQ(transfers.started.size(), before + 1) << "one request at a time";
  EXPECT_NE(transfers.Last().request.body.find("SF1000000002"), std::string::npos);

  Select({"YT1000000001", "SF1000000002"});
  list.confirm = false;
  Handlers().Command(list_commands::kUnwatch);
  EXPECT_EQ(form->tracker().list().parcels.size(), 3u) << "cancelled";
  list.confirm = true;
  Handlers().Command(list_commands::kUnwatch);
  EXPECT_EQ(list.messages.back(), "取消关注选中的 2 个单号？");
  EXPECT_EQ(form->tracker().list().parcels.size(), 1u);
  EXPECT_TRUE(transfers.Last().cancelled) << "the refresh of a parcel no longer watched";
}

TEST_F(WatchListFormTest, BulkAddKeepsTheLinesNotAddedInTheBox) {
  list.bulk_pastes = {"YT2000000000001\t备注一\r\nnot a number\r\nYT1000000001\r\n ZT2000000000002, 中通, 13800001234\r\n",
                      "YT2000000000003\r\n"};
  Handlers().Command(list_commands::kBulkAdd);
  ASSERT_EQ(list.added.size(), 2u);
  EXPECT_EQ(list.added[0].told, "已加入 2 个单号。没有加入的行留在框中，改正后可再次添加。");
  EXPECT_EQ(list.added[0].kept, "not a number\r\n") << "an already watched line is not kept";
  EXPECT_EQ(list.added[1].kept, "");
  EXPECT_EQ(Watched("YT2000000000001")->note, "备注一");
  EXPECT_EQ(Watched("ZT2000000000002")->carrier, "zhongtong");
  EXPECT_EQ(Watched("ZT2000000000002")->phone, "1234");
  EXPECT_NE(Watched("YT2000000000003"), nullptr);
}

TEST_F(WatchListFormTest, ASheetOpensInBulkAddAndTheListSavesAsACsv) {
  std::ofstream(folder.path() / u8"单号.csv", std::ios::binary) << "\xEF\xBB\xBF快递单号,快递公司,备注,手机\r\nYT3000000000001,,\"A, B\",13800005678\r\n"
                                            "ZT3000000002,中通快递,,\r\n";
  list.open_path = PathOf("单号.csv");
  Handlers().Command(list_commands::kOpen);
  EXPECT_EQ(list.bulk_text, "YT3000000000001\tA, B\t5678\r\nZT3000000002\tzhongtong\r\n");

  list.open_path = PathOf("missing.csv");
  Handlers().Command(list_commands::kOpen);
  EXPECT_EQ(list.messages.back().rfind("无法读取文件：", 0), 0u);

  list.save_target = std::pair{PathOf("导出.csv"), ExportRows::kParcels};
  Handlers().Command(list_commands::kSaveAs);
  const FileRead read = ReadWholeFile(PathOf("导出.csv"));
  EXPECT_NE(read.bytes.find("YT1000000001"), std::string::npos) << "written where the user chose";
}

TEST(ListPlacementText, ReadsWhatItWritesAndRefusesTheRest) {
  const ListWindowPlacement placement{-5, 30, 700, 420, true, {80, 130, 72, 72, 64, 240, 112, 112, 64}};
  const auto again = ParseListPlacement(ListPlacementText(placement));
  ASSERT_TRUE(again);
  EXPECT_EQ(ListPlacementText(*again), "-5,30,700,420,1,80,130,72,72,64,240,112,112,64");
  for (const std::string_view bad : {"", "1,2,3", "10,10,50,50,0", "1,2,700,400,0,9", "a,b,c,d,e", "1,2,700,400,0,"}) {
    EXPECT_FALSE(ParseListPlacement(bad)) << bad;
  }
}

}  // namespace
}  // namespace quenzil
