// Edit box with a maximum length where Enter moves the focus to the next control of the window's
// tab order, as the installer's profile fields behave.
#pragma once

#include <QLineEdit>

namespace zq {

class TEnterEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TEnterEdit(QWidget* parent = nullptr);

  int MaxLength() const { return maxLength(); }
  // 0 means no limit.
  void SetMaxLength(int value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace zq
