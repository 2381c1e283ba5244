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

// The number as the keyed services, the guess, the guard and the files take
// it: without the blanks around it, full-width letters and digits (as
// Chinese input methods type them) made half-width, letters in upper case.
// Anything else stays as it is.
std::string TrackingNumberOf(std::string_view typed);

// The one tracking number the text holds and nothing else (blanks and line
// breaks around it aside); nullopt for a sentence, several numbers or a
// number inside other text.
std::optional<std::string> SoleTrackingNumber(std::string_view text);

}  // namespace quenzil
