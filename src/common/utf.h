// UTF-8 inside, UTF-16 at the Windows API: the two conversions.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>

namespace quenzil {
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
}  // namespace quenzil
#endif
