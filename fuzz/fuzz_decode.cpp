// Character-set test and decoding of arbitrary bodies.
//
// Checks, for every input: IsUtf8 agrees with a plain transcription of the
// scan rules (and ASan watches it never reads past the body); DecodeBytes
// gives well-formed UTF-8, is the converter that IsUtf8 picks, and drops a
// leading byte-order mark; DecodeUtf8 agrees with an independent decoder
// built the other way round (the WHATWG state machine); DecodeCp936 keeps
// one code point per unit and every lone ASCII byte in place.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "web/charset.h"

namespace {

using quenzil_fuzz::AsText;
using quenzil_fuzz::CountCodePoints;
using quenzil_fuzz::IsWellFormedUtf8;

// The scan rules written out rule by rule, indices checked before each read.
// Two- and three-byte sequences by bit pattern, four-byte ones when
// well-formed.
bool ReferenceIsUtf8(std::span<const std::uint8_t> b) {
  const std::size_t n = b.size();
  if (n < 3) return false;
  if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return true;
  std::size_t i = 0, a = 0;
  while (i <= n - 1) {
    if (b[i] < 128) {
      i += 1;
      a += 1;
      continue;
    }
    if ((b[i] & 224) == 192 && i + 1 <= n - 1 && (b[i + 1] & 192) == 128) {
      i += 2;
      continue;
    }
    if (i + 2 >= n) return false;
    if ((b[i] & 240) == 224 && (b[i + 1] & 192) == 128 && (b[i + 2] & 192) == 128) {
      i += 3;
      continue;
    }
    // A well-formed four-byte sequence (Unicode Table 3-7).
    if (i + 3 <= n - 1 && b[i] >= 0xF0 && b[i] <= 0xF4 && (b[i + 2] & 192) == 128 &&
        (b[i + 3] & 192) == 128) {
      const std::uint8_t low = b[i] == 0xF0 ? 0x90 : 0x80;
      const std::uint8_t high = b[i] == 0xF4 ? 0x8F : 0xBF;
      if (b[i + 1] >= low && b[i + 1] <= high) {
        i += 4;
        continue;
      }
    }
    return false;
  }
  return a != n;
}

void AppendCodePoint(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The WHATWG UTF-8 decoder: code point, bytes seen/needed, boundaries. It
// replaces each maximal ill-formed subpart with one U+FFFD, as Unicode
// recommends, and reprocesses the byte that broke a sequence.
std::string ReferenceDecodeUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  char32_t code_point = 0;
  int seen = 0, needed = 0;
  std::uint8_t lower = 0x80, upper = 0xBF;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t byte = bytes[i];
    if (needed == 0) {
      ++i;
      if (byte <= 0x7F) {
        out += static_cast<char>(byte);
      } else if (byte >= 0xC2 && byte <= 0xDF) {
        needed = 1;
        code_point = byte & 0x1F;
      } else if (byte >= 0xE0 && byte <= 0xEF) {
        if (byte == 0xE0) lower = 0xA0;
        if (byte == 0xED) upper = 0x9F;
        needed = 2;
        code_point = byte & 0x0F;
      } else if (byte >= 0xF0 && byte <= 0xF4) {
        if (byte == 0xF0) lower = 0x90;
        if (byte == 0xF4) upper = 0x8F;
        needed = 3;
        code_point = byte & 0x07;
      } else {
        AppendCodePoint(0xFFFD, out);
      }
      continue;
    }
    if (byte < lower || byte > upper) {
      // Do not consume: the byte starts over.
      code_point = 0;
      needed = seen = 0;
      lower = 0x80;
      upper = 0xBF;
      AppendCodePoint(0xFFFD, out);
      continue;
    }
    ++i;
    lower = 0x80;
    upper = 0xBF;
    code_point = (code_point << 6) | (byte & 0x3F);
    if (++seen == needed) {
      AppendCodePoint(code_point, out);
      code_point = 0;
      needed = seen = 0;
    }
  }
  if (needed != 0) AppendCodePoint(0xFFFD, out);
  return out;
}

// Units of code page 936 as the decoder promises to cut them: a lead
// 0x81-0xFE with a trail 0x40-0x7E or 0x80-0xFE is one unit, any other byte
// is one unit on its own. Returns the count and the ASCII bytes that stand
// alone, in order.
std::size_t Cp936Units(std::span<const std::uint8_t> bytes, std::string& lone_ascii) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < bytes.size(); ++units) {
    const std::uint8_t b = bytes[i];
    const bool lead = b >= 0x81 && b <= 0xFE;
    if (lead && i + 1 < bytes.size()) {
      const std::uint8_t t = bytes[i + 1];
      if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE)) {
        i += 2;
        continue;
      }
    }
    if (b < 0x80) lone_ascii += static_cast<char>(b);
    ++i;
  }
  return units;
}

std::string AsciiOf(std::string_view text) {
  std::string ascii;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x80) ascii += c;
  }
  return ascii;
}

bool StartsWithBom(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that a read one past the end is a heap overflow.
  const std::vector<std::uint8_t> copy(data, data + size);
  const std::span<const std::uint8_t> body(copy);

  const bool is_utf8 = quenzil::IsUtf8(body);
  FUZZ_CHECK(is_utf8 == ReferenceIsUtf8(body));

  const std::string text = quenzil::DecodeBytes(body);
  FUZZ_CHECK(IsWellFormedUtf8(text));

  const std::string as_utf8 = quenzil::DecodeUtf8(body);
  FUZZ_CHECK(IsWellFormedUtf8(as_utf8));
  FUZZ_CHECK(as_utf8 == ReferenceDecodeUtf8(body));
  FUZZ_CHECK(as_utf8.size() <= 3 * body.size());
  if (IsWellFormedUtf8(AsText(body))) FUZZ_CHECK(as_utf8 == AsText(body));

  if (is_utf8) {
    const auto without_bom = StartsWithBom(body) ? body.subspan(3) : body;
    FUZZ_CHECK(text == quenzil::DecodeUtf8(without_bom));
    // One mark is dropped; a second one is text and stays.
    if (StartsWithBom(body) && !StartsWithBom(body.subspan(3)))
      FUZZ_CHECK(text.rfind("\xEF\xBB\xBF", 0) != 0);
  } else {
    FUZZ_CHECK(!StartsWithBom(body));
  }

  const std::string as_cp936 = quenzil::DecodeCp936(body);
  FUZZ_CHECK(IsWellFormedUtf8(as_cp936));
  std::string lone_ascii;
  FUZZ_CHECK(CountCodePoints(as_cp936) == Cp936Units(body, lone_ascii));
  FUZZ_CHECK(AsciiOf(as_cp936) == lone_ascii);
  if (!is_utf8) FUZZ_CHECK(text == as_cp936);
  return 0;
}
