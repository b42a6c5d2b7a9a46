// Renders both windows as the user sees them and checks the pictures drawn in code are there.
// With ZQ_SCREENSHOT_DIR set (scripts/screenshots does so under xvfb-run) the images are also
// written there as the documentation's screenshots.
#include <QApplication>
#include <QCollator>
#include <QDir>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include "tests/app/app_test_support.h"
#include "ui/enter_edit.h"
#include "ui/folder_combo_box.h"
#include "ui/gradient_progress_bar.h"
#include "ui/application.h"
#include "ui/marquee_label.h"
#include "ui/message_boxes.h"
#include "ui/numeric_edit.h"

namespace zq::testing {
namespace {

void SaveIfAsked(const QImage& image, const char* name) {
  QString dir = qEnvironmentVariable("ZQ_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  ASSERT_TRUE(image.save(QDir(dir).filePath(name), "PNG")) << name;
}

bool IsBannerBlue(const QColor& c) { return c.blue() > c.red() + 30 && c.blue() > 60; }

class Screenshots : public FormFixture {
 protected:
  void FillIn() {
    form->Edit_Societe->setText("SARL Exemple Distribution");
    form->Edit_Activite->setText("Commerce de gros et de détail");
    form->Edit_Adresse->setText("12, rue de l'Exemple");
    form->Edit_Tel->setText("+00 555 0199 01");
    form->Edit_Email->setText("gestion@exemple.example");
    form->Edit_RC->setText("RC 0000000 B 13");
    form->Edit_CapitalS->SetValue(1500000);
    form->Edit_Licence->setText("M. Karim Exemple");
    for (int i = 0; i < 40; ++i) form->Marquee->Step();
  }
};

TEST_F(Screenshots, InstallationWindow) {
  ShowActive();
  FillIn();
  // A folder as a user would choose it; the box shows it as text only.
  form->Combo_Path->SetPath("/home/karim/Logiciels");
  form->Btn_Ok->setFocus();
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

// The folder chooser as it opens without a choice: at the user's home folder, the folders above
// it expanded. The drop-down is a window of its own, drawn here over the installation window.
TEST_F(Screenshots, FolderChooserOpened) {
  ShowActive();
  FillIn();
  QTreeView* tree = form->Combo_Path->Tree();
  auto* model = qobject_cast<QFileSystemModel*>(tree->model());
  ASSERT_NE(model, nullptr);
  // The picture waits until every folder on the way to the home folder has been read and sorted.
  QCollator order;
  order.setNumericMode(true);
  order.setCaseSensitivity(Qt::CaseInsensitive);
  auto read = [model, &order] {
    for (QModelIndex up = model->index(QDir::homePath()).parent(); up.isValid(); up = up.parent()) {
      QString path = model->filePath(up);
      int rows = model->rowCount(up);
      if (rows < QDir(path).entryList(QDir::AllDirs | QDir::NoDotAndDotDot).size()) return false;
      for (int row = 1; row < rows; ++row) {
        if (order.compare(model->index(row - 1, 0, up).data().toString(), model->index(row, 0, up).data().toString()) > 0)
          return false;
      }
    }
    return true;
  };
  form->Combo_Path->setFocus();
  form->Combo_Path->showPopup();
  QWidget* popup = tree->window();
  ASSERT_TRUE(QTest::qWaitFor([&] { return popup->isVisible(); }, 5000));
  EXPECT_EQ(tree->currentIndex(), model->index(QDir::homePath()));
  // Rows move while they are read and sorted: the home folder's index is looked up each time.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return read() && tree->viewport()->rect().contains(tree->visualRect(model->index(QDir::homePath()))); },
      10000));
  // Both on the screen: the drop-down never runs past its bottom.
  QRect screen = form->screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(popup->geometry()));

  const QRect window(form->mapToGlobal(QPoint(0, 0)), form->size());
  const QRect all = window.united(popup->geometry());
  QImage picture(all.size(), QImage::Format_RGB32);
  picture.fill(Qt::white);
  {
    QPainter painter(&picture);
    painter.drawPixmap(window.topLeft() - all.topLeft(), form->grab());
    painter.drawPixmap(popup->geometry().topLeft() - all.topLeft(), popup->grab());
  }
  form->Combo_Path->hidePopup();
  EXPECT_TRUE(IsBannerBlue(picture.pixelColor(window.topLeft() - all.topLeft() + QPoint(400, 40))));
  SaveIfAsked(picture, "folder-chooser.png");
}

// The confirmation of the install button as the user meets it: the real box, its standard
// buttons in French.
TEST_F(Screenshots, ConfirmationBoxInFrench) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::unique_ptr<QTranslator> french = InstallQtTranslations(QLocale(QLocale::French, QLocale::France));
  ASSERT_NE(french, nullptr) << "Qt's French translations are missing: run scripts/setup";
  SetMessageBoxes(nullptr);  // the real boxes
  ShowActive();
  FillIn();
  form->Combo_Path->SetPath(dir.path());
  QImage picture;
  QStringList buttons;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    picture = box->grab().toImage();
    for (QAbstractButton* b : box->buttons()) buttons << b->text();
    box->button(QMessageBox::Cancel)->click();
  });
  poll.start();
  form->Btn_Ok->click();
  poll.stop();
  ASSERT_FALSE(picture.isNull());
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{"Annuler", "OK"}));
  // Annuler is a refusal: nothing happened.
  EXPECT_EQ(form->PBar->Percent(), 0);
  EXPECT_TRUE(form->Btn_Ok->isEnabled());
  SaveIfAsked(picture, "confirmation-box.png");
}

}  // namespace
}  // namespace zq::testing
