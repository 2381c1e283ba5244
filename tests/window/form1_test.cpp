#include "window/form1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_fetcher.h"
#include "fake_form_view.h"
#include "query/carriers.h"
#include "web/pattern.h"

namespace quenzil {
namespace {

using testing::FakeFetcher;
using testing::FakeFormView;
using testing::ShownMessage;
using Rows = std::vector<std::string>;

const std::string kPlaceholder(ResultPlaceholderLine);
constexpr std::string_view kAbnormalMessage =
    "单号异常，请检查单号和选择的快递公司有没有错，如果都正确，请稍后再试。";

std::string TrackingAnswer(const Rows& values) {
  std::string answer = "<table><tr><th>时间</th></tr>\n";
  for (const std::string& value : values) {
    answer += "<tr><td style='padding:3px 5px;'>" + value + "</td></tr>\n";
  }
  return answer + "</table>";
}

class Form1Test : public ::testing::Test {
 protected:
  FakeFormView view;
  FakeFetcher fetcher;
  Form1 form{view, fetcher, DeployHosts{"api.test:8080", "home.test", "maker.test"}};

  // A started window with a number and a carrier.
  void StartWith(std::string number, std::string_view carrier) {
    view.rows = {kPlaceholder};
    view.number_text = std::move(number);
    view.SelectCarrier(carrier);
  }
};

// ---- the query command ----

TEST_F(Form1Test, EmptyNumberIsAskedForEvenWithoutCarrier) {
  StartWith("", "none");
  form.chaxun_Click();
  EXPECT_EQ(view.rows, Rows{});
  EXPECT_EQ(view.messages, (std::vector<ShownMessage>{{"请输入快递单号", "系统提示"}}));
  EXPECT_TRUE(fetcher.requests.empty());
  EXPECT_TRUE(view.carrier_reads.empty());  // the number is checked first

  view.SelectCarrier("ems");
  form.chaxun_Click();
  EXPECT_TRUE(fetcher.requests.empty());
  EXPECT_EQ(view.messages.size(), 2u);
}

TEST_F(Form1Test, NoCarrierFetchesNothingAndSaysNothing) {
  StartWith("123", "none");
  form.chaxun_Click();
  EXPECT_EQ(view.rows, Rows{});
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(fetcher.requests.empty());
}

TEST_F(Form1Test, QueryFetchesTheBuiltAddressAndShowsTheRows) {
  StartWith("  12 34", "yunda");
  fetcher.Reply(TrackingAnswer({"2013-01-20", "<b>上海</b>", "已签收"}));
  form.chaxun_Click();
  ASSERT_EQ(fetcher.requests.size(), 1u);
  EXPECT_EQ(fetcher.requests[0].url, BuildQueryUrl("api.test:8080", "  12 34", "yunda"));
  EXPECT_EQ(fetcher.requests[0].limits.total, FetchLimits{}.total);
  EXPECT_EQ(fetcher.requests[0].limits.max_body_bytes, FetchLimits{}.max_body_bytes);
  EXPECT_EQ(view.rows, (Rows{"2013-01-20", "<b>上海", "已签收"}));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.number_text, "  12 34");
}

TEST_F(Form1Test, SpacesOnlyIsANumber) {
  StartWith("   ", "ems");
  fetcher.Reply("");
  form.chaxun_Click();
  ASSERT_EQ(fetcher.requests.size(), 1u);
  EXPECT_NE(fetcher.requests[0].url.find("&nu=%20%20%20&"), std::string::npos);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Form1Test, EachMarkerAndNoMarker) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"单号不正确", "单号不正确或选择快递公司错误，请检查相关单号，或选择单号对应的快递公司再查询。"},
      {"异常 时间", std::string(kAbnormalMessage)},
      {"未收录",
       "此单号未更新物流信息，请隔段时间再查询，或者到快递官网查询，谢谢！（请检查快递单号是否对应您所选择的快递公司）"},
      {"验证码", "接口繁忙，需要验证码，可以过段时间查询，或者到快递公司查询。"},
  };
  for (const auto& [answer, message] : cases) {
    StartWith("1", "ems");
    fetcher.Reply(answer);
    form.chaxun_Click();
    EXPECT_EQ(view.rows, Rows{message}) << answer;
  }
  StartWith("1", "ems");
  fetcher.Reply("<html>nothing known</html>");
  form.chaxun_Click();
  EXPECT_EQ(view.rows, Rows{});
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Form1Test, FailedFetchIsReportedAndKeepsNumberAndCarrier) {
  StartWith("9876", "shentong");
  const auto carriers_before = view.carrier_selected;
  fetcher.Fail(FetchFailure::kTimedOut, "WinHttpReceiveResponse 12002");
  form.chaxun_Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "查询失败");
  EXPECT_EQ(view.messages[0].prompt, "查询失败：" + FetchFailureMessage(FetchFailure::kTimedOut) +
                                         "\n（WinHttpReceiveResponse 12002）");
  EXPECT_EQ(view.rows, Rows{});
  EXPECT_EQ(view.number_text, "9876");
  EXPECT_EQ(view.carrier_selected, carriers_before);
}

TEST_F(Form1Test, UnreadableAnswerIsReported) {
  StartWith("1", "ems");
  fetcher.Reply("", [] { throw PatternError("complexity exceeded"); });
  form.chaxun_Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "查询失败");
  EXPECT_EQ(view.messages[0].prompt.rfind("查询失败：服务器返回的内容无法解析。", 0), 0u)
      << view.messages[0].prompt;
  EXPECT_EQ(view.rows, Rows{});
}

// ---- events during the wait of a query ----

TEST_F(Form1Test, SecondQueryDuringTheWaitLeavesOnlyItsRows) {
  StartWith("first", "ems");
  fetcher.Reply(TrackingAnswer({"old1", "old2"}), [&] {
    view.number_text = "second";
    form.chaxun_Click();
  });
  fetcher.Reply(TrackingAnswer({"new1", "new2"}));
  form.chaxun_Click();
  ASSERT_EQ(fetcher.requests.size(), 2u);
  EXPECT_NE(fetcher.requests[1].url.find("nu=second"), std::string::npos);
  EXPECT_EQ(view.rows, (Rows{"new1", "new2"}));
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Form1Test, FailureOfASupersededQueryIsDropped) {
  StartWith("first", "ems");
  fetcher.Fail(FetchFailure::kConnectionLost, "10054", [&] { form.chaxun_Click(); });
  fetcher.Reply("异常");
  form.chaxun_Click();
  EXPECT_EQ(view.rows, Rows{std::string(kAbnormalMessage)});
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Form1Test, ClearDuringTheWaitLeavesThePlaceholderAlone) {
  StartWith("1", "yuantong");
  fetcher.Reply(TrackingAnswer({"late"}), [&] { form.Command2_Click(); });
  form.chaxun_Click();
  EXPECT_EQ(view.rows, Rows{kPlaceholder});
  EXPECT_EQ(view.number_text, "");
  EXPECT_TRUE(view.carrier_selected[1]);  // yuantong stays selected
}

TEST_F(Form1Test, CopyDuringTheWaitCopiesTheRowsPresentThen) {
  StartWith("1", "ems");
  fetcher.Reply(TrackingAnswer({"outer"}), [&] {
    form.chaxun_Click();  // a nested query that finishes first
    form.Command1_Click();
  });
  fetcher.Reply(TrackingAnswer({"inner1", "inner2"}));
  form.chaxun_Click();
  EXPECT_EQ(view.clipboard, "inner1\r\ninner2\r\n");
  EXPECT_EQ(view.rows, (Rows{"inner1", "inner2"}));
}

TEST_F(Form1Test, OtherEventsDuringTheWaitKeepTheAnswer) {
  StartWith("1", "ems");
  fetcher.Reply(TrackingAnswer({"row"}), [&] {
    form.Timer1_Timer({2013, 1, 20, 9, 5, 7});
    form.Command4_Click();
    form.Label3_MouseMove();
    form.Form_QueryUnload();  // answered Cancel
    view.number_text = "other";
    view.SelectCarrier("zhongtong");
  });
  form.chaxun_Click();
  EXPECT_EQ(view.rows, Rows{"row"});
  EXPECT_FALSE(view.window_shown);  // the query finished in the hidden window
}

// ---- list commands ----

TEST_F(Form1Test, ClearRestoresThePlaceholderAndKeepsTheCarrier) {
  StartWith("123", "tiantian");
  view.rows = {"a", "b"};
  form.Command2_Click();
  EXPECT_EQ(view.rows, Rows{kPlaceholder});
  EXPECT_EQ(view.number_text, "");
  EXPECT_TRUE(view.carrier_selected[6]);

  form.chaxun_Click();  // the number is gone, so it is asked for
  EXPECT_EQ(view.messages, (std::vector<ShownMessage>{{"请输入快递单号", "系统提示"}}));
  EXPECT_TRUE(fetcher.requests.empty());
}

TEST_F(Form1Test, CopyPutsEveryRowOnTheClipboard) {
  view.rows = {kPlaceholder};
  form.Command1_Click();
  EXPECT_EQ(view.clipboard, "此处返回查询结果。\r\n");

  view.rows.clear();
  for (int i = 0; i < 40000; ++i) view.rows.push_back(std::to_string(i));
  form.Command1_Click();
  EXPECT_EQ(view.clipboard.substr(view.clipboard.size() - 7), "39999\r\n");
  EXPECT_TRUE(view.messages.empty());

  view.rows.clear();
  form.Command1_Click();
  EXPECT_EQ(view.clipboard, "");
}

TEST_F(Form1Test, BusyClipboardIsReported) {
  view.rows = {"a"};
  view.clipboard_free = false;
  form.Command1_Click();
  EXPECT_EQ(view.messages,
            (std::vector<ShownMessage>{{std::string(kCopyFailedPrompt), "系统提示"}}));
  EXPECT_EQ(view.rows, Rows{"a"});
}

// ---- start-up update check ----

TEST_F(Form1Test, UpdateFlagTwoEndsTheProgram) {
  fetcher.Reply("2");
  EXPECT_FALSE(form.Form_Load());
  ASSERT_EQ(fetcher.requests.size(), 1u);
  EXPECT_EQ(fetcher.requests[0].url, "http://maker.test/gengxin.txt");
  EXPECT_EQ(fetcher.requests[0].limits.total, UpdateCheckLimits().total);
  EXPECT_EQ(fetcher.requests[0].limits.max_body_bytes, UpdateCheckLimits().max_body_bytes);
  EXPECT_EQ(view.messages,
            (std::vector<ShownMessage>{{"程序已经更新，请到官网下载最新版本", "更新提示"}}));
  EXPECT_EQ(view.opened_urls, Rows{"http://maker.test/"});
  EXPECT_TRUE(view.program_ended);
  EXPECT_EQ(view.rows, Rows{});
}

TEST_F(Form1Test, AnyOtherUpdateTextStartsNormally) {
  for (const std::string_view text : {"1", "2\r\n", "2\n", " 2", "2 ", "", "02", "2.0", "２"}) {
    FakeFormView fresh_view;
    FakeFetcher fresh_fetcher;
    Form1 fresh_form(fresh_view, fresh_fetcher, {"a", "b", "c"});
    fresh_fetcher.Reply(std::string(text));
    EXPECT_TRUE(fresh_form.Form_Load()) << text;
    EXPECT_EQ(fresh_view.rows, Rows{kPlaceholder}) << text;
    EXPECT_TRUE(fresh_view.messages.empty()) << text;
    EXPECT_TRUE(fresh_view.opened_urls.empty()) << text;
    EXPECT_FALSE(fresh_view.program_ended) << text;
  }
}

TEST_F(Form1Test, FailedUpdateCheckStartsNormallyWithoutMessage) {
  fetcher.Fail(FetchFailure::kNameNotResolved, "12007");
  EXPECT_TRUE(form.Form_Load());
  EXPECT_EQ(view.rows, Rows{kPlaceholder});
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(view.program_ended);
}

// ---- exit confirmation ----

TEST_F(Form1Test, ExitOkEndsTheProgramAndRemovesTheIcon) {
  view.confirm_answer = true;
  form.Command4_Click();
  EXPECT_FALSE(form.Form_QueryUnload());
  EXPECT_EQ(view.messages.back(),
            (ShownMessage{"您确定退出程序吗？建议缩小到后台方便下次查询哦。", "退出确认"}));
  EXPECT_TRUE(view.program_ended);
  EXPECT_FALSE(view.tray_icon_present);
}

TEST_F(Form1Test, ExitCancelRefusesAndChangesNothing) {
  form.Command4_Click();
  view.confirm_answer = false;
  EXPECT_TRUE(form.Form_QueryUnload());
  EXPECT_TRUE(form.Form_QueryUnload());
  EXPECT_EQ(view.confirm_asks, 2);
  EXPECT_FALSE(view.program_ended);
  EXPECT_FALSE(view.window_shown);
  EXPECT_TRUE(view.tray_icon_present);
}

// ---- notification area ----

TEST_F(Form1Test, HideToTrayAndRestoreOnLeftButtonDown) {
  form.Command4_Click();
  EXPECT_EQ(view.tray_tips, Rows{"QuenzilV1.0-【Dravimo提供】-maker.test"});
  EXPECT_FALSE(view.window_shown);
  EXPECT_TRUE(view.tray_icon_present);

  for (const std::uint32_t other : {0x0200u, 0x0202u, 0x0203u, 0x0204u, 0x0205u}) {
    view.label3_bold = view.label5_bold = true;
    form.TrayIcon_Notify(other);
    EXPECT_FALSE(view.label3_bold || view.label5_bold) << other;
    EXPECT_FALSE(view.window_shown) << other;
    EXPECT_TRUE(view.tray_icon_present) << other;
  }

  view.label5_bold = true;
  form.TrayIcon_Notify(0x0201);
  EXPECT_FALSE(view.label5_bold);
  EXPECT_TRUE(view.window_shown);
  EXPECT_FALSE(view.tray_icon_present);

  form.Command4_Click();  // and again
  EXPECT_EQ(view.tray_tips.size(), 2u);
  EXPECT_FALSE(view.window_shown);
}

TEST_F(Form1Test, RefusedTrayIconKeepsTheWindowShown) {
  view.tray_accepts = false;
  form.Command4_Click();
  EXPECT_TRUE(view.window_shown);
  EXPECT_EQ(view.messages,
            (std::vector<ShownMessage>{{std::string(kTrayRefusedPrompt), "系统提示"}}));
}

// ---- links and the bare surface ----

TEST_F(Form1Test, LinksTurnBoldAndTheSurfaceTurnsThemRegular) {
  form.Label3_MouseMove();
  EXPECT_TRUE(view.label3_bold);
  form.Label5_MouseMove();
  EXPECT_TRUE(view.label3_bold && view.label5_bold);
  form.Form_MouseMove();
  EXPECT_FALSE(view.label3_bold || view.label5_bold);
}

TEST_F(Form1Test, SurfaceMovesDoNotTouchTheTray) {
  form.Command4_Click();
  form.Form_MouseMove();
  EXPECT_FALSE(view.window_shown);
  EXPECT_TRUE(view.tray_icon_present);
  EXPECT_EQ(view.tray_removals, 0);
}

TEST_F(Form1Test, LinkClicksOpenTheHomePagesWithoutSlash) {
  form.Label3_Click();
  form.Label5_Click();
  EXPECT_EQ(view.opened_urls, (Rows{"http://home.test", "http://maker.test"}));
  EXPECT_EQ(form.MakerHomeUrl(), "http://maker.test/");
}

// ---- title clock ----

TEST_F(Form1Test, TitleIsSetOnlyWhenItChanges) {
  form.Timer1_Timer({2013, 1, 20, 9, 5, 7});
  form.Timer1_Timer({2013, 1, 20, 9, 5, 7});
  EXPECT_EQ(view.title_sets, 1);
  EXPECT_EQ(view.title, TitleText({2013, 1, 20, 9, 5, 7}));
  form.Timer1_Timer({2013, 1, 20, 9, 5, 8});
  EXPECT_EQ(view.title_sets, 2);
  EXPECT_EQ(view.title, "QuenzilV1.0-【Dravimo提供】    现在时间： 2013- 1- 20  9: 5: 8");
}

}  // namespace
}  // namespace quenzil
