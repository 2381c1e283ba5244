#include "query/carriers.h"

namespace quenzil {

namespace {

constexpr std::string_view kCodeSlot = "gongsi";
constexpr std::string_view kNumberSlot = "danhao";
constexpr std::size_t kCodeAt = QueryUrlTemplate.find(kCodeSlot);
constexpr std::size_t kNumberAt = QueryUrlTemplate.find(kNumberSlot);
static_assert(kCodeAt != std::string_view::npos && kNumberAt != std::string_view::npos &&
                  kCodeAt + kCodeSlot.size() <= kNumberAt,
              "the template holds the code slot before the number slot");

bool IsUnreserved(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
         (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
         byte == '~';
}

}  // namespace

std::optional<std::size_t> SelectedCarrier(const std::function<bool(std::size_t)>& is_selected) {
  for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
    if (is_selected(row)) return row;
  }
  return std::nullopt;
}

std::string PercentEncode(std::string_view value) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(value.size() * 3);
  for (const char character : value) {
    const auto byte = static_cast<unsigned char>(character);
    if (IsUnreserved(byte)) {
      encoded += character;
    } else {
      encoded += '%';
      encoded += kHexDigits[byte >> 4];
      encoded += kHexDigits[byte & 0x0F];
    }
  }
  return encoded;
}

// The slots are filled by position, so a code or a number that happens to
// spell a slot word is never substituted again.
std::string BuildQueryUrl(std::string_view api_host, std::string_view number,
                          std::string_view service_code) {
  const std::string encoded_number = PercentEncode(number);
  std::string url = "http://";
  url.reserve(url.size() + api_host.size() + QueryUrlTemplate.size() + service_code.size() +
              encoded_number.size());
  url += api_host;
  url += QueryUrlTemplate.substr(0, kCodeAt);
  url += service_code;
  url += QueryUrlTemplate.substr(kCodeAt + kCodeSlot.size(),
                                 kNumberAt - (kCodeAt + kCodeSlot.size()));
  url += encoded_number;
  url += QueryUrlTemplate.substr(kNumberAt + kNumberSlot.size());
  return url;
}

}  // namespace quenzil
