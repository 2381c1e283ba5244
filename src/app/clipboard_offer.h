// The number box takes a tracking number from the clipboard by itself: when
// the window is shown or activated with the box empty, and the clipboard
// holds one tracking number and nothing else. Each clipboard content is
// offered once; what the user typed is never replaced.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenzil {

class ClipboardOffer {
 public:
  // The number to put in the box, if any. `sequence` tells one clipboard
  // content from the next (0: unknown, never offered); `box_text` is what
  // the box holds now.
  std::optional<std::string> Offer(std::uint32_t sequence, std::string_view clipboard_text,
                                   std::string_view box_text);

 private:
  std::optional<std::uint32_t> offered_;
};

}  // namespace quenzil
