// Base64 (RFC 4648, with padding, no line breaks) from the platform
// (CryptBinaryToStringA on Windows) or a system library natively. Used only
// for a tracking service's request signature.
#pragma once

#include <string>
#include <string_view>

namespace quenzil {

// Throws std::runtime_error if the platform refuses.
std::string Base64(std::string_view bytes);

}  // namespace quenzil
