#pragma once
// The calculator as the platform's GUI host: Qt's event loop runs while the component waits for
// a worker, and the component's modal dialogs are drawn as Qt dialogs.
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <map>
#include <memory>

#include "kx/platform/dialog.h"
#include "kx/platform/threads.h"

class QThread;

namespace kx::calculator {

// Runs Qt's event loop for the platform's MsgWaitForMultipleObjects, so the window repaints and
// Exit or the close box reach the component (Abort) while a binomial computation waits.
class QtMessagePumpHook final : public platform::MessagePumpHook {
 public:
  QtMessagePumpHook();
  void ProcessEvents(platform::DWORD max_wait_ms) override;
  void Wake() noexcept override;

 private:
  QThread* thread_;
  QTimer bound_;  // ends a sleep after max_wait_ms
};

// One dialog of the component, built from its template: dialog units mapped to pixels, static
// texts, pictures and push buttons placed as the template says.
class QtDialogWindow final : public QDialog, public platform::DialogWindow {
 public:
  QtDialogWindow(const platform::DialogTemplate& dialog, QWidget* owner,
                 platform::DialogEvents& events);

  void SetControlText(int control_id, std::string_view text) override;
  void StartTimer(platform::UINT_PTR timer_id, platform::UINT interval_ms) override;
  void StopTimer(platform::UINT_PTR timer_id) override;
  void RunModal() override;
  void EndModal() override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape: the platform decides whether the dialog ends

 private:
  platform::DialogEvents& events_;
  std::map<int, QWidget*> controls_;
  std::map<platform::UINT_PTR, std::unique_ptr<QTimer>> timers_;
  bool centred_ = false;
  bool ended_ = false;
};

class QtDialogBackend final : public platform::DialogBackend {
 public:
  std::unique_ptr<platform::DialogWindow> CreateDialogWindow(
      const platform::DialogTemplate& dialog, platform::HWND owner,
      platform::DialogEvents& events) override;
};

}  // namespace kx::calculator
