// Renders both windows as the user sees them and checks the pictures drawn in code are there.
// With ZQ_SCREENSHOT_DIR set (scripts/screenshots does so under xvfb-run) the images are also
// written there as the documentation's screenshots.
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "tests/app/app_test_support.h"
#include "ui/enter_edit.h"
#include "ui/folder_combo_box.h"
#include "ui/marquee_label.h"
#include "ui/numeric_edit.h"

namespace zq::testing {
namespace {

void SaveIfAsked(const QImage& image, const char* name) {
  QString dir = qEnvironmentVariable("ZQ_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  ASSERT_TRUE(image.save(QDir(dir).filePath(name), "PNG")) << name;
}

bool IsBannerBlue(const QColor& c) { return c.blue() > c.red() + 30 && c.blue() > 60; }

using Screenshots = FormFixture;

TEST_F(Screenshots, InstallationWindow) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ShowActive();
  form->Edit_Societe->setText("SARL Exemple Distribution");
  form->Edit_Activite->setText("Commerce de gros et de détail");
  form->Edit_Adresse->setText("12, rue de l'Exemple");
  form->Edit_Tel->setText("+00 555 0199 01");
  form->Edit_Email->setText("gestion@exemple.example");
  form->Edit_RC->setText("RC 0000000 B 13");
  form->Edit_CapitalS->SetValue(1500000);
  form->Edit_Licence->setText("M. Karim Exemple");
  form->Combo_Path->SetPath(dir.path());
  form->Btn_Ok->setFocus();
  for (int i = 0; i < 40; ++i) form->Marquee->Step();
  ASSERT_TRUE(form->Btn_Ok->isEnabled());
  QImage image = form->grab().toImage();
  EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(784, 487));
  // The banner fills the top strip; the capital shows grouped.
  EXPECT_TRUE(IsBannerBlue(image.pixelColor(QPoint(400, 40) * image.devicePixelRatio())));
  EXPECT_EQ(form->Edit_CapitalS->text(), "1,500,000");
  SaveIfAsked(image, "installer-window.png");
}

TEST_F(Screenshots, CompletionWindow) {
  end->Btn_No->setEnabled(true);
  end->show();
  QImage image = end->grab().toImage();
  end->hide();
  EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(584, 362));
  EXPECT_TRUE(IsBannerBlue(image.pixelColor(QPoint(300, 50) * image.devicePixelRatio())));
  // The logo sits left of the messages: its rim is drawn in the accent colour.
  auto* logo = end->findChild<QLabel*>("Image_Logo");
  ASSERT_NE(logo, nullptr);
  EXPECT_FALSE(logo->pixmap().isNull());
  SaveIfAsked(image, "completion-window.png");
}

}  // namespace
}  // namespace zq::testing
