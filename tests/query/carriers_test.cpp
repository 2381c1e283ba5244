#include "query/carriers.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace quenzil {
namespace {

constexpr std::string_view kHost = "api.test:8080";

std::string PathFor(std::string_view number, std::string_view code) {
  const std::string url = BuildQueryUrl(kHost, number, code);
  const std::string head = "http://" + std::string(kHost);
  EXPECT_EQ(url.substr(0, head.size()), head);
  return url.substr(head.size());
}

std::vector<std::string> QueryParameters(const std::string& url) {
  std::vector<std::string> parameters;
  const std::size_t query_at = url.find('?');
  std::size_t start = query_at + 1;
  while (true) {
    const std::size_t end = url.find('&', start);
    parameters.push_back(url.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parameters;
}

std::string PercentDecode(std::string_view encoded) {
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%' && i + 2 < encoded.size()) {
      decoded += static_cast<char>(std::stoi(std::string(encoded.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      decoded += encoded[i];
    }
  }
  return decoded;
}

TEST(QueryAddress, PutsCodeAndNumberIntoTheirSlots) {
  EXPECT_EQ(BuildQueryUrl(kHost, "1234567890", "yunda"),
            "http://api.test:8080/api?id=5e0b7c19d2a4f863&com=yunda&nu=1234567890"
            "&valicode=[]&show=2&muti=1&order=asc");
}

TEST(QueryAddress, SlotWordsInTheNumberAreNotSubstituted) {
  EXPECT_NE(PathFor("gongsi9", "ems").find("com=ems&nu=gongsi9&"), std::string::npos);
  EXPECT_NE(PathFor("danhao", "shunfeng").find("com=shunfeng&nu=danhao&"), std::string::npos);
  EXPECT_NE(PathFor("DANHAO", "ems").find("com=ems&nu=DANHAO&"), std::string::npos);
  EXPECT_NE(PathFor("GongSi", "ems").find("com=ems&nu=GongSi&"), std::string::npos);
}

TEST(QueryAddress, EncodesEverythingButUnreservedAscii) {
  EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(PercentEncode(" 12 34 "), "%2012%2034%20");
  EXPECT_EQ(PercentEncode("&#%+=?/:[]"), "%26%23%25%2B%3D%3F%2F%3A%5B%5D");
  EXPECT_EQ(PercentEncode("中文"), "%E4%B8%AD%E6%96%87");
  EXPECT_EQ(PercentEncode(std::string("\t\r\n\x7f\0\xff", 6)), "%09%0D%0A%7F%00%FF");
  EXPECT_EQ(PercentEncode(""), "");

  const std::string path = PathFor(" 12 &com=x#", "ems");
  EXPECT_EQ(path,
            "/api?id=5e0b7c19d2a4f863&com=ems&nu=%2012%20%26com%3Dx%23"
            "&valicode=[]&show=2&muti=1&order=asc");
}

// Whatever is typed, the query keeps its seven parameters and nu carries the
// typed bytes back unchanged.
TEST(QueryAddress, AnyNumberStaysTheValueOfNu) {
  std::mt19937 generator(20130120);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 24);
  for (int round = 0; round < 500; ++round) {
    std::string number;
    for (int i = length(generator); i > 0; --i) number += static_cast<char>(byte(generator));
    const std::string url = BuildQueryUrl(kHost, number, "zhongtong");
    const std::vector<std::string> parameters = QueryParameters(url);
    ASSERT_EQ(parameters.size(), 7u) << url;
    EXPECT_EQ(parameters[1], "com=zhongtong");
    ASSERT_EQ(parameters[2].substr(0, 3), "nu=");
    EXPECT_EQ(PercentDecode(parameters[2].substr(3)), number);
    EXPECT_EQ(parameters[3], "valicode=[]");
    EXPECT_EQ(url.find_first_of(" #"), std::string::npos) << url;
  }
}

TEST(CarrierChoice, FirstSelectedInTableOrderWins) {
  EXPECT_FALSE(SelectedCarrier([](std::size_t) { return false; }).has_value());

  std::vector<std::size_t> read;
  const auto chosen = SelectedCarrier([&](std::size_t row) {
    read.push_back(row);
    return row == 3 || row == 9;
  });
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, 3u);
  EXPECT_EQ(CarrierTable[*chosen].service_code, "shunfeng");
  EXPECT_EQ(read, (std::vector<std::size_t>{0, 1, 2, 3}));  // rows after it are not read

  const auto last = SelectedCarrier([](std::size_t row) { return row == 9; });
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(CarrierTable[*last].service_code, "ems");
}

TEST(CarrierChoice, CodesAreSpelledLikeTheButtons) {
  for (const Carrier& carrier : CarrierTable) {
    EXPECT_EQ(carrier.control_name, carrier.service_code);
  }
}

}  // namespace
}  // namespace quenzil
