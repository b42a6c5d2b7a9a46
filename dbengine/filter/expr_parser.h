// The parse and evaluation entries of an expression parser: owns the node list of the current
// expression; the grammar and the evaluation rules come from the subclass.
#pragma once

#include <string>

#include "dbengine/filter/expr_node.h"
#include "dbengine/filter/filter_source.h"
#include "dbengine/filter/syntax_parser.h"
#include "dbengine/format/variant.h"

namespace zq {

// Deepest nesting of parentheses, NOT, function calls and IN lists the grammar accepts, and the
// tallest expression tree (long operator chains build tall trees). Beyond either the parse fails
// with "Filter expression nested too deeply", so parsing and evaluation never exhaust the stack.
constexpr int kMaxExprNesting = 128;
constexpr int kMaxExprDepth = 1000;

class TExprParserBase : public TSyntaxParserBase {
 public:
  ~TExprParserBase() override = default;

  // Parses `text` and, when that succeeds, replaces the previous expression with it. A text that
  // fails (EDatabaseError with the reason) leaves the previous expression in force.
  void Parse(const std::string& text);
  // Evaluates the expression for the current record; a boolean Variant. Without a parsed
  // expression: true (nothing restricts the rows).
  Variant Evaluate(TFilterOptions options);

  // Drops the expression: every row passes again.
  void Clear();

  bool HasExpression() const { return nodes_.Root != nullptr; }
  const TExprNodes& Nodes() const { return nodes_; }
  const TExprNode* Root() const { return nodes_.Root; }

 protected:
  // Parses one expression at the current token (the tokenizer has read the first token).
  virtual TExprNode* ParseExpression() = 0;
  // Computes a node's value for the current record into node.Data.
  virtual void EvaluateNode(TExprNode& node, TFilterOptions options) = 0;
  // Checks a finished tree before it is kept.
  virtual void CheckRoot(TExprNode& root) = 0;

  // Nodes of the expression being parsed.
  TExprNode* NewNode(TExprNodeKind kind) { return building_.NewNode(kind); }

 private:
  TExprNodes nodes_;     // the expression in force
  TExprNodes building_;  // the one being parsed
};

}  // namespace zq
