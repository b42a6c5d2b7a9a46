// TDbLoginForm: the database login dialog, built in code. It shows the database path (read-only)
// and asks for the password; the engine shows it through the login hook when an encrypted
// database is opened without a password. The application installs it with InstallDbLoginForm().
#pragma once

#include <QDialog>
#include <string>

#include "dbengine/session/login_hook.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zq {

class TDbLoginForm : public QDialog {
  Q_OBJECT

 public:
  explicit TDbLoginForm(const std::string& database_path, QWidget* parent = nullptr);

  // The typed password in code page 1252.
  std::string Password() const;

  QFrame* BackPanel() const { return back_panel_; }
  QLineEdit* DatabaseEdit() const { return database_edit_; }
  QLineEdit* PasswordEdit() const { return password_edit_; }
  QPushButton* OKButton() const { return ok_button_; }
  QPushButton* CancelButton() const { return cancel_button_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QFrame* back_panel_;
  QLabel* database_label_;
  QLabel* password_label_;
  QLineEdit* database_edit_;
  QLineEdit* password_edit_;
  QPushButton* ok_button_;
  QPushButton* cancel_button_;
};

// Shows the dialog modally; true with the entered password when it ends with OK.
bool DbLoginDialog(const std::string& database_path, std::string& password);

class TDbLoginFormHook : public TDbLoginHook {
 public:
  bool Login(const std::string& database_path, std::string& password) override {
    return DbLoginDialog(database_path, password);
  }
};

// Makes the engine ask for database passwords with TDbLoginForm from now on.
void InstallDbLoginForm();

}  // namespace zq
