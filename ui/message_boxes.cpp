#include "ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace zq {
namespace {

struct ButtonSpec {
  QMessageBox::StandardButton button;
  int result;
};

std::vector<ButtonSpec> ButtonsFor(unsigned flags) {
  switch (flags & 0x0F) {
    case kMbOkCancel:
      return {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}};
    case kMbAbortRetryIgnore:
      return {{QMessageBox::Abort, kIdAbort}, {QMessageBox::Retry, kIdRetry}, {QMessageBox::Ignore, kIdIgnore}};
    case kMbYesNoCancel:
      return {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, kIdCancel}};
    case kMbYesNo:
      return {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
    case kMbRetryCancel:
      return {{QMessageBox::Retry, kIdRetry}, {QMessageBox::Cancel, kIdCancel}};
    default:
      return {{QMessageBox::Ok, kIdOk}};
  }
}

QMessageBox::Icon IconFor(unsigned flags) {
  switch (flags & 0xF0) {
    case kMbIconError: return QMessageBox::Critical;
    case kMbIconQuestion: return QMessageBox::Question;
    case kMbIconWarning: return QMessageBox::Warning;
    case kMbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

TQtMessageBoxes& DefaultBoxes() {
  static TQtMessageBoxes boxes;
  return boxes;
}

IMessageBoxes* installed = nullptr;

}  // namespace

int TQtMessageBoxes::MessageBox(const QString& text, const QString& caption, unsigned flags) {
  QMessageBox box(IconFor(flags), caption, text, QMessageBox::NoButton, QApplication::activeWindow());
  box.setObjectName("MessageBox");
  std::vector<ButtonSpec> buttons = ButtonsFor(flags);
  for (const ButtonSpec& b : buttons) box.addButton(b.button);
  size_t def = (flags & 0xF00) >> 8;
  if (def >= buttons.size()) def = 0;
  box.setDefaultButton(buttons[def].button);
  // Escape and the caption's close button answer Cancel where there is one; a box with a single
  // button answers with it, as the host's boxes do.
  for (const ButtonSpec& b : buttons) {
    if (b.result == kIdCancel || buttons.size() == 1) box.setEscapeButton(b.button);
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const ButtonSpec& b : buttons) {
    if (clicked == box.button(b.button)) return b.result;
  }
  // Closed without a button: Cancel if offered, otherwise the only button's answer.
  for (const ButtonSpec& b : buttons) {
    if (b.result == kIdCancel) return kIdCancel;
  }
  return buttons.size() == 1 ? buttons[0].result : kIdCancel;
}

IMessageBoxes& MessageBoxes() { return installed ? *installed : DefaultBoxes(); }

void SetMessageBoxes(IMessageBoxes* boxes) { installed = boxes; }

}  // namespace zq
