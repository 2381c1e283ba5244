#include "common/text_fit.h"

#include <algorithm>

namespace quenzil {

namespace {

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::string OneLine(std::string_view text) {
  // Most rows have none: copied whole.
  const auto first = std::find_if(text.begin(), text.end(),
                                  [](char c) { return IsControl(static_cast<unsigned char>(c)); });
  std::string line(text.begin(), first);
  if (first == text.end()) return line;
  line.reserve(text.size());
  for (std::size_t i = line.size(); i < text.size(); ++i) {
    const char c = text[i];
    if (!IsControl(static_cast<unsigned char>(c))) {
      line += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    line += ' ';
  }
  return line;
}

std::string WithoutControls(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (IsControl(byte)) continue;
    // C1 is C2 80–C2 9F in UTF-8.
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      ++i;
      continue;
    }
    kept += text[i];
  }
  return kept;
}

std::string CutCharacters(std::string text, std::size_t max_characters) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == max_characters) {
      text.resize(i);
      text += "…";
      break;
    }
  }
  return text;
}

std::string WithoutSecret(std::string text, std::string_view secret) {
  if (secret.empty()) return text;
  constexpr std::string_view kMask = "***";
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + kMask.size())) {
    text.replace(at, secret.size(), kMask);
  }
  return text;
}

std::string Shown(std::string_view text, std::string_view secret, std::size_t max_characters) {
  // The secret goes before the cut, which could otherwise leave part of it.
  return CutCharacters(WithoutSecret(WithoutControls(text), secret), max_characters);
}

}  // namespace quenzil
