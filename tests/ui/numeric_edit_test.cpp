#include "ui/numeric_edit.h"

#include <gtest/gtest.h>

#include "tests/ui/qstring_printer.h"
#include "tests/ui/qt_wait.h"

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

namespace zq {
namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kFrench(QLocale::French, QLocale::France);
const QLocale kGerman(QLocale::German, QLocale::Germany);

TEST(FormatFloat, DisplayFormatOfTheCapitalField) {
  EXPECT_EQ(FormatFloat(",0;(,0)", 1500000, kEnglish), "1,500,000");
  EXPECT_EQ(FormatFloat(",0;(,0)", -1500000, kEnglish), "(1,500,000)");
  EXPECT_EQ(FormatFloat(",0;(,0)", 0, kEnglish), "0");
  EXPECT_EQ(FormatFloat(",0;(,0)", 999, kEnglish), "999");
  EXPECT_EQ(FormatFloat(",0;(,0)", 1000, kEnglish), "1,000");
  EXPECT_EQ(FormatFloat(",0;(,0)", 123456789012.0, kEnglish), "123,456,789,012");
  // No decimals: halves go away from zero.
  EXPECT_EQ(FormatFloat(",0;(,0)", 2.5, kEnglish), "3");
  EXPECT_EQ(FormatFloat(",0;(,0)", 1499.49, kEnglish), "1,499");
  EXPECT_EQ(FormatFloat(",0;(,0)", -2.5, kEnglish), "(3)");
}

TEST(FormatFloat, GroupSeparatorComesFromTheLocale) {
  EXPECT_EQ(FormatFloat(",0;(,0)", 1500000, kGerman), "1.500.000");
  QString sep = kFrench.groupSeparator();
  EXPECT_EQ(FormatFloat(",0;(,0)", 1500000, kFrench), "1" + sep + "500" + sep + "000");
  EXPECT_EQ(FormatFloat(",0;(,0)", -1234, kFrench), "(1" + sep + "234)");
}

TEST(FormatFloat, OtherPlaceholdersAndSections) {
  EXPECT_EQ(FormatFloat("0.00", 3.14159, kEnglish), "3.14");
  EXPECT_EQ(FormatFloat("0.00", 2.005, kEnglish), "2.01");  // 2.005 is 2.00499.. in binary, ×100 rounds up
  EXPECT_EQ(FormatFloat("#.##", 0.5, kEnglish), ".5");
  EXPECT_EQ(FormatFloat("000", 7, kEnglish), "007");
  EXPECT_EQ(FormatFloat("0.00", -1.5, kEnglish), "-1.50");
  EXPECT_EQ(FormatFloat("0.00", 1.5, kGerman), "1,50");
  EXPECT_EQ(FormatFloat("#,##0.00 'DA'", 1234.5, kEnglish), "1,234.50 DA");
  EXPECT_EQ(FormatFloat("0;-0;'zero'", 0, kEnglish), "zero");
  // A negative value that rounds to nothing carries no sign.
  EXPECT_EQ(FormatFloat("0", -0.2, kEnglish), "0");
}

TEST(FormatFloat, NonFiniteValuesDoNotCrash) {
  EXPECT_EQ(FormatFloat(",0", std::numeric_limits<double>::infinity(), kEnglish), "INF");
  EXPECT_EQ(FormatFloat(",0", std::numeric_limits<double>::quiet_NaN(), kEnglish), "NAN");
  // The largest double prints all its integer digits.
  QString big = FormatFloat("0", 1.7976931348623157e308, kEnglish);
  EXPECT_EQ(big.size(), 309);
  EXPECT_TRUE(big.startsWith("17976931348623157"));
}

class NumericEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* layout = new QVBoxLayout(&window_);
    edit_ = new TNumericEdit(&window_);
    edit_->SetFormatLocale(kEnglish);
    other_ = new QLineEdit(&window_);
    layout->addWidget(edit_);
    layout->addWidget(other_);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    other_->setFocus();
    ASSERT_EVENTUALLY(other_->hasFocus());
  }

  void Type(const QString& text) {
    edit_->setFocus();
    ASSERT_EVENTUALLY(edit_->hasFocus());
    QTest::keyClicks(edit_, text);
    other_->setFocus();
    ASSERT_EVENTUALLY(!edit_->hasFocus());
  }

  QWidget window_;
  TNumericEdit* edit_ = nullptr;
  QLineEdit* other_ = nullptr;
};

TEST_F(NumericEditTest, ShowsTheDisplayFormatOnlyWithoutFocus) {
  EXPECT_EQ(edit_->DisplayFormat(), ",0;(,0)");
  Type("1500000");
  EXPECT_EQ(edit_->text(), "1,500,000");
  ASSERT_TRUE(edit_->Value().has_value());
  EXPECT_EQ(*edit_->Value(), 1500000);
  edit_->setFocus();
  ASSERT_EVENTUALLY(edit_->hasFocus());
  EXPECT_EQ(edit_->text(), "1500000");
  other_->setFocus();
  ASSERT_EVENTUALLY(!edit_->hasFocus());
  EXPECT_EQ(edit_->text(), "1,500,000");
}

TEST_F(NumericEditTest, NegativeValueInParentheses) {
  Type("-25000");
  EXPECT_EQ(edit_->text(), "(25,000)");
  edit_->setFocus();
  ASSERT_EVENTUALLY(edit_->hasFocus());
  EXPECT_EQ(edit_->text(), "-25000");
}

TEST_F(NumericEditTest, RefusesLettersAndKeepsEmptyEmpty) {
  Type("12a3b");
  EXPECT_EQ(edit_->text(), "123");
  edit_->setFocus();
  ASSERT_EVENTUALLY(edit_->hasFocus());
  edit_->selectAll();
  QTest::keyClick(edit_, Qt::Key_Delete);
  other_->setFocus();
  ASSERT_EVENTUALLY(!edit_->hasFocus());
  EXPECT_EQ(edit_->text(), "");
  EXPECT_FALSE(edit_->Value().has_value());
  Type("-");
  EXPECT_EQ(edit_->text(), "");
  EXPECT_FALSE(edit_->Value().has_value());
}

TEST_F(NumericEditTest, DecimalsAreKeptButNotDisplayed) {
  Type("1234.6");
  EXPECT_EQ(edit_->text(), "1,235");
  EXPECT_DOUBLE_EQ(*edit_->Value(), 1234.6);
  edit_->setFocus();
  ASSERT_EVENTUALLY(edit_->hasFocus());
  EXPECT_EQ(edit_->text(), "1234.6");
}

TEST_F(NumericEditTest, HugeInputStaysFinite) {
  // 400 digits overflow a double: the value is dropped rather than shown as infinity.
  Type(QString(400, '9'));
  EXPECT_FALSE(edit_->Value().has_value());
  EXPECT_EQ(edit_->text(), "");
}

TEST_F(NumericEditTest, SetValueAndLocaleChangeRedisplay) {
  edit_->SetValue(1500000);
  EXPECT_EQ(edit_->text(), "1,500,000");
  edit_->SetFormatLocale(kGerman);
  EXPECT_EQ(edit_->text(), "1.500.000");
  edit_->SetValue(std::nullopt);
  EXPECT_EQ(edit_->text(), "");
}

}  // namespace
}  // namespace zq
