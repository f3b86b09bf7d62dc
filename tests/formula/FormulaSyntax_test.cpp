#include "TestSupport.h"

#include <gtest/gtest.h>

namespace quire::formula {
namespace {

struct SyntaxCase {
    const char* text;
    size_t position;
    const char* message;  // expected tail of the error message
};

class SyntaxErrors : public testing::TestWithParam<SyntaxCase> {};

TEST_P(SyntaxErrors, NamePositionAndExpectation) {
    const SyntaxCase& c = GetParam();
    auto r = Formula::compile(c.text);
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.error().position, c.position) << r.error().message;
    EXPECT_EQ(r.error().message,
              "Formula error at position " + std::to_string(c.position) + ": " + std::string(c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Formula, SyntaxErrors,
    testing::Values(SyntaxCase{"@Left(Subject; 3", 17, "expected ')'"},
                    SyntaxCase{"1 +", 4, "expected a value, found end of formula"},
                    SyntaxCase{"\"abc", 1, "unterminated text: expected '\"'"},
                    SyntaxCase{"{abc", 1, "unterminated text: expected '}'"},
                    SyntaxCase{"a b", 3, "expected ';'"},
                    SyntaxCase{"@Nope(1)", 1, "unknown function @Nope"},
                    SyntaxCase{"@Left(\"a\")", 1, "@Left expects 2 arguments, got 1"},
                    SyntaxCase{"@If(1; 2)", 1, "@If expects an odd number (at least 3) of arguments, got 2"},
                    SyntaxCase{"@Date(1; 2)", 1, "@Date expects 1, 3 or 6 arguments, got 2"},
                    SyntaxCase{"@IsAvailable(\"x\")", 14, "@IsAvailable expects a field name"},
                    SyntaxCase{"x := [CN]", 6, "keyword [CN] is only allowed as an @function argument"},
                    SyntaxCase{"1 # 2", 3, "unexpected character '#'"},
                    SyntaxCase{"1e999", 1, "number out of range"},
                    SyntaxCase{"\"é\" + ", 7, "expected a value, found end of formula"},  // characters, not bytes
                    SyntaxCase{"@", 1, "expected a function name after '@'"},
                    SyntaxCase{")", 1, "expected a value, found ')'"}));

TEST(FormulaSyntax, DeepNestingIsRefusedNotAStackOverflow) {
    const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
    auto r = Formula::compile(deep);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Limit);

    for (const std::string& text : {std::string(50000, '-') + "1", std::string(50000, '!') + "1",
                                    [] {
                                        std::string s;
                                        for (int i = 0; i < 20000; ++i) s += "@Abs(";
                                        return s + "1" + std::string(20000, ')');
                                    }()})
        EXPECT_EQ(Formula::compile(text).error().kind, ErrorKind::Limit);

    const std::string fine = std::string(100, '(') + "1" + std::string(100, ')');
    EXPECT_TRUE(Formula::compile(fine).ok());
}

TEST(FormulaSyntax, LongFlatChainsAreNotNesting) {
    std::string sum = "0";
    std::string list = "\"a\"";
    for (int i = 0; i < 20000; ++i) {
        sum += " + 1";
        list += " : \"a\"";
    }
    EXPECT_EQ(test::eval(sum), "20000");
    EXPECT_EQ(test::eval("@Elements(" + list + ")"), "20001");
}

TEST(FormulaSyntax, KeywordsAndFunctionsIgnoreCase) {
    EXPECT_EQ(test::eval("select @UPPERCASE(\"a\") = \"A\""), "1");
    EXPECT_EQ(test::eval("x := 2; X * 3"), "6");
    EXPECT_EQ(test::eval("Rem \"a comment\"; 5"), "5");
    EXPECT_EQ(test::eval("@now = @NOW()"), "1");
}

TEST(FormulaSyntax, TextLiteralEscapes) {
    EXPECT_EQ(test::eval(R"("say \"hi\"")"), R"("say "hi"")");
    EXPECT_EQ(test::eval(R"({a "quoted" \} brace})"), R"("a "quoted" } brace")");
    EXPECT_EQ(test::eval(R"("back\\slash")"), R"("back\slash")");
}

TEST(FormulaSyntax, NumbersInAllForms) {
    EXPECT_EQ(test::eval("12 : 1.5 : .5 : 2e-3 : 1E3"), "12 : 1.5 : 0.5 : 0.002 : 1000");
}

TEST(FormulaSyntax, ReportsWhatItReadsAndWrites) {
    auto r = Formula::compile("x := Subject; FIELD Total := Amount * 2; SELECT x = \"a\" & subject != \"\" & AMOUNT > 1");
    ASSERT_TRUE(r.ok()) << r.error().message;
    const Formula& f = r.value();
    EXPECT_EQ(f.fieldsRead(), (std::vector<std::string>{"Subject", "Amount"}));
    EXPECT_EQ(f.fieldsWritten(), (std::vector<std::string>{"Total"}));
    EXPECT_TRUE(f.hasSelect());
    EXPECT_TRUE(f.modifiesFields());
    EXPECT_FALSE(f.selectsAll());
    EXPECT_FALSE(f.simpleField());
}

TEST(FormulaSyntax, RecognisesTrivialFormulas) {
    MapContext doc;
    EXPECT_TRUE(Formula().selectsAll());
    EXPECT_TRUE(Formula().selects(doc).value());
    EXPECT_TRUE(Formula::compile("").value().selectsAll());
    EXPECT_TRUE(Formula::compile("  ;  ").value().selectsAll());
    EXPECT_TRUE(Formula::compile("SELECT @All").value().selectsAll());
    EXPECT_TRUE(Formula::compile("select @true;").value().selectsAll());
    EXPECT_FALSE(Formula::compile("SELECT 0").value().selectsAll());
    EXPECT_EQ(Formula::compile("Subject").value().simpleField(), "Subject");
    EXPECT_EQ(Formula::compile("SELECT Flag").value().simpleField(), "Flag");
    EXPECT_FALSE(Formula::compile("x := 1; x").value().simpleField());
}

TEST(FormulaSyntax, AssignmentRightSideStillReadsTheField) {
    MapContext ctx;
    ctx.set("x", Value(10.0));
    EXPECT_EQ(test::eval("x := x + 1; x * 2", ctx), "22");
}

}  // namespace
}  // namespace quire::formula
