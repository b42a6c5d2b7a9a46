// Text at the edge between the components (code page 1252 bytes) and Qt (UTF-16).
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace zq {

// Every byte has a character; the five positions 1252 leaves undefined map to the C1 controls.
QString FromAnsi(std::string_view text);

// Characters 1252 cannot hold take their best fit (the narrow no-break space of French number
// grouping becomes 0xA0, non-breaking hyphens '-', ...); what has none becomes '?'.
// unmapped, when given, receives the number of characters that had to become '?'.
std::string ToAnsi(const QString& text, int* unmapped = nullptr);

// The characters of text that code page 1252 cannot hold exactly (each once, in order of first
// appearance); empty when text survives ToAnsi and FromAnsi unchanged.
QString CharactersOutsideAnsi(const QString& text);

}  // namespace zq
