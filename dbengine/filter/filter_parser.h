// Filter expressions of a data set: the grammar, the type rules and the evaluation of the
// operators and functions over the fields of the owning data set.
//
// Grammar, lowest precedence first:
//   expression := term { OR term }
//   term       := factor { AND factor }
//   factor     := [ NOT ] comparison
//   comparison := sum [ (= | <> | < | > | <= | >=) sum | LIKE sum | IN ( expression {, expression} ) ]
//   sum        := product { (+ | -) product }
//   product    := primary { (* | /) primary }
//   primary    := function ( [args] ) | True | False | field | number | 'string' | ( expression )
// Functions: UPPER LOWER SUBSTRING TRIM TRIMLEFT TRIMRIGHT YEAR MONTH DAY HOUR MINUTE SECOND
// GETDATE. Keywords, function names and field names ignore case.
//
// Types are checked while parsing; every combination without a meaning, a non-boolean result and
// a calculated or lookup field fail with "Type mismatch in expression".
//
// Use from a data set:
//   TFilterParser parser(source);       // source: the data set's TFilterFieldSource
//   parser.Parse(Filter());             // raises EDatabaseError on a bad text
//   for each row: make it current; if (parser.Evaluate(FilterOptions()).get<bool>()) accept
#pragma once

#include <string>

#include "dbengine/filter/expr_parser.h"
#include "dbengine/filter/filter_source.h"

namespace zq {

class TFilterParser : public TExprParserBase {
 public:
  explicit TFilterParser(TFilterFieldSource& source) : source_(source) {}

 protected:
  TExprNode* ParseExpression() override;
  void EvaluateNode(TExprNode& node, TFilterOptions options) override;
  void CheckRoot(TExprNode& root) override;

 private:
  struct NestingGuard;

  TExprNode* ParseTerm();
  TExprNode* ParseFactor();
  TExprNode* ParseComparison();
  TExprNode* ParseSum();
  TExprNode* ParseProduct();
  TExprNode* ParsePrimary();
  TExprNode* ParseFunction(const std::string& name, int function);
  // Reads "( expression {, expression} )" after a function name or IN into `list`.
  void ParseList(std::vector<TExprNode*>& list, bool allow_empty);

  TExprNode* NewOperator(TExprOperator op, TExprNode* left, TExprNode* right);
  TExprNode* NewField(const std::string& name);
  TExprNode* NewNumber(const std::string& text);

  // Type rules; each raises "Type mismatch in expression" when the operands do not fit.
  void CheckComparison(TExprOperator op, TExprNode*& left, TExprNode*& right);
  void CheckArithmetic(TExprNode& node);
  void CheckFunction(TExprNode& node);

  // Evaluation helpers.
  bool Compare(TExprOperator op, TExprNode& left, TExprNode& right, TFilterOptions options);
  bool Equal(TExprNode& left, TExprNode& right, TFilterOptions options);
  bool Less(TExprNode& left, TExprNode& right, TFilterOptions options);
  bool Greater(TExprNode& left, TExprNode& right, TFilterOptions options);
  int CompareNodes(TExprNode& left, TExprNode& right, TFilterOptions options);
  void EvaluateArithmetic(TExprNode& node);
  void EvaluateFunction(TExprNode& node);
  void LoadField(TExprNode& node);

  TFilterFieldSource& source_;
  int nesting_ = 0;
};

}  // namespace zq
