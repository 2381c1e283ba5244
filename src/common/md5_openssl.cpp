#include <openssl/evp.h>

#include <stdexcept>

#include "common/md5.h"

namespace quenzil {

std::array<std::uint8_t, 16> Md5(std::string_view data) {
  std::array<std::uint8_t, 16> digest{};
  unsigned int length = 0;
  // A FIPS-only OpenSSL has no MD5; EVP_Digest then fails rather than crashes.
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
    throw std::runtime_error("EVP_Digest(MD5) failed");
  }
  if (length != digest.size()) throw std::runtime_error("EVP_Digest(MD5) gave an odd length");
  return digest;
}

}  // namespace quenzil
