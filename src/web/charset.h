// Character-set test and decoding of response bodies (Module1's byte side).
// Text inside the program is UTF-8; bytes from the network exist only here
// and in the fetch.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quenzil {

// True when the bytes are to be read as UTF-8: a leading byte-order mark, or
// at least one multi-byte sequence and no byte that breaks the pattern. Two-
// and three-byte sequences by their bit patterns; four-byte ones only when
// well-formed (F0..F4 with the second byte in range).
bool IsUtf8(std::span<const std::uint8_t> body);

// The body as UTF-8 text: read as UTF-8 when IsUtf8 says so, otherwise as
// GB2312 the way Windows reads it (code page 936). A leading byte-order mark
// is dropped; an invalid sequence becomes U+FFFD.
std::string DecodeBytes(std::span<const std::uint8_t> body);

// The body read as UTF-8 whatever it holds, a leading byte-order mark dropped.
std::string DecodeUtf8WithoutBom(std::span<const std::uint8_t> body);

// The two converters behind DecodeBytes, exposed for tests.
std::string DecodeUtf8(std::span<const std::uint8_t> bytes);
std::string DecodeCp936(std::span<const std::uint8_t> bytes);  // platform converter

}  // namespace quenzil
