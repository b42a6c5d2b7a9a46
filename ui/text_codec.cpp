#include "ui/text_codec.h"

#include <QList>

#include "platform/codepage.h"

namespace zq {

QString FromAnsi(std::string_view text) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  // Every 1252 character lies in the basic plane: one UTF-16 unit each.
  for (char ch : text) out.append(QChar(static_cast<char16_t>(Cp1252ToUnicode(static_cast<uint8_t>(ch)))));
  return out;
}

std::string ToAnsi(const QString& text, int* unmapped) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  int misses = 0;
  for (char32_t cp : text.toUcs4()) {
    int direct = UnicodeToCp1252(cp);
    if (direct >= 0) {
      out.push_back(static_cast<char>(direct));
      continue;
    }
    std::string fit = BestFitCp1252(cp);
    if (fit == "?") ++misses;
    out += fit;
  }
  if (unmapped) *unmapped = misses;
  return out;
}

QString CharactersOutsideAnsi(const QString& text) {
  QList<char32_t> outside;
  for (char32_t cp : text.toUcs4()) {
    if (UnicodeToCp1252(cp) < 0 && !outside.contains(cp)) outside.append(cp);
  }
  return QString::fromUcs4(outside.constData(), outside.size());
}

}  // namespace zq
