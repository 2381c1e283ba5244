#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "common/md5.h"

namespace quenzil {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

[[noreturn]] void Refused(const char* call, NTSTATUS status) {
  char text[80];
  std::snprintf(text, sizeof text, "%s(MD5) failed: 0x%08lX", call,
                static_cast<unsigned long>(status));
  throw std::runtime_error(text);
}

class Provider {
 public:
  Provider() {
    const NTSTATUS status = BCryptOpenAlgorithmProvider(&handle_, BCRYPT_MD5_ALGORITHM, nullptr, 0);
    if (!Succeeded(status)) Refused("BCryptOpenAlgorithmProvider", status);
  }
  ~Provider() { BCryptCloseAlgorithmProvider(handle_, 0); }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Hash {
 public:
  explicit Hash(BCRYPT_ALG_HANDLE provider) {
    // No object buffer: BCrypt keeps the state itself (Windows 7 and later).
    const NTSTATUS status = BCryptCreateHash(provider, &handle_, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status)) Refused("BCryptCreateHash", status);
  }
  ~Hash() { BCryptDestroyHash(handle_); }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  BCRYPT_HASH_HANDLE get() const { return handle_; }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

// Opened and closed per call: a signature is made once per query, and no
// handle outlives it.
std::array<std::uint8_t, 16> Md5(std::string_view data) {
  Provider provider;
  Hash hash(provider.get());
  // BCryptHashData takes a ULONG length: feed larger inputs in pieces.
  constexpr std::size_t kPiece = 1u << 30;
  std::size_t done = 0;
  do {
    const std::size_t piece = std::min(kPiece, data.size() - done);
    auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + done));
    const NTSTATUS status = BCryptHashData(hash.get(), bytes, static_cast<ULONG>(piece), 0);
    if (!Succeeded(status)) Refused("BCryptHashData", status);
    done += piece;
  } while (done < data.size());

  std::array<std::uint8_t, 16> digest{};
  const NTSTATUS status =
      BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  if (!Succeeded(status)) Refused("BCryptFinishHash", status);
  return digest;
}

}  // namespace quenzil
