// modMain: starts the calculator. Qt's widgets need no common-controls initialisation, so that
// start-up step has no counterpart here.
#include <QApplication>
#include <QMessageBox>
#include <memory>

#include "frm_option_price.h"
#include "kx/calculator/about.h"
#include "kx/calculator/dispatch_options_control.h"
#include "kx/platform/activation.h"
#include "qt_host.h"

using namespace kx::calculator;
using namespace kx::platform;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lanternell"));
  QApplication::setApplicationVersion(QStringLiteral(LANTERNELL_VERSION));

  (void)CoInitialize(nullptr);
  // The calculator is the platform's GUI host: its event loop runs during the component's
  // waits, and it draws the component's about dialog.
  QtMessagePumpHook pump;
  QtDialogBackend dialogs;
  SetMessagePumpHook(&pump);
  SetDialogBackend(&dialogs);

  int exit_code = 0;
  {
    std::unique_ptr<OptionsControl> control;
    const HRESULT hr = CreateOptionsControl(control);
    if (FAILED(hr)) {
      // Without its pricing control the window cannot compute anything: say why and stop.
      QMessageBox::critical(
          nullptr, QString::fromUtf8(kProgramTitle.data(), kProgramTitle.size()),
          QStringLiteral("The pricing component could not be created (%1).\n\n"
                         "Register it first, for example:\n"
                         "build/release/bin/kxregsvr build/release/lib/KorvaneX.so")
              .arg(QString::fromUtf8(HresultName(hr))));
      exit_code = 1;
    } else {
      OptionPriceForm form(std::move(control));
      form.show();
      exit_code = QApplication::exec();
    }
  }

  SetDialogBackend(nullptr);
  SetMessagePumpHook(nullptr);
  CoFreeUnusedLibraries();
  CoUninitialize();
  return exit_code;
}
