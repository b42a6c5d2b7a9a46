// Standard message boxes with the host's classic flag and result codes: the installer and the
// components ask their questions through IMessageBoxes, so tests swap in an implementation that
// answers by itself and records what was asked.
#pragma once

#include <QString>

class QWidget;

namespace zq {

// Flags: buttons in the low nibble, icon in the second, default button in the third.
constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbOkCancel = 0x01;
constexpr unsigned kMbAbortRetryIgnore = 0x02;
constexpr unsigned kMbYesNoCancel = 0x03;
constexpr unsigned kMbYesNo = 0x04;
constexpr unsigned kMbRetryCancel = 0x05;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbDefButton2 = 0x100;
constexpr unsigned kMbDefButton3 = 0x200;

// Results.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // Shows text with caption; flags as above. Returns the chosen button's result code.
  virtual int MessageBox(const QString& text, const QString& caption, unsigned flags) = 0;
};

// The real boxes: a modal QMessageBox on the active window.
class TQtMessageBoxes : public IMessageBoxes {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
};

// The boxes the application uses; the default is a TQtMessageBoxes. Installing nullptr restores
// the default. The caller keeps ownership of what it installs.
IMessageBoxes& MessageBoxes();
void SetMessageBoxes(IMessageBoxes* boxes);

}  // namespace zq
