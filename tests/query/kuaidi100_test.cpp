#include "query/services/kuaidi100.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/json_reader.h"
#include "common/text_fit.h"
#include "query/carriers.h"
#include "query/parcel_state.h"
#include "query/services/told.h"

namespace quenzil {
namespace {

using Rows = std::vector<std::string>;

constexpr std::string_view kKey = "Kq7ZpX3mLw92";
constexpr std::string_view kCustomer = "8F1D2C3B4A5E6F708192A3B4C5D6E7F8";

TEST(Signature, SignsParamKeyCustomerInThatOrder) {
  const std::string param = PollParam("yuantong", "V030344422", "");
  EXPECT_EQ(param,
            R"({"com":"yuantong","num":"V030344422","phone":"","resultv2":"4","show":"0","order":"asc"})");
  const Credentials credentials{std::string(kCustomer), std::string(kKey)};
  EXPECT_EQ(PollSign(param, credentials), "2869B13B9CEC50921D3A7F7247AADE15");
  EXPECT_EQ(PollSign(PollParam("shunfeng", "SF 1234&5=6", "5678"), credentials),
            "B2012E6322CA19DC81EAE5BF9B10CCFD");
}

TEST(Requests, ParamStaysValidJsonWhateverTheNumber) {
  const std::string number = "中\"\\\n\x01 &x";
  const auto parsed = nlohmann::json::parse(PollParam("ems", number, "1234"));
  EXPECT_EQ(parsed.at("num"), number);
  EXPECT_EQ(parsed.at("phone"), "1234");
}

TEST(Requests, PollRequestIsSignedFormPost) {
  const Credentials credentials{"C1", std::string(kKey)};
  FetchLimits limits;
  limits.max_body_bytes = 1234;
  const FetchRequest request =
      BuildPollRequest("poll.test:8443", credentials, "yunda", "A B", "", limits);
  EXPECT_EQ(request.url, "https://poll.test:8443/poll/query.do");
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.content_type, "application/x-www-form-urlencoded");
  EXPECT_EQ(request.decoding, BodyText::kUtf8);
  EXPECT_EQ(request.limits.max_body_bytes, 1234u);
  EXPECT_TRUE(request.billable);
  EXPECT_EQ(request.billed_to, "kuaidi100") << "counted for no account";
  const std::string param = PollParam("yunda", "A B", "");
  EXPECT_EQ(request.body, "customer=C1&param=" + PercentEncode(param) +
                              "&sign=" + PollSign(param, credentials));
  EXPECT_EQ(request.body.find(kKey), std::string::npos);
  EXPECT_NE(request.body.find("%22num%22%3A%22A%20B%22"), std::string::npos);
}

TEST(Requests, DetectRequestEncodesItsValues) {
  const FetchRequest request = BuildDetectRequest("auto.test", "12 34", "k&y", FetchLimits{});
  EXPECT_EQ(request.url, "https://auto.test/autonumber/auto?num=12%2034&key=k%26y");
  EXPECT_EQ(request.billed_to, "kuaidi100");
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.decoding, BodyText::kUtf8);
}

constexpr std::string_view kSuccess = R"({"message":"ok","nu":"V030344422","ischeck":"1",
  "com":"yuantong","status":"200","state":"3","condition":"F00","data":[
  {"time":"2012-08-28 16:33:19","ftime":"2012-08-28 16:33:19","context":"上海分拨中心/装件入车扫描","areaName":"上海","status":"在途","routeInfo":{"to":{"name":"上海"}}},
  {"time":"x","ftime":"2012-08-29 09:00:00","context":"已签收","status":"签收"}]})";

TEST(PollAnswers, ReadsSuccess) {
  const PollAnswer answer = ReadPollAnswer(kSuccess);
  ASSERT_EQ(answer.kind, PollAnswer::Kind::kResult) << answer.malformed;
  EXPECT_EQ(answer.result.number, "V030344422");
  EXPECT_EQ(answer.result.carrier_code, "yuantong");
  EXPECT_EQ(answer.result.state, "3");
  EXPECT_TRUE(answer.result.signed_for);
  const std::vector<TrackingEvent> events{
      {"2012-08-28 16:33:19", "上海分拨中心/装件入车扫描", "上海", "在途"},
      {"2012-08-29 09:00:00", "已签收", "", "签收"}};
  EXPECT_EQ(answer.result.events, events);
  EXPECT_TRUE(IsFinal(answer.result));
}

TEST(PollAnswers, LenientWhereHarmless) {
  const PollAnswer answer = ReadPollAnswer(
      R"({"state":5,"ischeck":1,"status":200,"data":[7,"x",null,{"context":1},{"time":"t2"},
          {"time":"2020-01-02","context":"新"},{"context":"无时间","ftime":null},
          {"ftime":"2020-01-01","time":"9","context":"旧","areaName":{},"status":[]}]})");
  ASSERT_EQ(answer.kind, PollAnswer::Kind::kResult) << answer.malformed;
  EXPECT_EQ(answer.result.state, "5");
  EXPECT_TRUE(answer.result.signed_for);
  // A state in digits is kept whatever its size, as long as it is a whole number.
  EXPECT_EQ(ReadPollAnswer(R"({"state":18446744073709551613,"data":[]})").result.state, "18446744073709551613");
  EXPECT_EQ(ReadPollAnswer(R"({"state":18446744073709551616,"data":[]})").kind, PollAnswer::Kind::kMalformed);
  // Newest first came in, so the events are turned round.
  const std::vector<TrackingEvent> events{
      {"2020-01-01", "旧", "", ""}, {"", "无时间", "", ""}, {"2020-01-02", "新", "", ""}};
  EXPECT_EQ(answer.result.events, events);
  // Without ischeck nothing is signed for; two events, newest first, are turned round too.
  const PollAnswer unchecked = ReadPollAnswer(R"({"state":"0","data":[{"time":"2","context":"b"},{"time":"1","context":"a"}]})");
  EXPECT_FALSE(unchecked.result.signed_for);
  EXPECT_EQ(unchecked.result.events.front().context, "a");
  // What the finer states come with is passed over, but for the city the parcel is in now.
  EXPECT_EQ(ReadPollAnswer(R"({"state":"304","isLoop":false,"routeInfo":{"to":{}},"data":[{"context":"c",
      "statusCode":"304","areaCode":null}]})").result.state, "304");
  for (const auto& [route, city] : std::vector<std::pair<std::string, std::string>>{
           {R"({"from":{"name":"北京"},"cur":{"number":"CN310000","name":"上海,上海市"},"to":{}})", "上海市"},
           {R"({"cur":{"name":" 浙江，宁波市 "}})", "宁波市"}, {R"({"cur":{"name":7}})", ""}, {R"([])", ""}}) {
    EXPECT_EQ(ReadPollAnswer(R"({"state":"0","data":[],"routeInfo":)" + route + "}").result.city, city) << route;
  }
}

TEST(PollAnswers, ReturnCodeMakesAFailureWhateverElseItHolds) {
  const PollAnswer answer = ReadPollAnswer(
      R"({"result":false,"returnCode":500,"message":"查询无结果，请隔段时间再查","state":"0","data":[{"context":"a"}]})");
  ASSERT_EQ(answer.kind, PollAnswer::Kind::kFailure);
  EXPECT_EQ(answer.failure.return_code, "500");
  EXPECT_EQ(answer.failure.message, "查询无结果，请隔段时间再查");
  EXPECT_EQ(ReadPollAnswer(R"({"returnCode":"601","message":7})").failure.message, "");
}

TEST(PollAnswers, MalformedNeverThrows) {
  const std::vector<std::string> bodies = {
      "", "  ", "[]", "\"ok\"", "3", "null", "{", R"({"state":"0","data":[)", "{\"a\":1}x",
      R"({"data":[]})", R"({"state":"0"})", R"({"state":"0","data":{}})",
      R"({"state":1.5,"data":[]})", R"({"state":true,"data":[]})", R"({"state":"0","data":"x"})",
      R"({"state":"0","data":[],"nu":5})", R"({"state":"0","data":[],"com":[]})",
      R"({"state":"0","data":[],"ischeck":false})", R"({"returnCode":null,"message":"x"})",
      R"({"returnCode":["500"],"state":"0","data":[]})", "{\"state\":\"0\",\"data\":[],\"nu\":\"\xFF\"}",
      R"({"state":"0","data":[],"n":1e999})",
      std::string(R"({"state":"0","data":[]})") + '\0' + "garbage"};
  EXPECT_EQ(ReadPollAnswer(" \r\n").malformed, "回答为空");
  for (const std::string& body : bodies) {
    PollAnswer answer;
    ASSERT_NO_THROW(answer = ReadPollAnswer(body)) << body;
    EXPECT_EQ(answer.kind, PollAnswer::Kind::kMalformed) << body;
    EXPECT_FALSE(answer.malformed.empty()) << body;
  }
  EXPECT_EQ(ReadPollAnswer(R"({"state":"0"})").malformed, "回答缺少 data");
}

TEST(PollAnswers, SizeAndDepthLimits) {
  const std::string deep = std::string(10000, '[') + std::string(10000, ']');
  EXPECT_EQ(ReadPollAnswer(deep).kind, PollAnswer::Kind::kMalformed);
  EXPECT_EQ(ReadDetectionAnswer(std::string(10000, '{')).kind, DetectionAnswer::Kind::kMalformed);
  // Brackets inside strings are not nesting.
  const std::string brackets(100000, '[');
  const PollAnswer in_string =
      ReadPollAnswer(R"({"state":"0","data":[{"context":")" + brackets + R"("}]})");
  ASSERT_EQ(in_string.kind, PollAnswer::Kind::kResult) << in_string.malformed;
  EXPECT_EQ(in_string.result.events.at(0).context, brackets);

  std::string nested = R"({"state":"0","x":)";
  for (int i = 0; i < json::kMaxDepth - 1; ++i) nested += "[";
  EXPECT_EQ(ReadPollAnswer(nested + std::string(json::kMaxDepth - 1, ']') + R"(,"data":[]})").kind,
            PollAnswer::Kind::kResult);
  EXPECT_EQ(ReadPollAnswer(nested + "[" + std::string(json::kMaxDepth, ']') + R"(,"data":[]})").kind,
            PollAnswer::Kind::kMalformed);

  const std::string huge = R"({"state":"0","data":[{"context":")" +
                           std::string(kMaxAnswerBytes, 'x') + R"("}]})";
  EXPECT_EQ(ReadPollAnswer(huge).kind, PollAnswer::Kind::kMalformed);
}

TEST(Detection, CandidatesFailureAndMalformed) {
  const DetectionAnswer found = ReadDetectionAnswer(
      R"([{"comCode":"yuantong","lengthPre":15,"name":"圆通速递"},{"comCode":1},"x",{"name":"n"},
          {"comCode":"jd","name":null}])");
  ASSERT_EQ(found.kind, DetectionAnswer::Kind::kCandidates);
  ASSERT_EQ(found.candidates.size(), 2u);
  EXPECT_EQ(found.candidates[0].code, "yuantong");
  EXPECT_EQ(found.candidates[0].name, "圆通速递");
  EXPECT_EQ(found.candidates[1].code, "jd");
  EXPECT_EQ(found.candidates[1].name, "");

  const DetectionAnswer none = ReadDetectionAnswer(" [ ] ");
  EXPECT_EQ(none.kind, DetectionAnswer::Kind::kCandidates);
  EXPECT_TRUE(none.candidates.empty());

  const DetectionAnswer failure =
      ReadDetectionAnswer(R"({"returnCode":"701","message":"key缺失","result":false})");
  ASSERT_EQ(failure.kind, DetectionAnswer::Kind::kFailure);
  EXPECT_EQ(failure.failure.return_code, "701");
  EXPECT_EQ(failure.failure.message, "key缺失");

  for (const std::string_view body : {"", "\"x\"", "{}", R"({"returnCode":{}})", "[{]"}) {
    const DetectionAnswer malformed = ReadDetectionAnswer(body);
    EXPECT_EQ(malformed.kind, DetectionAnswer::Kind::kMalformed) << body;
    EXPECT_FALSE(malformed.malformed.empty()) << body;  // the failure box says what was wrong
  }
}

TrackingResult WithState(std::string state, bool signed_for = false) {
  return {"", "", std::move(state), signed_for, {}};
}

TEST(Texts, EveryStateHasItsOwnTextAndOnlySignedOrReturnedOnesEndTheRefreshes) {
  // Code, text, whether it ends the refreshes.
  const std::tuple<std::string, std::string, bool> states[] = {
      {"0", "在途", false},         {"1001", "到达派件城市", false}, {"1002", "干线", false},     {"1003", "转递", false},
      {"1", "揽收", false},         {"101", "已下单", false},        {"102", "待揽收", false},    {"103", "已揽收", false},
      {"2", "疑难", false},         {"201", "超时未签收", false},    {"202", "超时未更新", false}, {"203", "拒收", false},
      {"204", "派件异常", false},   {"205", "柜或驿站超时未取", false}, {"206", "无法联系", false}, {"207", "超区", false},
      {"208", "滞留", false},       {"209", "破损", false},          {"210", "销单", false},      {"3", "已签收", true},
      {"301", "本人签收", true},    {"302", "派件异常后签收", true}, {"303", "代签", true},       {"304", "投柜或站签收", true},
      {"4", "退签", true},          {"401", "已销单", true},         {"5", "派件", false},        {"501", "投柜或驿站", false},
      {"6", "退回", false},         {"7", "转投", false},            {"8", "清关", false},        {"10", "待清关", false},
      {"11", "清关中", false},      {"12", "已清关", false},         {"13", "清关异常", false},   {"14", "拒签", false}};
  std::set<std::string> texts;
  for (const auto& [code, text, final] : states) {
    EXPECT_EQ(StateText(code), text) << code;
    EXPECT_EQ(IsFinal(WithState(code)), final) << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(states)) << "two states share a text";
  // A state not known shows as it comes and ends nothing; ischeck still tells a 签收.
  for (const std::string unknown : {"305", "502", "15", ""}) {
    EXPECT_TRUE(StateText(unknown) == unknown && !IsFinal(WithState(unknown)) && IsFinal(WithState(unknown, true)));
  }
}

TEST(Texts, RowsAreOneLineEach) {
  TrackingResult result;
  result.state = "0";
  result.events = {{"2024-01-01 08:00:00", "到达\r\n上海\n分拨\r中心\t", "", ""}};
  EXPECT_EQ(ResultRows(result, "圆通速递"),
            (Rows{"圆通速递  在途", "2024-01-01 08:00:00", "到达 上海 分拨 中心 "}));
}

TEST(Texts, EveryFailureCodeHasItsOwnHint) {
  const std::pair<const char*, const char*> hints[] = {
      {"400", "请检查所选的快递公司，以及窗口系统菜单的“查询服务账号…”中快递100的公司编号。"},
      {"408", "手机号后四位与运单登记的不一致，请检查后再查。"},
      {"501", "快递100服务器出错，请稍后再试。"},
      {"502", "快递100服务器繁忙，请稍后再试。"},
      {"503", "授权key不正确，请在窗口系统菜单的“查询服务账号…”中检查快递100的授权。"},
      {"601", "授权key已过期或查询额度已用完，请在窗口系统菜单的“查询服务账号…”中检查快递100的授权。"}};
  std::set<std::string> distinct;
  for (const auto& [code, hint] : hints) {
    EXPECT_EQ(ServiceFailureText({code, "验证签名失败"}), std::string("验证签名失败（") + code + "）\n" + hint);
    distinct.insert(hint);
  }
  EXPECT_EQ(distinct.size(), std::size(hints)) << "two codes share a hint";
  EXPECT_EQ(ServiceFailureText({"500", "查询无结果，请隔段时间再查"}),
            "查询无结果，请隔段时间再查（500）");
  EXPECT_EQ(ServiceFailureText({"502", ""}).rfind("快递100返回了错误（502）\n", 0), 0u);
  EXPECT_EQ(ServiceFailureText({"5\n0" + std::string(30, '3'), ""}), "快递100返回了错误（50" + std::string(14, '3') + "…）");
  // Controls go, and a long message is cut between characters.
  const std::string text = ServiceFailureText({"", "a\r\n\x1b\x7F\xC2\x9F" + std::string(300, 'b') + "中"});
  EXPECT_EQ(text, "a" + std::string(199, 'b') + "…");
  EXPECT_EQ(ServiceFailureText({"", "查询 无结果"}), "查询 无结果") << "a space is no control";
  EXPECT_EQ(ServiceFailureText({"", std::string(199, 'b') + "中文"}),
            std::string(199, 'b') + "中…");
}

TEST(Texts, AStatusOtherThan200IsAFailureThatSaysWhatKind) {
  const std::pair<unsigned, const char*> statuses[] = {{407, "HTTP 407，代理服务器要求验证身份"}, {404, "HTTP 404"},
      {500, "HTTP 500，服务器出错"}, {502, "HTTP 502，服务器出错"}, {599, "HTTP 599，服务器出错"}, {600, "HTTP 600"}, {204, "HTTP 204"}};
  for (const auto& [status, cause] : statuses) {
    const FetchOutcome checked = WithStatusChecked(FetchOutcome::Answered("{}", status));
    EXPECT_EQ(checked.failure, FetchFailure::kBadStatus) << status;
    EXPECT_EQ(checked.cause, cause);
  }
  EXPECT_TRUE(WithStatusChecked(FetchOutcome::Answered("{}", 200)).ok);
}

TEST(Texts, SecretNeverShown) {
  EXPECT_EQ(WithoutSecret("key=abc&k2=abcabc", "abc"), "key=***&k2=******");
  EXPECT_EQ(WithoutSecret("aaaa", "aa"), "******");
  EXPECT_EQ(WithoutSecret("text", ""), "text");
  // The cut must not leave the start of a key behind.
  const std::string echoed = std::string(195, 'm') + std::string(kKey);
  const std::string text = ServiceFailureText({"503", echoed}, kKey);
  EXPECT_EQ(text.find(kKey.substr(0, 5)), std::string::npos);
  EXPECT_NE(text.find("***"), std::string::npos);
}

}  // namespace
}  // namespace quenzil
