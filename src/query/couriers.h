// Every courier the program knows: the tracking service's code, the full
// name, the short names people type, and the shapes of its numbers as the
// couriers publish them; and the guess that names the courier from a number
// alone, without the network. Portable.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenzil {

// A shape of a courier's numbers, matched against the whole number, letters
// in either case: a regular expression in which "#" is any digit, e.g.
// "YT#{13}", "7[3-68]#{12}", "JD[0-9A-Z]{2}#{11}".
// Shapes that begin with a letter name their courier; bare digits never do.
struct NumberShape {
  std::string_view pattern;
  // Parcels in a thousand, today, whose number has this shape: ranks the
  // couriers whose shapes share a number.
  int per_mille = 0;
};

struct Courier {
  std::string_view code;                    // 快递100's code, the program's name for the courier
  std::string_view name;                    // the full name, as the window shows it
  std::array<std::string_view, 4> aliases;  // short names people type; empty ones unused
  std::array<NumberShape, 4> shapes;        // empty ones unused
  std::string_view kdniao;                  // its code at 快递鸟; empty: none
  std::string_view appcode;                 // its code at the AppCode market API; empty: none
};

// Couriers that carry more parcels come first.
std::span<const Courier> Couriers();

// By the service's code; null when the table has none.
const Courier* FindCourier(std::string_view code);

// The columns of the other services' codes.
enum class CourierColumn { kKdniao, kAppCode };
// The courier's code in that column; empty when the service does not know it.
std::string_view CodeAt(const Courier& courier, CourierColumn column);
// By a service's own code, in any case; null when the table has none.
const Courier* FindCourierAt(CourierColumn column, std::string_view code);

// By its code, full name or a short name (ASCII letters in any case); null
// when none is called so.
const Courier* FindCourierNamed(std::string_view text);

// The full names closest to the text, closest first: for a name that is not
// in the table. Codes, short names and the names' pinyin count.
std::vector<std::string_view> ClosestCourierNames(std::string_view text, std::size_t count = 3);

// Whether a word the table lacks is no code of the service but a name of
// the table gone wrong: the pinyin of a name ("jitu"), or a typo or two
// from a code, a Latin name or a pinyin ("zhongtog"). A code that only
// begins with a table's code ("yuantongguoji") is not.
bool IsNearMissOfCourierTable(std::string_view word);

// The couriers of the table that are not among the ten option buttons, in
// table order: the window's 其他快递公司 list.
const std::vector<const Courier*>& OtherCouriers();

// The first courier of OtherCouriers() whose code, full name or a short name
// begins with the typed text (ASCII letters in any case): type-to-find in
// the window's list, for which the names' first characters alone would
// leave Latin keys useless.
std::optional<std::size_t> OtherCourierStartingWith(std::string_view typed);

// The courier's name for people: the table's, else the name detection
// gave, else the code itself.
std::string CarrierName(std::string_view code, std::string_view detected_name = {});

struct CourierGuess {
  const Courier* courier = nullptr;
  // The number can be this courier's only: no query needs to find out.
  bool certain = false;
};

// The couriers whose numbers look like this one, most likely first; at
// most one of them certain (the only one, then). Empty when no courier's
// numbers look like it.
std::vector<CourierGuess> GuessCouriers(std::string_view number);

// Whether the number has the shape (see NumberShape).
bool MatchesShape(std::string_view pattern, std::string_view number);

}  // namespace quenzil
