#include "app/watch_import.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <utility>

#include "app/watch_table.h"
#include "common/text_fit.h"
#include "query/couriers.h"
#include "query/tracking_number.h"
#include "web/charset.h"

namespace quenzil {

namespace {

using Verdict = ImportLine::Verdict;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// ---- Verdicts ---------------------------------------------------------------

// The verdict of each entry, the ones before it counted: the list's limit
// and the parcels already named.
class Checker {
 public:
  explicit Checker(const WatchList& watched) : watched_(watched), count_(watched.parcels.size()) {}

  ImportLine Check(const ImportEntry& entry) {
    ImportLine line;
    line.line = entry.line;
    line.text = entry.text;
    const std::string number = TrackingNumberOf(entry.number);
    line.parcel.number = number;
    if (number.empty()) return Refuse(std::move(line), Verdict::kNotANumber, "没有单号");
    if (!IsTrackingNumber(number)) {
      return Refuse(std::move(line), Verdict::kNotANumber,
                    "“" + CutCharacters(OneLine(entry.number), 40) + "”不是快递单号（应为6～32位字母和数字，其中至少6位数字）");
    }
    if (!Courier(entry, line)) return line;
    line.parcel.note = OneLine(TrimBlanks(entry.note));
    line.parcel.phone = entry.phone;
    const ParcelKey key{line.parcel.number, line.parcel.carrier};
    const auto earlier = std::find_if(seen_.begin(), seen_.end(), [&](const auto& seen) { return seen.first == key; });
    if (earlier != seen_.end()) {
      return Refuse(std::move(line), Verdict::kRepeated, "与第 " + std::to_string(earlier->second) + " 行重复");
    }
    seen_.emplace_back(key, entry.line);
    if (FindParcel(watched_, key.first, key.second)) {
      line.verdict = Verdict::kAlreadyWatched;
      return line;
    }
    if (count_ >= kMaxWatched) {
      return Refuse(std::move(line), Verdict::kBeyondLimit, "最多只能关注" + std::to_string(kMaxWatched) + "个单号");
    }
    ++count_;
    line.verdict = Verdict::kNew;
    return line;
  }

 private:
  static ImportLine Refuse(ImportLine line, Verdict verdict, std::string reason) {
    line.verdict = verdict;
    line.reason = std::move(reason);
    return line;
  }

  // The courier named, or the one a parcel of this number is watched
  // under, or the guess's first; false (the line refused) when none.
  bool Courier(const ImportEntry& entry, ImportLine& line) const {
    WatchedParcel& parcel = line.parcel;
    const std::string_view named = TrimBlanks(entry.courier);
    if (!named.empty()) {
      if (const quenzil::Courier* courier = FindCourierNamed(named)) {
        parcel.carrier = std::string(courier->code);
        return true;
      }
      std::string reason = "不认识的快递公司：" + CutCharacters(OneLine(named), 20);
      const std::vector<std::string_view> close = ClosestCourierNames(named);
      for (std::size_t index = 0; index < close.size(); ++index) {
        reason.append(index == 0 ? "。相近的有：" : "、").append(close[index]);
      }
      line = Refuse(std::move(line), Verdict::kUnknownCourier, std::move(reason));
      return false;
    }
    // Not named: the parcel of this number already watched is the one meant.
    for (const WatchedParcel& watched : watched_.parcels) {
      if (watched.number != parcel.number) continue;
      parcel.carrier = watched.carrier;
      parcel.carrier_name = watched.carrier_name;
      return true;
    }
    const std::vector<CourierGuess> guesses = GuessCouriers(parcel.number);
    if (guesses.empty()) {
      line = Refuse(std::move(line), Verdict::kUnknownCourier, "认不出是哪家快递公司，请写明快递公司");
      return false;
    }
    parcel.carrier = std::string(guesses.front().courier->code);
    line.guessed = true;
    return true;
  }

  const WatchList& watched_;
  std::size_t count_;
  std::vector<std::pair<ParcelKey, std::size_t>> seen_;  // each parcel and its first line
};

// ---- Text -------------------------------------------------------------------

bool IsBlank(std::string_view text) { return TrimBlanks(text).empty(); }

bool IsDigit(char character) { return character >= '0' && character <= '9'; }

// The last four digits of a phone number as people write it ("138 0013
// 8000", "138****8000"); empty when it has fewer.
std::string LastFourDigits(std::string_view text) {
  std::string digits;
  for (const char character : text) {
    if (IsDigit(character)) digits += character;
  }
  return digits.size() < 4 ? std::string() : digits.substr(digits.size() - 4);
}

// A pasted word that is a phone number or its last four digits.
bool IsPhoneWord(std::string_view word) {
  const bool shape = std::all_of(word.begin(), word.end(), [](char c) { return IsDigit(c) || c == '*'; });
  return shape && (word.size() == 4 || word.size() == 11) && LastFourDigits(word).size() == 4;
}

// The pieces between the separators, blanks around each dropped, empty
// ones left out.
std::vector<std::string_view> Split(std::string_view text, const std::vector<std::string_view>& separators) {
  std::vector<std::string_view> pieces;
  while (true) {
    std::size_t at = std::string_view::npos;
    std::size_t length = 0;
    for (const std::string_view separator : separators) {
      const std::size_t found = text.find(separator);
      if (found < at) {
        at = found;
        length = separator.size();
      }
    }
    const std::string_view piece = TrimBlanks(text.substr(0, at));
    if (!piece.empty()) pieces.push_back(piece);
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + length);
  }
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (true) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) return lines;
    text.remove_prefix(end + 1);
  }
}

// ---- Sheets -----------------------------------------------------------------

// One record of a sheet: its fields, and its text as it stood.
struct Record {
  std::vector<std::string> fields;
  std::string_view text;
};

// UTF-16 with its byte-order mark (Excel's 另存为 “Unicode 文本”) as UTF-8;
// an unpaired surrogate becomes U+FFFD.
std::string FromUtf16(std::string_view bytes) {
  const bool little = static_cast<unsigned char>(bytes[0]) == 0xFF;
  const auto unit = [&](std::size_t at) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[at]);
    const auto second = static_cast<unsigned char>(bytes[at + 1]);
    return little ? first | (second << 8) : (first << 8) | second;
  };
  std::string text;
  for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
    char32_t code = unit(at);
    if (code >= 0xD800 && code <= 0xDBFF && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 && unit(at + 2) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      text += static_cast<char>(code);
    } else if (code < 0x800) {
      text += static_cast<char>(0xC0 | (code >> 6));
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      text += static_cast<char>(0xE0 | (code >> 12));
      text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (code >> 18));
      text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return text;
}

std::string Decoded(std::string_view bytes) {
  if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
    return FromUtf16(bytes);
  }
  // UTF-8 with or without its mark, else GBK (code page 936).
  return DecodeBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// A tab between the fields of the first records (outside quotes) more often
// than a comma: tab-separated text, as Excel copies and saves it; else a CSV.
char SeparatorOf(std::string_view text) {
  std::size_t tabs = 0;
  std::size_t commas = 0;
  std::size_t records = 0;
  bool quoted = false;
  for (std::size_t at = 0; at < text.size() && records < 5; ++at) {
    const char character = text[at];
    if (character == '"') quoted = !quoted;
    if (quoted) continue;
    tabs += character == '\t';
    commas += character == ',';
    records += character == '\n';
  }
  return tabs > commas ? '\t' : ',';
}

// What Excel shows of a field written to keep it as text: ="0123" is 0123,
// and a ' before = + - @ is not shown.
std::string AsShown(std::string field) {
  if (field.size() >= 3 && field.starts_with("=\"") && field.ends_with('"') &&
      field.find('"', 2) == field.size() - 1) {
    return field.substr(2, field.size() - 3);
  }
  if (field.size() >= 2 && field[0] == '\'' && std::string_view("=+-@").find(field[1]) != std::string_view::npos) {
    field.erase(0, 1);
  }
  return field;
}

// RFC 4180, leniently: a quote inside an unquoted field is a character, one
// after a closing quote goes on the field; CR LF, LF or CR end a record.
std::vector<Record> Records(std::string_view text, char separator) {
  std::vector<Record> records;
  std::size_t at = 0;
  while (at < text.size()) {
    Record record;
    const std::size_t start = at;
    std::string field;
    bool quoted = false;
    bool was_quoted = false;
    bool ended = false;
    for (; at < text.size() && !ended; ++at) {
      const char character = text[at];
      if (quoted) {
        if (character != '"') {
          field += character;
        } else if (at + 1 < text.size() && text[at + 1] == '"') {
          field += '"';
          ++at;
        } else {
          quoted = false;
        }
      } else if (character == '"' && field.empty() && !was_quoted) {
        quoted = was_quoted = true;
      } else if (character == separator) {
        record.fields.push_back(AsShown(std::exchange(field, {})));
        was_quoted = false;
      } else if (character == '\r' || character == '\n') {
        if (character == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
        ended = true;
      } else {
        field += character;
      }
    }
    record.fields.push_back(AsShown(std::move(field)));
    std::string_view whole = text.substr(start, at - start);
    while (!whole.empty() && (whole.back() == '\n' || whole.back() == '\r')) whole.remove_suffix(1);
    record.text = whole;
    records.push_back(std::move(record));
  }
  return records;
}

bool IsEmpty(const Record& record) {
  return std::all_of(record.fields.begin(), record.fields.end(), [](const std::string& field) { return IsBlank(field); });
}

// The columns of a sheet that matter; nullopt: none of that kind.
struct Columns {
  std::optional<std::size_t> number, courier, note, phone, order;
};

bool Holds(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// A header row: a field named for the number (快递单号, 运单号, 单号, …).
std::optional<Columns> HeaderColumns(const Record& record) {
  Columns columns;
  const auto take = [](std::optional<std::size_t>& column, std::size_t index) {
    if (!column) column = index;
  };
  for (std::size_t index = 0; index < record.fields.size(); ++index) {
    const std::string_view name = TrimBlanks(record.fields[index]);
    if (Holds(name, "订单")) {
      take(columns.order, index);
    } else if (Holds(name, "单号") || name == "运单编号") {
      take(columns.number, index);
    } else if (Holds(name, "快递公司") || Holds(name, "物流公司") || name == "快递" || name == "承运商") {
      take(columns.courier, index);
    } else if (Holds(name, "备注")) {
      take(columns.note, index);
    } else if (Holds(name, "手机") || Holds(name, "电话")) {
      take(columns.phone, index);
    }
  }
  if (!columns.number) return std::nullopt;
  return columns;
}

// Without a header: the first column whose filled cells are mostly tracking
// numbers (a mobile number is not one), and the first whose cells mostly
// name couriers.
std::optional<Columns> GuessedColumns(const std::vector<Record>& records) {
  std::size_t width = 0;
  for (const Record& record : records) width = std::max(width, record.fields.size());
  const auto mostly = [&](std::size_t column, const auto& looks) {
    std::size_t filled = 0;
    std::size_t like = 0;
    for (std::size_t row = 0, looked = 0; row < records.size() && looked < 50; ++row) {
      if (column >= records[row].fields.size() || IsBlank(records[row].fields[column])) continue;
      ++looked;
      ++filled;
      like += looks(records[row].fields[column]);
    }
    return like > 0 && 2 * like >= filled;
  };
  const auto is_number = [](const std::string& cell) {
    const std::string number = TrackingNumberOf(cell);
    const bool mobile = number.size() == 11 && number[0] == '1' && std::all_of(number.begin(), number.end(), IsDigit);
    return IsTrackingNumber(number) && !mobile;
  };
  const auto names_courier = [](const std::string& cell) { return FindCourierNamed(TrimBlanks(cell)) != nullptr; };
  Columns columns;
  for (std::size_t column = 0; column < width && !columns.number; ++column) {
    if (mostly(column, is_number)) columns.number = column;
  }
  if (!columns.number) return std::nullopt;
  for (std::size_t column = 0; column < width && !columns.courier; ++column) {
    if (column != *columns.number && mostly(column, names_courier)) columns.courier = column;
  }
  return columns;
}

// ---- Writing ----------------------------------------------------------------

// One CSV field. A text Excel would run as a formula gets a ' before it; a
// long number written ="…", which Excel keeps as the digits it is rather
// than a number it rounds; quoted when it holds a comma, a quote, a line
// break or blanks at its ends.
std::string CsvField(std::string_view text, bool number) {
  if (text.empty()) return {};
  const bool digits = std::all_of(text.begin(), text.end(), IsDigit);
  std::string field;
  if (number && digits && text.size() >= 11) {
    field.append("=\"").append(text).append("\"");
  } else {
    if (std::string_view("=+-@").find(text.front()) != std::string_view::npos) field += '\'';
    field.append(text);
  }
  const bool quote = field.find_first_of(",\"\r\n") != std::string::npos || field.front() == ' ' ||
                     field.back() == ' ' || field.front() == '\t';
  if (!quote) return field;
  std::string quoted = "\"";
  for (const char character : field) {
    quoted += character;
    if (character == '"') quoted += '"';
  }
  return quoted + "\"";
}

void AppendRow(std::string& sheet, const std::vector<std::string>& cells, std::size_t number_column) {
  for (std::size_t index = 0; index < cells.size(); ++index) {
    if (index > 0) sheet += ',';
    sheet += CsvField(cells[index], index == number_column);
  }
  sheet += "\r\n";
}

}  // namespace

std::string_view VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kNew: return "新增";
    case Verdict::kAlreadyWatched: return "已在关注列表";
    case Verdict::kNotANumber: return "不是快递单号";
    case Verdict::kUnknownCourier: return "快递公司不明";
    case Verdict::kBeyondLimit: return "超过关注上限";
    case Verdict::kRepeated: return "重复";
  }
  return {};
}

bool IsRefused(Verdict verdict) {
  return verdict == Verdict::kNotANumber || verdict == Verdict::kUnknownCourier || verdict == Verdict::kBeyondLimit;
}

std::vector<ImportLine> CheckEntries(const std::vector<ImportEntry>& entries, const WatchList& watched) {
  Checker checker(watched);
  std::vector<ImportLine> lines;
  lines.reserve(entries.size());
  for (const ImportEntry& entry : entries) lines.push_back(checker.Check(entry));
  return lines;
}

std::vector<ImportLine> ReadPastedLines(std::string_view text, const WatchList& watched) {
  std::vector<ImportEntry> entries;
  const std::vector<std::string_view> lines = Lines(text);
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const std::string_view line = lines[index];
    if (IsBlank(line)) continue;
    const std::vector<std::string_view> words =
        line.find('\t') != std::string_view::npos                                                  ? Split(line, {"\t"})
        : line.find(',') != std::string_view::npos || line.find("，") != std::string_view::npos ? Split(line, {",", "，"})
                                                                                                  : Split(line, {" ", "\u3000"});
    if (words.empty()) continue;
    ImportEntry entry;
    entry.line = index + 1;
    entry.text = std::string(line);
    entry.number = std::string(words.front());
    std::vector<std::string_view> note;
    for (std::size_t word = 1; word < words.size(); ++word) {
      if (entry.courier.empty() && FindCourierNamed(words[word])) {
        entry.courier = std::string(words[word]);
      } else if (entry.phone.empty() && IsPhoneWord(words[word])) {
        entry.phone = LastFourDigits(words[word]);
      } else {
        note.push_back(words[word]);
      }
    }
    for (const std::string_view piece : note) entry.note.append(entry.note.empty() ? "" : " ").append(piece);
    entries.push_back(std::move(entry));
  }
  return CheckEntries(entries, watched);
}

std::vector<std::vector<std::string>> ParseSheet(std::string_view bytes) {
  const std::string text = Decoded(bytes);
  std::vector<std::vector<std::string>> rows;
  for (Record& record : Records(text, SeparatorOf(text))) rows.push_back(std::move(record.fields));
  return rows;
}

SheetRead ReadSheet(std::string_view bytes, const WatchList& watched) {
  const auto starts = [bytes](std::string_view head) { return bytes.substr(0, head.size()) == head; };
  if (starts("PK\x03\x04") || starts("\xD0\xCF\x11\xE0")) {
    return {std::nullopt,
            "这是 Excel 工作簿文件（.xlsx 或 .xls），不能直接导入。请在 Excel 中用“另存为”存成“CSV UTF-8（逗号分隔）”"
            "或“CSV（逗号分隔）”后再导入。"};
  }
  const std::string text = Decoded(bytes);
  if (text.find('\0') != std::string::npos) return {std::nullopt, "这不是文本文件，无法读取。请导入 CSV 或制表符分隔的文本文件。"};
  const std::vector<Record> records = Records(text, SeparatorOf(text));
  const auto first = std::find_if_not(records.begin(), records.end(), IsEmpty);
  if (first == records.end()) return {std::nullopt, "文件里没有内容。"};
  std::optional<Columns> columns = HeaderColumns(*first);
  const bool header = columns.has_value();
  if (!header) columns = GuessedColumns(records);
  if (!columns) {
    return {std::nullopt,
            "找不到单号：第一行没有“快递单号”“运单号”或“单号”这样的列名，也没有哪一列像快递单号。"};
  }
  const auto cell = [](const Record& record, const std::optional<std::size_t>& column) {
    return column && *column < record.fields.size() ? std::string(TrimBlanks(record.fields[*column])) : std::string();
  };
  std::vector<ImportEntry> entries;
  for (auto record = header ? first + 1 : first; record != records.end(); ++record) {
    if (IsEmpty(*record)) continue;
    ImportEntry entry{.line = static_cast<std::size_t>(record - records.begin()) + 1,
                      .text = std::string(record->text),
                      .number = cell(*record, columns->number),
                      .courier = cell(*record, columns->courier),
                      .note = cell(*record, columns->note),
                      .phone = LastFourDigits(cell(*record, columns->phone))};
    if (const std::string order = cell(*record, columns->order); !order.empty()) {
      entry.note.append(entry.note.empty() ? "" : " ").append("订单号 ").append(order);
    }
    entries.push_back(std::move(entry));
  }
  return {CheckEntries(entries, watched), {}};
}

std::string ExportSheet(const WatchList& list, ExportRows rows, UnixSeconds now) {
  constexpr std::size_t kNumber = static_cast<std::size_t>(Column::kNumber);
  std::string sheet(kBom);
  std::vector<std::string> header;
  for (std::size_t column = 0; column < kColumnCount; ++column) header.emplace_back(ColumnName(static_cast<Column>(column)));
  if (rows == ExportRows::kEvents) {
    header = {header[0], header[1], header[2], header[3], "时间", "地点", "动态"};
  } else {
    header.emplace_back("分类");
  }
  AppendRow(sheet, header, kNumber);
  for (const WatchedParcel& parcel : list.parcels) {
    const TableRow row = RowOf(parcel);
    const std::vector<std::string> head(row.cells.begin(), row.cells.begin() + 4);
    if (rows == ExportRows::kParcels) {
      std::vector<std::string> cells(row.cells.begin(), row.cells.end());
      const std::optional<Filter> bucket = BucketOf(parcel, now);
      cells.emplace_back(bucket ? FilterName(*bucket) : std::string_view("已签收"));
      AppendRow(sheet, cells, kNumber);
      continue;
    }
    // A parcel without events yet still has its row.
    if (parcel.events.empty()) {
      std::vector<std::string> cells = head;
      cells.resize(header.size());
      AppendRow(sheet, cells, kNumber);
    }
    for (const TrackingEvent& event : parcel.events) {
      std::vector<std::string> cells = head;
      cells.insert(cells.end(), {OneLine(event.time), OneLine(event.area), OneLine(event.context)});
      AppendRow(sheet, cells, kNumber);
    }
  }
  return sheet;
}

}  // namespace quenzil
