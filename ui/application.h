// The application object: a QApplication whose event dispatch shows any exception that escapes
// an event handler in the standard error box (its message, error icon, OK) and goes on running.
// Handlers that may throw run through Guarded(), which does the same at the handler itself so an
// exception never unwinds through Qt's own frames.
#pragma once

#include <QApplication>
#include <QLocale>
#include <QTranslator>
#include <exception>
#include <memory>
#include <utility>

namespace zq {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// Loads Qt's own translations for the locale (the standard buttons of message boxes and dialogs)
// from the system's Qt translations folder and installs them in the application. nullptr when the
// system has none for that language (Qt's English texts stay). Destroying the result uninstalls
// them.
std::unique_ptr<QTranslator> InstallQtTranslations(const QLocale& locale);

// Shows the exception in the standard error box: message as text, the application's display name
// as caption, flags 0x10. EAbort is silent. Unknown exceptions get a generic text.
void ShowException(std::exception_ptr error);

// Runs handler; an exception leaving it is shown by ShowException and swallowed.
template <typename F>
void Guarded(F&& handler) {
  try {
    std::forward<F>(handler)();
  } catch (...) {
    ShowException(std::current_exception());
  }
}

}  // namespace zq
