// MD5 from the platform (BCrypt on Windows) or a system library natively.
// Used only for the tracking service's request signature.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quenzil {

// Throws std::runtime_error if the platform refuses.
std::array<std::uint8_t, 16> Md5(std::string_view data);

}  // namespace quenzil
