// 快递100 授权 in the registry, per user:
//   HKCU\Software\Dravimo\Quenzil  Customer (REG_SZ)
//                                  Key      (REG_BINARY: the key's UTF-8 bytes
//                                            protected by CryptProtectData for
//                                            the current user, no extra entropy)
#pragma once

#include "app/settings.h"

namespace quenzil {

class RegistryCredentialStore final : public CredentialStore {
 public:
  Loaded Load() override;
  bool Save(const Credentials& credentials) override;
  bool Clear() override;
};

}  // namespace quenzil
