#include "query/services/appcode.h"

#include <gtest/gtest.h>

#include <string>

namespace quenzil {
namespace {

const AppCodeService kService{"appcode.test", {}, {"ac0de-secret"}};

FetchOutcome Refused(unsigned status, const std::string& reason) {
  FetchOutcome outcome = FetchOutcome::Answered("", status);
  if (!reason.empty()) outcome.headers.emplace_back("X-Ca-Error-Message", reason);
  return outcome;
}

std::string Answer(const std::string& status, const std::string& result = {}) {
  return R"({"status":")" + status + R"(","msg":"没有信息")" + (result.empty() ? "" : R"(,"result":)" + result) + "}";
}

TEST(AppCode, TheQueryCarriesTheCodeInOneHeaderAndThePhoneAfterTheNumber) {
  const FetchRequest request = kService.Query({"SF1408823456721", "shunfeng", "1234"});
  EXPECT_EQ(request.url, "https://appcode.test/kdi?no=SF1408823456721%3A1234&type=SFEXPRESS");
  EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{{"Authorization", "APPCODE ac0de-secret"}}));
  EXPECT_EQ(request.wanted_headers, std::vector<std::string>{"X-Ca-Error-Message"});
  EXPECT_EQ(request.billed_to, "appcode");
  EXPECT_EQ(kService.Query({"YT1", "yuantong", "1234"}).url, "https://appcode.test/kdi?no=YT1&type=YTO");
  EXPECT_EQ(kService.Query({"YT1", "", ""}).url, "https://appcode.test/kdi?no=YT1&type=") << "it finds the courier";
  EXPECT_TRUE(kService.FindsCourier());
  EXPECT_TRUE(kService.Serves("zhongtong") && kService.Serves("yunda") && !kService.Serves("jtexpress"));
}

TEST(AppCode, EveryStatusDeliveryStatusAndRefusalComesToItsOutcome) {
  const struct {
    std::string body;
    Outcome outcome;
  } bodies[] = {{Answer("201"), Outcome::kNoResultYet},       {Answer("203"), Outcome::kCourierNotServed},
                {Answer("204"), Outcome::kCourierNotServed},  {Answer("205"), Outcome::kNoResultYet},
                {Answer("207"), Outcome::kBadRequest},        {Answer("999"), Outcome::kBadRequest},
                {Answer("0", R"({"list":[]})"), Outcome::kNoResultYet}, {Answer("0"), Outcome::kUnreadable},
                {"<html>", Outcome::kUnreadable}};
  for (const auto& row : bodies) {
    EXPECT_EQ(kService.Read(FetchOutcome::Answered(row.body)).outcome, row.outcome) << row.body;
  }
  const std::string list = R"("list":[{"time":"2026-12-02 09:30:00","status":"派件中"},{"time":"2026-12-01 08:00:00","status":"已揽收"}])";
  const struct {
    std::string delivery, issign;
    const char* state;
    bool signed_for;
  } deliveries[] = {{"0", "0", "1", false}, {"1", "0", "0", false}, {"2", "0", "5", false}, {"3", "1", "3", true},
                    {"4", "0", "204", false}, {"5", "0", "2", false}, {"6", "1", "4", false}, {"9", "0", "0", false}};
  for (const auto& row : deliveries) {
    const ServiceAnswer answer = kService.Read(FetchOutcome::Answered(
        Answer("0", R"({"number":"YT1","type":"yto",)" + list + R"(,"deliverystatus":")" + row.delivery +
                        R"(","issign":")" + row.issign + R"(","expName":"圆通速递"})")));
    ASSERT_EQ(answer.outcome, Outcome::kRows) << row.delivery;
    EXPECT_EQ(answer.result.state, row.state) << row.delivery;
    EXPECT_EQ(answer.result.signed_for, row.signed_for) << row.delivery;
    EXPECT_EQ(answer.result.carrier_code, "yuantong") << "its code in any case, as the table names it";
    EXPECT_EQ(answer.result.events.front().context, "已揽收") << "oldest first";
  }
  const struct {
    unsigned status;
    std::string reason;
    Outcome outcome;
  } refusals[] = {{400, "Invalid AppCode `not exists`", Outcome::kAccountRefused},
                  {401, "Invalid AppCode", Outcome::kAccountRefused},
                  {403, "Unauthorized", Outcome::kAccountRefused},
                  {403, "Quota Exhausted", Outcome::kQuotaSpent},
                  {403, "Api Market Subscription quota exhausted", Outcome::kQuotaSpent},
                  {403, "Throttled by APP Flow Control", Outcome::kServerError},
                  {400, "Invalid Url", Outcome::kBadRequest},
                  {500, "Internal Error", Outcome::kServerError},
                  {502, "", Outcome::kServerError},
                  {407, "", Outcome::kNotReached}};
  for (const auto& row : refusals) {
    const ServiceAnswer answer = kService.Read(Refused(row.status, row.reason));
    EXPECT_EQ(answer.outcome, row.outcome) << row.status << " " << row.reason;
    EXPECT_EQ(answer.told.find("ac0de-secret"), std::string::npos);
  }
}

}  // namespace
}  // namespace quenzil
