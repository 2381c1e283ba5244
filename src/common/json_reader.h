// The one reader of JSON in the program: the tracking services' answers and
// its own files. The whole text is checked first by the JSON library's
// parser (no document is built), then it is walked where it was written:
// every value is a view into the text. So a field this program does not
// know can be kept as the very text it was written as, an answer of
// thousands of events costs no document, and a repeated key can be seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenzil::json {

// Texts nested deeper than this are refused unread: walking them, and the
// library's own writing of values, recurse per level.
inline constexpr int kMaxDepth = 64;

enum class Type { kNull, kBoolean, kNumber, kString, kArray, kObject };

class Value;

// One member of an object, as written.
struct Member {
  std::string name;       // decoded
  std::string_view text;  // key, colon and value
  std::string_view value_text;
  Value value() const;
};

// A value inside checked JSON text; valid as long as the text is.
class Value {
 public:
  Value() = default;
  Type type() const { return type_; }
  bool is(Type type) const { return type_ == type; }
  // As written, from its first character to its last.
  std::string_view text() const { return text_; }

  // A string's characters with the escapes resolved; nullopt for another type.
  std::optional<std::string> String() const;
  // A number written as a whole number that fits 64 bits; nullopt else.
  std::optional<std::int64_t> Integer() const;
  // true or false; nullopt for another type.
  std::optional<bool> Boolean() const;
  // A code or a flag, which services send as a string or a whole number:
  // its text; nullopt for another type.
  std::optional<std::string> Code() const;

  // An object's members in the order written; empty for another type.
  std::vector<Member> Members() const;
  // The last member of that name (a repeated key: the last one, as parsers
  // take it); nullopt when there is none.
  std::optional<Value> Find(std::string_view name) const;
  // An array's elements in order; empty for another type.
  std::vector<Value> Elements() const;
  // The same, one at a time, without a list: for very long arrays.
  template <typename Visit>
  void ForEachElement(Visit&& visit) const {
    for (std::size_t at = FirstElement(); at != kEnd; at = NextElement(at)) visit(ValueAt(at));
  }
  template <typename Visit>
  void ForEachMember(Visit&& visit) const {
    for (std::size_t at = FirstMember(); at != kEnd; at = NextMember(at)) visit(MemberAt(at));
  }

  // For the reader: a value that starts at text[at].
  static Value At(std::string_view whole, std::size_t at);

 private:
  static constexpr std::size_t kEnd = static_cast<std::size_t>(-1);
  Value(std::string_view whole, std::size_t start, std::size_t end, Type type);
  std::size_t FirstElement() const;
  std::size_t NextElement(std::size_t after_value_start) const;
  std::size_t FirstMember() const;
  std::size_t NextMember(std::size_t member_start) const;
  Value ValueAt(std::size_t at) const { return At(whole_, at); }
  Member MemberAt(std::size_t at) const;

  std::string_view whole_;
  std::string_view text_;
  std::size_t start_ = 0;
  Type type_ = Type::kNull;
};

struct Read {
  enum class Problem {
    kNone,
    kEmpty,     // nothing but blanks
    kTooLarge,  // over the caller's limit
    kTooDeep,   // nested deeper than kMaxDepth
    kNotJson,   // `at`: the byte where it went wrong, counted from 1
  };
  Problem problem = Problem::kNone;
  std::size_t at = 0;
  Value root;  // when there is no problem
  bool ok() const { return problem == Problem::kNone; }
};

// A string field's text; "" when it is absent or of another type.
std::string TextOf(const std::optional<Value>& field);
// A code field's text; nullopt when it is absent or of another type.
std::optional<std::string> CodeOf(const std::optional<Value>& field);

// Checks and opens a text. A UTF-8 byte-order mark before it is passed over.
Read Open(std::string_view text, std::size_t max_bytes = static_cast<std::size_t>(-1));

// True when brackets outside strings nest deeper than the limit (one pass,
// before any parser sees the text).
bool NestedDeeperThan(std::string_view text, int limit);

// A JSON string literal of the text; invalid UTF-8 becomes U+FFFD.
std::string Quote(std::string_view text);

}  // namespace quenzil::json
