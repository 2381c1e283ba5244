#include "platform/user_sid_win32.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "common/handles_win32.h"
#include "common/utf.h"

namespace quenzil {
std::string CurrentUserSid() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  if (::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size) ||
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    return {};
  }
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  UniqueSidText text;
  if (!::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, text.put())) {
    return {};
  }
  return Narrow(text.get());
}

}  // namespace quenzil
