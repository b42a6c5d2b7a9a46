#include "ui/numeric_edit.h"

#include <QFocusEvent>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <cmath>
#include <limits>

namespace zq {
namespace {

QStringList SplitSections(const QString& format) {
  QStringList sections;
  QString current;
  QChar quote;
  for (QChar c : format) {
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
      current += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      current += c;
    } else if (c == ';') {
      sections << current;
      current.clear();
    } else {
      current += c;
    }
  }
  sections << current;
  return sections;
}

struct Section {
  QString prefix;
  QString suffix;
  int int_zeros = 0;       // '0' before the point
  int dec_zeros = 0;       // '0' after the point
  int dec_optional = 0;    // '#' after the point
  bool grouping = false;
  bool has_digits = false;
};

Section ParseSection(const QString& text) {
  Section s;
  bool after_point = false;
  QChar quote;
  for (QChar c : text) {
    if (!quote.isNull()) {
      if (c == quote) {
        quote = QChar();
      } else {
        (s.has_digits ? s.suffix : s.prefix) += c;
      }
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '0' || c == '#') {
      s.has_digits = true;
      s.suffix.clear();  // literals between placeholders are dropped: they belong to no digit
      if (after_point) {
        (c == '0' ? s.dec_zeros : s.dec_optional) += 1;
      } else if (c == '0') {
        ++s.int_zeros;
      }
    } else if (c == '.' && !after_point) {
      after_point = true;
      s.has_digits = true;
      s.suffix.clear();
    } else if (c == ',') {
      s.grouping = true;
      s.has_digits = true;
    } else {
      (s.has_digits ? s.suffix : s.prefix) += c;
    }
  }
  return s;
}

// Digits of |value| rounded half away from zero to decimals places, as "int" and "frac".
void Digits(double value, int decimals, QString& int_part, QString& frac_part) {
  double a = std::fabs(value);
  QString fixed;
  double scale = std::pow(10.0, decimals);
  if (a * scale < 9007199254740992.0) {
    double scaled = std::round(a * scale);  // std::round: halves away from zero
    fixed = QString::number(scaled, 'f', 0);
    if (decimals > 0) {
      while (fixed.size() <= decimals) fixed.prepend('0');
      int_part = fixed.left(fixed.size() - decimals);
      frac_part = fixed.right(decimals);
      return;
    }
    int_part = fixed;
    frac_part.clear();
    return;
  }
  fixed = QString::number(a, 'f', decimals);
  int point = static_cast<int>(fixed.indexOf('.'));
  int_part = point < 0 ? fixed : fixed.left(point);
  frac_part = point < 0 ? QString() : fixed.mid(point + 1);
}

QString Render(const Section& s, double abs_value, const QLocale& locale) {
  int decimals = s.dec_zeros + s.dec_optional;
  QString int_part;
  QString frac_part;
  Digits(abs_value, decimals, int_part, frac_part);
  // Integer digits: strip leading zeros, then pad to the '0' placeholders.
  while (int_part.size() > 1 && int_part.startsWith('0')) int_part.remove(0, 1);
  if (int_part == "0" && s.int_zeros == 0) int_part.clear();
  while (int_part.size() < s.int_zeros) int_part.prepend('0');
  if (s.grouping && int_part.size() > 3) {
    QString grouped;
    qsizetype n = int_part.size();
    for (qsizetype i = 0; i < n; ++i) {
      if (i > 0 && (n - i) % 3 == 0) grouped += locale.groupSeparator();
      grouped += int_part.at(i);
    }
    int_part = grouped;
  }
  // Optional decimals drop their trailing zeros.
  while (frac_part.size() > s.dec_zeros && frac_part.endsWith('0')) frac_part.chop(1);
  QString number = int_part;
  if (!frac_part.isEmpty()) number += locale.decimalPoint() + frac_part;
  return s.prefix + number + s.suffix;
}

}  // namespace

QString FormatFloat(const QString& format, double value, const QLocale& locale) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  QStringList sections = SplitSections(format);
  if (format.isEmpty()) return locale.toString(value, 'g', 15);
  Section positive = ParseSection(sections.value(0));
  if (value == 0 && sections.size() >= 3 && !sections[2].isEmpty())
    return Render(ParseSection(sections[2]), 0, locale);
  if (value < 0) {
    if (sections.size() >= 2 && !sections[1].isEmpty())
      return Render(ParseSection(sections[1]), -value, locale);
    QString text = Render(positive, -value, locale);
    // A value that rounds to zero shows no sign.
    Section probe = positive;
    probe.prefix.clear();
    probe.suffix.clear();
    QString digits = Render(probe, -value, locale);
    bool all_zero = !digits.contains(QRegularExpression("[1-9]"));
    return all_zero ? text : locale.negativeSign() + text;
  }
  return Render(positive, value, locale);
}

TNumericEdit::TNumericEdit(QWidget* parent) : TEnterEdit(parent) {
  // Sign, digits and one decimal point (the locale's, or '.'); checked while typing.
  setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*([.,][0-9]*)?")), this));
  SetMaxLength(0);
}

void TNumericEdit::SetDisplayFormat(const QString& value) {
  display_format_ = value;
  if (!editing_) ShowValue();
}

void TNumericEdit::SetFormatLocale(const QLocale& value) {
  locale_ = value;
  if (!editing_) ShowValue();
}

void TNumericEdit::SetValue(std::optional<double> value) {
  if (value && !std::isfinite(*value)) value.reset();
  value_ = value;
  if (editing_) {
    setText(PlainText());
  } else {
    ShowValue();
  }
}

QString TNumericEdit::DisplayText() const {
  return value_ ? FormatFloat(display_format_, *value_, locale_) : QString();
}

QString TNumericEdit::PlainText() const {
  if (!value_) return QString();
  QLocale plain = locale_;
  plain.setNumberOptions(QLocale::OmitGroupSeparator);
  return plain.toString(*value_, 'f', QLocale::FloatingPointShortest);
}

void TNumericEdit::ShowValue() { setText(DisplayText()); }

void TNumericEdit::Commit() {
  QString t = text().trimmed();
  t.replace(locale_.decimalPoint(), QStringLiteral("."));
  t.replace(',', '.');
  bool ok = false;
  double v = t.toDouble(&ok);
  if (ok && std::isfinite(v)) {
    value_ = v;
  } else {
    value_.reset();  // empty, a lone sign or point, or beyond the range of a double
  }
}

void TNumericEdit::focusInEvent(QFocusEvent* event) {
  if (!editing_) {
    editing_ = true;
    setText(PlainText());
  }
  TEnterEdit::focusInEvent(event);
}

void TNumericEdit::focusOutEvent(QFocusEvent* event) {
  TEnterEdit::focusOutEvent(event);
  // A popup (context menu) taking the focus keeps the edit in editing state.
  if (event->reason() == Qt::PopupFocusReason) return;
  editing_ = false;
  Commit();
  ShowValue();
}

}  // namespace zq
