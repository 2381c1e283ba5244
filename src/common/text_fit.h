// Texts from outside made fit to show: one line, no control characters,
// no secret, at most so many characters. UTF-8 in and out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quenzil {

// One list row is one line: each control character becomes a space, a CR
// LF pair a single one.
std::string OneLine(std::string_view text);

// Without C0, DEL and C1 (U+0080–U+009F) characters.
std::string WithoutControls(std::string_view text);

// At most max_characters code points, never cut inside one; "…" marks a cut.
std::string CutCharacters(std::string text, std::size_t max_characters);

// Every occurrence of the secret taken out of a text that may be shown.
std::string WithoutSecret(std::string text, std::string_view secret);

// A service's words made fit for a message box: no controls, no secret,
// cut to the length.
std::string Shown(std::string_view text, std::string_view secret, std::size_t max_characters);

}  // namespace quenzil
