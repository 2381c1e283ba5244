#include "query/couriers.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "query/carriers.h"

namespace quenzil {

namespace {

// Shapes as the couriers publish them (see bench/guess/numbers.tsv for the
// sources); per_mille is each shape's share of today's parcels, roughly,
// from the couriers' published volumes. Couriers without a published shape
// are found through the service's detection or picked by hand. The last two
// columns are the courier's codes at 快递鸟 and at the AppCode market API
// (see the README for where they come from); empty: that service does not
// know it, and it is never asked about it.
constexpr Courier kCouriers[] = {
    {"zhongtong", "中通快递", {"中通", "中通速递", "ZTO"}, {{{"7[3-68]#{12}", 190}}}, "ZTO", "ZTO"},
    {"yuantong", "圆通速递", {"圆通", "圆通快递", "YTO"}, {{{"YT#{13}", 158}}}, "YTO", "YTO"},
    {"yunda", "韵达快递", {"韵达", "韵达速递", "YD"}, {{{"[34]#{14}", 128}, {"[1345]#{12}", 6}}}, "YD", "YUNDA"},
    {"shentong", "申通快递", {"申通", "STO"},
     {{{"77#{13}", 124}, {"77#{12}", 4}, {"[2-9]68#{9}", 1}, {"[568]88#{9}", 1}}}, "STO", "STO"},
    {"jtexpress", "极兔速递", {"极兔", "极兔快递", "J&T", "JT"}, {{{"JT#{12,13}", 116}}}, "JTSD", ""},
    {"shunfeng", "顺丰速运", {"顺丰", "顺丰快递", "SF"}, {{{"SF[0-9A-Z]#{12}", 86}, {"#{12}", 1}}}, "SF", "SFEXPRESS"},
    {"youzhengguonei", "邮政快递包裹", {"邮政", "邮政包裹", "邮政快递", "中国邮政"},
     {{{"9[689]#{11}", 55}, {"1[12]#{11}", 8}, {"4#{12}", 2}, {"P[A-Z]#{11}", 3}}}, "YZPY", "CHINAPOST"},
    {"jd", "京东物流", {"京东", "京东快递", "JD"}, {{{"JD[0-9A-Z]{2}#{11}", 35}}}, "JD", "JD"},
    {"ems", "EMS", {"邮政EMS", "中国邮政EMS", "E邮宝"},
     {{{"1[01]#{11}", 9}, {"5[01]#{11}", 3}, {"9[57]#{11}", 2}, {"E[A-Z]#{9}[A-Z]{2}", 3}}}, "EMS", "EMS"},
    {"danniao", "菜鸟速递", {"菜鸟", "丹鸟", "丹鸟快递"}, {{{"621#{12}", 8}}}, "", ""},
    {"debangkuaidi", "德邦快递", {"德邦", "DPK"}, {{{"DPK#{12}", 6}}}, "DBL", "DEPPON"},
    {"fengwang", "丰网速运", {"丰网", "丰网快递"}, {{{"FW#{10,15}", 4}}}, "FWX", ""},
    {"zhongyouex", "众邮快递", {"众邮"}, {}, "ZYE", ""},
    {"annengwuliu", "安能快运", {"安能", "安能物流", "安能快递"}, {{{"3#{11}", 4}}}, "ANEKY", "ANE"},
    {"baishiwuliu", "百世快运", {}, {}, "BTWL", "BSKY"},
    {"kuayue", "跨越速运", {"跨越", "跨越快递"}, {}, "KYSY", "KYEXPRESS"},
    {"zhongtongkuaiyun", "中通快运", {}, {{{"2#{11}", 3}}}, "ZTOKY", "ZTO56"},
    {"yimidida", "壹米滴答", {"壹米"}, {{{"1#{11}", 2}}}, "YMDD", ""},
    {"sxjdfreight", "顺心捷达", {"顺心"}, {}, "SX", ""},
    {"yundakuaiyun", "韵达快运", {}, {}, "YDKY", ""},
    {"jingdongkuaiyun", "京东快运", {}, {}, "JDKY", ""},
    {"shunfengkuaiyun", "顺丰快运", {}, {}, "", ""},
    {"yuantongkuaiyun", "圆通快运", {}, {}, "", ""},
    {"youzhengbk", "邮政标准快递", {"邮政标快"}, {}, "YZBK", ""},
    {"zhaijisong", "宅急送", {"ZJS"}, {{{"ZJS#{12}", 1}, {"A#{12}", 1}, {"42#{8}", 2}, {"16#{8}", 2}}}, "ZJS", "ZJS"},
    {"youshuwuliu", "优速快递", {"优速"}, {{{"VIP#{9}", 1}, {"V#{11}", 1}, {"9001#{8}", 2}}}, "UC", "UC56"},
    {"debangwuliu", "德邦物流", {}, {{{"#{8,10}", 1}}}, "DBLKY", "DEPPON"},
    {"suer", "速尔快递", {"速尔"}, {{{"SUR#{12}", 1}}}, "SURE", "SURE"},
    {"suning", "苏宁物流", {"苏宁"}, {}, "SNWL", "SUNING"},
    {"ztky", "中铁快运", {"中铁"}, {}, "ZTKY", "CRE"},
    {"rrs", "日日顺物流", {"日日顺"}, {}, "RRS", ""},
    {"annto", "安得物流", {"安得"}, {}, "ANNTO", ""},
    {"huitongkuaidi", "百世快递", {"汇通", "百世", "百世汇通", "汇通快递"}, {{{"5#{13,14}", 1}, {"0[02]#{11}", 1}}}, "HTKY", "HTKY"},
    {"tiantian", "天天快递", {"天天"}, {{{"TT#{13}", 1}, {"66#{10}", 2}, {"88#{10}", 2}, {"99[58]#{9}", 2}}}, "HHTT", "TTKDEX"},
    {"quanfengkuaidi", "全峰快递", {"全峰"}, {{{"#{12}", 1}}}, "", "QFKD"},
    {"guotongkuaidi", "国通快递", {"国通"}, {}, "", "GTO"},
    {"youzhengguoji", "国际包裹", {"邮政国际", "国际小包"}, {{{"R[A-Z]#{9}CN", 1}}}, "", ""},
    {"dhl", "DHL-中国件", {"DHL"}, {{{"#{10}", 1}}}, "DHL", "DHL"},
    {"ups", "UPS", {}, {{{"1Z[0-9A-Z]{16}", 1}}}, "UPS", "UPS"},
    {"fedex", "FedEx-国际件", {"FedEx", "联邦快递"}, {}, "FEDEX", "FEDEX"},
};

// The pinyin people type for each courier's Chinese names, by the courier's
// code: none of it is a code of the service, so a word spelt so is a name
// that went wrong, not a query to pay for. 联邦快递 has none: the service's
// own code of FedEx in China is lianbangkuaidi. A pinyin that is the code
// itself (zhongtong) is a code already.
struct CourierPinyin {
  std::string_view code;
  std::array<std::string_view, 5> spellings;  // empty ones unused
};
constexpr CourierPinyin kPinyin[] = {
    {"zhongtong", {"zhongtongkuaidi", "zhongtongsudi"}},
    {"yuantong", {"yuantongsudi", "yuantongkuaidi"}},
    {"yunda", {"yundakuaidi", "yundasudi"}},
    {"shentong", {"shentongkuaidi"}},
    {"jtexpress", {"jitusudi", "jitu", "jitukuaidi"}},
    {"shunfeng", {"shunfengsuyun", "shunfengkuaidi"}},
    {"youzhengguonei", {"youzhengkuaidibaoguo", "youzhengbaoguo", "youzhengkuaidi", "zhongguoyouzheng"}},
    {"jd", {"jingdongwuliu", "jingdong", "jingdongkuaidi"}},
    {"ems", {"youzhengems", "zhongguoyouzhengems"}},
    {"danniao", {"cainiaosudi", "cainiao", "danniaokuaidi"}},
    {"debangkuaidi", {"debang"}},
    {"fengwang", {"fengwangsuyun", "fengwangkuaidi"}},
    {"zhongyouex", {"zhongyoukuaidi"}},
    {"annengwuliu", {"annengkuaiyun", "anneng", "annengkuaidi"}},
    {"baishiwuliu", {"baishikuaiyun"}},
    {"kuayue", {"kuayuesuyun", "kuayuekuaidi"}},
    {"zhongtongkuaiyun", {}},
    {"yimidida", {"yimi"}},
    {"sxjdfreight", {"shunxinjieda", "shunxin"}},
    {"yundakuaiyun", {}},
    {"jingdongkuaiyun", {}},
    {"shunfengkuaiyun", {}},
    {"yuantongkuaiyun", {}},
    {"youzhengbk", {"youzhengbiaozhunkuaidi", "youzhengbiaokuai"}},
    {"zhaijisong", {}},
    {"youshuwuliu", {"yousukuaidi", "yousu"}},
    {"debangwuliu", {}},
    {"suer", {"suerkuaidi"}},
    {"suning", {"suningwuliu"}},
    {"ztky", {"zhongtiekuaiyun", "zhongtie"}},
    {"rrs", {"ririshunwuliu", "ririshun"}},
    {"annto", {"andewuliu", "ande"}},
    {"huitongkuaidi", {"baishikuaidi", "huitong", "baishi", "baishihuitong"}},
    {"tiantian", {"tiantiankuaidi"}},
    {"quanfengkuaidi", {"quanfeng"}},
    {"guotongkuaidi", {"guotong"}},
    {"youzhengguoji", {"guojibaoguo", "guojixiaobao"}},
    {"dhl", {}},
    {"ups", {}},
    {"fedex", {}},
};

constexpr bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Upper(x) == Upper(y);
         });
}

// The C++ locale traits in both builds: the Windows default would classify
// bytes by the system code page.
using ShapeRegex = boost::basic_regex<char, boost::cpp_regex_traits<char>>;

// A shape as a regular expression: "#" stands for [0-9]; letters in either
// case.
ShapeRegex CompileShape(std::string_view pattern) {
  std::string expression;
  for (const char c : pattern) expression += c == '#' ? std::string_view("[0-9]") : std::string_view(&c, 1);
  return ShapeRegex(expression, boost::regex::perl | boost::regex::icase);
}

struct CompiledShape {
  const Courier* courier;
  const NumberShape* shape;
  ShapeRegex regex;
};

// Every shape of the table, compiled once.
const std::vector<CompiledShape>& TableShapes() {
  static const std::vector<CompiledShape> shapes = [] {
    std::vector<CompiledShape> compiled;
    for (const Courier& courier : kCouriers) {
      for (const NumberShape& shape : courier.shapes) {
        if (!shape.pattern.empty()) compiled.push_back({&courier, &shape, CompileShape(shape.pattern)});
      }
    }
    return compiled;
  }();
  return shapes;
}

// Letters make a shape the courier's own; digits alone are shared.
bool NamesItsCourier(std::string_view pattern) {
  bool in_set = false;
  for (const char c : pattern) {
    if (c == '[' || c == ']') in_set = c == '[';
    if (!in_set && IsAsciiLetter(c)) return true;
  }
  return false;
}

std::vector<std::string_view> CodePoints(std::string_view text) {
  std::vector<std::string_view> points;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) ++length;
    points.push_back(text.substr(at, length));
    at += length;
  }
  return points;
}

// Edit distance over code points, Latin letters in either case: a typo of a
// Chinese name is one step, and so is a swap of two neighbours ("yuantnog").
std::size_t Distance(std::string_view a, std::string_view b) {
  const auto left = CodePoints(a);
  const auto right = CodePoints(b);
  const auto same = [](std::string_view x, std::string_view y) {
    return x.size() == 1 && y.size() == 1 ? Upper(x[0]) == Upper(y[0]) : x == y;
  };
  // Three rows: the one before last is needed for a swap.
  std::vector<std::size_t> before(right.size() + 1), last(right.size() + 1), row(right.size() + 1);
  for (std::size_t j = 0; j <= right.size(); ++j) last[j] = j;
  for (std::size_t i = 1; i <= left.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= right.size(); ++j) {
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + (same(left[i - 1], right[j - 1]) ? 0 : 1)});
      if (i > 1 && j > 1 && same(left[i - 1], right[j - 2]) && same(left[i - 2], right[j - 1])) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
    std::swap(before, last);
    std::swap(last, row);
  }
  return last[right.size()];
}

bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [](char x, char y) { return Upper(x) == Upper(y); }) != text.end();
}

// Every way the courier is written: code, full name, short names, pinyin.
std::vector<std::string_view> Spellings(const Courier& courier) {
  std::vector<std::string_view> spellings = {courier.code, courier.name};
  for (const std::string_view alias : courier.aliases) {
    if (!alias.empty()) spellings.push_back(alias);
  }
  for (const CourierPinyin& row : kPinyin) {
    if (row.code != courier.code) continue;
    for (const std::string_view pinyin : row.spellings) {
      if (!pinyin.empty()) spellings.push_back(pinyin);
    }
  }
  return spellings;
}

}  // namespace

std::span<const Courier> Couriers() { return kCouriers; }

const Courier* FindCourier(std::string_view code) {
  for (const Courier& courier : kCouriers) {
    if (courier.code == code) return &courier;
  }
  return nullptr;
}

const Courier* FindCourierNamed(std::string_view text) {
  for (const Courier& courier : kCouriers) {
    if (SameIgnoringAsciiCase(courier.code, text) || SameIgnoringAsciiCase(courier.name, text)) return &courier;
    for (const std::string_view alias : courier.aliases) {
      if (!alias.empty() && SameIgnoringAsciiCase(alias, text)) return &courier;
    }
  }
  return nullptr;
}

std::vector<std::string_view> ClosestCourierNames(std::string_view text, std::size_t count) {
  std::vector<std::pair<std::size_t, const Courier*>> ranked;
  for (const Courier& courier : kCouriers) {
    // The very spelling first, then one that holds what was typed, then
    // the nearest by typos.
    std::size_t best = std::string_view::npos;
    for (const std::string_view spelling : Spellings(courier)) {
      best = std::min(best, SameIgnoringAsciiCase(spelling, text)        ? 0
                            : ContainsIgnoringAsciiCase(spelling, text) ? 1
                                                                        : Distance(text, spelling) + 1);
    }
    ranked.emplace_back(best, &courier);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string_view> names;
  for (std::size_t i = 0; i < ranked.size() && i < count; ++i) names.push_back(ranked[i].second->name);
  return names;
}

bool IsNearMissOfCourierTable(std::string_view word) {
  if (FindCourierNamed(word)) return false;
  const std::size_t word_length = CodePoints(word).size();
  for (const Courier& courier : kCouriers) {
    for (const std::string_view spelling : Spellings(courier)) {
      // One typo in five letters, two in eight; a short word must be exact.
      const std::size_t longer = std::max(word_length, CodePoints(spelling).size());
      const std::size_t typos = longer >= 8 ? 2 : longer >= 5 ? 1 : 0;
      // The service names couriers of its own by a table's code and more
      // ("yuantongguoji", "dhlen"): such a word is no typo.
      const bool extends = word.size() >= spelling.size() + 2 &&
                           SameIgnoringAsciiCase(word.substr(0, spelling.size()), spelling);
      if (!extends && Distance(word, spelling) <= typos) return true;
    }
  }
  return false;
}

const std::vector<const Courier*>& OtherCouriers() {
  static const std::vector<const Courier*> others = [] {
    std::vector<const Courier*> list;
    for (const Courier& courier : kCouriers) {
      const bool button = std::any_of(CarrierTable.begin(), CarrierTable.end(),
                                      [&](const Carrier& carrier) { return carrier.service_code == courier.code; });
      if (!button) list.push_back(&courier);
    }
    return list;
  }();
  return others;
}

std::optional<std::size_t> OtherCourierStartingWith(std::string_view typed) {
  const auto begins = [typed](std::string_view name) {
    return !name.empty() && name.size() >= typed.size() && SameIgnoringAsciiCase(name.substr(0, typed.size()), typed);
  };
  const auto& others = OtherCouriers();
  for (std::size_t index = 0; index < others.size() && !typed.empty(); ++index) {
    const Courier& courier = *others[index];
    if (begins(courier.code) || begins(courier.name) ||
        std::any_of(courier.aliases.begin(), courier.aliases.end(), begins)) {
      return index;
    }
  }
  return std::nullopt;
}

std::string_view CodeAt(const Courier& courier, CourierColumn column) {
  return column == CourierColumn::kKdniao ? courier.kdniao : courier.appcode;
}

const Courier* FindCourierAt(CourierColumn column, std::string_view code) {
  if (code.empty()) return nullptr;
  for (const Courier& courier : kCouriers) {
    if (SameIgnoringAsciiCase(CodeAt(courier, column), code)) return &courier;
  }
  return nullptr;
}

std::string CarrierName(std::string_view code, std::string_view detected_name) {
  if (const Courier* courier = FindCourier(code)) return std::string(courier->name);
  return std::string(detected_name.empty() ? code : detected_name);
}

bool MatchesShape(std::string_view pattern, std::string_view number) {
  if (pattern.empty()) return false;
  for (const CompiledShape& compiled : TableShapes()) {
    if (compiled.shape->pattern == pattern) return boost::regex_match(number.begin(), number.end(), compiled.regex);
  }
  const ShapeRegex regex = CompileShape(pattern);
  return boost::regex_match(number.begin(), number.end(), regex);
}

std::vector<CourierGuess> GuessCouriers(std::string_view number) {
  struct Ranked {
    const Courier* courier;
    int per_mille;
    bool named;  // a shape with letters matched
  };
  // A courier's shapes follow one another: its best match is one entry.
  std::vector<Ranked> ranked;
  for (const CompiledShape& compiled : TableShapes()) {
    if (!boost::regex_match(number.begin(), number.end(), compiled.regex)) continue;
    const bool named = NamesItsCourier(compiled.shape->pattern);
    if (!ranked.empty() && ranked.back().courier == compiled.courier) {
      ranked.back().per_mille = std::max(ranked.back().per_mille, compiled.shape->per_mille);
      ranked.back().named = ranked.back().named || named;
    } else {
      ranked.push_back({compiled.courier, compiled.shape->per_mille, named});
    }
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const Ranked& a, const Ranked& b) { return a.per_mille > b.per_mille; });
  std::vector<CourierGuess> guesses;
  for (const Ranked& entry : ranked) guesses.push_back({entry.courier, ranked.size() == 1 && entry.named});
  return guesses;
}

}  // namespace quenzil
