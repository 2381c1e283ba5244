// Stand-in for the user's browser in the end-to-end tests: registered as the
// handler of http addresses, it records what it was asked to open and with
// which show command, then exits without opening anything.
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

// The log named by QUENZIL_E2E_BROWSER_LOG, else fakebrowser.log beside this
// program.
std::wstring LogPath() {
  wchar_t from_environment[MAX_PATH] = {};
  const DWORD length =
      ::GetEnvironmentVariableW(L"QUENZIL_E2E_BROWSER_LOG", from_environment, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return from_environment;
  wchar_t own_path[MAX_PATH] = {};
  const DWORD own_length = ::GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  if (own_length == 0 || own_length >= MAX_PATH) return L"fakebrowser.log";
  std::wstring folder(own_path, own_length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"fakebrowser.log";
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string utf8(static_cast<size_t>(needed), '\0');
  if (::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                            needed, nullptr, nullptr) != needed)
    return {};
  return utf8;
}

}  // namespace

int wmain() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  ::GetStartupInfoW(&startup);
  const bool show_given = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;

  int argument_count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &argument_count);
  std::wstring address;
  if (arguments != nullptr) {
    if (argument_count > 1) address = arguments[1];
    ::LocalFree(arguments);
  }

  // One line: "show=<n or none>\turl=<first argument>\tcmdline=<whole line>".
  std::string line = "show=" + (show_given ? std::to_string(startup.wShowWindow) : "none") +
                     "\turl=" + ToUtf8(address) + "\tcmdline=" + ToUtf8(::GetCommandLineW()) + "\n";

  // Several browsers may start at once: retry while another holds the file.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE log = ::CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
      ::Sleep(20);
      continue;
    }
    DWORD written = 0;
    const BOOL wrote =
        ::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(log);
    return wrote && written == line.size() ? 0 : 1;
  }
  return 1;
}
