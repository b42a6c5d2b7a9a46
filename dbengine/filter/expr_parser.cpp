#include "dbengine/filter/expr_parser.h"

#include <utility>

#include "dbengine/format/db_error.h"

namespace zq {

void TExprParserBase::Parse(const std::string& text) {
  building_.Clear();
  SetText(text);
  try {
    NextToken();
    TExprNode* root = ParseExpression();
    if (Token() != etEnd) throw EDatabaseError("Filter expression incorrectly terminated");
    CheckRoot(*root);
    building_.Root = root;
  } catch (...) {
    building_.Clear();
    throw;
  }
  std::swap(nodes_, building_);
  building_.Clear();
}

void TExprParserBase::Clear() {
  nodes_.Clear();
  building_.Clear();
}

Variant TExprParserBase::Evaluate(TFilterOptions options) {
  if (nodes_.Root == nullptr) return Variant(true);
  EvaluateNode(*nodes_.Root, options);
  return Variant(nodes_.Root->AsBoolean());
}

}  // namespace zq
