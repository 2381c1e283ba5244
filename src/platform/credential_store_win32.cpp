#include "platform/credential_store_win32.h"

#include <windows.h>
#include <dpapi.h>

#include <vector>

#include "common/handles_win32.h"
#include "common/utf.h"

namespace quenzil {
namespace {


constexpr wchar_t kSettingsKey[] = L"Software\\Dravimo\\Quenzil";
constexpr wchar_t kCustomerValue[] = L"Customer";
constexpr wchar_t kKeyValue[] = L"Key";

// Plain bytes of the secret are wiped once used.
void Wipe(void* data, std::size_t size) {
  if (data != nullptr && size != 0) ::SecureZeroMemory(data, size);
}

// A value's bytes and type: false on a read error; present is false when
// the value does not exist.
bool ReadValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& bytes, bool& present) {
  DWORD size = 0;
  present = false;
  LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  present = true;
  bytes.resize(size);
  status = ::RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size);
  if (status != ERROR_SUCCESS) return false;
  bytes.resize(size);
  return true;
}

}  // namespace

CredentialStore::Loaded RegistryCredentialStore::Load() {
  Loaded loaded;
  UniqueKey key;
  const LSTATUS opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, key.put());
  if (opened == ERROR_FILE_NOT_FOUND) return loaded;
  if (opened != ERROR_SUCCESS) {
    loaded.unreadable = true;
    return loaded;
  }

  DWORD customer_type = 0;
  std::vector<BYTE> customer_bytes;
  bool customer_present = false;
  DWORD key_type = 0;
  std::vector<BYTE> key_bytes;
  bool key_present = false;
  if (!ReadValue(key.get(), kCustomerValue, customer_type, customer_bytes, customer_present) ||
      !ReadValue(key.get(), kKeyValue, key_type, key_bytes, key_present)) {
    loaded.unreadable = true;
    return loaded;
  }
  if (!customer_present && !key_present) return loaded;
  if (!customer_present || !key_present || customer_type != REG_SZ || key_type != REG_BINARY ||
      key_bytes.empty() || key_bytes.size() > 0xFFFFFFFFu) {
    loaded.unreadable = true;
    return loaded;
  }

  std::wstring customer(reinterpret_cast<const wchar_t*>(customer_bytes.data()),
                        customer_bytes.size() / sizeof(wchar_t));
  while (!customer.empty() && customer.back() == L'\0') customer.pop_back();

  DATA_BLOB protected_key{static_cast<DWORD>(key_bytes.size()), key_bytes.data()};
  DATA_BLOB plain{};
  if (!::CryptUnprotectData(&protected_key, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &plain)) {
    loaded.unreadable = true;
    return loaded;
  }
  std::string secret(reinterpret_cast<const char*>(plain.pbData), plain.cbData);
  Wipe(plain.pbData, plain.cbData);
  ::LocalFree(plain.pbData);

  loaded.credentials = Credentials{Narrow(customer), std::move(secret)};
  if (!loaded.credentials.complete()) {
    loaded.credentials = {};
    loaded.unreadable = true;
  }
  return loaded;
}

bool RegistryCredentialStore::Save(const Credentials& credentials) {
  UniqueKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  std::string secret = credentials.key;
  DATA_BLOB plain{static_cast<DWORD>(secret.size()), reinterpret_cast<BYTE*>(secret.data())};
  DATA_BLOB protected_key{};
  const BOOL protected_ok = ::CryptProtectData(&plain, L"Quenzil", nullptr, nullptr, nullptr,
                                               CRYPTPROTECT_UI_FORBIDDEN, &protected_key);
  Wipe(secret.data(), secret.size());
  if (!protected_ok) return false;
  const auto free_blob = scope_exit([&] { ::LocalFree(protected_key.pbData); });

  const std::wstring customer = Widen(credentials.customer);
  const auto customer_bytes = static_cast<DWORD>((customer.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.get(), kCustomerValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(customer.c_str()),
                          customer_bytes) == ERROR_SUCCESS &&
         ::RegSetValueExW(key.get(), kKeyValue, 0, REG_BINARY, protected_key.pbData, protected_key.cbData) ==
             ERROR_SUCCESS;
}

bool RegistryCredentialStore::Clear() {
  UniqueKey key;
  const LSTATUS opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, key.put());
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  bool cleared = true;
  for (const wchar_t* name : {kCustomerValue, kKeyValue}) {
    const LSTATUS status = ::RegDeleteValueW(key.get(), name);
    cleared = cleared && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
  }
  return cleared;
}

}  // namespace quenzil
