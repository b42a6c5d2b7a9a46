#include "ui/enter_edit.h"

#include <QKeyEvent>

namespace zq {

TEnterEdit::TEnterEdit(QWidget* parent) : QLineEdit(parent) {}

void TEnterEdit::SetMaxLength(int value) {
  // 32767 is QLineEdit's own "no limit" default.
  setMaxLength(value > 0 ? value : 32767);
}

void TEnterEdit::keyPressEvent(QKeyEvent* event) {
  bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    emit returnPressed();
    focusNextPrevChild(true);
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace zq
