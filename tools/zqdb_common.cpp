#include "tools/zqdb_common.h"

#include <array>
#include <utility>

#include "dbengine/format/field_type.h"
#include "platform/codepage.h"

namespace zq::zqdb {

namespace {

constexpr std::array<std::pair<uint8_t, std::string_view>, 22> kTypeNames{{
    {ftString, "ftString"},       {ftSmallint, "ftSmallint"},     {ftInteger, "ftInteger"},
    {ftWord, "ftWord"},           {ftBoolean, "ftBoolean"},       {ftFloat, "ftFloat"},
    {ftCurrency, "ftCurrency"},   {ftDate, "ftDate"},             {ftTime, "ftTime"},
    {ftDateTime, "ftDateTime"},   {ftAutoInc, "ftAutoInc"},       {ftBlob, "ftBlob"},
    {ftMemo, "ftMemo"},           {ftGraphic, "ftGraphic"},       {ftFmtMemo, "ftFmtMemo"},
    {ftParadoxOle, "ftParadoxOle"}, {ftDBaseOle, "ftDBaseOle"},   {ftTypedBinary, "ftTypedBinary"},
    {ftOraBlob, "ftOraBlob"},     {ftOraClob, "ftOraClob"},       {ftFixedChar, "ftFixedChar"},
    {ftLargeint, "ftLargeint"},
}};

constexpr std::array<std::pair<TDbIndexOption, std::string_view>, 4> kOptionNames{{
    {tiPrimary, "primary"},
    {tiUnique, "unique"},
    {tiDescending, "descending"},
    {tiCaseInsensitive, "caseinsensitive"},
}};

}  // namespace

std::string ToAnsi(std::string_view utf8) {
  try {
    return Utf8ToCp1252(utf8);
  } catch (const ECodePageError& e) {
    throw EUsageError(e.Message());
  }
}

std::string ToUtf8(std::string_view ansi) { return Cp1252ToUtf8(ansi); }

std::optional<std::string_view> FieldTypeName(uint8_t type) {
  for (const auto& [code, name] : kTypeNames)
    if (code == type) return name;
  return std::nullopt;
}

std::optional<uint8_t> FieldTypeByName(std::string_view name) {
  for (const auto& [code, text] : kTypeNames)
    if (text == name) return code;
  return std::nullopt;
}

std::string FieldTypeNameList() {
  std::string list;
  for (const auto& [code, name] : kTypeNames) list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

std::string IndexOptionNameList() {
  std::string list;
  for (const auto& [bit, name] : kOptionNames) list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

std::optional<TDbIndexOptions> IndexOptionByName(std::string_view name) {
  for (const auto& [bit, text] : kOptionNames)
    if (text == name) return bit;
  return std::nullopt;
}

std::string_view IndexOptionName(TDbIndexOption option) {
  for (const auto& [bit, text] : kOptionNames)
    if (bit == option) return text;
  return {};
}

}  // namespace zq::zqdb
