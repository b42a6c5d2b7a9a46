#include "dbengine/filter/expr_node.h"

#include <cstring>

namespace zq {

size_t StoredWidth(TFieldType type) {
  switch (type) {
    case ftBoolean:
      return 1;
    case ftSmallint:
    case ftWord:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return 8;
    default:
      return 0;
  }
}

namespace {

template <class T>
T ReadAs(const std::vector<uint8_t>& data) {
  T value{};
  if (data.size() >= sizeof(T)) std::memcpy(&value, data.data(), sizeof(T));
  return value;
}

template <class T>
void WriteAs(std::vector<uint8_t>& data, T value) {
  data.resize(sizeof(T));
  std::memcpy(data.data(), &value, sizeof(T));
}

}  // namespace

int64_t TExprNode::AsInt64() const {
  switch (DataType) {
    case ftSmallint:
      return ReadAs<int16_t>(Data);
    case ftWord:
      return ReadAs<uint16_t>(Data);
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return ReadAs<int32_t>(Data);
    case ftLargeint:
      return ReadAs<int64_t>(Data);
    case ftBoolean:
      return AsBoolean() ? 1 : 0;
    default:
      return 0;
  }
}

double TExprNode::AsDouble() const {
  switch (DataType) {
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return ReadAs<double>(Data);
    default:
      return static_cast<double>(AsInt64());
  }
}

bool TExprNode::AsBoolean() const { return !Data.empty() && Data[0] != 0; }

std::string TExprNode::AsString() const {
  if (Data.empty()) return std::string();
  const auto* begin = reinterpret_cast<const char*>(Data.data());
  const void* nul = std::memchr(begin, 0, Data.size());
  const size_t length = nul ? static_cast<const char*>(nul) - begin : Data.size();
  return std::string(begin, length);
}

void TExprNode::SetInt(TFieldType type, int64_t value) {
  DataType = type;
  // Narrowing keeps the low bits, as integer arithmetic of that width would.
  switch (type) {
    case ftSmallint:
      WriteAs<int16_t>(Data, static_cast<int16_t>(value));
      break;
    case ftWord:
      WriteAs<uint16_t>(Data, static_cast<uint16_t>(value));
      break;
    case ftLargeint:
      WriteAs<int64_t>(Data, value);
      break;
    case ftBoolean:
      SetBoolean(value != 0);
      break;
    default:
      WriteAs<int32_t>(Data, static_cast<int32_t>(value));
      break;
  }
}

void TExprNode::SetDouble(TFieldType type, double value) {
  DataType = type;
  WriteAs<double>(Data, value);
}

void TExprNode::SetBoolean(bool value) {
  DataType = ftBoolean;
  Data.assign(1, value ? 1 : 0);
}

void TExprNode::SetString(const std::string& value) {
  Data.assign(value.begin(), value.end());
  Data.push_back(0);
}

TExprNode* TExprNodes::NewNode(TExprNodeKind kind) {
  nodes_.push_back(std::make_unique<TExprNode>());
  nodes_.back()->Kind = kind;
  return nodes_.back().get();
}

void TExprNodes::Clear() {
  Root = nullptr;
  nodes_.clear();
}

}  // namespace zq
