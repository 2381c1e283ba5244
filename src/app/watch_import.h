// Many numbers at once: lines pasted into 批量添加, and sheets as Excel
// saves them (CSV or tab-separated text, UTF-8 with or without a BOM, or
// GBK), read into entries to watch; and the watch list written out as a CSV
// that Excel opens as it is. Portable; the shells only pick the file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "watch/watch_list.h"

namespace quenzil {

// What one line or row of the input becomes.
struct ImportLine {
  enum class Verdict {
    kNew,            // will be watched
    kAlreadyWatched,
    kNotANumber,     // not a tracking number (the reason says what)
    kUnknownCourier, // a courier named that the table has not
    kBeyondLimit,    // past the 200 watched parcels
    kRepeated,       // the same parcel earlier in the input
  };
  std::size_t line = 0;  // from 1, as the user counts them (the row of a sheet)
  std::string text;      // the line as it was, for the box that keeps what was not added
  Verdict verdict = Verdict::kNotANumber;
  WatchedParcel parcel;  // number, carrier, carrier_name, note, phone
  bool guessed = false;  // the courier was guessed from the number
  std::string reason;    // Chinese, for a line not added
};

// The verdict as the preview shows it: 新增, 已在关注列表, 不是快递单号, …
std::string_view VerdictText(ImportLine::Verdict verdict);
// Not a number, no courier known, past the limit: the line is not watched.
// (A repeated line's parcel and one already watched are.)
bool IsRefused(ImportLine::Verdict verdict);

// One entry as the user gave it, before its verdict.
struct ImportEntry {
  std::size_t line = 0;
  std::string text;
  std::string number;   // as written: blanks, full-width and lower case are taken
  std::string courier;  // a name, short name or code; empty: the parcel of that number watched, else guessed
  std::string note;
  std::string phone;    // the last four digits, or empty
};

// Each entry's verdict, in order, those before it counted (the limit, the
// repeats): the one rule that ReadPastedLines, ReadSheet and the console
// companion's --watch share. A courier not named is the one the number is
// watched under, else GuessCouriers' first (guessed).
std::vector<ImportLine> CheckEntries(const std::vector<ImportEntry>& entries, const WatchList& watched);

// Pasted lines: a number, and optionally a courier (its name, short name or
// code), a note and the phone's last four digits, separated by tabs, commas
// or blanks, in any order after the number. Blank lines are passed over.
std::vector<ImportLine> ReadPastedLines(std::string_view text, const WatchList& watched);

// A sheet's bytes: the encoding found (UTF-8 with or without a BOM, UTF-16
// with its BOM, else GBK), quoted fields with commas and line breaks
// inside, a comma or a tab between fields. A header row is recognised by
// its names (快递单号/运单号/单号, 快递公司, 备注, 手机/电话 of which the
// last four digits are taken, 订单号 which joins the note as "订单号 …");
// without one, the first column that looks like tracking numbers is the
// number, and one that names couriers the courier. Blank rows are passed
// over; a line counts the sheet's rows from 1, header included. nullopt
// with the reason (Chinese) when the bytes are no sheet at all: empty, a
// workbook (.xlsx, .xls) rather than its CSV, not text, no number column.
struct SheetRead {
  std::optional<std::vector<ImportLine>> lines;
  std::string error;
};
SheetRead ReadSheet(std::string_view bytes, const WatchList& watched);

// The fields of a sheet as text (decoded, unquoted, and as Excel shows
// them: ="0123" is 0123, a ' before = + - @ is left out), row by row.
std::vector<std::vector<std::string>> ParseSheet(std::string_view bytes);

// UTF-8 with a BOM and CR LF line ends, fields quoted where they must be:
// one row per parcel with the list's columns and its newest event and its
// bucket (分类), or one row per event (oldest first; a parcel without any
// still has one row). A cell that begins with = + - @ gets a ' before it,
// so Excel never runs it as a formula; a number of 11 digits or more is
// written ="…", so Excel keeps its digits instead of rounding it.
enum class ExportRows { kParcels, kEvents };
std::string ExportSheet(const WatchList& list, ExportRows rows, UnixSeconds now);

}  // namespace quenzil
