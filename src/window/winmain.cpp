// The program's entry: form1 is the start-up object.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <chrono>
#include <exception>
#include <string>
#include <utility>

#include "common/unique_handle.h"
#include "common/utf.h"
#include "deploy_config.h"
#include "web/fetch_winhttp.h"
#include "window/form1.h"
#include "window/main_window.h"
#include "window/texts.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace quenzil;

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES;
  // Without it the standard controls still work, only unthemed.
  static_cast<void>(::InitCommonControlsEx(&controls));

  // The shell's "open" may need COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto uninitialize = scope_exit([com] {
    if (SUCCEEDED(com)) ::CoUninitialize();
  });

  try {
    MainWindow window(instance);
    window.Create();
    WinHttpFetcher fetcher(window);
    DeployHosts deployment{deploy::kTrackingApiHost, deploy::kTrackingHomeHost, deploy::kMakerHost};
    const std::chrono::milliseconds step_timeout{deploy::kQueryStepTimeoutMs};
    deployment.query_limits.connect = step_timeout;
    deployment.query_limits.send = step_timeout;
    deployment.query_limits.receive = step_timeout;
    deployment.query_limits.total = std::chrono::milliseconds{deploy::kQueryTotalTimeoutMs};
    Form1 form(window, fetcher, std::move(deployment));
    window.AttachForm(form);
    window.StartTimer();
    // The update check runs before the window is ever shown.
    if (!window.RunFormLoad()) return 0;
    window.ShowFirstTime();
    return window.RunMessageLoop();
  } catch (const std::exception& error) {
    const std::wstring prompt = Widen(std::string("程序内部错误：") + error.what());
    ::MessageBoxW(nullptr, prompt.c_str(), Widen(kSystemNoticeTitle).c_str(), MB_OK);
    return 1;
  }
}
