// The query address for arbitrary typed numbers.
//
// Input: the first byte picks the carrier (and a selection pattern for
// SelectedCarrier), the rest is the number as typed (UTF-8 or not).
// Checks: the address is the fixed prefix and exactly the seven parameters
// in order; it holds no space, '#', control character or byte >= 0x80; the
// nu value percent-decodes to the number byte for byte; com is the code.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "query/carriers.h"

namespace {

constexpr std::string_view kPrefix = "http://127.0.0.1:1/api?";

bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Strict: every byte is unreserved or a %XX escape; nullopt otherwise.
std::optional<std::string> PercentDecode(std::string_view value) {
  std::string decoded;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      if (!IsUnreserved(value[i])) return std::nullopt;
      decoded += value[i];
      continue;
    }
    if (i + 2 >= value.size()) return std::nullopt;
    const int high = HexValue(value[i + 1]);
    const int low = HexValue(value[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return decoded;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t carrier = data[0] % quenzil::CarrierTable.size();
  const std::string number(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view code = quenzil::CarrierTable[carrier].service_code;

  const std::string url = quenzil::BuildQueryUrl("127.0.0.1:1", number, code);

  FUZZ_CHECK(url.rfind(kPrefix, 0) == 0);
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte > 0x20 && byte < 0x7F && c != '#');
  }

  const std::vector<std::string_view> params = Split(std::string_view(url).substr(kPrefix.size()), '&');
  FUZZ_CHECK(params.size() == 7);
  constexpr std::array<std::string_view, 7> kNames = {"id", "com", "nu", "valicode",
                                                      "show", "muti", "order"};
  std::array<std::string_view, 7> values;
  for (std::size_t i = 0; i < params.size(); ++i) {
    const std::size_t equals = params[i].find('=');
    FUZZ_CHECK(equals != std::string_view::npos);
    FUZZ_CHECK(params[i].substr(0, equals) == kNames[i]);
    values[i] = params[i].substr(equals + 1);
  }
  FUZZ_CHECK(values[0] == "5e0b7c19d2a4f863");
  FUZZ_CHECK(values[1] == code);
  FUZZ_CHECK(values[3] == "[]");
  FUZZ_CHECK(values[4] == "2");
  FUZZ_CHECK(values[5] == "1");
  FUZZ_CHECK(values[6] == "asc");

  const std::optional<std::string> decoded = PercentDecode(values[2]);
  FUZZ_CHECK(decoded.has_value());
  FUZZ_CHECK(*decoded == number);
  FUZZ_CHECK(values[2] == quenzil::PercentEncode(number));

  // The first selected row in table order wins; none selected gives none.
  const unsigned mask = (data[0] * 0x101u) & 0x3FFu;
  std::optional<std::size_t> expected;
  for (std::size_t row = 0; row < 10; ++row) {
    if (mask & (1u << row)) {
      expected = row;
      break;
    }
  }
  FUZZ_CHECK(quenzil::SelectedCarrier([mask](std::size_t row) { return (mask >> row) & 1u; }) ==
             expected);
  return 0;
}
