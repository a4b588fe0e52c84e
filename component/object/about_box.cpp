#include "about_box.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "about_proc.h"
#include "embedded_resources.h"
#include "ikvquantorb.h"
#include "kx/platform/dialog.h"
#include "kx/platform/drawing.h"
#include "kx/platform/messages.h"
#include "method_frame.h"
#include "resource_script.h"

namespace kx::component {

using namespace kx::platform;

namespace {

inline constexpr int kAboutDialogId = 103;

// The dialog resource, read once from the embedded resource script.
const DialogResource* AboutDialogResource(std::string* diagnostic) {
  static const std::pair<std::optional<DialogResource>, std::string> loaded = [] {
    const auto text = FindEmbeddedText("RC", 0);
    if (!text)
      return std::make_pair(std::optional<DialogResource>(), std::string("no resource script"));
    ResourceScript script;
    std::string why;
    if (FAILED(ParseResourceScript(*text, &script, &why))) {
      return std::make_pair(std::optional<DialogResource>(), why);
    }
    const auto it = script.dialogs.find(kAboutDialogId);
    if (it == script.dialogs.end()) {
      return std::make_pair(std::optional<DialogResource>(), std::string("no DIALOG 103"));
    }
    return std::make_pair(std::optional<DialogResource>(it->second), std::string());
  }();
  if (!loaded.first) {
    *diagnostic = loaded.second;
    return nullptr;
  }
  return &*loaded.first;
}

// Bitmaps shown by the dialog, released when it closes.
class DialogBitmaps {
 public:
  DialogBitmaps() = default;
  DialogBitmaps(const DialogBitmaps&) = delete;
  DialogBitmaps& operator=(const DialogBitmaps&) = delete;
  ~DialogBitmaps() {
    for (HBITMAP b : bitmaps_) (void)DeleteObject(b);
  }
  [[nodiscard]] HBITMAP Load(int id) {
    const auto bytes = FindEmbeddedResource("BITMAP", id);
    HBITMAP b = nullptr;
    if (!bytes || FAILED(LoadBitmapFromBmp(*bytes, &b))) return nullptr;
    bitmaps_.push_back(b);
    return b;
  }

 private:
  std::vector<HBITMAP> bitmaps_;
};

HRESULT Fail(HRESULT hr, const std::string& description) {
  (void)ReportErrorInfo(description);
  return hr;
}

}  // namespace

HRESULT ShowAboutBox(HWND owner) noexcept {
  try {
    if (!GetDialogBackend()) {
      return Fail(DIALOG_E_NOHOST, "The About box needs a graphical host; this process has none.");
    }
    std::string why;
    const DialogResource* resource = AboutDialogResource(&why);
    if (!resource) return Fail(E_UNEXPECTED, "The About box resource cannot be read: " + why);

    DialogBitmaps bitmaps;
    AboutState state;
    DialogTemplate dialog;
    dialog.title = resource->caption;
    dialog.style = resource->style;
    dialog.cx = resource->cx;
    dialog.cy = resource->cy;
    if (!resource->font_name.empty()) {
      dialog.font_name = resource->font_name;
      dialog.font_points = resource->font_points;
    }
    for (const DialogControlResource& c : resource->controls) {
      DialogControl control{
          .id = c.id, .kind = c.kind, .x = c.x, .y = c.y, .cx = c.cx, .cy = c.cy, .text = c.text};
      if (c.kind == DialogControlKind::kPicture) {
        control.bitmap = bitmaps.Load(c.bitmap_id);
        if (!control.bitmap) {
          return Fail(E_UNEXPECTED,
                      "The About box bitmap " + std::to_string(c.bitmap_id) + " cannot be read.");
        }
      } else if (c.kind == DialogControlKind::kStaticText) {
        state.texts.emplace_back(c.id, c.text);
      }
      dialog.controls.push_back(std::move(control));
    }

    INT_PTR result = 0;
    const HRESULT hr =
        RunModalDialog(dialog, owner, &AboutProc, reinterpret_cast<LPARAM>(&state), &result);
    if (hr == DIALOG_E_NOHOST) {
      return Fail(hr, "The About box needs a graphical host; this process has none.");
    }
    if (FAILED(hr)) return Fail(hr, "The About box could not be shown.");
    return S_OK;
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kx::component
