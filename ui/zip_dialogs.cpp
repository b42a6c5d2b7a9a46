#include "ui/zip_dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "ui/message_boxes.h"
#include "ui/text_codec.h"

namespace zq {

bool TZipDialogs::InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  QInputDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(FromAnsi(caption));
  dialog.setLabelText(FromAnsi(prompt));
  dialog.setTextEchoMode(QLineEdit::Password);
  dialog.setTextValue(FromAnsi(value));
  if (dialog.exec() != QDialog::Accepted) return false;
  value = ToAnsi(dialog.textValue());
  return true;
}

TZipAction TZipDialogs::AskFileFailure(const std::string& text) {
  switch (MessageBoxes().MessageBox(FromAnsi(text), QStringLiteral("Confirm"), kMbAbortRetryIgnore | kMbIconQuestion)) {
    case kIdRetry: return fxaRetry;
    case kIdIgnore: return fxaIgnore;
    default: return fxaAbort;
  }
}

TZipOverwriteAnswer TZipDialogs::AskOverwrite(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), FromAnsi(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  QPushButton* yes = box.addButton(QMessageBox::Yes);
  QPushButton* no = box.addButton(QMessageBox::No);
  QPushButton* no_to_all = box.addButton(QMessageBox::NoToAll);
  QPushButton* yes_to_all = box.addButton(QMessageBox::YesToAll);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == yes) return oaYes;
  if (clicked == no_to_all) return oaNoToAll;
  if (clicked == yes_to_all) return oaYesToAll;
  (void)no;
  return oaNo;
}

void InstallZipDialogs() { SetZipInteraction(std::make_shared<TZipDialogs>()); }

}  // namespace zq
