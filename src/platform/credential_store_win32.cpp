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
constexpr wchar_t kKdniaoIdValue[] = L"KdniaoId";
constexpr wchar_t kKdniaoKeyValue[] = L"KdniaoKey";
constexpr wchar_t kKdniaoRequestTypeValue[] = L"KdniaoRequestType";
constexpr wchar_t kAppCodeValue[] = L"AppCode";
constexpr wchar_t kServiceOrderValue[] = L"ServiceOrder";
constexpr DWORD kKdniaoPaidRequestType = 8001;

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

// A value as the store keeps it: absent, unreadable, or its text.
struct Stored {
  bool present = false;
  bool readable = true;
  std::string text;
};

Stored ReadText(HKEY key, const wchar_t* name) {
  Stored stored;
  DWORD type = 0;
  std::vector<BYTE> bytes;
  if (!ReadValue(key, name, type, bytes, stored.present)) return {true, false, {}};
  if (!stored.present) return stored;
  if (type != REG_SZ) return {true, false, {}};
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  stored.text = Narrow(text);
  return stored;
}

Stored ReadSecret(HKEY key, const wchar_t* name) {
  Stored stored;
  DWORD type = 0;
  std::vector<BYTE> bytes;
  if (!ReadValue(key, name, type, bytes, stored.present)) return {true, false, {}};
  if (!stored.present) return stored;
  if (type != REG_BINARY || bytes.empty() || bytes.size() > 0xFFFFFFFFu) return {true, false, {}};
  DATA_BLOB protected_bytes{static_cast<DWORD>(bytes.size()), bytes.data()};
  DATA_BLOB plain{};
  if (!::CryptUnprotectData(&protected_bytes, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &plain)) {
    return {true, false, {}};
  }
  stored.text.assign(reinterpret_cast<const char*>(plain.pbData), plain.cbData);
  Wipe(plain.pbData, plain.cbData);
  ::LocalFree(plain.pbData);
  return stored;
}

// Both halves of an account, or neither: one half alone (a script that wrote
// one value) is no account, and no unreadable one either.
bool Pair(const Stored& first, const Stored& second, std::string& first_out, std::string& second_out) {
  if (!first.readable || !second.readable) return false;
  if (first.text.empty() || second.text.empty()) return true;
  first_out = first.text;
  second_out = second.text;
  return true;
}

bool WriteText(HKEY key, const wchar_t* name, const std::string& text) {
  const std::wstring wide = Widen(text);
  const auto bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()), bytes) == ERROR_SUCCESS;
}

bool WriteSecret(HKEY key, const wchar_t* name, std::string secret) {
  DATA_BLOB plain{static_cast<DWORD>(secret.size()), reinterpret_cast<BYTE*>(secret.data())};
  DATA_BLOB protected_bytes{};
  const BOOL protected_ok = ::CryptProtectData(&plain, L"Quenzil", nullptr, nullptr, nullptr,
                                               CRYPTPROTECT_UI_FORBIDDEN, &protected_bytes);
  Wipe(secret.data(), secret.size());
  if (!protected_ok) return false;
  const auto free_blob = scope_exit([&] { ::LocalFree(protected_bytes.pbData); });
  return ::RegSetValueExW(key, name, 0, REG_BINARY, protected_bytes.pbData, protected_bytes.cbData) ==
         ERROR_SUCCESS;
}

bool Remove(HKEY key, const wchar_t* name) {
  const LSTATUS status = ::RegDeleteValueW(key, name);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
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
  Accounts& accounts = loaded.accounts;
  // An account that cannot be read counts as none; the others still do.
  bool readable = Pair(ReadText(key.get(), kCustomerValue), ReadSecret(key.get(), kKeyValue),
                       accounts.kuaidi100.customer, accounts.kuaidi100.key);
  readable = Pair(ReadText(key.get(), kKdniaoIdValue), ReadSecret(key.get(), kKdniaoKeyValue), accounts.kdniao.id,
                  accounts.kdniao.key) &&
             readable;
  if (const Stored appcode = ReadSecret(key.get(), kAppCodeValue); appcode.present) {
    readable = readable && appcode.readable && !appcode.text.empty();
    if (appcode.readable) accounts.appcode.code = appcode.text;
  }
  DWORD request_type = 0;
  DWORD size = sizeof(request_type);
  DWORD type = 0;
  if (::RegQueryValueExW(key.get(), kKdniaoRequestTypeValue, nullptr, &type, reinterpret_cast<BYTE*>(&request_type),
                         &size) == ERROR_SUCCESS &&
      type == REG_DWORD) {
    accounts.kdniao.paid = request_type == kKdniaoPaidRequestType;
  }
  if (const Stored order = ReadText(key.get(), kServiceOrderValue); order.present && order.readable) {
    accounts.order = ParseServiceOrder(order.text);
  }
  loaded.unreadable = !readable;
  return loaded;
}

bool RegistryCredentialStore::Save(const Accounts& accounts) {
  UniqueKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool saved = true;
  if (accounts.kuaidi100.complete()) {
    saved = WriteText(key.get(), kCustomerValue, accounts.kuaidi100.customer) &&
            WriteSecret(key.get(), kKeyValue, accounts.kuaidi100.key);
  } else {
    saved = Remove(key.get(), kCustomerValue) && Remove(key.get(), kKeyValue);
  }
  if (accounts.kdniao.complete()) {
    const DWORD request_type = accounts.kdniao.paid ? kKdniaoPaidRequestType : 1002;
    saved = WriteText(key.get(), kKdniaoIdValue, accounts.kdniao.id) &&
            WriteSecret(key.get(), kKdniaoKeyValue, accounts.kdniao.key) &&
            ::RegSetValueExW(key.get(), kKdniaoRequestTypeValue, 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&request_type), sizeof(request_type)) == ERROR_SUCCESS &&
            saved;
  } else {
    saved = Remove(key.get(), kKdniaoIdValue) && Remove(key.get(), kKdniaoKeyValue) &&
            Remove(key.get(), kKdniaoRequestTypeValue) && saved;
  }
  saved = (accounts.appcode.complete() ? WriteSecret(key.get(), kAppCodeValue, accounts.appcode.code)
                                       : Remove(key.get(), kAppCodeValue)) &&
          saved;
  return WriteText(key.get(), kServiceOrderValue, ServiceOrderText(accounts.order)) && saved;
}

}  // namespace quenzil
