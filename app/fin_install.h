// The completion window: created hidden at start-up with its 5000 ms timer running, shown
// modally at the end of a successful installation. Its finish button (enabled by the timer) and
// its caption close button (and Escape) all close the installation window, which ends the program.
#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;

namespace zq {

class TForm_End : public QDialog {
  Q_OBJECT
 public:
  explicit TForm_End(QWidget* parent = nullptr);
  ~TForm_End() override;

  // ---- handlers ----
  void FormShow();
  void Timer1Timer();
  void Btn_NoClick();
  void FormClose();

  QPushButton* Btn_No = nullptr;
  QTimer Timer1;

  // Escape rejects a dialog without any close event; here it dismisses the window as its caption
  // close button does, so FormClose runs and the program ends.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  bool closing_ = false;
};

// The completion window of the running program (set by the program entry).
extern TForm_End* Form_End;

}  // namespace zq
