#pragma once
// The test build (Lanternell_test.exe) reports what the window shows after each Calculate: the
// results and the status line as text, and a picture of the window, in the folder named by
// KX_LANTERNELL_REPORT. The program itself reports nothing.
namespace kx::calculator {

class OptionPriceWindow;
void WriteTestReport(const OptionPriceWindow& window);

}  // namespace kx::calculator
