// The module's resource script (component/resources/korvanex.rc): which files it embeds, its
// dialogs and its string table, in a subset of the resource-compiler language.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kx/platform/dialog.h"
#include "kx/platform/hresult.h"

namespace kx::component {

struct FileResource {
  int id = 0;
  std::string type;  // TYPELIB, REGISTRY, BITMAP, ICON
  std::string file;
};

struct DialogControlResource {
  int id = 0;
  kx::platform::DialogControlKind kind = kx::platform::DialogControlKind::kStaticText;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string text;
  int bitmap_id = 0;  // pictures: the BITMAP resource shown
};

struct DialogResource {
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  kx::platform::DWORD style = 0;
  std::string caption;
  std::string font_name;
  int font_points = 0;
  std::vector<DialogControlResource> controls;
};

struct ResourceScript {
  std::vector<FileResource> files;
  std::map<int, DialogResource> dialogs;
  std::map<int, std::string> strings;
};

/// E_INVALIDARG for text outside the subset (unknown statements, styles or control kinds, a
/// duplicate id); `diagnostic` then names the line.
[[nodiscard]] kx::platform::HRESULT ParseResourceScript(std::string_view text,
                                                        ResourceScript* script,
                                                        std::string* diagnostic = nullptr);

}  // namespace kx::component
