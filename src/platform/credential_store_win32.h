// The accounts in the registry, per user, under HKCU\Software\Dravimo\Quenzil:
//   Customer          REG_SZ      快递100's 公司编号
//   Key               REG_BINARY  快递100's 授权key
//   KdniaoId          REG_SZ      快递鸟's EBusinessID
//   KdniaoKey         REG_BINARY  快递鸟's ApiKey
//   KdniaoRequestType REG_DWORD   8001 for its paid query; else the free 1002
//   AppCode           REG_BINARY  the AppCode of the market API
//   ServiceOrder      REG_SZ      the order they are tried in, e.g. "kdniao,appcode,kuaidi100"
// Each REG_BINARY secret is its UTF-8 bytes protected by CryptProtectData
// for the current user, no extra entropy.
#pragma once

#include "app/settings.h"

namespace quenzil {

class RegistryCredentialStore final : public CredentialStore {
 public:
  Loaded Load() override;
  bool Save(const Accounts& accounts) override;
};

}  // namespace quenzil
