#include "app/watch_import.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/watch_table.h"

namespace quenzil {
namespace {

constexpr UnixSeconds kT0 = 1796722200;

// Each line as "row number carrier note phone verdict", "?" after a guessed courier.
std::string Summary(const std::vector<ImportLine>& lines) {
  std::string text;
  for (const ImportLine& line : lines) {
    text += std::to_string(line.line) + " " + line.parcel.number + " " + line.parcel.carrier + (line.guessed ? "?" : "") +
            " " + line.parcel.note + " " + line.parcel.phone + " " + std::string(VerdictText(line.verdict)) + "|";
  }
  return text;
}

std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

TEST(WatchImport, SheetsAndPastedLinesInEveryEncodingAndShapeWithTheirVerdicts) {
  const WatchList watched{.parcels = {{.number = "4311159956248", .carrier = "yunda"}}};
  struct Case {
    const char* what;
    std::string bytes;
    std::string lines;  // Summary, or the error
    bool pasted = false;
  };
  const std::vector<Case> cases = {
      {"UTF-8 with its mark, a header, quotes, every column",
       "\xEF\xBB\xBF" "备注,快递单号,快递公司,收件人手机,订单号\r\n"
       "\"妈妈, 的书\",YT2588814371952,圆通,138****5678,A-100\r\n"
       "\"两行\r\n的备注\",jt5261988016578 ,jtexpress,,\r\n"
       ",,,,\r\n"
       ",4311159956248,,,\r\n"
       "衣服, 75312098764412 ,\r\n"
       "重复,YT2588814371952,圆通速递\r\n"
       "坏的,abc,圆通\r\n"
       "空的,,圆通\r\n"
       "名字,YT2588814371953,极免\r\n",
       "2 YT2588814371952 yuantong 妈妈, 的书 订单号 A-100 5678 新增|"
       "3 JT5261988016578 jtexpress 两行 的备注  新增|"
       "5 4311159956248 yunda   已在关注列表|"
       "6 75312098764412 zhongtong? 衣服  新增|"
       "7 YT2588814371952 yuantong 重复  重复|"
       "8 ABC    不是快递单号|9     不是快递单号|10 YT2588814371953    快递公司不明|"},
      {"GBK, as Excel saves a CSV on a Chinese Windows",
       "\xBF\xEC\xB5\xDD\xB5\xA5\xBA\xC5,\xBF\xEC\xB5\xDD\xB9\xAB\xCB\xBE,\xB1\xB8\xD7\xA2\r\n"
       "YT2588814371952,\xD4\xB2\xCD\xA8,\xC2\xE8\xC2\xE8\r\n",
       "2 YT2588814371952 yuantong 妈妈  新增|"},
      {"tabs without a header: a mobile number is no tracking number",
       "王女士\t13800001234\tSF1408823456721\t顺丰\n李先生\t13900005678\t75312098764412\t中通\n",
       "1 SF1408823456721 shunfeng   新增|2 75312098764412 zhongtong   新增|"},
      {"UTF-16 as Excel's Unicode text", Utf16Le(u"运单号\t备注\r\nYT2588814371952\t书\r\n"),
       "2 YT2588814371952 yuantong? 书  新增|"},
      {"a workbook", std::string("PK\x03\x04\x14\x00", 6), "这是 Excel 工作簿文件"},
      {"nothing", "\xEF\xBB\xBF\r\n,\r\n", "文件里没有内容。"},
      {"no number anywhere", "姓名,地址\r\n王,杭州\r\n", "找不到单号"},
      {"pasted lines: blanks, tabs or commas, any order after the number",
       "YT2588814371952 妈妈的快递 1234 圆通\n\n  jt5261988016578\t书\t极兔\n75312098764412，衣服，13800001234\n12\n",
       "1 YT2588814371952 yuantong 妈妈的快递 1234 新增|3 JT5261988016578 jtexpress 书  新增|"
       "4 75312098764412 zhongtong? 衣服 1234 新增|5 12    不是快递单号|",
       true},
  };
  for (const Case& test : cases) {
    if (test.pasted) {
      EXPECT_EQ(Summary(ReadPastedLines(test.bytes, watched)), test.lines) << test.what;
      continue;
    }
    const SheetRead read = ReadSheet(test.bytes, watched);
    EXPECT_EQ(read.lines ? Summary(*read.lines) : read.error.substr(0, test.lines.size()), test.lines) << test.what;
  }
  // The lines keep what was written, and the reason of a refusal is said.
  const std::vector<ImportLine> lines = *ReadSheet(cases[0].bytes, watched).lines;
  EXPECT_EQ(lines[1].text, "\"两行\r\n的备注\",jt5261988016578 ,jtexpress,,");
  EXPECT_EQ(lines.back().reason, "不认识的快递公司：极免。相近的有：极兔速递、中通快递、圆通速递");
  EXPECT_EQ(lines[4].reason, "与第 2 行重复");

  // Past the 200: refused, and never counted as watched.
  WatchList full;
  for (int i = 0; i < 199; ++i) full.parcels.push_back({.number = "N" + std::to_string(i), .carrier = "ems"});
  const std::vector<ImportLine> past = ReadPastedLines("YT2588814371952\nYT2588814371953\n", full);
  EXPECT_EQ(Summary(past), "1 YT2588814371952 yuantong?   新增|2 YT2588814371953 yuantong?   超过关注上限|");
  EXPECT_TRUE(IsRefused(past[1].verdict));
}

TEST(WatchExport, ReadsBackAsTheListShowsItWithNoFormulaAndEveryDigit) {
  const WatchList list{.parcels = {
                           {.number = "75312098764412", .carrier = "zhongtong", .note = "=HYPERLINK(\"x\"), 2",
                            .state = "0",
                            .events = {{"2026-12-07 18:20:11", "已揽收", "上海", ""},
                                       {"2026-12-08 06:42:37", "快件已发出\n发往 \"杭州\"", "上海", ""}},
                            .last_checked = kT0, .city = "上海市"},
                           {.number = "SF1408823456721", .carrier = "shunfeng", .note = "+86 @家", .added = kT0},
                       }};
  const std::string sheet = ExportSheet(list, ExportRows::kParcels, kT0);
  ASSERT_TRUE(sheet.starts_with("\xEF\xBB\xBF" "备注,单号,快递公司,状态,当前城市,最新动态,动态时间,上次查询,查询服务,分类\r\n"));
  EXPECT_NE(sheet.find("\"'=HYPERLINK(\"\"x\"\"), 2\",\"=\"\"75312098764412\"\"\",中通快递"), std::string::npos) << sheet;
  const std::vector<std::vector<std::string>> rows = ParseSheet(sheet);
  ASSERT_EQ(rows.size(), 3u);
  const TableRow shown = RowOf(list.parcels[0]);
  std::vector<std::string> first(shown.cells.begin(), shown.cells.end());
  first.emplace_back("运输中");
  EXPECT_EQ(rows[1], first);
  EXPECT_EQ(rows[1][5], "快件已发出 发往 \"杭州\"");
  // And in again: every parcel, its courier and its note.
  const SheetRead again = ReadSheet(sheet, {});
  ASSERT_TRUE(again.lines);
  EXPECT_EQ(Summary(*again.lines),
            "2 75312098764412 zhongtong =HYPERLINK(\"x\"), 2  新增|3 SF1408823456721 shunfeng +86 @家  新增|");

  const std::vector<std::vector<std::string>> events = ParseSheet(ExportSheet(list, ExportRows::kEvents, kT0));
  ASSERT_EQ(events.size(), 4u) << "a row per event, and one for a parcel without any";
  EXPECT_EQ(events[0], (std::vector<std::string>{"备注", "单号", "快递公司", "状态", "时间", "地点", "动态"}));
  EXPECT_EQ(events[1][4] + events[1][5] + events[1][6], "2026-12-07 18:20:11上海已揽收");
}

}  // namespace
}  // namespace quenzil
