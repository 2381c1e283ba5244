// What counts as a tracking number when one comes from outside the number
// box (the clipboard, the command line): 6 to 32 ASCII letters and digits,
// at least 6 of them digits.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quenzil {

// The text without the blanks and line breaks around it: ASCII spaces,
// tabs, CR, LF, and the no-break (U+00A0) and ideographic (U+3000) spaces.
std::string_view TrimBlanks(std::string_view text);

bool IsTrackingNumber(std::string_view text);

// The one tracking number the text holds and nothing else (blanks and line
// breaks around it aside); nullopt for a sentence, several numbers or a
// number inside other text.
std::optional<std::string> SoleTrackingNumber(std::string_view text);

}  // namespace quenzil
