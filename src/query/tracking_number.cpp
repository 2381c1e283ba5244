#include "query/tracking_number.h"

#include <array>
#include <string>

namespace quenzil {

namespace {

constexpr std::size_t kMinLength = 6;
constexpr std::size_t kMaxLength = 32;
constexpr std::size_t kMinDigits = 6;

// Blanks as UTF-8: the no-break and ideographic spaces come with text
// copied from web pages and Chinese documents.
constexpr std::array<std::string_view, 6> kBlanks = {" ", "\t", "\r", "\n", "\xC2\xA0", "\xE3\x80\x80"};

std::size_t BlankAtFront(std::string_view text) {
  for (const std::string_view blank : kBlanks) {
    if (text.substr(0, blank.size()) == blank) return blank.size();
  }
  return 0;
}

std::size_t BlankAtBack(std::string_view text) {
  for (const std::string_view blank : kBlanks) {
    if (text.size() >= blank.size() && text.substr(text.size() - blank.size()) == blank) {
      return blank.size();
    }
  }
  return 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (const std::size_t size = BlankAtFront(text)) text.remove_prefix(size);
  while (const std::size_t size = BlankAtBack(text)) text.remove_suffix(size);
  return text;
}

bool IsTrackingNumber(std::string_view text) {
  if (text.size() < kMinLength || text.size() > kMaxLength) return false;
  std::size_t digits = 0;
  for (const char c : text) {
    if (IsDigit(c)) {
      ++digits;
    } else if (!IsLetter(c)) {
      return false;
    }
  }
  return digits >= kMinDigits;
}

std::string TrackingNumberOf(std::string_view typed) {
  const std::string_view text = TrimBlanks(typed);
  std::string number;
  number.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    // U+FF10–FF19, FF21–FF3A and FF41–FF5A are EF BC 90–99, EF BC A1–BA and EF BD 81–9A.
    if (static_cast<unsigned char>(c) == 0xEF && at + 2 < text.size()) {
      const auto second = static_cast<unsigned char>(text[at + 1]);
      const auto third = static_cast<unsigned char>(text[at + 2]);
      if (second == 0xBC && third >= 0x90 && third <= 0x99) {
        c = static_cast<char>('0' + (third - 0x90));
      } else if (second == 0xBC && third >= 0xA1 && third <= 0xBA) {
        c = static_cast<char>('A' + (third - 0xA1));
      } else if (second == 0xBD && third >= 0x81 && third <= 0x9A) {
        c = static_cast<char>('a' + (third - 0x81));
      }
      if (c != text[at]) at += 2;
    }
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    number += c;
  }
  return number;
}

std::optional<std::string> SoleTrackingNumber(std::string_view text) {
  const std::string_view trimmed = TrimBlanks(text);
  if (!IsTrackingNumber(trimmed)) return std::nullopt;
  return std::string(trimmed);
}

}  // namespace quenzil
