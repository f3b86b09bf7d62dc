// Full-text queries: parsing, translation to an SQLite FTS5 MATCH expression,
// and direct matching against a document's items when no index exists.
//
// Contract. Query::parse() never throws and never crashes: malformed text
// (unbalanced quote or parenthesis, dangling operator, misplaced wildcard)
// gives a QueryError naming the 1-based character position. A Query is
// immutable and may be used from several threads. All functions here are
// pure and thread-safe.
//
// ---------------------------------------------------------------------------
// Query syntax
// ---------------------------------------------------------------------------
//   word            a document containing the word
//   word*           a word starting with "word" (the only wildcard; '*'
//                   anywhere but at the end of a word is an error)
//   "a phrase"      the words adjacent and in order; "a phr"* makes the last
//                   word a prefix
//   a AND b, a & b  both          a OR b, a | b   either
//   NOT a, !a       not a         a b             implicit AND
//   ( ... )         grouping
//   FIELD name CONTAINS x       x within the item `name`
//   [name] CONTAINS x, [name] = x   the same (x: a word, a phrase or a
//                   parenthesised query, every term of which is then scoped
//                   to the item; '=' is a phrase match within the item, not
//                   a whole-value equality)
// Precedence: NOT binds tightest, then AND (explicit or implicit), then OR.
// Keywords (AND OR NOT FIELD CONTAINS) ignore case and are keywords only when
// unquoted. Item names ignore case. A query nested so deeply that its FTS5
// form would pass kMaxFtsDepth parentheses (roughly a dozen levels of
// parentheses and NOTs) is refused, and so is a text of more than kMaxQueryBytes.
//
// Words. Text is cut into words the same way on both sides, by tokenize():
// compatibility-normalised (NFKC), case-folded, stripped of diacritics
// ("Café" = "cafe"), split at ICU word boundaries (so Chinese and Japanese
// text segments into words), keeping the segments holding letters or digits,
// cut to kMaxTokenBytes. A query word may yield several tokens ("e-mail" is
// "e" then "mail"): it then matches them as a phrase. A query word yielding
// no token (pure punctuation) is dropped; a query left without any word is an
// error.
//
// ---------------------------------------------------------------------------
// The index this translates to
// ---------------------------------------------------------------------------
// One FTS5 row per document (rowid = the note id), two columns:
//   body    every token of every text item, each value introduced by the
//           boundary token kBoundary (U+E000, never produced by tokenize()),
//           so phrases do not run from one value into the next, and every
//           row holds kBoundary at least once, which lets a lone NOT be
//           written as "everything NOT x";
//   fields  the same values with each token prefixed by its item's key
//           (fieldKey(): lower-case hex of the normalised item name, then
//           'x'), so item-scoped terms, phrases and prefixes are ordinary
//           FTS5 phrases on this column.
// buildFtsRow() produces both column texts; ftsCreateTableSql() the table,
// whose tokenizer (kFtsTokenizer) only splits at spaces and control
// characters, so FTS5 sees exactly the tokens built here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quire::ftquery {

inline constexpr size_t kMaxNesting = 256;
// Longer query texts are refused before any work is done on them (HT_MAX_FTQUERY_BYTES).
inline constexpr size_t kMaxQueryBytes = 64 * 1024;
// FTS5 parses MATCH text with a fixed-size stack; queries whose translation
// nests parentheses deeper than this are refused as nested too deeply.
inline constexpr size_t kMaxFtsDepth = 24;
inline constexpr size_t kMaxTokenBytes = 256;
inline constexpr std::string_view kBoundary = "\xEE\x80\x80";  // U+E000
inline constexpr std::string_view kFtsTokenizer =
    "unicode61 remove_diacritics 0 categories 'L* N* M* P* S* Co Cn Cs Cf'";
inline constexpr std::string_view kBodyColumn = "body";
inline constexpr std::string_view kFieldsColumn = "fields";

struct QueryError {
    size_t position = 0;  // 1-based character position in the query
    std::string message;  // "Query error at position 7: expected ')'"
};

template <class T>
class Result {
public:
    Result(T value) : data_(std::move(value)) {}
    Result(QueryError error) : data_(std::move(error)) {}
    bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(data_); }
    T&& value() && { return std::get<0>(std::move(data_)); }
    const QueryError& error() const { return std::get<1>(data_); }

private:
    std::variant<T, QueryError> data_;
};

// The tokens of a text, as described above.
std::vector<std::string> tokenize(std::string_view text);
// The prefix that scopes a token to an item in the `fields` column.
std::string fieldKey(std::string_view itemName);

// A text item of a document: its name and its values (one for a text item,
// several for a text list). Attachment text may be passed under any name.
struct ItemText {
    std::string name;
    std::vector<std::string> values;
};

struct FtsRow {
    std::string body;
    std::string fields;
};
FtsRow buildFtsRow(std::span<const ItemText> items);

// "CREATE VIRTUAL TABLE <name> USING fts5(body, fields, tokenize = ...)".
std::string ftsCreateTableSql(std::string_view tableName);

// ---------------------------------------------------------------------------
// The same index on PostgreSQL
// ---------------------------------------------------------------------------
// One row per document in a table of the same name (pgCreateTableSql): note_id, and body
// and fields as tsvector columns under GIN indexes, holding the tokens above at their
// positions (from 1, boundary tokens keep their place but are not stored), so a phrase is
// a chain of <-> and a prefix is :*. A tsvector cannot hold every document exactly (it
// keeps at most kPgMaxPosition positions, kPgMaxPositionsPerLexeme per token, about a
// megabyte of text): pgVectors() then leaves both columns NULL and sets `verify`, and the
// search checks such documents with matches() instead.
//
// A query becomes a boolean SQL condition over the two columns (pgMatch()): each term is
// `column @@ ?N::text::tsquery` with its tsquery text bound as a parameter, joined by the
// query's AND, OR and NOT, so every operator of the syntax maps and one GIN look-up serves
// each term. A NULL column (a document to verify) leaves the condition NULL, never true.
inline constexpr size_t kPgMaxPosition = 16383;
inline constexpr size_t kPgMaxPositionsPerLexeme = 256;
inline constexpr size_t kPgMaxVectorBytes = 512 * 1024;

struct PgRow {
    std::string body;    // tsvector text, empty when verify
    std::string fields;
    bool verify = false;
};
PgRow pgVectors(std::span<const ItemText> items);

// "CREATE TABLE <name>(...)" with its GIN indexes.
std::string pgCreateTableSql(std::string_view tableName);

struct PgMatch {
    std::string condition;             // SQL, parameters ?first.. in `queries` order
    std::vector<std::string> queries;  // tsquery texts
    // The positive terms of each column OR'ed into one tsquery, for ts_rank; "" when none.
    std::string bodyRank;
    std::string fieldsRank;
};

// A document's items, tokenised once for matching any number of queries. Each
// sequence comes with its positions ordered by token, so finding a term costs
// a binary search, not a pass over the document: a query of many terms stays
// linear in its length.
class TokenizedDocument {
public:
    explicit TokenizedDocument(std::span<const ItemText> items);
    const std::vector<std::string>& body() const { return body_; }
    const std::vector<std::string>& fields() const { return fields_; }
    const std::vector<uint32_t>& bodyOrder() const { return bodyOrder_; }
    const std::vector<uint32_t>& fieldsOrder() const { return fieldsOrder_; }
    // How many body tokens start with `prefix`.
    size_t countStartingWith(std::string_view prefix) const;

private:
    std::vector<std::string> body_;
    std::vector<std::string> fields_;
    std::vector<uint32_t> bodyOrder_;
    std::vector<uint32_t> fieldsOrder_;
};

struct QueryNode;  // the parsed form, internal

class Query {
public:
    static Result<Query> parse(std::string_view text);

    // The FTS5 MATCH expression over the table described above.
    const std::string& ftsMatch() const { return match_; }
    // Whether the document satisfies the query; agrees with the FTS5 index.
    bool matches(const TokenizedDocument& document) const;
    bool matches(std::span<const ItemText> items) const { return matches(TokenizedDocument(items)); }
    // The PostgreSQL form (above); its parameters are numbered from `firstParameter`.
    PgMatch pgMatch(int firstParameter) const;

private:
    Query(std::shared_ptr<const QueryNode> root, std::string match)
        : root_(std::move(root)), match_(std::move(match)) {}
    std::shared_ptr<const QueryNode> root_;
    std::string match_;
};

}  // namespace quire::ftquery
