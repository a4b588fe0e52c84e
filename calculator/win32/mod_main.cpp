// modMain: starts the calculator on Windows.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <memory>
#include <string>

#include "frm_option_price.h"
#include "kx/calculator/about.h"
#include "kx/calculator/dispatch_options_control.h"
#include "kx/platform/activation.h"
#include "test_report.h"

using namespace kx::calculator;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  // The common controls for the extended combo-box classes (size 8, class flag 0x200), and the
  // tab and date controls this window is made of.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = 8;
  controls.dwICC = ICC_USEREX_CLASSES | ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
  (void)CoInitialize(nullptr);

  int exit_code = 0;
  std::unique_ptr<OptionsControl> control;
  if (const HRESULT hr = CreateOptionsControl(control); FAILED(hr)) {
    // Without its pricing control the window cannot compute anything: say why and stop.
    wchar_t text[256];
    wsprintfW(text,
              L"The pricing component could not be created (0x%08lX).\n\n"
              L"Register it first: regsvr32 KorvaneX.dll",
              static_cast<unsigned long>(hr));
    MessageBoxW(nullptr, text, L"Option Pricing Calculator", MB_OK | MB_ICONERROR);
    exit_code = 1;
  } else {
    std::unique_ptr<OptionPriceWindow> window(
        OptionPriceWindow::Create(instance, std::move(control)));
    InstallTestKey(*window);
    ShowWindow(window->hwnd(), show);
    UpdateWindow(window->hwnd());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      // Tab between the fields, Ctrl+Tab between the tabs, Enter for Calculate, Alt+E for Exit.
      if (window->TranslateTabKey(message)) continue;
      if (IsWindow(window->hwnd()) && IsDialogMessageW(window->hwnd(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    exit_code = static_cast<int>(message.wParam);
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
  return exit_code;
}
