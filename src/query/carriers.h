// The carriers the window offers and the tracking service's query address.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quenzil {

struct Carrier {
  std::string_view control_name;  // the option button in Frame1
  std::string_view caption;
  std::string_view service_code;  // spelled like the button's name
};

// Table order decides which selected button wins; the window shows them in
// another order.
inline constexpr std::array<Carrier, 10> CarrierTable{{
    {"zhongtong", "中通", "zhongtong"},
    {"yuantong", "圆通", "yuantong"},
    {"shentong", "申通", "shentong"},
    {"shunfeng", "顺丰", "shunfeng"},
    {"yunda", "韵达", "yunda"},
    {"huitongkuaidi", "汇通", "huitongkuaidi"},
    {"tiantian", "天天", "tiantian"},
    {"zhaijisong", "宅急送", "zhaijisong"},
    {"quanfengkuaidi", "全峰", "quanfengkuaidi"},
    {"ems", "EMS", "ems"},
}};

// Path and query after the host; "gongsi" and "danhao" are the slots.
inline constexpr std::string_view QueryUrlTemplate =
    "/api?id=5e0b7c19d2a4f863&com=gongsi&nu=danhao&valicode=[]&show=2&muti=1&order=asc";

// The first row, in table order, whose button is selected; none when no
// button is. is_selected takes a CarrierTable index.
std::optional<std::size_t> SelectedCarrier(const std::function<bool(std::size_t)>& is_selected);

// "http://" + api_host + the template with the code at com and the number at
// nu. The number is percent-encoded (UTF-8) so that it is the value of nu
// and nothing else; it is never touched by the code's substitution.
std::string BuildQueryUrl(std::string_view api_host, std::string_view number,
                          std::string_view service_code);

// Percent-encoding of one query value: unreserved ASCII stays, every other
// byte becomes %XX.
std::string PercentEncode(std::string_view value);

}  // namespace quenzil
