// How DecodeCp936 cuts bytes into units; both platform converters follow it
// so that they give the same text for the same bytes.
//
// A unit is one ASCII byte, the byte 0x80 (the euro sign in code page 936),
// a pair of a lead byte 0x81-0xFE and a trail byte 0x40-0x7E or 0x80-0xFE,
// or one lone byte: a lead without a trail after it, or 0xFF. Lone bytes
// are invalid and each becomes one U+FFFD; a pair the converter cannot map
// becomes one U+FFFD for both bytes; decoding always goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quenzil::cp936 {

inline constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

constexpr bool IsLead(std::uint8_t byte) { return byte >= 0x81 && byte <= 0xFE; }
constexpr bool IsTrail(std::uint8_t byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

// Length of the unit at `at` (1 or 2).
inline std::size_t UnitLength(std::span<const std::uint8_t> bytes, std::size_t at) {
  return IsLead(bytes[at]) && at + 1 < bytes.size() && IsTrail(bytes[at + 1]) ? 2 : 1;
}

// True for the lone bytes that no converter maps.
inline bool IsLoneByte(std::span<const std::uint8_t> bytes, std::size_t at) {
  const std::uint8_t byte = bytes[at];
  return byte == 0xFF || (IsLead(byte) && UnitLength(bytes, at) == 1);
}

// Code page 936 maps the pairs that GBK leaves unassigned to the private use
// area; this is that mapping, for converters that lack it. 0 when none.
char32_t PrivateUseCodePoint(std::uint8_t lead, std::uint8_t trail);

inline void AppendUtf8(char32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace quenzil::cp936
