// Numeric edit box: while it has the focus it holds the plain number being typed; without the
// focus it shows the value through its display format (default ",0;(,0)": thousands grouped with
// the locale's separator, no decimals, negative values in parentheses). Enter moves to the next
// control like every edit box of the installer.
#pragma once

#include <QLocale>
#include <QString>
#include <optional>

#include "ui/enter_edit.h"

namespace zq {

// Formats value with a numeric format of up to three sections "positive;negative;zero". In a
// section: '0' is a digit always shown, '#' a digit shown when significant, '.' the decimal point,
// ',' anywhere among the digit placeholders turns on thousands grouping; text in quotes and every
// other character is copied. Without a negative section a negative value gets the locale's minus
// sign in front of the first section; the negative section formats the absolute value. Rounds
// half away from zero. Separators come from locale.
QString FormatFloat(const QString& format, double value, const QLocale& locale);

class TNumericEdit : public TEnterEdit {
  Q_OBJECT
 public:
  explicit TNumericEdit(QWidget* parent = nullptr);

  const QString& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(const QString& value);
  // The locale whose separators are used; QLocale() (the default locale) unless set.
  QLocale FormatLocale() const { return locale_; }
  void SetFormatLocale(const QLocale& value);

  // The value; empty when nothing (or only a sign) has been typed.
  std::optional<double> Value() const { return value_; }
  void SetValue(std::optional<double> value);

  // The text the control shows without the focus (empty for no value).
  QString DisplayText() const;

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Commit();
  QString PlainText() const;
  void ShowValue();

  QString display_format_ = QStringLiteral(",0;(,0)");
  QLocale locale_;
  std::optional<double> value_;
  bool editing_ = false;
};

}  // namespace zq
