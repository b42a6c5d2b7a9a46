// Nodes of a parsed filter expression and the list that owns them.
//
// A node holds its value in the stored form of its data type, the same form the record buffer
// uses: ftSmallint/ftWord 2 bytes, ftInteger/ftAutoInc 4, ftLargeint 8, ftFloat/ftCurrency 8-byte
// double, ftBoolean 1 byte, strings NUL-terminated, ftDate the int32 day number, ftTime int32
// milliseconds since midnight, ftDateTime 8-byte double milliseconds of the time stamp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/format/field_type.h"

namespace zq {

enum TExprNodeKind : uint8_t { enField = 0, enConst = 1, enFunc = 2, enOperator = 3 };

enum TExprOperator : uint8_t {
  coNOTDEFINED = 0,
  coEQ = 3,
  coNE = 4,
  coGT = 5,
  coLT = 6,
  coGE = 7,
  coLE = 8,
  coNOT = 9,
  coAND = 10,
  coOR = 11,
  coADD = 12,
  coSUB = 13,
  coMUL = 14,
  coDIV = 15,
  coLIKE = 17,
  coIN = 18,
};

enum TExprFunction : uint8_t {
  fnNone = 0,
  fnUpper = 1,
  fnLower = 2,
  fnSubstring = 3,
  fnTrim = 4,
  fnTrimLeft = 5,
  fnTrimRight = 6,
  fnYear = 7,
  fnMonth = 8,
  fnDay = 9,
  fnHour = 10,
  fnMinute = 11,
  fnSecond = 12,
  fnGetDate = 13,
};

class TExprNode {
 public:
  TExprNodeKind Kind = enConst;
  TExprOperator Operator = coNOTDEFINED;
  TExprFunction Function = fnNone;
  std::string Name;              // field or function name
  std::vector<uint8_t> Data;     // value in stored form
  TExprNode* Left = nullptr;
  TExprNode* Right = nullptr;
  std::vector<TExprNode*> ArgList;  // function arguments or the IN list
  TFieldType DataType = ftUnknown;
  bool IsBlobField = false;
  int FieldIndex = -1;           // position in the data set's field list (field nodes)
  int PartialLength = -1;        // string constants: characters before the first '*', else -1
  int Depth = 1;                 // height of the subtree rooted here

  // Typed access to the stored value. Readers give 0 / empty when the value is shorter.
  int64_t AsInt64() const;       // integer kinds and ftDate/ftTime by their stored width
  double AsDouble() const;       // any numeric or date/time kind as a number
  bool AsBoolean() const;        // first byte non-zero
  std::string AsString() const;  // up to the first NUL

  void SetInt(TFieldType type, int64_t value);  // stores in the width of `type`
  void SetDouble(TFieldType type, double value);
  void SetBoolean(bool value);
  void SetString(const std::string& value);
};

// Owns every node of one parsed expression.
class TExprNodes {
 public:
  TExprNode* NewNode(TExprNodeKind kind);
  void Clear();
  size_t Count() const { return nodes_.size(); }
  TExprNode* Root = nullptr;

 private:
  std::vector<std::unique_ptr<TExprNode>> nodes_;
};

// Byte width of the stored form of a non-string type (0 for strings and unknown types).
size_t StoredWidth(TFieldType type);

}  // namespace zq
