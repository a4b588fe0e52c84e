#include "kx/calculator/about.h"

namespace kx::calculator {

std::string AboutBoxText(int major, int minor, int revision) {
  std::string text = "Tab strip: the tab widget of the Qt toolkit, by the Qt Project.";
  text += "\r\n\r\nProduct Version ";
  text += std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
  return text;
}

}  // namespace kx::calculator
