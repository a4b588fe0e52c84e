#include "kx/calculator/about.h"

namespace kx::calculator {

std::string AboutBoxText(std::string_view tab_strip, int major, int minor, int revision) {
  std::string text(tab_strip);
  text += "\r\n\r\nProduct Version ";
  text += std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
  return text;
}

}  // namespace kx::calculator
