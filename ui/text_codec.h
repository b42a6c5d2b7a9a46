// Text at the edge between the components (code page 1252 bytes) and Qt (UTF-16).
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace zq {

// Every byte has a character; the five positions 1252 leaves undefined map to the C1 controls.
QString FromAnsi(std::string_view text);

// Characters 1252 cannot hold are best-fitted where the host would (no-break spaces of any width
// become 0xA0, typographic quotes and dashes their nearest form); anything else becomes '?'.
// unmapped, when given, receives the number of characters that had to become '?'.
std::string ToAnsi(const QString& text, int* unmapped = nullptr);

}  // namespace zq
