// The control side of KvQuantorb: its face, size and status, in-place activation with a window of
// its own, and the About box with its timer, driven through a scripted dialog host.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kx/platform/dialog.h"
#include "kx/platform/drawing.h"
#include "kx/platform/messages.h"
#include "object_test_support.h"

namespace kx::component::object_test {
namespace {

using namespace kx::platform;

std::vector<BYTE> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using Appearance = RegisteredModuleTest;

TEST_F(Appearance, DrawsBitmap202UnscaledAtTheTopLeftOfTheBounds) {
  const std::vector<BYTE> file = ReadFile(std::string(KX_RESOURCE_DIR) + "/bitmap202.bmp");
  HBITMAP expected = nullptr;
  ASSERT_EQ(LoadBitmapFromBmp(file, &expected), S_OK);
  ASSERT_EQ(expected->width, 32);
  ASSERT_EQ(expected->height, 32);

  ComPtr<IDispatch> object = Create();
  auto view = object.As<IViewObject>();
  ASSERT_TRUE(view);
  constexpr std::uint32_t kFill = 0xFF123456u;
  PixelSurface surface(80, 80, kFill);
  const RECTL bounds{5, 7, 105, 107};  // larger than the picture: nothing is stretched
  ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, surface.hdc(), &bounds,
                       nullptr, nullptr, 0),
            S_OK);
  for (LONG y = 0; y < 32; ++y) {
    for (LONG x = 0; x < 32; ++x) {
      ASSERT_EQ(surface.at(5 + x, 7 + y), expected->pixels[y * 32 + x]) << x << "," << y;
    }
  }
  for (const POINT p : {POINT{4, 7}, POINT{37, 7}, POINT{5, 6}, POINT{5, 39}, POINT{60, 60}}) {
    EXPECT_EQ(surface.at(p.x, p.y), kFill) << "nothing else is drawn at " << p.x << "," << p.y;
  }
  (void)DeleteObject(expected);

  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, surface.hdc(), &bounds,
                       nullptr, nullptr, 0),
            DV_E_DVASPECT);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, surface.hdc(), nullptr,
                       nullptr, nullptr, 0),
            E_INVALIDARG);
}

TEST_F(Appearance, KeepsItsNaturalSizeOf32Pixels) {
  ComPtr<IDispatch> object = Create();
  constexpr LONG kHimetric = 847;  // 32 pixels at 96 dpi
  SIZEL size{};
  ASSERT_EQ(object.As<IViewObject2>()->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
  EXPECT_EQ(size.cx, kHimetric);
  EXPECT_EQ(size.cy, kHimetric);
  auto ole = object.As<IOleObject>();
  ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &size), S_OK);
  EXPECT_EQ(size.cx, kHimetric);
  SIZEL other{2000, 2000};
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &other), E_FAIL);
  SIZEL natural{kHimetric, kHimetric};
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &natural), S_OK);
  DVEXTENTINFO info;
  info.dwExtentMode = DVEXTENT_CONTENT;
  ASSERT_EQ(object.As<IViewObjectEx>()->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr,
                                                         &info, &size),
            S_OK);
  EXPECT_EQ(size.cx, kHimetric);
}

TEST_F(Appearance, StatusAndPagesAreAsRegistered) {
  ComPtr<IDispatch> object = Create();
  DWORD status = 0;
  ASSERT_EQ(object.As<IOleObject>()->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, 132497u);
  EXPECT_EQ(status, OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME |
                        OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                        OLEMISC_RECOMPOSEONRESIZE);
  ASSERT_EQ(object.As<IOleObject>()->GetMiscStatus(DVASPECT_ICON, &status), S_OK);
  EXPECT_EQ(status, 0u);
  CAUUID pages;
  pages.cElems = 9;
  ASSERT_EQ(object.As<ISpecifyPropertyPages>()->GetPages(&pages), S_OK);
  EXPECT_EQ(pages.cElems, 0u);
  EXPECT_EQ(pages.pElems, nullptr);
  FORMATETC format;
  EXPECT_EQ(object.As<IDataObject>()->QueryGetData(&format), DV_E_FORMATETC);
}

// A container site that allows in-place activation and records what the control tells it.
class Site final : public IOleClientSite, public IOleInPlaceSite {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
      return ReturnInterface(static_cast<IOleClientSite*>(this), object);
    }
    if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) {
      return ReturnInterface(static_cast<IOleInPlaceSite*>(this), object);
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE SaveObject() override {
    log.push_back("SaveObject");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = nullptr;
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override {
    log.push_back("CanInPlaceActivate");
    return allow ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
    log.push_back("OnInPlaceActivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override {
    log.push_back("OnUIActivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame**, IOleInPlaceUIWindow**, RECT*,
                                             RECT*, OLEINPLACEFRAMEINFO*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override {
    log.push_back("OnUIDeactivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
    log.push_back("OnInPlaceDeactivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(const RECT*) override { return S_OK; }

  std::vector<std::string> log;
  bool allow = true;
  ULONG references = 0;
};

using Activation = RegisteredModuleTest;

TEST_F(Activation, InPlaceActiveControlHasAWindowOfItsOwn) {
  ComPtr<IDispatch> object = Create();
  Site site;
  auto ole = object.As<IOleObject>();
  ASSERT_EQ(ole->SetClientSite(&site), S_OK);
  auto in_place = object.As<IOleInPlaceObject>();
  HWND window = nullptr;
  EXPECT_EQ(in_place->GetWindow(&window), E_FAIL) << "no window before activation";

  const RECT position{0, 0, 32, 32};
  ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, -1, nullptr, &position), S_OK);
  ASSERT_EQ(in_place->GetWindow(&window), S_OK);
  EXPECT_TRUE(IsWindow(window));
  ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, nullptr, -1, nullptr, &position), S_OK);
  ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(in_place->GetWindow(&window), E_FAIL);
  const std::vector<std::string> expected = {"CanInPlaceActivate", "OnInPlaceActivate",
                                             "OnUIActivate", "OnUIDeactivate",
                                             "OnInPlaceDeactivate"};
  EXPECT_EQ(site.log, expected);

  site.log.clear();
  site.allow = false;
  EXPECT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, nullptr, -1, nullptr, &position), E_FAIL);
  EXPECT_EQ(ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, -1, nullptr, &position), E_NOTIMPL);
  ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
  EXPECT_EQ(site.references, 0u);
}

TEST_F(Activation, CloseAsksTheSiteToSaveAChangedControl) {
  ComPtr<IDispatch> object = Create();
  Site site;
  auto ole = object.As<IOleObject>();
  ASSERT_EQ(ole->SetClientSite(&site), S_OK);
  ASSERT_EQ(ole->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
  EXPECT_TRUE(site.log.empty()) << "nothing changed, nothing to save";
  ASSERT_EQ(PutByName(object.get(), u"Base", I4(1)).hr, S_OK);
  ASSERT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_TRUE(site.log.empty());
  ASSERT_EQ(ole->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
  EXPECT_EQ(site.log, std::vector<std::string>{"SaveObject"});
  ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
}

// ---- About box ------------------------------------------------------------------------------

// A dialog host that plays a script of user actions and timer ticks into the dialog and records
// what the dialog asked of it.
class ScriptedDialogHost final : public DialogBackend {
 public:
  enum class Step { kTick, kClick, kOk, kCloseBox };

  struct Record {
    DialogTemplate dialog;
    HWND owner = reinterpret_cast<HWND>(1);
    LONG picture_width = 0, picture_height = 0;
    std::map<int, std::string> texts;
    std::map<UINT_PTR, UINT> timers_started;
    bool timer_running = false;
    int steps_played = 0;
    int ticks_played = 0;
    bool closed_by_dialog = false;
  };

  explicit ScriptedDialogHost(std::vector<Step> script) : script_(std::move(script)) {}

  std::unique_ptr<DialogWindow> CreateDialogWindow(const DialogTemplate& dialog, HWND owner,
                                                   DialogEvents& events) override {
    record.dialog = dialog;
    record.owner = owner;
    for (const DialogControl& c : dialog.controls) {
      if (c.kind == DialogControlKind::kPicture && c.bitmap) {
        record.picture_width = c.bitmap->width;
        record.picture_height = c.bitmap->height;
      }
    }
    return std::make_unique<Window>(*this, events);
  }

  Record record;

 private:
  class Window final : public DialogWindow {
   public:
    Window(ScriptedDialogHost& host, DialogEvents& events) : host_(host), events_(events) {}
    void SetControlText(int control_id, std::string_view text) override {
      host_.record.texts[control_id] = std::string(text);
    }
    void StartTimer(UINT_PTR id, UINT interval_ms) override {
      host_.record.timers_started[id] = interval_ms;
      host_.record.timer_running = true;
    }
    void StopTimer(UINT_PTR) override { host_.record.timer_running = false; }
    void RunModal() override {
      Record& r = host_.record;
      for (Step step : host_.script_) {
        if (ended_) break;
        ++r.steps_played;
        switch (step) {
          case Step::kTick:
            if (r.timer_running) {
              ++r.ticks_played;
              events_.OnTimer(1);
            }
            break;
          case Step::kClick:
            events_.OnLeftButtonDown(POINT{10, 10});
            break;
          case Step::kOk:
            events_.OnCommand(1);
            break;
          case Step::kCloseBox:
            events_.OnCloseRequest();
            break;
        }
      }
      r.closed_by_dialog = ended_;
      if (!ended_) events_.OnCommand(1);  // the script ran out: press OK so the test ends
    }
    void EndModal() override { ended_ = true; }

   private:
    ScriptedDialogHost& host_;
    DialogEvents& events_;
    bool ended_ = false;
  };

  std::vector<Step> script_;
};

class AboutBox : public RegisteredModuleTest {
 protected:
  void TearDown() override { SetDialogBackend(nullptr); }
};

TEST_F(AboutBox, FailsAtOnceWithoutAGraphicalHost) {
  ASSERT_EQ(GetDialogBackend(), nullptr);
  ComPtr<IDispatch> object = Create();
  CallResult r = CallByName(object.get(), u"About", {});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, DIALOG_E_NOHOST);
  EXPECT_EQ(r.source, "Korvane.Quantorb.1");
  EXPECT_EQ(r.description, "The About box needs a graphical host; this process has none.");
}

TEST_F(AboutBox, ShowsDialog103CentredWithItsTexts) {
  using Step = ScriptedDialogHost::Step;
  ScriptedDialogHost host({Step::kOk});
  SetDialogBackend(&host);
  ComPtr<IDispatch> object = Create();
  ASSERT_EQ(CallByName(object.get(), u"About", {}).hr, S_OK);
  const auto& r = host.record;
  EXPECT_EQ(r.owner, nullptr) << "owned by the active window, which is none here";
  EXPECT_EQ(r.dialog.cx, 212);
  EXPECT_EQ(r.dialog.cy, 194);
  EXPECT_EQ(r.dialog.style, WS_POPUP | DS_MODALFRAME | DS_CENTER);
  EXPECT_EQ(r.dialog.title, "");
  EXPECT_EQ(r.dialog.font_name, "MS Sans Serif");
  EXPECT_EQ(r.dialog.font_points, 8);
  ASSERT_EQ(r.dialog.controls.size(), 12u);
  const DialogControl& ok = r.dialog.controls[0];
  EXPECT_EQ(ok.id, 1);
  EXPECT_EQ(ok.text, "OK");
  EXPECT_EQ((std::array{ok.x, ok.y, ok.cx, ok.cy}), (std::array{80, 173, 50, 14}));
  const DialogControl& picture = r.dialog.controls[1];
  EXPECT_EQ(picture.id, 201);
  EXPECT_EQ(picture.kind, DialogControlKind::kPicture);
  EXPECT_EQ((std::array{picture.x, picture.y, picture.cx, picture.cy}),
            (std::array{7, 18, 21, 20}));
  EXPECT_EQ(r.picture_width, 32);
  EXPECT_EQ(r.picture_height, 32);
  EXPECT_EQ(r.texts.at(202), "Varnix Control");
  for (int id = 203; id <= 211; ++id) {
    EXPECT_FALSE(r.texts.at(id).empty()) << "text " << id;
  }
  EXPECT_EQ(r.timers_started, (std::map<UINT_PTR, UINT>{{1, 1000}}));
}

TEST_F(AboutBox, ClosesByTimerClickOrButton) {
  using Step = ScriptedDialogHost::Step;
  struct Row {
    const char* what;
    std::vector<Step> script;
    int steps_when_closed;
    int ticks_when_closed;
  };
  const std::vector<Step> many_ticks(30, Step::kTick);
  const Row rows[] = {
      {"OK at once", {Step::kOk}, 1, 0},
      {"the frame's close box", {Step::kCloseBox}, 1, 0},
      {"after 16 ticks", many_ticks, 16, 16},
      {"a click before the third tick is ignored",
       {Step::kClick, Step::kTick, Step::kClick, Step::kTick, Step::kClick, Step::kTick,
        Step::kClick},
       7,
       3},
      {"OK between ticks", {Step::kTick, Step::kOk, Step::kTick}, 2, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScriptedDialogHost host(row.script);
    SetDialogBackend(&host);
    ComPtr<IDispatch> object = Create();
    EXPECT_EQ(CallByName(object.get(), u"About", {}).hr, S_OK);
    EXPECT_TRUE(host.record.closed_by_dialog);
    EXPECT_EQ(host.record.steps_played, row.steps_when_closed);
    EXPECT_EQ(host.record.ticks_played, row.ticks_when_closed);
    EXPECT_FALSE(host.record.timer_running) << "the timer is stopped when the dialog closes";
    SetDialogBackend(nullptr);
  }
}

TEST_F(AboutBox, StaysOpenOnClicksWhileTooYoung) {
  using Step = ScriptedDialogHost::Step;
  ScriptedDialogHost host({Step::kClick, Step::kTick, Step::kTick, Step::kClick});
  SetDialogBackend(&host);
  ComPtr<IDispatch> object = Create();
  EXPECT_EQ(CallByName(object.get(), u"About", {}).hr, S_OK);
  EXPECT_FALSE(host.record.closed_by_dialog) << "two ticks are not enough for a click to close it";
}

}  // namespace
}  // namespace kx::component::object_test
