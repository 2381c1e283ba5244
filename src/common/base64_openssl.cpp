#include <openssl/evp.h>

#include <stdexcept>
#include <string>

#include "common/base64.h"

namespace quenzil {

std::string Base64(std::string_view bytes) {
  if (bytes.size() > 0x3FFFFFFF) throw std::runtime_error("Base64: input too large");
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  if (written < 0) throw std::runtime_error("EVP_EncodeBlock failed");
  text.resize(static_cast<std::size_t>(written));
  return text;
}

}  // namespace quenzil
