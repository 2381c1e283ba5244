// What a start of the program is handed: its arguments, and the number a
// second start hands over to the instance already running (WM_COPYDATA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenzil {

struct StartOptions {
  bool background = false;            // "/background": start hidden in the notification area
  bool list = false;                  // "/list": the 关注列表 window too
  std::optional<std::string> number;  // the text handed over, blanks around it dropped; never empty
};

// The arguments after the program's name, UTF-8. "/background" and "/list"
// (any case, also with "-") are the switches; every other argument is the
// number, several joined by one space.
StartOptions ParseStartArguments(const std::vector<std::string>& arguments);

// The class of the program's main window: a second start, and the console
// companion, find the first instance by it.
inline constexpr wchar_t kMainWindowClass[] = L"QuenzilForm1";

// WM_COPYDATA from a second start: dwData is the tag, the bytes are the
// UTF-8 text.
inline constexpr std::uintptr_t kHandOverTag = 0x515A4E31;  // "QZN1"
inline constexpr std::size_t kMaxHandOverBytes = 4096;
// WM_COPYDATA from a second start with /list, without bytes.
inline constexpr std::uintptr_t kShowListTag = 0x515A4C31;  // "QZL1"

// The text handed over, blanks around it dropped; nullopt for another tag,
// more than kMaxHandOverBytes, bytes that are not UTF-8, or nothing left.
std::optional<std::string> ReadHandOver(std::uintptr_t tag, std::string_view bytes);

}  // namespace quenzil
