#include "web/charset.h"

#include <cstddef>
#include <cstring>

#include "web/cp936_units.h"

namespace quenzil {

namespace {

constexpr std::uint8_t kBom[] = {0xEF, 0xBB, 0xBF};

bool StartsWithBom(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 3 && std::memcmp(bytes.data(), kBom, 3) == 0;
}

bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Length of a well-formed UTF-8 sequence led by `lead` and the allowed range
// of its second byte (Unicode Table 3-7); length 0 when `lead` starts nothing.
struct LeadInfo {
  std::size_t length;
  std::uint8_t second_low;
  std::uint8_t second_high;
};

LeadInfo ClassifyLead(std::uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no over-long forms
  if (lead == 0xED) return {3, 0x80, 0x9F};  // no surrogates
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};  // no over-long forms
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  return {0, 0, 0};
}

// Pairs that code page 936 gives private-use code points one after another,
// besides the three user-defined areas.
struct PrivateUseRange {
  std::uint16_t first_pair;
  std::uint16_t last_pair;
  char32_t first_code_point;
};
constexpr PrivateUseRange kPrivateUseRanges[] = {
    {0xA2AB, 0xA2B0, 0xE766}, {0xA2E3, 0xA2E4, 0xE76C}, {0xA2EF, 0xA2F0, 0xE76E},
    {0xA2FD, 0xA2FE, 0xE770}, {0xA4F4, 0xA4FE, 0xE772}, {0xA5F7, 0xA5FE, 0xE77D},
    {0xA6B9, 0xA6C0, 0xE785}, {0xA6D9, 0xA6DF, 0xE78D}, {0xA6EC, 0xA6ED, 0xE794},
    {0xA6F3, 0xA6F3, 0xE796}, {0xA6F6, 0xA6FE, 0xE797}, {0xA7C2, 0xA7D0, 0xE7A0},
    {0xA7F2, 0xA7FE, 0xE7AF}, {0xA896, 0xA8A0, 0xE7BC}, {0xA8BC, 0xA8BC, 0xE7C7},
    {0xA8BF, 0xA8BF, 0xE7C8}, {0xA8C1, 0xA8C4, 0xE7C9}, {0xA8EA, 0xA8FE, 0xE7CD},
    {0xA958, 0xA958, 0xE7E2}, {0xA95B, 0xA95B, 0xE7E3}, {0xA95D, 0xA95F, 0xE7E4},
    {0xA989, 0xA995, 0xE7E7}, {0xA997, 0xA9A3, 0xE7F4}, {0xA9F0, 0xA9FE, 0xE801},
    {0xD7FA, 0xD7FE, 0xE810}, {0xFE50, 0xFE7E, 0xE815}, {0xFE80, 0xFEA0, 0xE844},
};

// A lead F0..F4 with its second byte in range and two more continuation
// bytes: exactly the four-byte sequences UTF-8 allows.
bool IsWellFormedFourByte(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return false;
  const LeadInfo info = ClassifyLead(bytes[0]);
  return info.length == 4 && bytes[1] >= info.second_low && bytes[1] <= info.second_high &&
         IsContinuation(bytes[2]) && IsContinuation(bytes[3]);
}

}  // namespace

namespace cp936 {

char32_t PrivateUseCodePoint(std::uint8_t lead, std::uint8_t trail) {
  if (!IsLead(lead) || !IsTrail(trail)) return 0;
  // User-defined areas: AAA1-AFFE, F8A1-FEFE (94 per row), A140-A7A0 (96
  // per row, 0x7F skipped).
  const int row_lead = lead;
  const int row_trail = trail;
  int code_point = 0;
  if (trail >= 0xA1 && lead >= 0xAA && lead <= 0xAF)
    code_point = 0xE000 + (row_lead - 0xAA) * 94 + (row_trail - 0xA1);
  else if (trail >= 0xA1 && lead >= 0xF8)
    code_point = 0xE234 + (row_lead - 0xF8) * 94 + (row_trail - 0xA1);
  else if (trail <= 0xA0 && lead >= 0xA1 && lead <= 0xA7)
    code_point = 0xE4C6 + (row_lead - 0xA1) * 96 + (row_trail - 0x40) - (trail > 0x7F ? 1 : 0);
  if (code_point != 0) return static_cast<char32_t>(code_point);
  const std::uint16_t pair = static_cast<std::uint16_t>(lead << 8 | trail);
  for (const PrivateUseRange& range : kPrivateUseRanges) {
    if (pair >= range.first_pair && pair <= range.last_pair)
      return range.first_code_point + static_cast<char32_t>(pair - range.first_pair);
  }
  return 0;
}

}  // namespace cp936

bool IsUtf8(std::span<const std::uint8_t> body) {
  const std::size_t n = body.size();
  if (n < 3) return false;
  if (StartsWithBom(body)) return true;

  std::size_t i = 0;
  std::size_t single_byte_count = 0;
  while (i < n) {
    const std::uint8_t byte = body[i];
    if (byte < 0x80) {
      ++i;
      ++single_byte_count;
    } else if ((byte & 0xE0) == 0xC0 && i + 1 < n && IsContinuation(body[i + 1])) {
      i += 2;
    } else if (i + 2 >= n) {
      return false;
    } else if ((byte & 0xF0) == 0xE0 && IsContinuation(body[i + 1]) &&
               IsContinuation(body[i + 2])) {
      i += 3;
    } else if (IsWellFormedFourByte(body.subspan(i))) {
      // An emoji or a character beyond the basic plane is UTF-8 as well.
      i += 4;
    } else {
      return false;
    }
  }
  return single_byte_count != n;
}

// Copies well-formed runs in blocks; each maximal ill-formed subpart becomes
// one U+FFFD, the replacement practice the Unicode standard recommends, so
// the over-long C0 80 that IsUtf8 lets through comes out as two U+FFFD.
std::string DecodeUtf8(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  const std::size_t n = bytes.size();
  const char* const data = reinterpret_cast<const char*>(bytes.data());
  std::size_t run_start = 0;
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const LeadInfo info = ClassifyLead(lead);
    std::size_t matched = 1;
    if (info.length != 0 && i + 1 < n && bytes[i + 1] >= info.second_low &&
        bytes[i + 1] <= info.second_high) {
      matched = 2;
      while (matched < info.length && i + matched < n && IsContinuation(bytes[i + matched]))
        ++matched;
    }
    if (matched == info.length) {
      i += matched;
      continue;
    }
    text.append(data + run_start, i - run_start);
    text.append(cp936::kReplacementUtf8);
    i += matched;
    run_start = i;
  }
  text.append(data + run_start, n - run_start);
  return text;
}

std::string DecodeUtf8WithoutBom(std::span<const std::uint8_t> body) {
  if (StartsWithBom(body)) body = body.subspan(3);
  return DecodeUtf8(body);
}

std::string DecodeBytes(std::span<const std::uint8_t> body) {
  return IsUtf8(body) ? DecodeUtf8WithoutBom(body) : DecodeCp936(body);
}

}  // namespace quenzil
