// The completion window: texts, size, centring, the 5000 ms timer and the way it ends the program.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "tests/app/app_test_support.h"
#include "tests/ui/qt_wait.h"

namespace zq::testing {
namespace {

using FormEnd = FormFixture;

TEST_F(FormEnd, TextsSizeAndInitialState) {
  EXPECT_EQ(end->windowTitle(), "QUORVANT SW Installer 2.0 - Fin de l'installation");
  EXPECT_EQ(end->size(), QSize(584, 362));
  EXPECT_EQ(end->minimumSize(), end->maximumSize());
  EXPECT_EQ(end->findChild<QLabel*>("Label_Message1")->text(),
            "Félicitation, installation terminée.\nNous vous remercions de choisir nos services et applications.");
  EXPECT_EQ(end->findChild<QLabel*>("Label_Message2")->text(),
            "Vous pouvez dès maintenant commencer a utiliser le logiciel en plein fonctionnalités, juste un click "
            "sur le raccourci.");
  EXPECT_TRUE(end->findChild<QLabel*>("Label_Message2")->wordWrap());
  EXPECT_EQ(end->Btn_No->text(), "&Terminer");
  EXPECT_EQ(end->Btn_No->toolTip(), "Quitter l'assistant d'installation");
  EXPECT_FALSE(end->Btn_No->isEnabled());
  EXPECT_EQ(end->Timer1.interval(), 5000);
  EXPECT_TRUE(end->Timer1.isActive());  // from creation, not from showing
  EXPECT_FALSE(end->isVisible());
}

TEST_F(FormEnd, TimerEnablesTheFinishButtonAfterFiveSeconds) {
  TForm_End fresh;
  EXPECT_FALSE(fresh.Btn_No->isEnabled());
  ASSERT_EQ(fresh.Timer1.interval(), 5000);
  EXPECT_GT(fresh.Timer1.remainingTime(), 4000);  // armed from creation for the five seconds
  // The tick itself, brought forward rather than waited for.
  fresh.Timer1.setInterval(1);
  ASSERT_EVENTUALLY(fresh.Btn_No->isEnabled());
  EXPECT_TRUE(fresh.Timer1.isActive());  // keeps running; later ticks change nothing
}

TEST_F(FormEnd, ShowCentresOnThePrimaryScreen) {
  end->show();
  QSize screen = QGuiApplication::primaryScreen()->size();
  EXPECT_EQ(end->pos(), CentredPosition(screen, 300, 200));
  end->hide();
}

TEST_F(FormEnd, FinishButtonClosesTheInstallationWindow) {
  ShowActive();
  end->Btn_No->setEnabled(true);
  end->Btn_No->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(terminated, 1);
  EXPECT_TRUE(boxes.asked.empty());
}

TEST_F(FormEnd, CaptionCloseEndsTheProgramLikeTheFinishButton) {
  ShowActive();
  end->show();
  end->close();
  EXPECT_FALSE(end->isVisible());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(terminated, 1);
}

// Each way a user dismisses the window while it is shown modally, as the installation shows it.
TEST_F(FormEnd, EveryWayOfDismissingTheModalWindowEndsTheProgram) {
  struct Way {
    const char* name;
    std::function<void(TForm_End*)> dismiss;
  };
  const Way ways[] = {
      {"finish button", [](TForm_End* e) { e->Btn_No->click(); }},
      {"caption close button", [](TForm_End* e) { e->close(); }},
      // Escape goes to the focused control, which passes it on to the window.
      {"Escape",
       [](TForm_End* e) { QTest::keyClick(e->focusWidget() ? e->focusWidget() : e, Qt::Key_Escape); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    terminated = 0;
    ShowActive();
    // Ending the program ends every event loop, the modal one included.
    form->OnTerminate = [this] {
      ++terminated;
      if (end->isVisible()) end->done(QDialog::Rejected);
    };
    end->Btn_No->setEnabled(true);
    bool dismissed = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (QApplication::activeModalWidget() != end || dismissed) return;
      dismissed = true;
      way.dismiss(end);
    });
    poll.start();
    // A dismissal that leaves the window open fails below instead of hanging the suite.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [this] { end->done(QDialog::Accepted); });
    guard.start(5000);
    end->exec();
    poll.stop();
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(end->isVisible());
  }
}

}  // namespace
}  // namespace zq::testing
