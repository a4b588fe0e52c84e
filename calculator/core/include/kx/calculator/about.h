#pragma once
// What the calculator says about itself.
#include <string>
#include <string_view>

namespace kx::calculator {

inline constexpr std::string_view kProgramTitle = "Option Pricing Calculator";
inline constexpr std::string_view kWindowCaption =
    "Option Pricing Calculator - Provided by Fenwright Software";
// The maker's page, opened from the banner on the second tab. A reserved example domain.
inline constexpr std::string_view kMakerWebAddress = "https://www.fenwright.example/";
inline constexpr std::string_view kMakerTabCaption = "More free tools from www.fenwright.example";

// The line of the about box thanking the makers of the window's tab strip, in each window.
inline constexpr std::string_view kQtTabStrip =
    "Tab strip: the tab widget of the Qt toolkit, by the Qt Project.";
inline constexpr std::string_view kWindowsTabStrip =
    "Tab strip: the tab control of the Windows common controls, by Microsoft.";

// The about box: `tab_strip`, a blank line, then "Product Version major.minor.revision"; lines
// end with CR LF.
[[nodiscard]] std::string AboutBoxText(std::string_view tab_strip, int major, int minor,
                                       int revision);

}  // namespace kx::calculator
