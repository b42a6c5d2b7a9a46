// Edit boxes with Enter-to-next, the folder combo box, the gradient progress bar and the marquee.
#include <gtest/gtest.h>

#include "tests/ui/qstring_printer.h"
#include "tests/ui/qt_wait.h"

#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/enter_edit.h"
#include "ui/folder_combo_box.h"
#include "ui/gradient_progress_bar.h"
#include "ui/marquee_label.h"

namespace zq {
namespace {

void ShowActive(QWidget& w) {
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

TEST(EnterEdit, MaxLengthRefusesTheNextCharacter) {
  TEnterEdit edit;
  edit.SetMaxLength(5);
  QTest::keyClicks(&edit, "abcdefg");
  EXPECT_EQ(edit.text(), "abcde");
  EXPECT_EQ(edit.MaxLength(), 5);
  edit.SetMaxLength(0);
  QTest::keyClicks(&edit, "fg");
  EXPECT_EQ(edit.text(), "abcdefg");
}

TEST(EnterEdit, EnterMovesAlongTheTabOrderNotTheCreationOrder) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* a = new TEnterEdit(&window);
  auto* c = new TEnterEdit(&window);
  auto* b = new TEnterEdit(&window);
  auto* skipped = new QPushButton("skip", &window);
  skipped->setFocusPolicy(Qt::ClickFocus);
  for (QWidget* w : {static_cast<QWidget*>(a), static_cast<QWidget*>(c), static_cast<QWidget*>(b),
                     static_cast<QWidget*>(skipped)})
    layout->addWidget(w);
  QWidget::setTabOrder(a, b);
  QWidget::setTabOrder(b, c);
  QWidget::setTabOrder(c, skipped);
  ShowActive(window);
  a->setFocus();
  ASSERT_EVENTUALLY(a->hasFocus());
  QSignalSpy returned(a, &QLineEdit::returnPressed);
  QTest::keyClick(a, Qt::Key_Return);
  EXPECT_EQ(returned.count(), 1);
  ASSERT_EVENTUALLY(b->hasFocus());
  QTest::keyClick(b, Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_EVENTUALLY(c->hasFocus());
  // The button takes no tab focus: the chain wraps to the first edit.
  QTest::keyClick(c, Qt::Key_Return);
  ASSERT_EVENTUALLY(a->hasFocus());
  EXPECT_FALSE(skipped->hasFocus());
}

TEST(FolderComboBox, PathShownInFullOnlyWithoutFocus) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  QString folder = tmp.path() + "/Société";
  ASSERT_TRUE(QDir().mkpath(folder));

  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* combo = new TFolderComboBox(&window);
  auto* other = new QLineEdit(&window);
  layout->addWidget(combo);
  layout->addWidget(other);
  ShowActive(window);
  other->setFocus();
  ASSERT_EVENTUALLY(other->hasFocus());
  EXPECT_EQ(combo->Path(), "");
  EXPECT_EQ(combo->Text(), "");

  QSignalSpy changed(combo, &TFolderComboBox::PathChanged);
  combo->SetPath(folder + "/");
  EXPECT_EQ(combo->Path(), folder);
  EXPECT_EQ(combo->Text(), folder);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.at(0).at(0).toString(), folder);
  // Setting the same path again is no change.
  combo->SetPath(folder);
  EXPECT_EQ(changed.count(), 1);

  combo->setFocus();
  ASSERT_EVENTUALLY(combo->hasFocus());
  EXPECT_EQ(combo->Text(), "Société");
  other->setFocus();
  ASSERT_EVENTUALLY(!combo->hasFocus());
  EXPECT_EQ(combo->Text(), folder);

  combo->SetPath("/");
  EXPECT_EQ(combo->Text(), "/");
  EXPECT_EQ(changed.count(), 2);
}

TEST(FolderComboBox, ChoosingInTheDropDownTreeSetsThePath) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  QString folder = tmp.path() + "/target";
  ASSERT_TRUE(QDir().mkpath(folder));
  TFolderComboBox combo;
  combo.show();
  QSignalSpy changed(&combo, &TFolderComboBox::PathChanged);
  combo.showPopup();
  QTreeView* tree = combo.Tree();
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->objectName(), "FolderTree");
  ASSERT_EVENTUALLY(tree->isVisible());
  auto* model = qobject_cast<QFileSystemModel*>(tree->model());
  ASSERT_NE(model, nullptr);
  QModelIndex index = model->index(folder);
  ASSERT_TRUE(index.isValid());
  tree->setCurrentIndex(index);
  QTest::keyClick(tree, Qt::Key_Return);
  ASSERT_EVENTUALLY(changed.count() == 1);
  EXPECT_EQ(combo.Path(), folder);
  ASSERT_EVENTUALLY(!tree->isVisible());
}

// The drop-down opens on the chosen folder with every folder above it expanded, and scrolled so
// the chosen folder is in view; without a choice it opens on the user's home folder.
TEST(FolderComboBox, DropDownOpensExpandedAtTheChoiceOrTheHomeFolder) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  // Enough siblings that the chosen folder is far down the list.
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(QDir().mkpath(tmp.path() + QString("/a/sibling%1").arg(i, 2, 10, QChar('0'))));
  const QString chosen = tmp.path() + "/a/sibling57/Logiciels";
  const QString home = tmp.path() + "/home/karim";
  ASSERT_TRUE(QDir().mkpath(chosen + "/inner"));
  ASSERT_TRUE(QDir().mkpath(home + "/Documents"));
  const QByteArray saved_home = qgetenv("HOME");
  qputenv("HOME", home.toUtf8());

  struct Case {
    const char* name;
    QString choice;
    QString expected;
  };
  const Case cases[] = {{"chosen folder", chosen, chosen}, {"no choice", QString(), home}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFolderComboBox combo;
    combo.SetPath(c.choice);
    ShowActive(combo);
    combo.showPopup();
    QTreeView* tree = combo.Tree();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree->isVisible(); }, 5000));
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    ASSERT_NE(model, nullptr);
    QModelIndex expected = model->index(c.expected);
    ASSERT_TRUE(expected.isValid());
    EXPECT_EQ(tree->currentIndex(), expected);
    EXPECT_TRUE(tree->isExpanded(expected));
    for (QModelIndex up = expected.parent(); up.isValid(); up = up.parent()) {
      EXPECT_TRUE(tree->isExpanded(up)) << model->filePath(up).toStdString();
    }
    // In view once the folders along the way have been read.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())); }, 5000));
    // Choosing nothing changes nothing.
    combo.hidePopup();
    EXPECT_EQ(combo.Path(), c.choice);
  }
  qputenv("HOME", saved_home);
}

// The drop-down stays on the screen: below the box when there is room, above it near the bottom
// of a 768-pixel screen, shortened and moved sideways when nothing else fits.
TEST(FolderComboBox, DropDownStaysOnTheScreen) {
  const QRect screen(0, 0, 1366, 768);
  const QSize size(346, 300);
  struct Case {
    const char* name;
    QRect box;
    QRect expected;
  };
  const Case cases[] = {
      {"room below", QRect(417, 300, 346, 22), QRect(417, 322, 346, 300)},
      // The installation window centred on 1366 x 768: the box sits at y = 538.
      {"near the bottom", QRect(417, 538, 346, 22), QRect(417, 238, 346, 300)},
      {"exactly fits below", QRect(417, 446, 346, 22), QRect(417, 468, 346, 300)},
      {"at the right edge", QRect(1200, 100, 346, 22), QRect(1020, 122, 346, 300)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QRect got = TFolderComboBox::PopupGeometry(c.box, size, screen);
    EXPECT_EQ(got, c.expected);
    EXPECT_TRUE(screen.contains(got));
    EXPECT_FALSE(got.intersects(c.box));
  }
  // A screen too short for the whole drop-down on either side: the side with more room.
  const QRect small(0, 0, 800, 400);
  EXPECT_EQ(TFolderComboBox::PopupGeometry(QRect(10, 150, 346, 22), size, small), QRect(10, 172, 346, 228));
  EXPECT_EQ(TFolderComboBox::PopupGeometry(QRect(10, 250, 346, 22), size, small), QRect(10, 0, 346, 250));

  // The real drop-down of a box near the bottom of its screen.
  QWidget window;
  auto* combo = new TFolderComboBox(&window);
  combo->setGeometry(10, 10, 346, 22);
  window.resize(366, 42);
  QRect available = window.screen()->availableGeometry();
  window.move(available.left() + 20, available.bottom() - 60);
  ShowActive(window);
  combo->showPopup();
  QWidget* popup = combo->Tree()->window();
  ASSERT_TRUE(QTest::qWaitFor([&] { return popup->isVisible(); }, 5000));
  EXPECT_TRUE(available.contains(popup->frameGeometry())) << available.height();
  EXPECT_LE(popup->geometry().bottom(), combo->mapToGlobal(QPoint(0, 0)).y());
  combo->hidePopup();
}

TEST(GradientProgressBar, ClampsAndReportsEverySet) {
  TGradientProgressBar bar;
  bar.resize(200, 20);
  bar.show();
  QSignalSpy spy(&bar, &TGradientProgressBar::PercentChanged);
  EXPECT_EQ(bar.Percent(), 0);
  for (int v : {10, 10, 150, -5, 60}) bar.SetPercent(v);
  ASSERT_EQ(spy.count(), 5);
  std::vector<int> seen;
  for (const auto& args : spy) seen.push_back(args.at(0).toInt());
  EXPECT_EQ(seen, (std::vector<int>{10, 10, 100, 0, 60}));
  EXPECT_EQ(bar.Percent(), 60);
}

TEST(GradientProgressBar, PaintsTheFilledPartAsAGradient) {
  TGradientProgressBar bar;
  bar.resize(202, 20);
  bar.SetStartColor(QColor(255, 0, 0));
  bar.SetEndColor(QColor(0, 0, 255));
  bar.SetPercent(50);
  QImage image = bar.grab().toImage();
  // Inside the filled half: red at its start, more blue further on; the empty half is the base.
  QColor left = image.pixelColor(2, 3);
  QColor middle = image.pixelColor(90, 3);
  QColor empty = image.pixelColor(180, 3);
  EXPECT_GT(left.red(), 240);
  EXPECT_LT(left.blue(), 20);
  EXPECT_GT(middle.blue(), left.blue());
  EXPECT_LT(middle.red(), left.red());
  EXPECT_EQ(empty, bar.palette().color(QPalette::Base));
}

TEST(MarqueeLabel, ScrollsEveryTwentyMilliseconds) {
  TMarqueeLabel marquee;
  marquee.resize(300, 20);
  marquee.SetText("Logiciel de gestion commerciale");
  EXPECT_EQ(marquee.ScrollDelay(), 20);
  EXPECT_TRUE(marquee.Active());
  marquee.show();
  EXPECT_EQ(marquee.TextX(), 300);
  ASSERT_EVENTUALLY(marquee.Offset() >= 3);
  marquee.SetActive(false);
  int stopped = marquee.Offset();
  QCoreApplication::processEvents();  // a step already queued would run here
  EXPECT_FALSE(marquee.Active());
  EXPECT_EQ(marquee.Offset(), stopped);
}

TEST(MarqueeLabel, StartsAgainOnTheRightAfterLeaving) {
  TMarqueeLabel marquee;
  marquee.SetActive(false);
  marquee.resize(100, 20);
  marquee.SetText("abc");
  int span = 100 + marquee.TextWidth();
  for (int i = 0; i < span; ++i) marquee.Step();
  EXPECT_EQ(marquee.Offset(), span);
  EXPECT_EQ(marquee.TextX(), -marquee.TextWidth());
  marquee.Step();
  EXPECT_EQ(marquee.Offset(), 0);
  EXPECT_EQ(marquee.TextX(), 100);
  marquee.SetScrollDelay(0);
  EXPECT_EQ(marquee.ScrollDelay(), 1);
}

}  // namespace
}  // namespace zq
