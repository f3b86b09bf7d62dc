// The formula language: selection, column and agent formulas.
//
// Contract. Formula::compile() turns formula text into an immutable program;
// a Formula is cheap to copy (copies share the program) and may be evaluated
// concurrently from several threads, each with its own EvalContext. The
// context is borrowed for the duration of one evaluate()/run()/selects() call
// only. No exception leaves this interface: a syntax error, a type error, a
// size limit or an allocation failure comes back as a FormulaError inside the
// Result. Nothing the formula text or the field values contain can crash the
// evaluator.
//
// ---------------------------------------------------------------------------
// The language
// ---------------------------------------------------------------------------
//
// Values. Every value is a list of text (UTF-8), numbers (double) or
// date-times (see Value.h); a scalar is a list of one. Lists are homogeneous
// and never empty: the empty value is the single empty text "".
//
// Statements are separated by ';' (empty statements are allowed):
//   expr                    an expression statement
//   name := expr            assign a temporary variable; later references to
//                           name read the variable instead of the field
//   FIELD name := expr      write the item `name` through EvalContext::setField;
//                           later references to name read the field again
//   SELECT expr             the document is selected when expr is true
//   REM "text"              a comment
// Keywords (SELECT, FIELD, REM) and @function names ignore letter case. Field
// and variable names are identifiers (letters, digits, '_', '$', and any
// non-ASCII character, not starting with a digit); variable names ignore
// ASCII letter case. Assignment is a statement, not an expression.
//
// Result. The value of a formula is the value of the last expression or
// SELECT statement evaluated ("" when there is none). Selection:
//   - with SELECT, the document is selected when the last SELECT's value is
//     true; SELECT of a non-number is a type error;
//   - without SELECT, the document is selected when the formula's value is a
//     number list with a non-zero element (a text or date value does not
//     select, and is no error);
//   - a formula with no expression at all (empty text, only comments or
//     assignments) selects every document.
// Truth: a number list is true when any element is non-zero.
//
// Literals: numbers (12, 1.5, .5, 2e-3); text in "..." or {...}, where a
// backslash makes the next character literal (\" \} \\); keywords [Name] are
// allowed only as @function arguments (@Name([CN]; x), @Sort(l; [Descending])).
//
// References: an identifier that is not a variable reads the field through
// EvalContext::getField; an absent field reads as "".
//
// Operators, from tightest to loosest binding; binary operators of one level
// associate to the left:
//   1. :            list concatenation (operands of one type); an element
//                   after ':' may carry a sign: 1 : -2
//   2. - +          unary negation (numbers) and plus
//   3. * /          numbers; division by zero is an error
//   4. + -          numbers; text + text concatenates; date-time + number
//                   and date-time - number shift by that many seconds;
//                   date-time - date-time is the difference in seconds
//   5. = != <> < > <= >=      and the permuted forms *= *!= *<> *< *> *<= *>=
//   6. !            logical not (binds looser than comparison: !a = b is
//                   !(a = b))
//   7. & |          logical and, or; one level, left to right, evaluated
//                   lazily: the right operand is not evaluated when the left
//                   decides the result. Operands must be numbers; the result
//                   is 1 or 0.
// Arithmetic and text operators work pairwise on lists: element i of the
// result combines element i of each operand, and the shorter operand's last
// element stands in for its missing ones (so a scalar applies to every
// element). A comparison is true (1) when any such pair satisfies it; a
// permuted comparison is true when any pair of any element of the left with
// any element of the right satisfies it. Operands of different types are a
// type error, except for the date-time arithmetic above. A result that is not
// a finite number is an error.
//
// Text order. Comparisons, @Member, @IsMember, @IsNotMember, @Unique and
// @Sort compare text by the collation of Collation.h: letter case is ignored,
// accents are not. The functions that look for text inside text (@Contains,
// @Begins, @Ends, @Left/@Right/@Middle/@LeftBack/@RightBack by substring,
// @Word, @Explode, @Replace, @ReplaceSubstring) match exact code units: they
// respect case and accents. Lengths and character positions count Unicode
// code points.
//
// Date-times compare chronologically; when one side lacks a date only the
// times are compared, when one lacks a time only the dates are.
//
// @functions. Arguments are separated by ';'. A function without arguments
// may be written with or without "()". "list" means the function applies to
// every element; "any" means any type.
//   @All  @True                 1                @False          0
//   @If(c1; v1; c2; v2; ...; else)   the v of the first true c, else `else`;
//                               only the chosen branch is evaluated
//   @Do(e1; ...; en)            evaluates all, returns en
//   @IsAvailable(name)  @IsUnavailable(name)    whether the document has the
//                               item; the argument is a field name, not a value
//   @IsText(v) @IsNumber(v) @IsTime(v)          type tests
//   @Contains(text; subs)       1 when any element contains any of subs
//   @Begins(text; subs)  @Ends(text; subs)       likewise for start/end
//   @Left(text; n) / @Left(text; sub)     first n characters / the part before
//                               the first sub ("" when sub is absent); list
//   @Right(text; n) / @Right(text; sub)   last n characters / the part after
//                               the first sub; list
//   @LeftBack(text; n|sub)      all but the last n / the part before the last sub
//   @RightBack(text; n|sub)     all but the first n / the part after the last sub
//   @Middle(text; offset|start; count|end)   skip `offset` characters, or up to
//                               the end of the first `start` ("" when absent);
//                               then take `count` characters (a negative count
//                               takes the characters before that point; with a
//                               `start` text, before `start` itself), or up to
//                               the first `end` after that point (to the end of
//                               the text when `end` is absent); list
//   @Length(text)               number of characters; list
//   @Trim(text)                 drops leading, trailing and repeated spaces;
//                               removes elements that become empty ("" if all)
//   @UpperCase @LowerCase @ProperCase(text)     Unicode case mapping; list
//   @Word(text; separator; n)   n-th piece (1-based, negative from the end,
//                               "" when out of range); list
//   @Explode(text; [seps]; [keepEmpty]; [newlineSeps])   splits at any
//                               character of seps (default " ,;"); newlines
//                               split too unless newlineSeps is 0; empty pieces
//                               are dropped unless keepEmpty is 1
//   @Implode(textlist; [separator])   joins, default separator " "
//   @ReplaceSubstring(text; from; to)  replaces every occurrence of from[i]
//                               by to[i] (the last `to` when `to` is shorter),
//                               one left-to-right pass, no re-scanning; list
//   @Replace(list; from; to)    elements equal to from[i] become to[i] ("" when
//                               `to` is shorter); text only
//   @Text(v; [format])          text form: numbers shortest exact ("1.5",
//                               "3", "1E+21"); format "F<n>" fixes n decimals,
//                               "," adds thousands separators; date-times by
//                               EvalContext::formatDateTime; list
//   @TextToNumber(text)         number, error when a text is not a number; list
//   @Elements(list)             count; 0 for the empty value ""
//   @Member(v; list)            1-based position of v's first element, or 0
//   @IsMember(a; b)             1 when every element of a is in b
//   @IsNotMember(a; b)          1 when no element of a is in b
//                               (elements of different types never match)
//   @Subset(list; n)            first n elements, or last -n; n = 0 is an error
//   @Unique(list)               drops repeated elements, keeps first occurrences
//   @Sort(list; [Ascending] | [Descending])    stable sort
//   @Sum(v; ...)                sum of every element of every argument
//   @Max(list) @Min(list)       largest/smallest element (numbers, date-times)
//   @Max(a; b) @Min(a; b)       pairwise
//   @Abs(n) @Integer(n)         list
//   @Round(n; [factor])         nearest multiple of factor (default 1), halves
//                               away from zero; list
//   @Today @Now                 EvalContext::now() without time / with time
//   @Date(y; m; d[; h; mi; s])  a date (with time); @Date(dt) drops the time
//   @Adjust(dt; y; m; d; h; mi; s)   shifts; a day past the month's end is
//                               clamped (31 Jan + 1 month = 28/29 Feb); list
//   @Year @Month @Day @Hour @Minute @Second @Weekday(dt)   parts (weekday
//                               Sunday = 1); -1 for a missing part; list
//   @Created @Modified @DocumentUniqueID @IsResponseDoc @UserName
//                               from the EvalContext
//   @NewLine                    "\n"
//   @Name([action]; names)      list. Names are hierarchical, canonical
//                               "CN=John Smith/OU=Sales/O=Acme/C=US" or
//                               abbreviated "John Smith/Sales/Acme/US" (a last
//                               component of two letters after at least two
//                               others is the country). Actions: [CN] common
//                               name; [Abbreviate]; [Canonicalize] (abbreviated
//                               to canonical; a flat name stays as it is); [O];
//                               [OU1]..[OU4] (OU1 nearest the common name);
//                               [C]. A missing component gives "".
// Wrong argument counts and unknown @functions are syntax errors; arguments of
// the wrong type are evaluation errors ("@UpperCase: expected text, got
// number").
//
// Limits (ErrorKind::Limit): formula text longer than kMaxFormulaLength bytes;
// nesting (parentheses, function calls, unary operators) deeper than
// kMaxNesting; one evaluation building more than kMaxEvaluationBytes of
// values in total, or doing quadratic work (permuted comparisons, membership
// of long lists) beyond a fixed budget.
#pragma once

#include "engine/formula/Value.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quire::formula {

inline constexpr size_t kMaxNesting = 256;
inline constexpr size_t kMaxEvaluationBytes = 64u << 20;
inline constexpr size_t kMaxFormulaLength = 1u << 20;

enum class ErrorKind {
    Syntax = 1,    // the text is not a formula (includes bad arity, unknown @function)
    Type = 2,      // an operand or argument of the wrong type
    Argument = 3,  // a value out of range: bad date, zero divisor, @Subset(l; 0)
    Limit = 4,     // nesting, size or memory limit reached
    Context = 5,   // the EvalContext refused (e.g. FIELD on a read-only document)
};

struct FormulaError {
    ErrorKind kind = ErrorKind::Syntax;
    size_t position = 0;  // 1-based character (code point) position in the formula text
    std::string message;  // "Formula error at position 12: expected ')'"
};

template <class T>
class Result {
public:
    Result(T value) : data_(std::move(value)) {}
    Result(FormulaError error) : data_(std::move(error)) {}

    bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(data_); }
    T& value() & { return std::get<0>(data_); }
    T&& value() && { return std::get<0>(std::move(data_)); }
    const FormulaError& error() const { return std::get<1>(data_); }

private:
    std::variant<T, FormulaError> data_;
};

// What the evaluator asks of the document it runs over. The engine implements
// it over an open note; MapContext.h has an in-memory implementation.
class EvalContext {
public:
    virtual ~EvalContext() = default;

    // The item's value; Value() ("") when the item does not exist. `name` is
    // spelled as in the formula; item names ignore case.
    virtual Value getField(std::string_view name) = 0;
    virtual bool hasField(std::string_view name) = 0;
    // FIELD assignment. Return false to refuse (the evaluation then fails
    // with ErrorKind::Context).
    virtual bool setField(std::string_view name, const Value& value) { return false; }

    // Document properties; the defaults suit a context without a document:
    // created() and modified() answer now(), the rest are empty or false.
    virtual DateTime created() { return now(); }
    virtual DateTime modified() { return now(); }
    virtual std::string unid() { return {}; }
    virtual bool isResponse() { return false; }
    virtual std::string userName() { return {}; }
    // The current local date and time (default: the system clock).
    virtual DateTime now();
    // Text form for @Text of a date-time. Default: "MM/DD/YYYY HH:MM:SS", the
    // date or time part alone when the other is missing.
    virtual std::string formatDateTime(const DateTime& dt);
};

// The outcome of one evaluation.
struct Evaluation {
    Value value;
    bool selected = true;
};

struct Program;  // the compiled form, internal

class Formula {
public:
    // The empty formula: value "", selects every document.
    Formula();
    // Never fails for an empty or blank text (such a formula selects all).
    static Result<Formula> compile(std::string_view text);

    Result<Evaluation> run(EvalContext& context) const;
    Result<Value> evaluate(EvalContext& context) const;
    Result<bool> selects(EvalContext& context) const;

    const std::string& text() const;
    // Field names read, each once, in order of first appearance and spelled
    // as at that appearance (names differing only in ASCII case are one).
    const std::vector<std::string>& fieldsRead() const;
    const std::vector<std::string>& fieldsWritten() const;
    bool hasSelect() const;
    bool modifiesFields() const { return !fieldsWritten().empty(); }
    // True for a formula that selects every document whatever it holds: no
    // statement, or only SELECT @All / SELECT @True / SELECT 1 and comments.
    bool selectsAll() const;
    // The field name when the whole formula is one field reference (optionally
    // with SELECT), so a caller may read the item directly.
    std::optional<std::string_view> simpleField() const;

private:
    explicit Formula(std::shared_ptr<const Program> program) : program_(std::move(program)) {}
    std::shared_ptr<const Program> program_;
};

}  // namespace quire::formula
