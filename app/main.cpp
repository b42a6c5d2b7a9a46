// zqinst: the installer. Creates the application, the installation window (the main window)
// and the completion window (hidden), then runs the message loop until the installation window
// closes.
#include <cstring>
#include <iostream>

#include "app/fin_install.h"
#include "app/qt_flush_timer.h"
#include "app/zqsw_inst.h"
#include "ui/application.h"
#include "ui/db_login_form.h"
#include "ui/zip_dialogs.h"

int main(int argc, char** argv) {
  // --version answers before any window exists, so it needs no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "zqinst " ZQ_VERSION "\n";
      return 0;
    }
  }
  // 1. The application object; its event dispatch shows escaped exceptions in the error box.
  zq::TApplication app(argc, argv);
  // The installer speaks French: the standard buttons of its boxes too (Annuler, Oui, Non...).
  std::unique_ptr<QTranslator> french = zq::InstallQtTranslations(QLocale(QLocale::French, QLocale::France));
  // The components' questions to the user (archive password, failed file, overwrite) as dialogs.
  zq::InstallZipDialogs();
  // The engine's password prompt for a database opened without one.
  zq::InstallDbLoginForm();
  // Databases flush on a Qt timer of the message loop when their auto-flush is on.
  zq::InstallQtFlushTimers();
  // 2. The installation window, created first: the main window.
  zq::TForm_Install form_install;
  zq::Form_Install = &form_install;
  // 3. The completion window, hidden until an installation completes.
  zq::TForm_End form_end(&form_install);
  zq::Form_End = &form_end;
  form_install.show();
  // 4. The message loop; closing the installation window ends it.
  return app.exec();
}
