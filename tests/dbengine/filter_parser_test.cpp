// Grammar, node construction, type rules and parse messages of filter expressions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "filter_test_fixture.h"

namespace zq {
namespace {

using testing::FilterTest;

using FilterParse = FilterTest;

TEST_F(FilterParse, EveryMessageHasATextThatProvokesIt) {
  EXPECT_EQ(ParseError("Qty = 1 2"), "Filter expression incorrectly terminated");
  EXPECT_EQ(ParseError("Qty = 1 = 2"), "Filter expression incorrectly terminated");
  EXPECT_EQ(ParseError("(Qty = 1))"), "Filter expression incorrectly terminated");
  EXPECT_EQ(ParseError("[Qty = 1"), "Unterminated field name");
  EXPECT_EQ(ParseError("Name = 'abc"), "Unterminated string constant");
  EXPECT_EQ(ParseError("Qty = 1 # 2"), "Invalid filter expression character: '#'");
  EXPECT_EQ(ParseError("Qty = 1 /* unclosed"), "Invalid filter expression character: ''");
  EXPECT_EQ(ParseError("City IN 'a'"), "'(' expected but 'a' found");
  EXPECT_EQ(ParseError("City IN"), "'(' expected but nothing found");
  EXPECT_EQ(ParseError("(Qty = 1"), "')' expected but nothing found");
  EXPECT_EQ(ParseError("(Qty = 1 'x'"), "')' expected but 'x' found");
  EXPECT_EQ(ParseError("(Qty = 1 '%s'"), "')' expected but '%s' found");  // shown as it is
  EXPECT_EQ(ParseError("City IN ('a'"), "')' expected but nothing found");
  EXPECT_EQ(ParseError("City IN ('a',"), "')' expected but nothing found");
  EXPECT_EQ(ParseError("UPPER(Name"), "')' expected but nothing found");
  EXPECT_EQ(ParseError("UPPER(Name,"), "')' expected but nothing found");
  EXPECT_EQ(ParseError("City IN ('a' 'b')"), "')' or ',' expected but 'b' found");
  EXPECT_EQ(ParseError("UPPER(Name Qty) = 'A'"), "')' or ',' expected but 'Qty' found");
  EXPECT_EQ(ParseError("Qty ="), "Expression expected but nothing found");
  EXPECT_EQ(ParseError(""), "Expression expected but nothing found");
  EXPECT_EQ(ParseError("= 1"), "Expression expected but '=' found");
  EXPECT_EQ(ParseError("Qty = )"), "Expression expected but ')' found");
  EXPECT_EQ(ParseError("City IN ('a', )"), "Expression expected but ')' found");
  EXPECT_EQ(ParseError("Active > False"), "Type mismatch in expression");
  EXPECT_EQ(ParseError("City IN ()"), "IN predicate list may not be empty");
  EXPECT_EQ(ParseError("Nope = 1"), "Field 'Nope' not found");
  EXPECT_EQ(ParseError("[No such] = 1"), "Field 'No such' not found");
  // Conversion errors of constants.
  EXPECT_EQ(ParseError("Qty = 1.2.3"), "'1.2.3' is not a valid floating point value");
  EXPECT_EQ(ParseError("Qty = 1e"), "'1e' is not a valid floating point value");
  EXPECT_EQ(ParseError("Qty = 1e999"), "'1e999' is not a valid floating point value");
  EXPECT_EQ(ParseError("Qty = -Qty"), "'-' is not a valid floating point value");
  EXPECT_EQ(ParseError("Birth = 'hello'"), "'hello' is not a valid date");
  EXPECT_EQ(ParseError("AtTime = '25:00'"), "'25:00' is not a valid time");
  EXPECT_EQ(ParseError("Stamp = '2/30/2020'"), "'2/30/2020' is not a valid date and time");
}

TEST_F(FilterParse, AFailedParseKeepsThePreviousExpression) {
  source.SetRaw<int32_t>("Qty", 2);
  parser.Parse("Qty = 1");
  ASSERT_TRUE(parser.HasExpression());
  const size_t count = parser.Nodes().Count();
  for (const char* bad : {"Qty = ", "Qty = 'x'", "Nope = 2", "(Qty = 2", "Qty = 2 #"}) {
    EXPECT_NE(ParseError(bad), "") << bad;
    EXPECT_TRUE(parser.HasExpression()) << bad;
    EXPECT_EQ(parser.Nodes().Count(), count) << bad;
    EXPECT_FALSE(parser.Evaluate({}).get<bool>()) << bad;  // still Qty = 1
  }
  parser.Parse("Qty = 2");
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
  // Without an expression every row passes.
  parser.Clear();
  EXPECT_FALSE(parser.HasExpression());
  EXPECT_EQ(parser.Nodes().Count(), 0u);
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
  TFilterParser fresh(source);
  EXPECT_TRUE(fresh.Evaluate({}).get<bool>());
}

TEST_F(FilterParse, PrecedenceAndAssociativity) {
  parser.Parse("Flag = True AND Price > 0");
  const TExprNode* root = parser.Root();
  ASSERT_EQ(root->Kind, enOperator);
  EXPECT_EQ(root->Operator, coAND);
  EXPECT_EQ(root->Left->Operator, coEQ);
  EXPECT_EQ(root->Left->Left->Kind, enField);
  EXPECT_EQ(root->Left->Left->Name, "Flag");
  EXPECT_EQ(root->Left->Right->Kind, enConst);
  EXPECT_EQ(root->Left->Right->DataType, ftBoolean);
  EXPECT_EQ(root->Right->Operator, coGT);

  // OR binds looser than AND; both associate to the left.
  parser.Parse("Flag OR Active AND Flag OR Active");
  root = parser.Root();
  EXPECT_EQ(root->Operator, coOR);
  EXPECT_EQ(root->Right->Kind, enField);
  EXPECT_EQ(root->Left->Operator, coOR);
  EXPECT_EQ(root->Left->Right->Operator, coAND);

  // NOT applies to the whole comparison.
  parser.Parse("NOT Qty = 1");
  EXPECT_EQ(parser.Root()->Operator, coNOT);
  EXPECT_EQ(parser.Root()->Left->Operator, coEQ);

  // * before +, left to right: 1 + 2 * 3 - 4 is (1 + (2 * 3)) - 4.
  parser.Parse("1 + 2 * 3 - 4 = Qty");
  const TExprNode* sum = parser.Root()->Left;
  EXPECT_EQ(sum->Operator, coSUB);
  EXPECT_EQ(sum->Left->Operator, coADD);
  EXPECT_EQ(sum->Left->Right->Operator, coMUL);
}

TEST_F(FilterParse, OperatorCodes) {
  const std::pair<const char*, TExprOperator> cases[] = {
      {"Qty = 1", coEQ},  {"Qty <> 1", coNE}, {"Qty > 1", coGT},          {"Qty < 1", coLT},
      {"Qty >= 1", coGE}, {"Qty <= 1", coLE}, {"Name LIKE 'a%'", coLIKE}, {"Qty IN (1)", coIN},
      {"NOT Flag", coNOT}, {"Flag AND Active", coAND}, {"Flag OR Active", coOR},
  };
  for (const auto& [text, op] : cases) {
    parser.Parse(text);
    EXPECT_EQ(parser.Root()->Operator, op) << text;
    EXPECT_EQ(parser.Root()->DataType, ftBoolean) << text;
  }
  const std::pair<const char*, TExprOperator> arithmetic[] = {
      {"Qty + 1 = 0", coADD}, {"Qty - 1 = 0", coSUB}, {"Qty * 1 = 0", coMUL}, {"Qty / 1 = 0", coDIV}};
  for (const auto& [text, op] : arithmetic) {
    parser.Parse(text);
    EXPECT_EQ(parser.Root()->Left->Operator, op) << text;
  }
}

TEST_F(FilterParse, Constants) {
  parser.Parse("Qty = 5");
  const TExprNode* c = parser.Root()->Right;
  EXPECT_EQ(c->Kind, enConst);
  EXPECT_EQ(c->DataType, ftInteger);
  EXPECT_EQ(c->Data.size(), 4u);
  EXPECT_EQ(c->AsInt64(), 5);

  parser.Parse("Qty = -2147483648");
  EXPECT_EQ(parser.Root()->Right->DataType, ftInteger);
  EXPECT_EQ(parser.Root()->Right->AsInt64(), -2147483648LL);

  parser.Parse("Qty = 2147483648");  // beyond 32 bits: a float
  EXPECT_EQ(parser.Root()->Right->DataType, ftFloat);
  EXPECT_EQ(parser.Root()->Right->Data.size(), 8u);
  EXPECT_EQ(parser.Root()->Right->AsDouble(), 2147483648.0);

  parser.Parse("Price = 2.5e-1");
  EXPECT_EQ(parser.Root()->Right->DataType, ftFloat);
  EXPECT_EQ(parser.Root()->Right->AsDouble(), 0.25);

  parser.Parse("Flag = tRuE");
  EXPECT_EQ(parser.Root()->Right->DataType, ftBoolean);
  EXPECT_EQ(parser.Root()->Right->Data.size(), 1u);
  EXPECT_TRUE(parser.Root()->Right->AsBoolean());
  parser.Parse("Flag = FALSE");
  EXPECT_FALSE(parser.Root()->Right->AsBoolean());

  parser.Parse("Name = 'Sm*th*'");
  EXPECT_EQ(parser.Root()->Right->DataType, ftString);
  EXPECT_EQ(parser.Root()->Right->PartialLength, 2);
  EXPECT_EQ(parser.Root()->Right->AsString(), "Sm*th*");
  EXPECT_EQ(parser.Root()->Right->Data.back(), 0);  // stored zero-terminated
  parser.Parse("Name = 'Smith'");
  EXPECT_EQ(parser.Root()->Right->PartialLength, -1);

  // A literal longer than 256 characters keeps its first 256.
  parser.Parse("Name = '" + std::string(300, 'q') + "'");
  EXPECT_EQ(parser.Root()->Right->AsString(), std::string(256, 'q'));
}

TEST_F(FilterParse, CommaDecimalSeparator) {
  TFilterFormatSettings settings;
  settings.DecimalSeparator = ',';
  parser.SetFormatSettings(settings);
  parser.Parse("Price IN (1,5, 2)");
  ASSERT_EQ(parser.Root()->ArgList.size(), 2u);
  EXPECT_EQ(parser.Root()->ArgList[0]->AsDouble(), 1.5);
  EXPECT_EQ(parser.Root()->ArgList[1]->AsInt64(), 2);
}

TEST_F(FilterParse, FieldsFunctionsAndNames) {
  parser.Parse("[Name] = name");  // bracketed and bare, any case
  EXPECT_EQ(parser.Root()->Left->Kind, enField);
  EXPECT_EQ(parser.Root()->Right->Kind, enField);
  EXPECT_EQ(parser.Root()->Left->FieldIndex, source.IndexOf("Name"));
  EXPECT_FALSE(parser.Root()->Left->IsBlobField);
  parser.Parse("Memo = 'x'");
  EXPECT_TRUE(parser.Root()->Left->IsBlobField);
  // Names with accented letters need no brackets.
  parser.Parse("Soci\xE9t\xE9 = 'x'");
  EXPECT_EQ(parser.Root()->Left->FieldIndex, source.IndexOf("Soci\xE9t\xE9"));

  const std::pair<const char*, TExprFunction> functions[] = {
      {"upper(Name) = 'A'", fnUpper},          {"LOWER (Name) = 'a'", fnLower},
      {"SUBSTRING(Name, 1, 2) = 'ab'", fnSubstring}, {"TRIM(Name) = 'a'", fnTrim},
      {"TrimLeft(Name) = 'a'", fnTrimLeft},    {"TRIMRIGHT(Name) = 'a'", fnTrimRight},
      {"YEAR(Birth) = 1", fnYear},             {"MONTH(Stamp) = 1", fnMonth},
      {"DAY(Birth) = 1", fnDay},               {"HOUR(AtTime) = 1", fnHour},
      {"MINUTE(Stamp) = 1", fnMinute},         {"SECOND(AtTime) = 1", fnSecond},
  };
  for (const auto& [text, fn] : functions) {
    parser.Parse(text);
    EXPECT_EQ(parser.Root()->Left->Kind, enFunc) << text;
    EXPECT_EQ(parser.Root()->Left->Function, fn) << text;
  }
  // GETDATE becomes a date-time constant of the moment of parsing.
  const double before = DateTimeToDateTimeField(Now());
  parser.Parse("Stamp < GETDATE()");
  const double after = DateTimeToDateTimeField(Now());
  const TExprNode* now = parser.Root()->Right;
  EXPECT_EQ(now->Kind, enConst);
  EXPECT_EQ(now->DataType, ftDateTime);
  EXPECT_GE(now->AsDouble(), before);
  EXPECT_LE(now->AsDouble(), after);
  // A function name without '(' is a field name.
  EXPECT_EQ(ParseError("UPPER = 'x'"), "Field 'UPPER' not found");
  // A field name followed by '(' is no call.
  EXPECT_EQ(ParseError("Name ('x')"), "Filter expression incorrectly terminated");
}

TEST_F(FilterParse, ComparisonTypeRules) {
  const char* accepted[] = {
      "Small = Qty", "WordF < Big", "Id >= Price", "Cost <> Qty", "Big = 1.5",
      "Birth = Birth2", "Birth < Stamp", "AtTime > Stamp", "Stamp = Stamp", "Birth = AtTime",
      "AtTime = Birth", "Birth IN (AtTime, Stamp)",
      "Birth = '1/2/2003'", "'1/2/2003' = Birth", "AtTime < '10:30'", "Stamp >= '1/2/2003 4:05 PM'",
      "Name = City", "Name = 'x'", "'x' = Name", "Code < Wide", "Guid = Name", "Memo = Name",
      "Data = 'x'", "'a' = 'b'", "Flag = Active", "Flag <> True", "Name LIKE 'a%'",
      "Memo LIKE City", "Qty IN (1, 2.5, Big)", "Birth IN ('1/1/2000', Birth2, Stamp)",
      "Name IN ('a', City, Memo)", "Flag IN (True, Active)",
  };
  for (const char* text : accepted) EXPECT_EQ(ParseError(text), "") << text;
  const char* rejected[] = {
      "Qty = Name", "Name = 1", "Qty = '1'", "Birth = 1", "Qty = Birth", "AtTime = 1", "Flag = 1", "Flag = 'x'", "Flag > Active", "Flag < True", "Flag >= True",
      "Flag <= True", "Active > False", "Qty LIKE 'x'", "Name LIKE 1", "Birth LIKE '1/1/2000'",
      "Flag LIKE 'x'", "Qty IN (1, 'a')", "Birth IN (1)", "Flag IN (1)", "Name IN (Qty)",
      "Name = UPPER(Qty)",
  };
  for (const char* text : rejected) {
    EXPECT_EQ(ParseError(text), "Type mismatch in expression") << text;
  }
}

TEST_F(FilterParse, BooleanOperatorTypeRules) {
  EXPECT_EQ(ParseError("Flag AND Active OR NOT Flag"), "");
  for (const char* text : {"Qty AND Flag", "Flag AND Qty", "Flag OR 'x'", "Name OR Flag",
                           "NOT Qty", "NOT Name", "(Qty = 1) AND 1", "Qty = 1 OR Birth"}) {
    EXPECT_EQ(ParseError(text), "Type mismatch in expression") << text;
  }
}

TEST_F(FilterParse, NonBooleanRootsAreRejected) {
  for (const char* text : {"Qty", "Qty + 1", "'abc'", "UPPER(Name)", "Birth", "1", "GETDATE()"}) {
    EXPECT_EQ(ParseError(text), "Type mismatch in expression") << text;
  }
  EXPECT_EQ(ParseError("Flag"), "");
  EXPECT_EQ(ParseError("True"), "");
}

TEST_F(FilterParse, CalculatedAndUnreadableFieldsAreRejected) {
  EXPECT_EQ(ParseError("Calc = 1"), "Type mismatch in expression");
  EXPECT_EQ(ParseError("Raw = 'x'"), "Type mismatch in expression");
}

TEST_F(FilterParse, ArithmeticResultTypes) {
  const std::pair<const char*, TFieldType> cases[] = {
      {"Small + Small = 0", ftInteger},  {"Small + WordF = 0", ftInteger},
      {"WordF * WordF = 0", ftInteger},  {"Id - Qty = 0", ftInteger},
      {"Small + Big = 0", ftLargeint},   {"Big * Qty = 0", ftLargeint},
      {"Qty + Price = 0", ftFloat},      {"Big - Price = 0", ftFloat},
      {"Price + Cost = 0", ftCurrency},  {"Qty * Cost = 0", ftCurrency},
      {"Amount / 2 = 0", ftFloat},       {"Cost / Cost = 0", ftFloat},
      {"Big / 1 = 0", ftFloat},          {"Name + City = 'x'", ftString},
      {"Memo + 'x' = 'x'", ftString},    {"Birth - Birth2 = 0", ftInteger},
      {"Birth - 1 = 0", ftInteger},      {"Birth - 1.5 = 0", ftInteger},
      {"AtTime - AtTime = 0", ftInteger}, {"AtTime - 1000 = 0", ftInteger},
      {"Stamp - Stamp = 0", ftFloat},    {"Stamp - 1 = 0", ftFloat},
      {"Birth - Stamp = 0", ftFloat},    {"Stamp - AtTime = 0", ftFloat},
      {"Birth + 1 = Birth", ftDate},     {"AtTime + 1 = AtTime", ftTime},
      {"Stamp + 1.5 = Stamp", ftDateTime}, {"'1/1/2000' - Birth = 0", ftFloat},
      {"Birth - '1/1/2000' = 0", ftInteger}, {"AtTime - '1:00' = 0", ftInteger},
      {"Stamp - '1/1/2000' = 0", ftFloat},
  };
  for (const auto& [text, type] : cases) {
    ASSERT_EQ(ParseError(text), "") << text;
    EXPECT_EQ(parser.Root()->Left->DataType, type) << text;
  }
  // The date constant takes the type the rule names.
  parser.Parse("'1/1/2000' - Birth = 0");
  EXPECT_EQ(parser.Root()->Left->Left->DataType, ftDateTime);
  parser.Parse("Birth - '1/1/2000' = 0");
  EXPECT_EQ(parser.Root()->Left->Right->DataType, ftDate);
  EXPECT_EQ(parser.Root()->Left->Right->AsInt64(), *TryEncodeDayNumber(2000, 1, 1));

  for (const char* text : {"Name - City = 'x'", "Name * 2 = 0", "Qty + Name = 0", "1 + Birth = Birth",
                           "Birth * 2 = 0", "Birth / 2 = 0", "Birth + Birth2 = Birth",
                           "Birth + '1/1/2000' = Birth", "Flag + 1 = 0", "Flag - Flag = 0",
                           "Name - '1/1/2000' = 0", "Birth - Name = 0", "'x' - 1 = 0",
                           "Birth - Flag = 0", "Qty - Birth = 0"}) {
    EXPECT_EQ(ParseError(text), "Type mismatch in expression") << text;
  }
}

TEST_F(FilterParse, FunctionTypeRules) {
  for (const char* text : {"UPPER(Qty) = 'A'", "UPPER(Name, City) = 'A'", "UPPER() = 'A'",
                           "TRIM(Birth) = 'a'", "SUBSTRING(Name, 1) = 'a'",
                           "SUBSTRING(Name, Qty, 1) = 'a'", "SUBSTRING(Name, 1.5, 1) = 'a'",
                           "SUBSTRING(Qty, 1, 1) = 'a'", "SUBSTRING(Name, 1, '1') = 'a'",
                           "YEAR(AtTime) = 1", "YEAR(Name) = 1", "YEAR() = 1",
                           "MONTH(Qty) = 1", "HOUR(Birth) = 1", "SECOND(Name) = 1",
                           "GETDATE(1) > Stamp", "UPPER(Name) = 1", "YEAR(Birth) = 'x'"}) {
    EXPECT_EQ(ParseError(text), "Type mismatch in expression") << text;
  }
  for (const char* text : {"SUBSTRING(Memo, -1, 2) = 'a'", "UPPER(Memo) = 'A'",
                           "LOWER(UPPER(Name) + City) = 'a'", "YEAR(Stamp) + 1 = 2000",
                           "HOUR(Stamp) = MINUTE(AtTime)", "DAY(Birth) IN (1, 2)",
                           "GETDATE ( ) > Stamp"}) {
    EXPECT_EQ(ParseError(text), "") << text;
  }
}

TEST_F(FilterParse, ParsingAskedForEachFieldOnce) {
  parser.Parse("Qty = 1 AND Name = 'x' AND Qty < 5");
  EXPECT_EQ(source.lookups, 3);
  EXPECT_EQ(source.reads, 0);  // nothing is read until evaluation
}

}  // namespace
}  // namespace zq
