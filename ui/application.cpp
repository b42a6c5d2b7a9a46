#include "ui/application.h"

#include <QLibraryInfo>
#include <QString>

#include "platform/exception.h"
#include "ui/message_boxes.h"
#include "ui/text_codec.h"

namespace zq {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowException(std::current_exception());
    return false;
  }
}

std::unique_ptr<QTranslator> InstallQtTranslations(const QLocale& locale) {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get())) {
    return nullptr;
  }
  return translator;
}

void ShowException(std::exception_ptr error) {
  QString text;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (const Exception& e) {
    // Component messages are code page 1252 bytes.
    text = FromAnsi(e.Message());
  } catch (const std::exception& e) {
    text = QString::fromLocal8Bit(e.what());
  } catch (...) {
    text = QStringLiteral("Unknown error");
  }
  MessageBoxes().MessageBox(text, QGuiApplication::applicationDisplayName(), kMbOk | kMbIconError);
}

}  // namespace zq
