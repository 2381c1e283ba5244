#include "query/services/kdniao.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "query/carriers.h"
#include "query/couriers.h"
#include "query/parcel_state.h"

namespace quenzil {
namespace {

const KdniaoAccount kFree{"1237100", "56da2cf8-c8a2-44b2-b6fa-476cd7d1ba17"};
const KdniaoService kService{"kdniao.test", {}, kFree};

std::string Answer(const std::string& fields) { return R"({"EBusinessID":"1237100",)" + fields + "}"; }

TEST(Kdniao, TheSignTheFormThePhoneAndTheServedCouriers) {
  // The service's own worked example.
  EXPECT_EQ(KdniaoSign("{'OrderCode':'','ShipperCode':'SF','LogisticCode':'118954907573'}", kFree.key),
            "OWFhM2I5N2ViM2U2MGRkMjc4YzU2NmVlZWI3ZDk0MmE=");
  const FetchRequest request = kService.Query({"YT1234567890123", "yuantong", "1234"});
  EXPECT_EQ(request.url, "https://kdniao.test/Ebusiness/EbusinessOrderHandle.aspx");
  EXPECT_EQ(request.method, "POST");
  EXPECT_TRUE(request.billable);
  EXPECT_EQ(request.billed_to, "kdniao");
  const std::string data = R"({"OrderCode":"","ShipperCode":"YTO","LogisticCode":"YT1234567890123"})";
  EXPECT_EQ(request.body, "RequestType=1002&EBusinessID=1237100&RequestData=" + PercentEncode(data) +
                              "&DataType=2&DataSign=" + PercentEncode(KdniaoSign(data, kFree.key)));
  const KdniaoService paid{"kdniao.test", {}, {"1237100", "k", true}};
  EXPECT_EQ(paid.Query({"1", "yuantong", ""}).body.rfind("RequestType=8001&", 0), 0u);
  EXPECT_EQ(kService.Detect("YT1").body.rfind("RequestType=2002&", 0), 0u);
  // The phone goes only to the couriers that ask, and only served couriers are asked.
  const struct {
    const char* courier;
    bool phone_sent;
  } rows[] = {{"shunfeng", true}, {"zhongtong", true}, {"kuayue", true}, {"yuantong", false}, {"jd", false}};
  for (const auto& row : rows) {
    const std::string data = KdniaoRequestData(CodeAt(*FindCourier(row.courier), CourierColumn::kKdniao), "N1", "1234");
    EXPECT_EQ(data.find(R"("CustomerName":"1234")") != std::string::npos, row.phone_sent) << row.courier;
  }
  EXPECT_EQ(KdniaoRequestData("SF", "N1", ""), R"({"OrderCode":"","ShipperCode":"SF","LogisticCode":"N1"})");
  // The free tier serves 申通, 天天 and 百世 through paid products only.
  for (const char* courier : {"zhongtong", "yuantong", "yunda", "jtexpress", "shunfeng", "ems", "jd"}) {
    EXPECT_TRUE(kService.Serves(courier)) << courier;
  }
  for (const char* courier : {"shentong", "tiantian", "huitongkuaidi", "shunfengkuaiyun", "zhongtongguoji", ""}) {
    EXPECT_FALSE(kService.Serves(courier)) << courier;
  }
  EXPECT_TRUE((KdniaoService{"h", {}, {"i", "k", true}}.Serves("shentong")));
}

TEST(Kdniao, EveryDocumentedStateAndFailureComesToItsOutcome) {
  const std::string trace = R"("Traces":[{"AcceptTime":"2026/12/01 08:00:00","AcceptStation":"已揽收","Action":"1"},)"
                            R"({"AcceptTime":"2026-12-02 09:30:00","AcceptStation":"派件中","Location":"杭州市","Action":"202"}])";
  const struct {
    std::string state, state_ex;  // empty: left out
    const char* model;            // signed for: state 3 only
  } states[] = {
      {"0", "", "0"},       {"1", "", "1"},       {"2", "", "0"},       {"3", "", "3"},       {"4", "", "2"},
      {"5", "", "7"},       {"6", "", "8"},       {"2", "10", "102"},   {"2", "201", "1001"}, {"2", "202", "5"},
      {"2", "204", "0"},    {"2", "205", "1001"}, {"2", "206", "0"},    {"2", "211", "501"},  {"3", "301", "301"},
      {"3", "302", "302"},  {"3", "304", "303"},  {"3", "311", "304"},  {"4", "401", "2"},    {"4", "402", "201"},
      {"4", "403", "202"},  {"4", "404", "203"},  {"4", "405", "204"},  {"4", "406", "4"},    {"4", "407", "6"},
      {"4", "412", "205"},  {"4", "413", "2"},    {"4", "414", "209"},  {"4", "415", "210"},  {"4", "416", "206"},
      {"4", "417", "208"},  {"4", "418", "2"},    {"4", "419", "5"},    {"4", "420", "2"},    {"4", "421", "2"},
      {"4", "422", "2"},    {"4", "423", "207"},  {"6", "601", "10"},   {"6", "602", "11"},   {"6", "603", "12"},
      {"6", "604", "13"},   {"3", "399", "3"},    {"9", "999", "0"},    {"", "", "0"},
  };
  for (const auto& row : states) {
    std::string fields = R"("Success":true,"LogisticCode":"YT1","Location":"杭州市",)" + trace;
    if (!row.state.empty()) fields += R"(,"State":")" + row.state + "\"";
    if (!row.state_ex.empty()) fields += R"(,"StateEx":)" + row.state_ex;  // a number: both come
    const ServiceAnswer answer = kService.Read(FetchOutcome::Answered(Answer(fields)));
    ASSERT_EQ(answer.outcome, Outcome::kRows) << row.state_ex;
    EXPECT_EQ(answer.result.state, row.model) << row.state << "/" << row.state_ex;
    EXPECT_EQ(answer.result.signed_for, row.state == "3") << row.state << "/" << row.state_ex;
    EXPECT_EQ(answer.result.events.front().time, "2026-12-01 08:00:00") << "its older form of a time";
    EXPECT_EQ(answer.result.events.back().status, "派件") << "a trace's action as the model names it";
    EXPECT_EQ(answer.result.events.back().area + answer.result.city, "杭州市杭州市");
  }

  const struct {
    std::string fields;
    Outcome outcome;
  } answers[] = {
      {R"("Success":true,"Traces":[],"State":"0","Reason":"暂无轨迹信息")", Outcome::kNoResultYet},
      {R"("Success":false,"Reason":"暂无轨迹信息")", Outcome::kNoResultYet},
      {R"("Success":false,"Reason":"非法参数[请核实ID和key是否正确]")", Outcome::kAccountRefused},
      {R"("Success":false,"Reason":"业务错误[没有可用套餐]")", Outcome::kQuotaSpent},
      {R"("Success":false,"Reason":"您的套餐已到期")", Outcome::kQuotaSpent},
      {R"("Success":false,"Reason":"顺丰单号查询需要提供手机号后四位")", Outcome::kPhoneNeeded},
      {R"("Success":false,"Reason":"无效的输入[【ShipperCode】不正确]")", Outcome::kCourierNotServed},
      {R"("Success":false,"Reason":"系统繁忙")", Outcome::kServerError},
      {R"("Success":false,"Reason":"其他原因")", Outcome::kBadRequest},
      {R"("Success":false,"Reason":null)", Outcome::kBadRequest},
      {R"("Reason":"x")", Outcome::kUnreadable},
      {R"("Success":"true")", Outcome::kUnreadable},
  };
  for (const auto& row : answers) {
    EXPECT_EQ(kService.Read(FetchOutcome::Answered(Answer(row.fields))).outcome, row.outcome) << row.fields;
  }
  EXPECT_EQ(kService.Read(FetchOutcome::Answered("[]")).outcome, Outcome::kUnreadable);
  EXPECT_EQ(kService.Read(FetchOutcome::Answered(Answer(R"("Success":true)"), 502)).outcome, Outcome::kNotReached);
  EXPECT_NE(kService.Read(FetchOutcome::Answered(Answer(R"("Success":false,"Reason":"业务错误[没有可用套餐]")")))
                .told.find("没有可用套餐"),
            std::string::npos);
}

TEST(Kdniao, DetectionNamesTheTableCouriersOnly) {
  const Detection found = kService.ReadDetection(FetchOutcome::Answered(
      Answer(R"("Success":true,"Shippers":[{"ShipperCode":"ZTO","ShipperName":"中通快递"},{"ShipperCode":"XYZ"}])")));
  ASSERT_EQ(found.kind, Detection::Kind::kCandidates);
  ASSERT_EQ(found.candidates.size(), 1u);
  EXPECT_EQ(found.candidates[0].code, "zhongtong");
  EXPECT_EQ(kService.ReadDetection(FetchOutcome::Answered(Answer(R"("Success":false,"Reason":"套餐已到期")"))).kind,
            Detection::Kind::kNotOffered);
  EXPECT_EQ(kService.ReadDetection(FetchOutcome::Answered(Answer(R"("Success":false,"Reason":"x")"))).kind,
            Detection::Kind::kRefused);
  EXPECT_EQ(kService.ReadDetection(FetchOutcome::Answered("{")).kind, Detection::Kind::kFailed);
}

}  // namespace
}  // namespace quenzil
