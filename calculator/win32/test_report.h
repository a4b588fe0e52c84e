#pragma once
// The test build (Lanternell_test.exe) reports what the window shows after each Calculate: the
// results and the status line as text, and a picture of the window, in the folder named by
// KX_LANTERNELL_REPORT; and, on F12, the same for the active window as "snapN" (the window's
// inputs, selectors and the chart's drawn texts too; a message box's title and texts). The
// program itself reports nothing.
namespace kx::calculator {

class OptionPriceWindow;
void WriteTestReport(const OptionPriceWindow& window);
void InstallTestKey(const OptionPriceWindow& window);

}  // namespace kx::calculator
