// The real message boxes (answered by a timer that clicks once the box is up) and the
// application-wide error box for exceptions escaping a handler.
#include "ui/message_boxes.h"

#include <gtest/gtest.h>

#include "tests/ui/qstring_printer.h"
#include "tests/ui/qt_wait.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "dbengine/format/db_error.h"
#include "platform/exception.h"
#include "ui/application.h"

namespace zq {
namespace {

struct SeenBox {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
};

// Waits for the modal box, records it, then runs act on it.
int AskWithAnswer(unsigned flags, SeenBox& seen, std::function<void(QMessageBox*)> act) {
  QTimer poll;
  testing_support::WhenModalUp<QMessageBox>(poll, [&seen, act](QMessageBox* box) {
    seen.text = box->text();
    seen.title = box->windowTitle();
    seen.icon = box->icon();
    for (QAbstractButton* b : box->buttons()) seen.buttons << box->standardButton(b);
    if (box->defaultButton()) seen.default_button = box->standardButton(box->defaultButton());
    act(box);
  });
  TQtMessageBoxes boxes;
  return boxes.MessageBox("Texte é", "Légende", flags);
}

TEST(QtMessageBoxes, WarningOkCancel) {
  SeenBox seen;
  int result = AskWithAnswer(0x31, seen, [](QMessageBox* b) { b->button(QMessageBox::Ok)->click(); });
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(seen.text, "Texte é");
  EXPECT_EQ(seen.title, "Légende");
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(seen.buttons.size(), 2);
  EXPECT_TRUE(seen.buttons.contains(QMessageBox::Ok));
  EXPECT_TRUE(seen.buttons.contains(QMessageBox::Cancel));
  EXPECT_EQ(seen.default_button, QMessageBox::Ok);

  result = AskWithAnswer(0x31, seen, [](QMessageBox* b) { b->button(QMessageBox::Cancel)->click(); });
  EXPECT_EQ(result, kIdCancel);
  // Closing with Escape is Cancel.
  result = AskWithAnswer(0x31, seen, [](QMessageBox* b) { b->reject(); });
  EXPECT_EQ(result, kIdCancel);
}

TEST(QtMessageBoxes, ErrorOk) {
  SeenBox seen;
  int result = AskWithAnswer(0x10, seen, [](QMessageBox* b) { b->button(QMessageBox::Ok)->click(); });
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
  result = AskWithAnswer(0x10, seen, [](QMessageBox* b) { b->reject(); });
  EXPECT_EQ(result, kIdOk);
}

TEST(QtMessageBoxes, OtherButtonSetsAndDefaultButton) {
  SeenBox seen;
  int result = AskWithAnswer(kMbAbortRetryIgnore | kMbIconError | kMbDefButton2, seen,
                             [](QMessageBox* b) { b->button(QMessageBox::Ignore)->click(); });
  EXPECT_EQ(result, kIdIgnore);
  EXPECT_EQ(seen.buttons.size(), 3);
  EXPECT_EQ(seen.default_button, QMessageBox::Retry);
  result = AskWithAnswer(kMbYesNo | kMbIconQuestion, seen, [](QMessageBox* b) { b->button(QMessageBox::No)->click(); });
  EXPECT_EQ(result, kIdNo);
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  // An out-of-range default button falls back to the first.
  result = AskWithAnswer(kMbOkCancel | kMbDefButton3, seen, [](QMessageBox* b) { b->button(QMessageBox::Ok)->click(); });
  EXPECT_EQ(seen.default_button, QMessageBox::Ok);
  EXPECT_EQ(result, kIdOk);
}

// With Qt's French translations installed the standard buttons read in French; the buttons, the
// default and the results stay those of the flags. Without them Qt's English texts come back.
TEST(QtMessageBoxes, StandardButtonsInFrenchOnceQtTranslationsAreInstalled) {
  using Texts = std::map<QMessageBox::StandardButton, QString>;
  struct Case {
    unsigned flags;
    QMessageBox::StandardButton press;
    int result;
    Texts texts;
  };
  const Case cases[] = {
      {kMbOkCancel | kMbIconWarning, QMessageBox::Cancel, kIdCancel,
       {{QMessageBox::Ok, "OK"}, {QMessageBox::Cancel, "Annuler"}}},
      {kMbOkCancel | kMbIconWarning, QMessageBox::Ok, kIdOk,
       {{QMessageBox::Ok, "OK"}, {QMessageBox::Cancel, "Annuler"}}},
      {kMbOk | kMbIconError, QMessageBox::Ok, kIdOk, {{QMessageBox::Ok, "OK"}}},
      {kMbYesNoCancel, QMessageBox::No, kIdNo,
       {{QMessageBox::Yes, "&Oui"}, {QMessageBox::No, "&Non"}, {QMessageBox::Cancel, "Annuler"}}},
      {kMbAbortRetryIgnore, QMessageBox::Retry, kIdRetry,
       {{QMessageBox::Abort, "Abandonner"}, {QMessageBox::Retry, "Réessayer"}, {QMessageBox::Ignore, "Ignorer"}}},
  };
  {
    std::unique_ptr<QTranslator> french = InstallQtTranslations(QLocale(QLocale::French, QLocale::France));
    ASSERT_NE(french, nullptr) << "Qt's French translations are missing: run scripts/setup";
    for (const Case& c : cases) {
      SCOPED_TRACE(c.flags);
      SeenBox seen;
      Texts texts;
      int result = AskWithAnswer(c.flags, seen, [&](QMessageBox* b) {
        for (QAbstractButton* button : b->buttons()) texts[b->standardButton(button)] = button->text();
        b->button(c.press)->click();
      });
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(texts, c.texts);
    }
  }
  SeenBox seen;
  QString cancel;
  AskWithAnswer(kMbOkCancel, seen, [&](QMessageBox* b) {
    cancel = b->button(QMessageBox::Cancel)->text();
    b->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(cancel, "Cancel");
}

class RecordingBoxes : public IMessageBoxes {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
    texts << text;
    captions << caption;
    flag_list << flags;
    return kIdOk;
  }
  QStringList texts;
  QStringList captions;
  QList<unsigned> flag_list;
};

class ErrorBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMessageBoxes(&boxes_); }
  void TearDown() override { SetMessageBoxes(nullptr); }
  RecordingBoxes boxes_;
};

TEST_F(ErrorBoxTest, EscapedExceptionShowsItsMessageWithErrorIcon) {
  QGuiApplication::setApplicationDisplayName("zqinst");
  Guarded([] { throw EDatabaseError("Table 'Config' not found"); });
  ASSERT_EQ(boxes_.texts.size(), 1);
  EXPECT_EQ(boxes_.texts[0], "Table 'Config' not found");
  EXPECT_EQ(boxes_.captions[0], "zqinst");
  EXPECT_EQ(boxes_.flag_list[0], 0x10u);
}

TEST_F(ErrorBoxTest, AnsiMessageConvertedAndOthersCovered) {
  Guarded([] { throw Exception("Fichier \xE9\x80 introuvable"); });
  Guarded([] { throw std::runtime_error("plain"); });
  Guarded([] { throw 42; });
  ASSERT_EQ(boxes_.texts.size(), 3);
  EXPECT_EQ(boxes_.texts[0], QString::fromUtf8("Fichier é€ introuvable"));
  EXPECT_EQ(boxes_.texts[1], "plain");
  EXPECT_EQ(boxes_.texts[2], "Unknown error");
}

TEST_F(ErrorBoxTest, AbortIsSilentAndNormalHandlersShowNothing) {
  bool ran = false;
  Guarded([] { throw EAbort(); });
  Guarded([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(boxes_.texts.isEmpty());
}

class ThrowingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw EDatabaseError("Access denied");
    return QObject::event(e);
  }
};

TEST_F(ErrorBoxTest, ApplicationShowsExceptionsEscapingEventDispatch) {
  ASSERT_NE(dynamic_cast<TApplication*>(QCoreApplication::instance()), nullptr);
  ThrowingObject target;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
  ASSERT_EQ(boxes_.texts.size(), 1);
  EXPECT_EQ(boxes_.texts[0], "Access denied");
  EXPECT_EQ(boxes_.flag_list[0], 0x10u);
  // The application goes on dispatching.
  QEvent other(QEvent::Type(QEvent::User + 1));
  QCoreApplication::sendEvent(&target, &other);
  EXPECT_EQ(boxes_.texts.size(), 1);
}

TEST_F(ErrorBoxTest, DefaultBoxesComeBackWhenUninstalled) {
  EXPECT_EQ(&MessageBoxes(), &boxes_);
  SetMessageBoxes(nullptr);
  EXPECT_NE(dynamic_cast<TQtMessageBoxes*>(&MessageBoxes()), nullptr);
}

}  // namespace
}  // namespace zq
