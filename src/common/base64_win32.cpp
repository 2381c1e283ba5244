#include <windows.h>
#include <wincrypt.h>

#include <stdexcept>
#include <string>

#include "common/base64.h"

namespace quenzil {

std::string Base64(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (bytes.size() > 0x3FFFFFFF) throw std::runtime_error("Base64: input too large");
  const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
  const auto size = static_cast<DWORD>(bytes.size());
  constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD length = 0;
  if (!::CryptBinaryToStringA(data, size, kFlags, nullptr, &length)) {
    throw std::runtime_error("CryptBinaryToStringA failed: " + std::to_string(::GetLastError()));
  }
  std::string text(length, '\0');
  if (!::CryptBinaryToStringA(data, size, kFlags, text.data(), &length)) {
    throw std::runtime_error("CryptBinaryToStringA failed: " + std::to_string(::GetLastError()));
  }
  text.resize(length);  // without the terminating zero
  return text;
}

}  // namespace quenzil
