#include "common/json_reader.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <exception>

namespace quenzil::json {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\r';
}

std::size_t SkipBlanks(std::string_view text, std::size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

// From the opening quote to past the closing one.
std::size_t SkipString(std::string_view text, std::size_t at) {
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;
    } else if (text[at] == '"') {
      return at + 1;
    }
  }
  return text.size();
}

// Past the value that starts at `at`; the text is known to be JSON.
std::size_t SkipValue(std::string_view text, std::size_t at) {
  if (at >= text.size()) return at;
  if (text[at] == '"') return SkipString(text, at);
  if (text[at] == '{' || text[at] == '[') {
    // Brackets count the same whichever kind: the text is JSON.
    for (int depth = 0; at < text.size();) {
      const char character = text[at];
      if (character == '"') {
        at = SkipString(text, at);
        continue;
      }
      if (character == '{' || character == '[') ++depth;
      if ((character == '}' || character == ']') && --depth == 0) return at + 1;
      ++at;
    }
    return at;
  }
  while (at < text.size() && !IsBlank(text[at]) && text[at] != ',' && text[at] != '}' && text[at] != ']') ++at;
  return at;
}

Type TypeAt(char first) {
  switch (first) {
    case '"': return Type::kString;
    case '{': return Type::kObject;
    case '[': return Type::kArray;
    case 't':
    case 'f': return Type::kBoolean;
    case 'n': return Type::kNull;
    default: return Type::kNumber;
  }
}

// After a value or a member: past the comma to the next one, or the end.
std::size_t AfterSeparator(std::string_view text, std::size_t at) {
  at = SkipBlanks(text, at);
  if (at < text.size() && text[at] == ',') return SkipBlanks(text, at + 1);
  return text.size();  // the closing bracket: nothing follows inside
}

// Only the position of the first error is wanted; nothing is built.
class Checker {
 public:
  using number_integer_t = nlohmann::json::number_integer_t;
  using number_unsigned_t = nlohmann::json::number_unsigned_t;
  using number_float_t = nlohmann::json::number_float_t;
  using string_t = nlohmann::json::string_t;
  using binary_t = nlohmann::json::binary_t;
  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(number_integer_t) { return true; }
  bool number_unsigned(number_unsigned_t) { return true; }
  bool number_float(number_float_t, const string_t&) { return true; }
  bool string(string_t&) { return true; }
  bool binary(binary_t&) { return true; }
  bool start_object(std::size_t) { return true; }
  bool end_object() { return true; }
  bool start_array(std::size_t) { return true; }
  bool end_array() { return true; }
  bool key(string_t&) { return true; }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
    error_at = position;
    return false;
  }
  std::size_t error_at = 0;
};

}  // namespace

Value::Value(std::string_view whole, std::size_t start, std::size_t end, Type type)
    : whole_(whole), text_(whole.substr(start, end - start)), start_(start), type_(type) {}

Value Value::At(std::string_view whole, std::size_t at) {
  if (at >= whole.size()) return Value(whole, whole.size(), whole.size(), Type::kNull);
  return Value(whole, at, SkipValue(whole, at), TypeAt(whole[at]));
}

std::optional<std::string> Value::String() const {
  if (type_ != Type::kString || text_.size() < 2) return std::nullopt;
  const std::string_view inside = text_.substr(1, text_.size() - 2);
  // Most strings have no escape: the characters are the text itself.
  if (inside.find('\\') == std::string_view::npos) return std::string(inside);
  try {
    return nlohmann::json::parse(text_).get<std::string>();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::int64_t> Value::Integer() const {
  if (type_ != Type::kNumber) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
  if (error != std::errc() || end != text_.data() + text_.size()) return std::nullopt;
  return value;
}

std::optional<bool> Value::Boolean() const {
  if (type_ != Type::kBoolean) return std::nullopt;
  return text_ == "true";
}

std::optional<std::string> Value::Code() const {
  if (auto text = String()) return text;
  if (const auto number = Integer()) return std::to_string(*number);
  // A code is a name written in digits: one past the signed range is still
  // a whole number, kept as it stands.
  std::uint64_t unsigned_number = 0;
  if (type_ == Type::kNumber) {
    const auto [end, error] = std::from_chars(text_.data(), text_.data() + text_.size(), unsigned_number);
    if (error == std::errc() && end == text_.data() + text_.size()) return std::to_string(unsigned_number);
  }
  return std::nullopt;
}

std::string TextOf(const std::optional<Value>& field) {
  return field ? field->String().value_or(std::string()) : std::string();
}

std::optional<std::string> CodeOf(const std::optional<Value>& field) {
  return field ? field->Code() : std::nullopt;
}

std::size_t Value::FirstElement() const {
  if (type_ != Type::kArray) return kEnd;
  const std::size_t at = SkipBlanks(whole_, start_ + 1);
  return at < whole_.size() && whole_[at] != ']' ? at : kEnd;
}

std::size_t Value::NextElement(std::size_t value_start) const {
  const std::size_t next = AfterSeparator(whole_, SkipValue(whole_, value_start));
  return next < whole_.size() ? next : kEnd;
}

std::size_t Value::FirstMember() const {
  if (type_ != Type::kObject) return kEnd;
  const std::size_t at = SkipBlanks(whole_, start_ + 1);
  return at < whole_.size() && whole_[at] == '"' ? at : kEnd;
}

std::size_t Value::NextMember(std::size_t member_start) const {
  const std::size_t key_end = SkipString(whole_, member_start);
  const std::size_t value_start = SkipBlanks(whole_, SkipBlanks(whole_, key_end) + 1);  // past the colon
  const std::size_t next = AfterSeparator(whole_, SkipValue(whole_, value_start));
  return next < whole_.size() && whole_[next] == '"' ? next : kEnd;
}

Member Value::MemberAt(std::size_t at) const {
  const std::size_t key_end = SkipString(whole_, at);
  const std::size_t value_start = SkipBlanks(whole_, SkipBlanks(whole_, key_end) + 1);
  const std::size_t value_end = SkipValue(whole_, value_start);
  Member member;
  member.name = Value(whole_, at, key_end, Type::kString).String().value_or(std::string());
  member.text = whole_.substr(at, value_end - at);
  member.value_text = whole_.substr(value_start, value_end - value_start);
  return member;
}

Value Member::value() const { return Value::At(value_text, 0); }

std::vector<Member> Value::Members() const {
  std::vector<Member> members;
  ForEachMember([&members](Member member) { members.push_back(std::move(member)); });
  return members;
}

std::optional<Value> Value::Find(std::string_view name) const {
  std::optional<Value> found;
  for (std::size_t at = FirstMember(); at != kEnd; at = NextMember(at)) {
    const std::size_t key_end = SkipString(whole_, at);
    const Value key(whole_, at, key_end, Type::kString);
    // Keys are compared as decoded: "\u0064ata" is "data".
    const std::string_view written = key.text().substr(1, key.text().size() - 2);
    if (written == name || (written.find('\\') != std::string_view::npos && key.String() == name)) {
      found = ValueAt(SkipBlanks(whole_, SkipBlanks(whole_, key_end) + 1));
    }
  }
  return found;
}

std::vector<Value> Value::Elements() const {
  std::vector<Value> elements;
  ForEachElement([&elements](const Value& element) { elements.push_back(element); });
  return elements;
}

Read Open(std::string_view text, std::size_t max_bytes) {
  Read read;
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  if (text.size() > max_bytes) {
    read.problem = Read::Problem::kTooLarge;
    return read;
  }
  const std::size_t first = SkipBlanks(text, 0);
  if (first == text.size()) {
    read.problem = Read::Problem::kEmpty;
    return read;
  }
  // A NUL can end a text early for some readers; it is never JSON.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    read.problem = Read::Problem::kNotJson;
    read.at = nul + 1;
    return read;
  }
  if (NestedDeeperThan(text, kMaxDepth)) {
    read.problem = Read::Problem::kTooDeep;
    return read;
  }
  Checker checker;
  bool accepted = false;
  try {
    accepted = nlohmann::json::sax_parse(text.begin(), text.end(), &checker);
  } catch (const std::exception&) {
    accepted = false;
  }
  if (!accepted) {
    read.problem = Read::Problem::kNotJson;
    read.at = checker.error_at;
    return read;
  }
  read.root = Value::At(text, first);
  return read;
}

// Brackets outside strings, counted in one pass: no hostile nesting ever
// reaches a parser.
bool NestedDeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth > limit) return true;
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  return false;
}

std::string Quote(std::string_view text) {
  return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace quenzil::json
