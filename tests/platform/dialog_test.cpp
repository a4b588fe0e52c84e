#include "kx/platform/dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kx/platform/messages.h"
#include "kx/platform/threads.h"

namespace kx::platform {
namespace {

// A headless host: RunModal plays a script of user actions, delivering one timer tick per
// round for each running timer, until the dialog ends or the script runs out.
class ScriptedBackend final : public DialogBackend {
 public:
  struct Action {
    int after_ticks;  // delivered once this many tick rounds have passed
    enum Kind { kClick, kButton, kClose } kind;
    int control_id = 0;
  };

  explicit ScriptedBackend(std::vector<Action> actions, bool fail_create = false)
      : actions_(std::move(actions)), fail_create_(fail_create) {}

  std::unique_ptr<DialogWindow> CreateDialogWindow(const DialogTemplate& dialog, HWND,
                                                   DialogEvents& events) override {
    ++created;
    if (fail_create_) return nullptr;
    last_template_controls = dialog.controls.size();
    return std::make_unique<Window>(*this, events);
  }

  int created = 0;
  int ticks_delivered = 0;
  bool ran_modal = false;
  std::size_t last_template_controls = 0;
  std::map<int, std::string> texts;
  std::set<UINT_PTR> running_timers;

 private:
  class Window final : public DialogWindow {
   public:
    Window(ScriptedBackend& host, DialogEvents& events) : host_(host), events_(events) {}
    ~Window() override {
      EXPECT_TRUE(host_.running_timers.empty()) << "timers must stop before the window goes";
    }
    void SetControlText(int id, std::string_view text) override {
      host_.texts[id] = std::string(text);
    }
    void StartTimer(UINT_PTR id, UINT interval_ms) override {
      EXPECT_EQ(interval_ms, 1000u);
      host_.running_timers.insert(id);
    }
    void StopTimer(UINT_PTR id) override { host_.running_timers.erase(id); }
    void EndModal() override { ended_ = true; }
    void RunModal() override {
      host_.ran_modal = true;
      std::size_t next = 0;
      for (int round = 0; !ended_; ++round) {
        while (!ended_ && next < host_.actions_.size() &&
               host_.actions_[next].after_ticks <= round) {
          const Action& a = host_.actions_[next++];
          if (a.kind == Action::kClick) events_.OnLeftButtonDown(POINT{10, 20});
          if (a.kind == Action::kButton) events_.OnCommand(a.control_id);
          if (a.kind == Action::kClose) events_.OnCloseRequest();
        }
        if (ended_) break;
        if (host_.running_timers.empty() && next == host_.actions_.size()) {
          ADD_FAILURE() << "the dialog would stay open for ever";
          return;
        }
        const std::set<UINT_PTR> timers = host_.running_timers;
        for (UINT_PTR id : timers) {
          ++host_.ticks_delivered;
          events_.OnTimer(id);
        }
      }
    }

   private:
    ScriptedBackend& host_;
    DialogEvents& events_;
    bool ended_ = false;
  };

  std::vector<Action> actions_;
  bool fail_create_;
};

// The about box's rules: a 1-second timer, closing after more than 15 ticks; a click on the
// surface closes it once more than 2 ticks have passed; OK closes it at any time.
struct AboutState {
  int ticks = 0;
  std::vector<UINT> after_end;  // messages that arrived after EndDialog
  bool ended = false;
};

INT_PTR AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    EXPECT_EQ(GetWindowLongPtr(dialog, DWLP_USER), 0);
    EXPECT_EQ(SetWindowLongPtr(dialog, DWLP_USER, lparam), 0);
    EXPECT_EQ(SetWindowLongPtr(dialog, DWLP_USER + 8, 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    EXPECT_EQ(SetTimer(dialog, 1, 1000, nullptr), 1u);
    EXPECT_TRUE(SetDlgItemText(dialog, 202, "Varnix Control"));
    EXPECT_FALSE(SetDlgItemText(dialog, 999, "no such control"));
    return TRUE;
  }
  auto* current = reinterpret_cast<AboutState*>(GetWindowLongPtr(dialog, DWLP_USER));
  if (current->ended) current->after_end.push_back(message);
  switch (message) {
    case WM_TIMER:
      if (++current->ticks > 15) {
        EXPECT_TRUE(KillTimer(dialog, 1));
        current->ended = EndDialog(dialog, IDOK);
      }
      return TRUE;
    case WM_LBUTTONDOWN:
      EXPECT_EQ(wparam, MK_LBUTTON);
      EXPECT_EQ(lparam, MAKELPARAM(10, 20));
      if (current->ticks > 2) current->ended = EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        current->ended = EndDialog(dialog, static_cast<INT_PTR>(LOWORD(wparam)) + 100);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

DialogTemplate AboutTemplate() {
  DialogTemplate t;
  t.cx = 212;
  t.cy = 194;
  t.controls = {{1, DialogControlKind::kDefPushButton, 80, 173, 50, 14, "OK", nullptr},
                {202, DialogControlKind::kStaticText, 42, 17, 129, 9, "", nullptr}};
  return t;
}

TEST(RunModalDialog, DeliversTicksClicksAndButtonsUntilEndDialog) {
  using A = ScriptedBackend::Action;
  struct Case {
    const char* what;
    std::vector<A> actions;
    INT_PTR result;
    int ticks;
  };
  const Case cases[] = {
      {"timer runs out after 16 ticks", {}, IDOK, 16},
      {"early click ignored, later click closes", {{1, A::kClick}, {3, A::kClick}}, IDCANCEL, 3},
      {"OK at once", {{0, A::kButton, 1}}, 100 + IDOK, 0},
      {"close request asks the procedure", {{5, A::kClose}}, 100 + IDCANCEL, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedBackend backend(c.actions);
    ASSERT_EQ(SetDialogBackend(&backend), nullptr);
    AboutState state;
    INT_PTR result = 0;
    EXPECT_EQ(RunModalDialog(AboutTemplate(), nullptr, AboutProc, reinterpret_cast<LPARAM>(&state),
                             &result),
              S_OK);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(state.ticks, c.ticks);
    EXPECT_EQ(backend.ticks_delivered, c.ticks);
    EXPECT_TRUE(state.after_end.empty()) << "nothing reaches the procedure after EndDialog";
    EXPECT_EQ(backend.texts[202], "Varnix Control");
    EXPECT_EQ(backend.last_template_controls, 2u);
    EXPECT_EQ(SetDialogBackend(nullptr), &backend);
  }
}

INT_PTR EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) EndDialog(dialog, 7);
  return TRUE;
}

TEST(RunModalDialog, EndDialogDuringInitialisationNeverShows) {
  ScriptedBackend backend({});
  SetDialogBackend(&backend);
  INT_PTR result = 0;
  EXPECT_EQ(RunModalDialog(AboutTemplate(), nullptr, EndAtOnce, 0, &result), S_OK);
  EXPECT_EQ(result, 7);
  EXPECT_FALSE(backend.ran_modal);
  SetDialogBackend(nullptr);
}

TEST(RunModalDialog, WithoutAHostFailsAtOnce) {
  ASSERT_EQ(GetDialogBackend(), nullptr);
  INT_PTR result = 0;
  EXPECT_EQ(RunModalDialog(AboutTemplate(), nullptr, AboutProc, 0, &result), DIALOG_E_NOHOST);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(DIALOG_E_NOHOST, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(DialogBoxIndirectParam(AboutTemplate(), nullptr, AboutProc, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(RunModalDialog, RefusesBadCallsAndOtherThreads) {
  ScriptedBackend failing({}, /*fail_create=*/true);
  SetDialogBackend(&failing);
  INT_PTR result = 0;
  EXPECT_EQ(RunModalDialog(AboutTemplate(), nullptr, AboutProc, 0, &result), E_FAIL);
  EXPECT_EQ(failing.created, 1);
  EXPECT_EQ(RunModalDialog(AboutTemplate(), nullptr, nullptr, 0, &result), E_INVALIDARG);
  EXPECT_EQ(RunModalDialog(AboutTemplate(), nullptr, AboutProc, 0, nullptr), E_POINTER);
  std::thread other([] {
    INT_PTR r = 0;
    EXPECT_EQ(RunModalDialog(AboutTemplate(), nullptr, AboutProc, 0, &r), RPC_E_WRONG_THREAD);
  });
  other.join();
  EXPECT_EQ(failing.created, 1);
  SetDialogBackend(nullptr);

  // Dialog functions on a window that is not a dialog.
  HWND plain = CreateMessageWindow(DefWindowProc, nullptr);
  EXPECT_FALSE(EndDialog(plain, 1));
  EXPECT_EQ(SetTimer(plain, 1, 1000, nullptr), 0u);
  EXPECT_FALSE(KillTimer(plain, 1));
  EXPECT_EQ(SetWindowLongPtr(plain, DWLP_USER, 1), 0);
  EXPECT_EQ(GetWindowLongPtr(plain, DWLP_USER), 0);
  EXPECT_TRUE(DestroyWindow(plain));
}

TEST(MapDialogUnits, ScalesByTheFontBaseUnits) {
  // The about dialog's OK button: 80, 173, 50, 14 in dialog units, base units 6 x 13.
  RECT r = MapDialogUnits(80, 173, 50, 14);
  EXPECT_EQ(r.left, 120);
  EXPECT_EQ(r.top, 281);  // 173 * 13 / 8 = 281.125
  EXPECT_EQ(r.right, 195);
  EXPECT_EQ(r.bottom, 304);  // 187 * 13 / 8 = 303.875
  RECT whole = MapDialogUnits(0, 0, 212, 194, 7, 14);
  EXPECT_EQ(whole.right, 371);   // 212 * 7 / 4
  EXPECT_EQ(whole.bottom, 340);  // 194 * 14 / 8 = 339.5, rounded up
}

}  // namespace
}  // namespace kx::platform
