#include "TestSupport.h"

#include <gtest/gtest.h>

namespace quire::formula {
namespace {

using test::eval;

struct EvalCase {
    const char* text;
    const char* expected;  // Value::debugString() or "error: ..."
};

void PrintTo(const EvalCase& c, std::ostream* os) { *os << c.text; }

class Evaluates : public testing::TestWithParam<EvalCase> {};

TEST_P(Evaluates, ToExpectedValue) { EXPECT_EQ(eval(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    ListSemantics, Evaluates,
    testing::Values(EvalCase{"1 : 2 : 3 + 10", "11 : 12 : 13"},
                    EvalCase{"(1 : 2 : 3) + (10 : 20)", "11 : 22 : 23"},  // shorter list's last element extends
                    EvalCase{"\"a\" : \"b\" + \"x\"", "\"ax\" : \"bx\""},
                    EvalCase{"Tags + \"!\"", "\"red!\" : \"Green!\" : \"blue!\""},
                    EvalCase{"-Counts", "-1 : -2 : -3"},
                    EvalCase{"1 : -2", "1 : -2"},
                    EvalCase{"-1 : 2", "-1 : -2"},
                    EvalCase{"(1 : 2) = (3 : 2)", "1"},     // any pair matches
                    EvalCase{"(1 : 2) = (2 : 1)", "0"},     // pairwise, not permuted
                    EvalCase{"(1 : 2) *= (2 : 1)", "1"},    // permuted
                    EvalCase{"(1 : 2) != (1 : 2)", "0"},
                    EvalCase{"(1 : 2) *!= (1 : 2)", "1"},
                    EvalCase{"Tags = \"GREEN\"", "1"},      // collation ignores case
                    EvalCase{"\"résumé\" = \"resume\"", "0"},  // but not accents
                    EvalCase{"\"apple\" < \"Banana\"", "1"},
                    EvalCase{"!(1 : 0)", "0 : 1"},
                    EvalCase{"\"a\" : 1", "error: Formula error at position 7: ':' cannot join text with number"}));

INSTANTIATE_TEST_SUITE_P(
    Precedence, Evaluates,
    testing::Values(EvalCase{"2 + 3 * 4", "14"},
                    EvalCase{"(2 + 3) * 4", "20"},
                    EvalCase{"10 - 4 - 3", "3"},
                    EvalCase{"12 / 2 / 3", "2"},
                    EvalCase{"1 + 2 = 3", "1"},
                    EvalCase{"!1 = 2", "1"},                 // ! binds looser than =
                    EvalCase{"1 | 0 & 0", "0"},              // & and | share one level, left to right
                    EvalCase{"0 & 1 | 1", "1"},
                    EvalCase{"-2 * -3", "6"},
                    EvalCase{"--2", "2"},
                    EvalCase{"1 = 1 & 2 > 1", "1"}));

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, Evaluates,
    testing::Values(EvalCase{"0.1 + 0.2", "0.3"},
                    EvalCase{"1 / 0", "error: Formula error at position 3: division by zero"},
                    EvalCase{"1e308 * 10", "error: Formula error at position 7: numeric overflow"},
                    EvalCase{"Amount * 2", "25"},
                    EvalCase{"Due + 86400", "[2024-02-01]"},
                    EvalCase{"Due + 3600", "[2024-01-31 01:00:00.000]"},
                    EvalCase{"Due - Due", "0"},
                    EvalCase{"@Now - @Today", "52200"},
                    EvalCase{"@Date(2024; 3; 1) - @Date(2024; 2; 1)", "2505600"},
                    EvalCase{"@Date(9999; 12; 31) + 86400", "error: Formula error at position 21: date out of range"}));

INSTANTIATE_TEST_SUITE_P(
    TypeErrors, Evaluates,
    testing::Values(EvalCase{"\"a\" * 2", "error: Formula error at position 5: operator '*' cannot combine text with number"},
                    EvalCase{"Subject = 1", "error: Formula error at position 9: operator '=' cannot combine text with number"},
                    EvalCase{"-\"a\"", "error: Formula error at position 1: -: expected number, got text"},
                    EvalCase{"\"a\" & 1", "error: Formula error at position 1: &: expected number, got text"},
                    EvalCase{"@UpperCase(1)", "error: Formula error at position 1: @UpperCase: expected text, got number"},
                    EvalCase{"Missing + 1", "error: Formula error at position 9: operator '+' cannot combine text with number"}));

INSTANTIATE_TEST_SUITE_P(
    Statements, Evaluates,
    testing::Values(EvalCase{"", "\"\""},
                    EvalCase{"x := 5", "\"\""},
                    EvalCase{"x := 5; y := x * 2; y + 1", "11"},
                    EvalCase{"1; 2; 3", "3"},
                    EvalCase{"Missing", "\"\""},
                    EvalCase{"SELECT Form = \"Memo\"; \"shown\"", "\"shown\""}));

TEST(FormulaEval, LogicalOperatorsShortCircuit) {
    // The right side would be a type error if it were evaluated.
    EXPECT_EQ(eval("0 & \"x\""), "0");
    EXPECT_EQ(eval("1 | \"x\""), "1");
    EXPECT_EQ(eval("@If(1; 2; \"a\" * 2)"), "2");
}

TEST(FormulaEval, SelectionRules) {
    MapContext doc = test::sampleDocument();
    auto selects = [&](const char* text) {
        auto f = Formula::compile(text);
        EXPECT_TRUE(f.ok()) << text;
        auto r = f.value().selects(doc);
        EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().message);
        return r.ok() && r.value();
    };
    EXPECT_TRUE(selects(""));
    EXPECT_TRUE(selects("REM \"nothing\""));
    EXPECT_TRUE(selects("x := 0"));
    EXPECT_TRUE(selects("SELECT Form = \"memo\""));
    EXPECT_FALSE(selects("SELECT Form = \"Task\""));
    EXPECT_TRUE(selects("SELECT 0; SELECT 1"));  // the last SELECT decides
    EXPECT_TRUE(selects("Amount > 10"));         // without SELECT the value decides
    EXPECT_FALSE(selects("Amount > 100"));
    EXPECT_FALSE(selects("Subject"));            // text does not select
    EXPECT_TRUE(selects("SELECT Counts = 3"));

    auto r = Formula::compile("SELECT Subject").value().selects(doc);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Type);
    EXPECT_EQ(r.error().message, "Formula error at position 1: SELECT: expected number, got text");
}

TEST(FormulaEval, FieldAssignmentGoesThroughTheContext) {
    MapContext doc = test::sampleDocument();
    auto f = Formula::compile("FIELD Total := Amount * 2; FIELD Subject := @UpperCase(Subject); Total + 1");
    ASSERT_TRUE(f.ok());
    auto r = f.value().evaluate(doc);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r.value().debugString(), "26");
    EXPECT_EQ(doc.getField("TOTAL").debugString(), "25");
    EXPECT_EQ(doc.getField("subject").debugString(), "\"QUARTERLY REPORT\"");

    doc.readOnly_ = true;
    auto refused = f.value().evaluate(doc);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ErrorKind::Context);
}

TEST(FormulaEval, OneCompiledFormulaServesManyDocuments) {
    auto f = Formula::compile("SELECT @Contains(Subject; \"7\") | Amount >= 50");
    ASSERT_TRUE(f.ok());
    int selected = 0;
    for (int i = 0; i < 100; ++i) {
        MapContext doc;
        doc.set("Subject", Value("Document " + std::to_string(i)));
        doc.set("Amount", Value(static_cast<double>(i)));
        selected += f.value().selects(doc).value();
    }
    EXPECT_EQ(selected, 50 + 5);  // 50..99, plus 7, 17, 27, 37, 47
}

TEST(FormulaEval, RunawayValuesHitTheLimitInsteadOfMemory) {
    std::string text = "a := \"0123456789abcdef\"";
    for (int i = 0; i < 40; ++i) text += "; a := a + a";
    auto f = Formula::compile(text);
    ASSERT_TRUE(f.ok());
    MapContext ctx;
    auto r = f.value().evaluate(ctx);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Limit);

    std::string list = "a := 1 : 2";
    for (int i = 0; i < 14; ++i) list += "; a := a : a";  // 32768 elements
    auto permuted = Formula::compile(list + "; a *= a + 1e9").value().evaluate(ctx);
    ASSERT_FALSE(permuted.ok());
    EXPECT_EQ(permuted.error().kind, ErrorKind::Limit);
}

TEST(FormulaEval, ReplacementCannotExplode) {
    MapContext ctx;
    ctx.set("Big", Value(std::string(100000, 'a')));
    auto r = Formula::compile("@ReplaceSubstring(Big; \"a\"; Big)").value().evaluate(ctx);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Limit);
}

}  // namespace
}  // namespace quire::formula
