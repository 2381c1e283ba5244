#include "app/command_line.h"

#include "query/tracking_number.h"

namespace quenzil {

namespace {

bool IsSwitch(std::string_view argument, std::string_view name) {
  if (argument.size() != name.size() + 1 || (argument[0] != '/' && argument[0] != '-')) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = argument[i + 1];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;
  }
  return true;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing past
// U+10FFFF, no sequence cut short.
bool IsUtf8(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t follow = 0;
    unsigned char low = 0x80;  // the second byte's range, narrowed for some leads
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      follow = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      follow = 2;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      follow = 3;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (bytes.size() - at - 1 < follow) return false;
    for (std::size_t i = 1; i <= follow; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[at + i]);
      if (!IsContinuation(byte)) return false;
      if (i == 1 && (byte < low || byte > high)) return false;
    }
    at += follow + 1;
  }
  return true;
}

}  // namespace

StartOptions ParseStartArguments(const std::vector<std::string>& arguments) {
  StartOptions options;
  std::string number;
  bool any = false;
  for (const std::string& argument : arguments) {
    if (IsSwitch(argument, "background")) {
      options.background = true;
      continue;
    }
    if (IsSwitch(argument, "list")) {
      options.list = true;
      continue;
    }
    if (any) number += ' ';
    number += argument;
    any = true;
  }
  const std::string_view trimmed = TrimBlanks(number);
  if (!trimmed.empty()) options.number = std::string(trimmed);
  return options;
}

std::optional<std::string> ReadHandOver(std::uintptr_t tag, std::string_view bytes) {
  if (tag != kHandOverTag || bytes.size() > kMaxHandOverBytes || !IsUtf8(bytes)) return std::nullopt;
  const std::string_view trimmed = TrimBlanks(bytes);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

}  // namespace quenzil
