#include "dbengine/expr_parser.h"

#include "dbengine/db_error.h"

namespace zq {

void TExprParserBase::Parse(const std::string& text) {
  nodes_.Clear();
  SetText(text);
  try {
    NextToken();
    TExprNode* root = ParseExpression();
    if (Token() != etEnd) throw EDatabaseError("Filter expression incorrectly terminated");
    CheckRoot(*root);
    nodes_.Root = root;
  } catch (...) {
    nodes_.Clear();
    throw;
  }
}

Variant TExprParserBase::Evaluate(TFilterOptions options) {
  if (nodes_.Root == nullptr) return Variant(true);
  EvaluateNode(*nodes_.Root, options);
  return Variant(nodes_.Root->AsBoolean());
}

}  // namespace zq
