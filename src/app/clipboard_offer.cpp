#include "app/clipboard_offer.h"

#include "query/tracking_number.h"

namespace quenzil {

std::optional<std::string> ClipboardOffer::Offer(std::uint32_t sequence, std::string_view clipboard_text,
                                                 std::string_view box_text) {
  // Blanks the user typed are their text too: only an empty box takes one.
  if (sequence == 0 || sequence == offered_ || !box_text.empty()) return std::nullopt;
  std::optional<std::string> number = SoleTrackingNumber(clipboard_text);
  // A content not offered (the box held text) may be offered once it is empty.
  if (number) offered_ = sequence;
  return number;
}

}  // namespace quenzil
