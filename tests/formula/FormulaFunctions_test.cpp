// Every @function on its ordinary and edge values. The document is
// test::sampleDocument(): Subject "Quarterly Report", Tags red:Green:blue,
// Amount 12.5, Counts 1:2:3, Due 31 Jan 2024, Author
// CN=John Smith/OU=Sales/O=Acme/C=US, now 15 Mar 2024 14:30.
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace quire::formula {
namespace {

struct FunctionCase {
    const char* text;
    const char* expected;  // Value::debugString() or "error: ..."
};

void PrintTo(const FunctionCase& c, std::ostream* os) { *os << c.text; }

class Function : public testing::TestWithParam<FunctionCase> {};

TEST_P(Function, Evaluates) { EXPECT_EQ(test::eval(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Logic, Function,
    testing::Values(FunctionCase{"@All", "1"}, FunctionCase{"@True", "1"}, FunctionCase{"@False()", "0"},
                    FunctionCase{"@If(0; 1; 0; 2; 3)", "3"}, FunctionCase{"@If(0; 1; 1; 2; 3)", "2"},
                    FunctionCase{"@If(\"x\"; 1; 2)", "error: Formula error at position 5: @If: expected number, got text"},
                    FunctionCase{"@Do(1; \"two\")", "\"two\""},
                    FunctionCase{"@IsAvailable(Subject) : @IsAvailable(subject) : @IsAvailable(Nope)", "1 : 1 : 0"},
                    FunctionCase{"@IsUnavailable(Nope)", "1"},
                    FunctionCase{"@IsText(Missing) : @IsNumber(Amount) : @IsTime(Due) : @IsTime(Amount)",
                                 "1 : 1 : 1 : 0"}));

INSTANTIATE_TEST_SUITE_P(
    Search, Function,
    testing::Values(FunctionCase{"@Contains(Subject; \"Report\")", "1"},
                    FunctionCase{"@Contains(Subject; \"report\")", "0"},  // case-sensitive
                    FunctionCase{"@Contains(Tags; \"x\" : \"ree\")", "1"},
                    FunctionCase{"@Contains(Missing; \"a\")", "0"},
                    FunctionCase{"@Contains(Subject; \"\")", "1"},
                    FunctionCase{"@Begins(Subject; \"Quart\") : @Begins(Subject; \"Report\")", "1 : 0"},
                    FunctionCase{"@Ends(Tags; \"ue\") : @Ends(\"a\"; \"ba\")", "1 : 0"},
                    FunctionCase{"@Contains(Amount; \"1\")",
                                 "error: Formula error at position 1: @Contains: expected text, got number"}));

INSTANTIATE_TEST_SUITE_P(
    Substrings, Function,
    testing::Values(FunctionCase{"@Left(Subject; 3)", "\"Qua\""},
                    FunctionCase{"@Left(Subject; 99) : @Left(Subject; -1)", "\"Quarterly Report\" : \"\""},
                    FunctionCase{"@Left(Subject; \" \")", "\"Quarterly\""},
                    FunctionCase{"@Left(Subject; \"zz\")", "\"\""},
                    FunctionCase{"@Left(\"héllo\"; 2)", "\"hé\""},  // characters, not bytes
                    FunctionCase{"@Left(Tags; 1)", "\"r\" : \"G\" : \"b\""},
                    FunctionCase{"@Right(Subject; 6)", "\"Report\""},
                    FunctionCase{"@Right(\"a b c\"; \" \")", "\"b c\""},
                    FunctionCase{"@RightBack(\"a b c\"; \" \")", "\"c\""},
                    FunctionCase{"@LeftBack(\"a b c\"; \" \")", "\"a b\""},
                    FunctionCase{"@LeftBack(\"abcdef\"; 2) : @RightBack(\"abcdef\"; 2)", "\"abcd\" : \"cdef\""},
                    FunctionCase{"@Middle(\"North Carolina\"; 4; 5)", "\"h Car\""},
                    FunctionCase{"@Middle(\"North Carolina\"; 4; -2)", "\"rt\""},
                    FunctionCase{"@Middle(\"North Carolina\"; \"th\"; 4)", "\" Car\""},
                    FunctionCase{"@Middle(\"North Carolina\"; \"th\"; -3)", "\"Nor\""},
                    FunctionCase{"@Middle(\"[a]b\"; \"[\"; \"]\")", "\"a\""},
                    FunctionCase{"@Middle(\"key=value\"; \"=\"; \";\")", "\"value\""},
                    FunctionCase{"@Middle(\"abc\"; \"x\"; 2)", "\"\""},
                    FunctionCase{"@Middle(\"abc\"; 10; 2)", "\"\""},
                    FunctionCase{"@Length(\"\") : @Length(\"héllo\")", "0 : 5"},
                    FunctionCase{"@Length(Tags)", "3 : 5 : 4"},
                    FunctionCase{"@Word(\"a,b,,c\"; \",\"; 2) : @Word(\"a,b,,c\"; \",\"; 3)", "\"b\" : \"\""},
                    FunctionCase{"@Word(\"a b c\"; \" \"; -1) : @Word(\"a b c\"; \" \"; 9) : @Word(\"a b\"; \" \"; 0)",
                                 "\"c\" : \"\" : \"\""}));

INSTANTIATE_TEST_SUITE_P(
    CaseAndSpace, Function,
    testing::Values(FunctionCase{"@Trim(\"  a   b  \")", "\"a b\""},
                    FunctionCase{"@Trim(\" x \" : \"   \" : \"y\")", "\"x\" : \"y\""},
                    FunctionCase{"@Trim(\"  \" : \"\")", "\"\""},
                    FunctionCase{"@UpperCase(\"straße\")", "\"STRASSE\""},
                    FunctionCase{"@LowerCase(Tags)", "\"red\" : \"green\" : \"blue\""},
                    FunctionCase{"@ProperCase(\"jOHN o'neil SMITH\")", "\"John O'neil Smith\""},
                    FunctionCase{"@UpperCase(Missing)", "\"\""}));

INSTANTIATE_TEST_SUITE_P(
    SplitJoinReplace, Function,
    testing::Values(FunctionCase{"@Explode(\"a b,c;d\")", "\"a\" : \"b\" : \"c\" : \"d\""},
                    FunctionCase{"@Explode(\"a,,b\"; \",\")", "\"a\" : \"b\""},
                    FunctionCase{"@Explode(\"a,,b\"; \",\"; 1)", "\"a\" : \"\" : \"b\""},
                    FunctionCase{"@Explode(\"a\nb\"; \",\")", "\"a\" : \"b\""},  // a real newline
                    FunctionCase{"@Explode(\"a\nb\"; \",\"; 0; 0)", "\"a\nb\""},
                    FunctionCase{"@Explode(\"x·y\"; \"·\")", "\"x\" : \"y\""},
                    FunctionCase{"@Explode(\"\")", "\"\""},
                    FunctionCase{"@Elements(@Explode(\" , ; \"))", "0"},
                    FunctionCase{"@Implode(Tags)", "\"red Green blue\""},
                    FunctionCase{"@Implode(Tags; \", \")", "\"red, Green, blue\""},
                    FunctionCase{"@Implode(Counts)", "error: Formula error at position 1: @Implode: expected text, got number"},
                    FunctionCase{"@ReplaceSubstring(\"a-b-c\"; \"-\"; \"+\")", "\"a+b+c\""},
                    FunctionCase{"@ReplaceSubstring(\"ab\"; \"a\" : \"b\"; \"b\" : \"c\")", "\"bc\""},  // no cascade
                    FunctionCase{"@ReplaceSubstring(\"abc\"; \"a\" : \"b\" : \"c\"; \"X\")", "\"XXX\""},
                    FunctionCase{"@ReplaceSubstring(\"abc\"; \"\"; \"X\")", "\"abc\""},
                    FunctionCase{"@ReplaceSubstring(Tags; \"e\"; \"E\")", "\"rEd\" : \"GrEEn\" : \"bluE\""},
                    FunctionCase{"@Replace(Tags; \"Green\" : \"red\"; \"GREEN\")", "\"\" : \"GREEN\" : \"blue\""},
                    FunctionCase{"@Replace(Tags; \"green\"; \"x\")", "\"red\" : \"Green\" : \"blue\""}));

INSTANTIATE_TEST_SUITE_P(
    Conversion, Function,
    testing::Values(FunctionCase{"@Text(1.5) : @Text(3) : @Text(-0) : @Text(1e21) : @Text(1e-5)",
                                 "\"1.5\" : \"3\" : \"0\" : \"1E+21\" : \"1E-5\""},
                    FunctionCase{"@Text(1234567.891; \"F2,\")", "\"1,234,567.89\""},
                    FunctionCase{"@Text(2.5; \"F0\") : @Text(-1234; \",F1\")", "\"2\" : \"-1,234.0\""},
                    FunctionCase{"@Text(Counts)", "\"1\" : \"2\" : \"3\""},
                    FunctionCase{"@Text(Due) : @Text(@Now)", "\"01/31/2024\" : \"03/15/2024 14:30:00\""},
                    FunctionCase{"@Text(Subject)", "\"Quarterly Report\""},
                    FunctionCase{"@TextToNumber(\" 12.5 \") : @TextToNumber(\"-3e2\")", "12.5 : -300"},
                    FunctionCase{"@TextToNumber(\"12abc\")",
                                 "error: Formula error at position 1: @TextToNumber: \"12abc\" is not a number"},
                    FunctionCase{"@TextToNumber(\"\")",
                                 "error: Formula error at position 1: @TextToNumber: \"\" is not a number"},
                    FunctionCase{"@TextToNumber(\"nan\")",
                                 "error: Formula error at position 1: @TextToNumber: \"nan\" is not a number"},
                    FunctionCase{"@NewLine", "\"\n\""}));

INSTANTIATE_TEST_SUITE_P(
    Lists, Function,
    testing::Values(FunctionCase{"@Elements(Tags) : @Elements(Missing) : @Elements(\"\" : \"\") : @Elements(0)",
                                 "3 : 0 : 2 : 1"},
                    FunctionCase{"@Member(\"GREEN\"; Tags) : @Member(\"x\"; Tags) : @Member(2; Counts)", "2 : 0 : 2"},
                    FunctionCase{"@Member(1; Tags)", "0"},
                    FunctionCase{"@IsMember(\"red\" : \"BLUE\"; Tags) : @IsMember(\"red\" : \"x\"; Tags)", "1 : 0"},
                    FunctionCase{"@IsNotMember(\"x\" : \"y\"; Tags) : @IsNotMember(\"x\" : \"Red\"; Tags)", "1 : 0"},
                    FunctionCase{"@Subset(Tags; 2) : @Subset(Tags; -1) : @Subset(Tags; 10)",
                                 "\"red\" : \"Green\" : \"blue\" : \"red\" : \"Green\" : \"blue\""},
                    FunctionCase{"@Subset(Tags; 0)", "error: Formula error at position 1: @Subset: the count must not be 0"},
                    FunctionCase{"@Unique(\"a\" : \"B\" : \"A\" : \"b\" : \"c\")", "\"a\" : \"B\" : \"c\""},
                    FunctionCase{"@Unique(3 : 1 : 3 : 1)", "3 : 1"},
                    FunctionCase{"@Sort(\"b\" : \"A\" : \"a\" : \"C\")", "\"A\" : \"a\" : \"b\" : \"C\""},
                    FunctionCase{"@Sort(Tags; [Descending])", "\"red\" : \"Green\" : \"blue\""},
                    FunctionCase{"@Sort(10 : 9 : 100)", "9 : 10 : 100"},
                    FunctionCase{"@Sort(@Date(2024;1;2) : @Date(2023;5;1))", "[2023-05-01] : [2024-01-02]"},
                    FunctionCase{"@Sort(Tags; [Sideways])",
                                 "error: Formula error at position 1: @Sort: unsupported option [Sideways]"}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, Function,
    testing::Values(FunctionCase{"@Sum(Counts; 10; 0.5)", "16.5"},
                    FunctionCase{"@Sum(Missing)", "error: Formula error at position 1: @Sum: expected number, got text"},
                    FunctionCase{"@Max(Counts) : @Min(Counts)", "3 : 1"},
                    FunctionCase{"@Max(1 : 5; 3) : @Min(1 : 5; 3)", "3 : 5 : 1 : 3"},
                    FunctionCase{"@Max(Due : @Date(2024; 6; 1))", "[2024-06-01]"},
                    FunctionCase{"@Abs(-2 : 3)", "2 : 3"},
                    FunctionCase{"@Integer(2.9 : -2.9)", "2 : -2"},
                    FunctionCase{"@Round(2.5) : @Round(-2.5) : @Round(2.4)", "3 : -3 : 2"},
                    FunctionCase{"@Round(1234; 100) : @Round(0.07; 0.01) : @Round(3.14159; 0.001)", "1200 : 0.07 : 3.142"},
                    FunctionCase{"@Round(1; 0)", "error: Formula error at position 1: @Round: the factor must not be 0"}));

INSTANTIATE_TEST_SUITE_P(
    Dates, Function,
    testing::Values(FunctionCase{"@Today", "[2024-03-15]"},
                    FunctionCase{"@Now", "[2024-03-15 14:30:00.000]"},
                    FunctionCase{"@Created : @Modified", "[2023-12-01 09:00:00.000] : [2024-02-29 17:45:10.000]"},
                    FunctionCase{"@Date(2024; 2; 29)", "[2024-02-29]"},
                    FunctionCase{"@Date(2023; 2; 29)", "error: Formula error at position 1: @Date: invalid date"},
                    FunctionCase{"@Date(2024; 1; 2; 3; 4; 5)", "[2024-01-02 03:04:05.000]"},
                    FunctionCase{"@Date(@Now)", "[2024-03-15]"},
                    FunctionCase{"@Year(Due) : @Month(Due) : @Day(Due) : @Weekday(Due)", "2024 : 1 : 31 : 4"},
                    FunctionCase{"@Hour(@Now) : @Minute(@Now) : @Second(@Modified)", "14 : 30 : 10"},
                    FunctionCase{"@Hour(Due)", "-1"},
                    FunctionCase{"@Year(Missing)", "error: Formula error at position 1: @Year: expected date-time, got text"},
                    FunctionCase{"@Adjust(Due; 0; 1; 0; 0; 0; 0)", "[2024-02-29]"},
                    FunctionCase{"@Adjust(Due; 0; 13; 0; 0; 0; 0)", "[2025-02-28]"},
                    FunctionCase{"@Adjust(Due; -1; 0; 1; 0; 0; 0)", "[2023-02-01]"},
                    FunctionCase{"@Adjust(@Now; 0; 0; 0; 10; 0; 0)", "[2024-03-16 00:30:00.000]"},
                    FunctionCase{"Due > @Date(2024; 1; 1) & Due < @Today", "1"}));

INSTANTIATE_TEST_SUITE_P(
    Document, Function,
    testing::Values(FunctionCase{"@DocumentUniqueID", "\"0123456789ABCDEF0123456789ABCDEF\""},
                    FunctionCase{"@IsResponseDoc", "0"},
                    FunctionCase{"@UserName", "\"CN=Jane Doe/O=Acme\""}));

INSTANTIATE_TEST_SUITE_P(
    Names, Function,
    testing::Values(FunctionCase{"@Name([CN]; Author)", "\"John Smith\""},
                    FunctionCase{"@Name([Abbreviate]; Author)", "\"John Smith/Sales/Acme/US\""},
                    FunctionCase{"@Name([O]; Author) : @Name([OU1]; Author) : @Name([OU2]; Author) : @Name([C]; Author)",
                                 "\"Acme\" : \"Sales\" : \"\" : \"US\""},
                    FunctionCase{"@Name([Canonicalize]; \"John Smith/Sales/Acme/US\")",
                                 "\"CN=John Smith/OU=Sales/O=Acme/C=US\""},
                    FunctionCase{"@Name([Canonicalize]; \"John Smith/Acme\")", "\"CN=John Smith/O=Acme\""},
                    FunctionCase{"@Name([CN]; \"John Smith/Acme\") : @Name([O]; \"John Smith/Acme\")",
                                 "\"John Smith\" : \"Acme\""},
                    FunctionCase{"@Name([CN]; \"Flat\") : @Name([O]; \"Flat\") : @Name([Canonicalize]; \"Flat\")",
                                 "\"Flat\" : \"\" : \"Flat\""},
                    FunctionCase{"@Name([OU1]; \"CN=A/OU=East/OU=Sales/O=X\") : @Name([OU2]; \"CN=A/OU=East/OU=Sales/O=X\")",
                                 "\"East\" : \"Sales\""},
                    FunctionCase{"@Name([cn]; \"cn=Lower Case/o=Org\")", "\"Lower Case\""},
                    FunctionCase{"@Name([CN]; \"CN=A/O=B\" : \"C/D\")", "\"A\" : \"C\""},
                    FunctionCase{"@Name([Bogus]; Author)", "error: Formula error at position 1: @Name: unsupported action [BOGUS]"}));

}  // namespace
}  // namespace quire::formula
