// The database login dialog on the offscreen platform: its layout, names and tab order, and the
// password it hands to the engine through the login hook.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QtTest/QTest>

#include "dbengine/session/login_hook.h"
#include "tests/ui/qt_wait.h"
#include "ui/db_login_form.h"

namespace zq {
namespace {

TEST(DbLoginForm, LayoutNamesAndProperties) {
  TDbLoginForm form("/data/QUORVANT/Briskal_SE/scg.zqc");
  EXPECT_EQ(form.windowTitle(), "Database Login");
  EXPECT_EQ(form.size(), QSize(281, 154));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // dialog border: not resizable

  auto* panel = form.findChild<QFrame*>("BackPanel");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->geometry(), QRect(8, 8, 281 - 16, 75));
  EXPECT_EQ(panel->frameShape(), QFrame::Box);
  EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);

  auto labels = panel->findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 2);
  auto* db_label = panel->findChild<QLabel*>("DatabaseLabel");
  auto* pw_label = panel->findChild<QLabel*>("PasswordLabel");
  ASSERT_TRUE(db_label && pw_label);
  EXPECT_EQ(db_label->text(), "Database:");
  EXPECT_EQ(db_label->pos(), QPoint(12, 15));
  EXPECT_EQ(pw_label->text(), "Password:");
  EXPECT_EQ(pw_label->pos(), QPoint(12, 45));

  auto* db_edit = panel->findChild<QLineEdit*>("DatabaseEdit");
  ASSERT_NE(db_edit, nullptr);
  EXPECT_EQ(db_edit->geometry(), QRect(86, 12, panel->width() - 98, 21));
  EXPECT_TRUE(db_edit->isReadOnly());
  EXPECT_EQ(db_edit->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(db_edit->text(), "/data/QUORVANT/Briskal_SE/scg.zqc");
  EXPECT_EQ(db_edit->palette().color(QPalette::Base), db_edit->palette().color(QPalette::Button));

  auto* pw_edit = panel->findChild<QLineEdit*>("PasswordEdit");
  ASSERT_NE(pw_edit, nullptr);
  EXPECT_EQ(pw_edit->geometry(), QRect(86, 42, panel->width() - 98, 21));
  EXPECT_EQ(pw_edit->echoMode(), QLineEdit::Password);
  EXPECT_EQ(pw_edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, pw_edit), '*');
  EXPECT_TRUE(pw_edit->text().isEmpty());

  auto* ok = form.findChild<QPushButton*>("OKButton");
  auto* cancel = form.findChild<QPushButton*>("CancelButton");
  ASSERT_TRUE(ok && cancel);
  EXPECT_EQ(ok->parentWidget(), &form);
  EXPECT_EQ(ok->text(), "&OK");
  EXPECT_EQ(ok->pos(), QPoint(109, 94));
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(cancel->text(), "&Cancel");
  EXPECT_EQ(cancel->pos(), QPoint(191, 94));
  EXPECT_FALSE(cancel->isDefault());
}

TEST(DbLoginForm, TabOrderStartsAtThePassword) {
  TDbLoginForm form("db.zqc");
  form.show();
  QApplication::setActiveWindow(&form);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(QApplication::focusWidget(), form.PasswordEdit());
  EXPECT_EQ(form.PasswordEdit()->nextInFocusChain(), form.OKButton());
  // Tabbing goes password → OK → Cancel → password, never to the read-only path.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), form.OKButton());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), form.CancelButton());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), form.PasswordEdit());
  form.close();
}

// Answers the next modal login dialog: types text into PasswordEdit and presses a button.
void AnswerNextDialog(QTimer& poll, const QString& text, const char* button) {
  testing_support::WhenModalUp<TDbLoginForm>(poll, [text, button](TDbLoginForm* form) {
    QTest::keyClicks(form->PasswordEdit(), text);
    form->findChild<QPushButton*>(button)->click();
  });
}

TEST(DbLoginForm, OkReturnsTheTypedPasswordCancelAborts) {
  InstallDbLoginForm();
  TDbLoginHook* hook = DbLoginHook();
  ASSERT_NE(hook, nullptr);

  std::string password = "unchanged";
  QTimer poll1, poll2, poll3;
  AnswerNextDialog(poll1, "Mot2Passe", "OKButton");
  EXPECT_TRUE(hook->Login("scg.zqc", password));
  EXPECT_EQ(password, "Mot2Passe");

  password = "unchanged";
  AnswerNextDialog(poll2, "typed but cancelled", "CancelButton");
  EXPECT_FALSE(hook->Login("scg.zqc", password));
  EXPECT_EQ(password, "unchanged");

  // Return presses the default button.
  testing_support::WhenModalUp<TDbLoginForm>(poll3, [](TDbLoginForm* form) {
    // Typed as text events: the key tables of the test library hold only ASCII keys.
    QTest::sendKeyEvent(QTest::Click, form->PasswordEdit(), Qt::Key_unknown, QString::fromUtf16(u"\u00e9t\u00e9"),
                        Qt::NoModifier);
    QTest::keyClick(form->PasswordEdit(), Qt::Key_Return);
  });
  // Text reaches the engine in code page 1252.
  EXPECT_TRUE(hook->Login("scg.zqc", password));
  EXPECT_EQ(password, "\xE9t\xE9");
  SetDbLoginHook(nullptr);
}

}  // namespace
}  // namespace zq
