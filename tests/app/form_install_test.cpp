// The installation window: texts, limits, tab order, the enabling rule, the quit confirmation,
// centring and the checks of the install button.
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include "app/install_procedure.h"
#include "tests/app/app_test_support.h"
#include "tests/ui/qt_wait.h"
#include "ui/enter_edit.h"
#include "ui/folder_combo_box.h"
#include "ui/gradient_progress_bar.h"
#include "ui/marquee_label.h"
#include "ui/numeric_edit.h"

namespace zq::testing {
namespace {

using FormInstall = FormFixture;

struct EditSpec {
  const char* name;
  const char* label;
  const char* hint;
  int max_length;
};

const EditSpec kEdits[] = {
    {"Edit_Societe", "Société", "Dénomination : Raison sociale ou Nom du propriétaire", 50},
    {"Edit_Activite", "Activité", "Activité : L'activité commerciale", 100},
    {"Edit_Adresse", "Adresse", "Adresse : Adresse de l'activité", 80},
    {"Edit_Tel", "Tél.", "Numéro de Téléphone", 30},
    {"Edit_Fax", "Fax", "Numéro de Fax", 30},
    {"Edit_Email", "E-Mail", "Votre E-Mail professionnel (Facultatif)", 60},
    {"Edit_URL", "Site Web", "Adresse de votre Site Web (Facultatif)", 60},
    {"Edit_CBank", "C.Bancaire", "Votre Compte Bancaire : Numéro & Banque (Facultatif)", 60},
    {"Edit_RC", "R.Commerce", "Le numéro de votre Registre de Commerce", 20},
    {"Edit_MF", "Mat. Fiscal", "Le numéro de votre Matricule Fiscal", 15},
    {"Edit_AI", "Articel Impos", "Le numéro de votre Article d'Imposition", 11},
    {"Edit_NIF", "NIF", "Le numéro de votre Identité Fiscale", 15},
    {"Edit_NIS", "NIS", "NIS", 15},
    {"Edit_CapitalS", "Capital Soc.", "Votre Capital Social", 0},
    {"Edit_Licence", "Licence à", "Nom du propriétaire dont la licence est accordée", 50},
};

const char* const kTabOrder[] = {"Edit_Societe", "Edit_Activite", "Edit_Adresse", "Edit_Tel", "Edit_Fax",
                                 "Edit_Email",   "Edit_URL",      "Edit_CBank",   "Edit_RC",  "Edit_MF",
                                 "Edit_AI",      "Edit_NIF",      "Edit_NIS",     "Edit_CapitalS",
                                 "Edit_Licence", "Combo_Path"};

QLabel* LabelFor(QWidget* form, QWidget* buddy) {
  for (QLabel* l : form->findChildren<QLabel*>()) {
    if (l->buddy() == buddy) return l;
  }
  return nullptr;
}

TEST_F(FormInstall, WindowTextsAndSize) {
  EXPECT_EQ(form->windowTitle(), "QUORVANT Software Installer 2.0");
  EXPECT_EQ(form->toolTip(), "QUORVANT Software Installer 2.0");
  EXPECT_EQ(form->size(), QSize(784, 487));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // fixed border
  EXPECT_EQ(form->Btn_Ok->text(), "&Installer");
  EXPECT_EQ(form->Btn_Ok->toolTip(), "Commencer l'installation");
  EXPECT_FALSE(form->Btn_Ok->isEnabled());
  EXPECT_EQ(form->Btn_No->text(), "&Quitter");
  EXPECT_EQ(form->Btn_No->toolTip(), "Quitter l'assistant d'installation");
  EXPECT_TRUE(form->Btn_No->isEnabled());
  EXPECT_EQ(form->Label_Prd_Name->text(), "Briskal");
  EXPECT_EQ(form->Label_Prd_Name->font().pixelSize(), 29);
  EXPECT_TRUE(form->Label_Prd_Name->font().bold());
  EXPECT_EQ(form->Label_Prd_Ver->text(), "5.2");
  EXPECT_EQ(form->findChild<QLabel*>("Label_Build")->text(), "Build 5 / 15-01-2013");
  EXPECT_TRUE(form->findChild<QLabel*>("Label_Welcome")->text().startsWith("Bienvenue dans QUORVANT Software Installer 2.0  "));
  EXPECT_EQ(form->Marquee->ScrollDelay(), 20);
  EXPECT_EQ(form->Marquee->Text(),
            "Logiciel de gestion commerciale pour Boutiques, Magasins, Superetes ... Option vente au comptoir "
            "avec lecteur de Code Barre.");
  QString description = form->findChild<QLabel*>("Label_Description")->text();
  EXPECT_EQ(description.count('\n'), 7);
  EXPECT_TRUE(description.startsWith("Cette application est développée par QUORVANT, service de developpement"));
  EXPECT_TRUE(description.endsWith(" :: Commerce libre (avec option : Vente au Comptoir) ."));
  QString instructions = form->findChild<QLabel*>("Label_Instructions")->text();
  EXPECT_TRUE(instructions.endsWith("3- Cliquer sur [Installer] puis choisir [Oui] pour terminer l'installation."));
  EXPECT_EQ(form->PBar->Percent(), 0);
  // The contact values are fictional.
  QStringList contacts;
  for (QLabel* l : form->findChildren<QLabel*>())
    if (l->text().contains('@') || l->text().contains("http")) contacts << l->text();
  ASSERT_EQ(contacts.size(), 4) << contacts.join(" | ").toStdString();
  for (const QString& text : contacts) EXPECT_TRUE(text.contains("quorvant.example")) << text.toStdString();
}

// A fixed dialog border like the completion window's: a caption with the close button and
// neither a minimise nor a maximise button.
TEST_F(FormInstall, FixedDialogBorderWithoutMinimiseButton) {
  ShowActive();
  for (QWidget* window : {static_cast<QWidget*>(form), static_cast<QWidget*>(end)}) {
    SCOPED_TRACE(window->objectName().toStdString());
    Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
  }
}

// The company name box starts in line with the full-width boxes below it, and no label of the
// window is cut off by its box.
TEST_F(FormInstall, BoxesLineUpAndLabelsFit) {
  ShowActive();
  const QRect inside = form->findChild<QGroupBox*>("Group_Input")->contentsRect();
  for (TEnterEdit* e : {form->Edit_Societe, form->Edit_Activite, form->Edit_Adresse, form->Edit_CBank,
                        form->Edit_Licence}) {
    SCOPED_TRACE(e->objectName().toStdString());
    EXPECT_EQ(e->geometry().left(), form->Edit_Activite->geometry().left());
    EXPECT_EQ(e->width(), 430);
    EXPECT_TRUE(inside.contains(e->geometry()));
    EXPECT_LT(LabelFor(form, e)->geometry().right(), e->geometry().left());
  }
  EXPECT_EQ(form->Combo_Path->geometry().right(), form->Edit_Societe->geometry().right());
  int checked = 0;
  for (QWidget* window : {static_cast<QWidget*>(form), static_cast<QWidget*>(end)}) {
    for (QLabel* l : window->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly) +
                         window->findChildren<QGroupBox*>().first()->findChildren<QLabel*>() +
                         window->findChildren<QGroupBox*>().last()->findChildren<QLabel*>()) {
      if (l->text().isEmpty() || l->window() != window) continue;
      SCOPED_TRACE(l->text().toStdString());
      if (l->wordWrap()) {
        EXPECT_LE(l->heightForWidth(l->width()), l->height());
      } else {
        QString shown = Qt::mightBeRichText(l->text()) ? QTextDocumentFragment::fromHtml(l->text()).toPlainText()
                                                       : l->text();
        for (const QString& line : shown.split('\n'))
          EXPECT_LE(l->fontMetrics().horizontalAdvance(line), l->width());
      }
      ++checked;
    }
  }
  EXPECT_GE(checked, 30);
}

TEST_F(FormInstall, EditHintsLabelsAndLimits) {
  for (const EditSpec& expected : kEdits) {
    SCOPED_TRACE(expected.name);
    auto* edit = form->findChild<TEnterEdit*>(expected.name);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->toolTip(), QString::fromUtf8(expected.hint));
    EXPECT_EQ(edit->font().family(), "Tahoma");
    EXPECT_EQ(edit->font().pixelSize(), 12);
    QLabel* label = LabelFor(form, edit);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromUtf8(expected.label));
    if (expected.max_length > 0) {
      EXPECT_EQ(edit->maxLength(), expected.max_length);
    }
  }
  EXPECT_EQ(form->Edit_Societe->width(), 430);
  EXPECT_EQ(form->Edit_CapitalS->DisplayFormat(), ",0;(,0)");
  EXPECT_EQ(form->Combo_Path->toolTip(),
            "Recommander de choisir la PARTITION dont vous voulez installer votre application");
  EXPECT_EQ(LabelFor(form, form->Combo_Path)->text(), "Chemin d'installation : ");
}

TEST_F(FormInstall, TypingBeyondTheLimitIsRefused) {
  ShowActive();
  form->Edit_Societe->setFocus();
  QTest::keyClicks(form->Edit_Societe, QString(50, 'a') + "b");
  EXPECT_EQ(form->Edit_Societe->text(), QString(50, 'a'));
  form->Edit_AI->setFocus();
  QTest::keyClicks(form->Edit_AI, "123456789012");
  EXPECT_EQ(form->Edit_AI->text(), "12345678901");
  // The capital has no limit.
  form->Edit_CapitalS->setFocus();
  QTest::keyClicks(form->Edit_CapitalS, QString(40, '1'));
  EXPECT_EQ(form->Edit_CapitalS->text().size(), 40);
}

TEST_F(FormInstall, EnablingRule) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QPushButton* ok = form->Btn_Ok;
  EXPECT_FALSE(ok->isEnabled());
  // Optional fields never enable it.
  for (TEnterEdit* e : {form->Edit_Adresse, form->Edit_Tel, form->Edit_Fax, form->Edit_Email, form->Edit_URL,
                        form->Edit_CBank, form->Edit_RC, form->Edit_MF, form->Edit_AI, form->Edit_NIF,
                        form->Edit_NIS})
    e->setText("x");
  form->Edit_CapitalS->SetValue(1500000);
  EXPECT_FALSE(ok->isEnabled());
  form->Edit_Societe->setText("SARL Exemple");
  EXPECT_FALSE(ok->isEnabled());
  form->Edit_Activite->setText("Commerce");
  EXPECT_FALSE(ok->isEnabled());
  form->Edit_Licence->setText("M. Exemple");
  EXPECT_FALSE(ok->isEnabled());
  form->Combo_Path->SetPath(dir.path());
  EXPECT_TRUE(ok->isEnabled());
  // Clearing any one of the four disables it again; refilling enables it.
  for (TEnterEdit* e : {form->Edit_Societe, form->Edit_Activite, form->Edit_Licence}) {
    SCOPED_TRACE(e->objectName().toStdString());
    QString before = e->text();
    e->clear();
    EXPECT_FALSE(ok->isEnabled());
    e->setText(before);
    EXPECT_TRUE(ok->isEnabled());
  }
  form->Combo_Path->SetPath(QString());
  EXPECT_FALSE(ok->isEnabled());
  // Spaces count as filled; a path that does not exist is only checked at the click.
  form->Edit_Societe->setText(" ");
  form->Edit_Activite->setText("  ");
  form->Edit_Licence->setText("   ");
  form->Combo_Path->SetPath(dir.path() + "/absent");
  EXPECT_TRUE(ok->isEnabled());
}

TEST_F(FormInstall, EnterFollowsTheTabOrderAndTabSkipsQuit) {
  ShowActive();
  EXPECT_TRUE(form->Edit_Societe->hasFocus());  // focused by the show handler
  for (size_t i = 0; i + 1 < std::size(kTabOrder); ++i) {
    SCOPED_TRACE(kTabOrder[i]);
    auto* current = form->findChild<QWidget*>(kTabOrder[i]);
    ASSERT_TRUE(current->hasFocus());
    QTest::keyClick(current, Qt::Key_Return);
    ASSERT_EVENTUALLY(form->findChild<QWidget*>(kTabOrder[i + 1])->hasFocus());
  }
  // Tab from the last entry: Btn_Ok (disabled) and Btn_No (no tab stop) are skipped.
  QTest::keyClick(form->Combo_Path, Qt::Key_Tab);
  ASSERT_EVENTUALLY(form->Edit_Societe->hasFocus());
  EXPECT_EQ(form->Btn_No->focusPolicy(), Qt::ClickFocus);
  // With Btn_Ok enabled it is the first stop of the chain, still not Btn_No.
  form->Btn_Ok->setEnabled(true);
  form->Combo_Path->setFocus();
  ASSERT_EVENTUALLY(form->Combo_Path->hasFocus());
  QTest::keyClick(form->Combo_Path, Qt::Key_Tab);
  ASSERT_EVENTUALLY(form->Btn_Ok->hasFocus());
  QTest::keyClick(form->Btn_Ok, Qt::Key_Tab);
  ASSERT_EVENTUALLY(form->Edit_Societe->hasFocus());
}

TEST_F(FormInstall, QuitConfirmation) {
  ShowActive();
  form->Edit_Societe->setText("garde");
  boxes.answers = {kIdCancel};
  form->Btn_No->click();
  ASSERT_EQ(boxes.asked.size(), 1u);
  EXPECT_EQ(boxes.asked[0].text, "êtes vous sur de vouloir annuler l'installation de l'application ?");
  EXPECT_EQ(boxes.asked[0].caption, "Confirmation");
  EXPECT_EQ(boxes.asked[0].flags, 0x31u);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(terminated, 0);
  EXPECT_EQ(form->Edit_Societe->text(), "garde");

  boxes.answers = {kIdOk};
  form->Btn_No->click();
  EXPECT_EQ(boxes.asked.size(), 2u);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(terminated, 1);
}

TEST_F(FormInstall, CaptionCloseEndsAtOnceWithoutQuestion) {
  ShowActive();
  form->close();
  EXPECT_TRUE(boxes.asked.empty());
  EXPECT_EQ(terminated, 1);
  EXPECT_FALSE(form->isVisible());
}

TEST(Centring, RoundsHalvesToEven) {
  EXPECT_EQ(CentredPosition(QSize(1366, 768), 400, 250), QPoint(283, 134));
  EXPECT_EQ(CentredPosition(QSize(1365, 768), 400, 250).x(), 282);  // 282.5
  EXPECT_EQ(CentredPosition(QSize(1367, 769), 400, 250), QPoint(284, 134));  // 283.5, 134.5
  EXPECT_EQ(CentredPosition(QSize(1366, 768), 300, 200), QPoint(383, 184));
  EXPECT_EQ(CentredPosition(QSize(1365, 767), 300, 200), QPoint(382, 184));  // 382.5, 183.5
  EXPECT_EQ(CentredPosition(QSize(640, 480), 400, 250), QPoint(-80, -10));
}

TEST_F(FormInstall, ShowCentresOnThePrimaryScreen) {
  ShowActive();
  QSize screen = QGuiApplication::primaryScreen()->size();
  EXPECT_EQ(form->pos(), CentredPosition(screen, 400, 250));
}

class InstallChecks : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    ASSERT_TRUE(target.isValid());
    ASSERT_TRUE(cwd.isValid());
    form->Procedure().CurrentDir = [this] { return cwd.path(); };
    form->Edit_Societe->setText("SARL Exemple");
    form->Edit_Activite->setText("Commerce");
    form->Edit_Licence->setText("M. Exemple");
  }
  // A refused click leaves the window as it was and the target folder empty.
  void ExpectNothingChanged() {
    EXPECT_TRUE(form->Btn_Ok->isEnabled());
    EXPECT_TRUE(form->Btn_No->isEnabled());
    EXPECT_EQ(form->PBar->Percent(), 0);
    EXPECT_TRUE(QDir(target.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
  }
  QTemporaryDir target;
  QTemporaryDir cwd;
};

const AskedBox kConfirmation{
    "?tes vous sur de vouloir installer l'application utilisant ces informations personnelles et professionnelles ?",
    "Confirmation de l'installation", 0x31u};

TEST_F(InstallChecks, MissingFolderShowsTheFirstErrorAndChangesNothing) {
  form->Combo_Path->SetPath(target.path() + "/removed");
  ASSERT_TRUE(form->Btn_Ok->isEnabled());
  form->Btn_Ok->click();
  EXPECT_EQ(boxes.asked, (std::vector<AskedBox>{{"Attention, le chemin d'installation choisis n'existe pas. Veuillez "
                                                 "SVP faire choisir un chemin existant ?",
                                                 "Erreur d'installation", 0x10u}}));
  ExpectNothingChanged();
}

TEST_F(InstallChecks, CancelAtTheConfirmationLeavesTheButtonEnabled) {
  form->Combo_Path->SetPath(target.path());
  boxes.answers = {kIdCancel};
  form->Btn_Ok->click();
  EXPECT_EQ(boxes.asked, std::vector<AskedBox>{kConfirmation});
  ExpectNothingChanged();
  // Any answer but OK is a refusal.
  boxes.answers = {kIdNo};
  form->Btn_Ok->click();
  EXPECT_EQ(boxes.asked, (std::vector<AskedBox>{kConfirmation, kConfirmation}));
  ExpectNothingChanged();
}

TEST_F(InstallChecks, MissingPackageIsReportedAfterTheConfirmation) {
  form->Combo_Path->SetPath(target.path());
  // A folder of the package's name is not the package.
  ASSERT_TRUE(QDir(cwd.path()).mkdir(install::kPackageName));
  boxes.answers = {kIdOk, kIdOk};
  form->Btn_Ok->click();
  EXPECT_EQ(boxes.asked, (std::vector<AskedBox>{kConfirmation,
                                                {"Attention, le package fichiers d'installation n'existe pas. Veuillez "
                                                 "SVP contacter le support technique. http://www.quorvant.example/ ",
                                                 "Erreur d'installation", 0x10u}}));
  ExpectNothingChanged();
}

TEST_F(InstallChecks, CompletionWindowNeverShownBeforeAnInstallation) {
  ShowActive();
  EXPECT_FALSE(end->isVisible());
  form->Combo_Path->SetPath(target.path() + "/removed");
  form->Btn_Ok->click();
  form->Combo_Path->SetPath(target.path());
  boxes.answers = {kIdCancel};
  form->Btn_Ok->click();
  boxes.answers = {kIdOk, kIdOk};
  form->Btn_Ok->click();
  EXPECT_EQ(boxes.asked.size(), 4u);
  EXPECT_FALSE(end->isVisible());
}

}  // namespace
}  // namespace zq::testing
