#include "platform/app_paths_win32.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "common/utf.h"

namespace quenzil {

std::string AppDataFile(std::string_view name) {
  PWSTR folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &folder))) {
    path = folder;
  }
  ::CoTaskMemFree(folder);
  if (path.empty()) {
    wchar_t fallback[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", fallback, MAX_PATH);
    if (length > 0 && length < MAX_PATH) path = fallback;
  }
  if (path.empty()) return {};
  return Narrow(path + L"\\Quenzil\\" + Widen(name));
}

}  // namespace quenzil
