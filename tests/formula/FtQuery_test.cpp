#include "engine/ftquery/FtQuery.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>

namespace quire::ftquery {
namespace {

const std::string kAll = std::string("body : \"").append(kBoundary).append("\"");

TEST(FtTokenize, FoldsCaseDiacriticsAndCompatibilityForms) {
    EXPECT_EQ(tokenize("Café RÉSUMÉ naïve"), (std::vector<std::string>{"cafe", "resume", "naive"}));
    EXPECT_EQ(tokenize("ﬁle ＡＢＣ"), (std::vector<std::string>{"file", "abc"}));  // ligature, full width
    EXPECT_EQ(tokenize("Straße"), (std::vector<std::string>{"strasse"}));
}

TEST(FtTokenize, SplitsAtWordBoundariesKeepingWords) {
    EXPECT_EQ(tokenize("e-mail, don't; 3.14 -- C++!"),
              (std::vector<std::string>{"e", "mail", "don't", "3.14", "c"}));
    EXPECT_EQ(tokenize("  \t\n"), std::vector<std::string>{});
    EXPECT_EQ(tokenize(std::string("a").append(kBoundary).append("b")), (std::vector<std::string>{"a", "b"}));
    const auto cjk = tokenize("東京都に住んでいます");
    EXPECT_GT(cjk.size(), 1u);  // dictionary segmentation, not one run
}

TEST(FtTokenize, CutsOverlongTokensAtACharacterBoundary) {
    const auto tokens = tokenize(std::string(300, 'a') + "é" + std::string(300, 'b'));
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_LE(tokens[0].size(), kMaxTokenBytes);
    EXPECT_EQ(tokenize(std::string(255, 'x') + "ж")[0], std::string(255, 'x'));  // never half a character
}

TEST(FtTokenize, ItemKeysIgnoreCase) {
    EXPECT_EQ(fieldKey("Subject"), fieldKey("SUBJECT"));
    EXPECT_EQ(fieldKey("ab"), "6162x");
    EXPECT_NE(fieldKey("ab"), fieldKey("a"));
}

struct Translation {
    const char* query;
    std::string match;
};

void PrintTo(const Translation& t, std::ostream* os) { *os << t.query; }

class Translates : public testing::TestWithParam<Translation> {};

TEST_P(Translates, ToFts5) {
    auto q = Query::parse(GetParam().query);
    ASSERT_TRUE(q.ok()) << q.error().message;
    EXPECT_EQ(q.value().ftsMatch(), GetParam().match);
}

const std::string kSubj = fieldKey("subject");

INSTANTIATE_TEST_SUITE_P(
    FtQuery, Translates,
    testing::Values(Translation{"Hello", "body : \"hello\""},
                    Translation{"hello world", "(body : \"hello\" AND body : \"world\")"},
                    Translation{"\"Hello World\"", "body : \"hello world\""},
                    Translation{"wor*", "body : \"wor\" *"},
                    Translation{"\"hello wor\"*", "body : \"hello wor\" *"},
                    Translation{"e-mail", "body : \"e mail\""},
                    Translation{"a OR b AND c", "(body : \"a\" OR (body : \"b\" AND body : \"c\"))"},
                    Translation{"a | b & c", "(body : \"a\" OR (body : \"b\" AND body : \"c\"))"},
                    Translation{"(a OR b) c", "((body : \"a\" OR body : \"b\") AND body : \"c\")"},
                    Translation{"a NOT b", "(body : \"a\" NOT body : \"b\")"},
                    Translation{"a AND !b AND !c", "(body : \"a\" NOT body : \"b\" NOT body : \"c\")"},
                    Translation{"a b NOT c", "((body : \"a\" AND body : \"b\") NOT body : \"c\")"},
                    Translation{"NOT NOT a", "body : \"a\""},
                    Translation{"NOT b", "(" + kAll + " NOT body : \"b\")"},
                    Translation{"a OR NOT b", "(body : \"a\" OR (" + kAll + " NOT body : \"b\"))"},
                    Translation{"FIELD Subject CONTAINS hello", "fields : \"" + kSubj + "hello\""},
                    Translation{"[Subject] CONTAINS \"big deal\"",
                                "fields : \"" + kSubj + "big " + kSubj + "deal\""},
                    Translation{"[subject] = hel*", "fields : \"" + kSubj + "hel\" *"},
                    Translation{"field subject contains (a OR b) c",
                                "((fields : \"" + kSubj + "a\" OR fields : \"" + kSubj + "b\") AND body : \"c\")"},
                    Translation{"and* or*", "(body : \"and\" * AND body : \"or\" *)"},
                    Translation{"hello -- ?", "body : \"hello\""}));  // punctuation-only terms drop out

struct QueryErrorCase {
    const char* query;
    size_t position;
    const char* message;
};

void PrintTo(const QueryErrorCase& c, std::ostream* os) { *os << c.query; }

class RefusesQuery : public testing::TestWithParam<QueryErrorCase> {};

TEST_P(RefusesQuery, WithPositionAndReason) {
    auto q = Query::parse(GetParam().query);
    ASSERT_FALSE(q.ok());
    EXPECT_EQ(q.error().position, GetParam().position);
    EXPECT_EQ(q.error().message,
              "Query error at position " + std::to_string(GetParam().position) + ": " + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    FtQuery, RefusesQuery,
    testing::Values(QueryErrorCase{"\"open phrase", 1, "unterminated phrase: expected '\"'"},
                    QueryErrorCase{"(a OR b", 8, "expected ')', found the end of the query"},
                    QueryErrorCase{"a OR b)", 7, "unexpected ')' without '('"},
                    QueryErrorCase{"a AND", 6, "expected a word, a phrase or '(', found the end of the query"},
                    QueryErrorCase{"OR a", 1, "expected a word, a phrase or '(', found OR"},
                    QueryErrorCase{"NOT", 4, "expected a word, a phrase or '(', found the end of the query"},
                    QueryErrorCase{"h*llo", 2, "the wildcard '*' is only supported at the end of a word"},
                    QueryErrorCase{"*", 1, "the wildcard '*' needs a word before it"},
                    QueryErrorCase{"FIELD CONTAINS x", 7, "expected an item name after FIELD"},
                    QueryErrorCase{"FIELD x y", 9, "expected CONTAINS or '=' after the item name"},
                    QueryErrorCase{"[x CONTAINS y", 1, "unterminated item name: expected ']'"},
                    QueryErrorCase{"[x] CONTAINS", 13,
                                   "expected a word, a phrase or '(' after CONTAINS, found the end of the query"},
                    QueryErrorCase{"---", 1, "the query contains no word to search for"},
                    QueryErrorCase{"", 1, "the query contains no word to search for"},
                    QueryErrorCase{"é AND", 6, "expected a word, a phrase or '(', found the end of the query"}));

TEST(FtQuery, DeepNestingIsRefused) {
    // Deep, yet within the length limit, so the nesting is what refuses it.
    const std::string deep = std::string(30000, '(') + "a" + std::string(30000, ')');
    auto q = Query::parse(deep);
    ASSERT_FALSE(q.ok());
    EXPECT_NE(q.error().message.find("nested too deeply"), std::string::npos);
    std::string nots;
    for (int i = 0; i < 16000; ++i) nots += "NOT ";
    auto notChain = Query::parse(nots + "a");
    ASSERT_FALSE(notChain.ok());
    EXPECT_NE(notChain.error().message.find("nested too deeply"), std::string::npos);
}

// A query's cost grows with its text: past the limit it is refused before any work.
TEST(FtQuery, QueriesLongerThanTheLimitAreRefused) {
    std::string chain;
    for (int i = 0; chain.size() < 1'000'000; ++i) chain += (i ? " OR w" : "w") + std::to_string(i);
    auto refused = Query::parse(chain);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "Query error at position 1: the query is longer than 65536 bytes");

    // The longest accepted chain still parses and matches by its last term.
    std::string longest;
    int last = 0;
    for (int i = 0;; ++i) {
        const std::string next = (i ? " OR w" : "w") + std::to_string(i);
        if (longest.size() + next.size() > kMaxQueryBytes) break;
        longest += next;
        last = i;
    }
    auto accepted = Query::parse(longest);
    ASSERT_TRUE(accepted.ok()) << accepted.error().message;
    const std::vector<ItemText> hit = {{"Body", {"text with w" + std::to_string(last)}}};
    const std::vector<ItemText> miss = {{"Body", {"text with w" + std::to_string(last + 1)}}};
    EXPECT_TRUE(accepted.value().matches(hit));
    EXPECT_FALSE(accepted.value().matches(miss));
}

// The index-free matcher must answer exactly as SQLite's FTS5 does over the
// rows buildFtsRow() writes.
class FtAgreement : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        exec(ftsCreateTableSql("ft"));
        docs_ = {
            {{"Subject", {"Quarterly report"}}, {"Body", {"The big deal closed. E-mail the team!"}}},
            {{"Subject", {"Big news"}}, {"Body", {"Nothing about the deal"}}},
            {{"Subject", {"Café menu"}}, {"Tags", {"food", "drink"}}},
            {{"Subject", {"report draft"}}, {"Categories", {"big", "deal"}}},
            {{"Title", {"Résumé of DEALINGS"}}, {"Body", {"东京 meeting about reports"}}},
            {},
        };
        for (size_t i = 0; i < docs_.size(); ++i) insert(static_cast<int>(i + 1), buildFtsRow(docs_[i]));
    }
    void TearDown() override { sqlite3_close(db_); }

    void exec(const std::string& sql) {
        char* err = nullptr;
        ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    }

    void insert(int rowid, const FtsRow& row) {
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db_, "INSERT INTO ft(rowid, body, fields) VALUES (?, ?, ?)", -1, &st, nullptr),
                  SQLITE_OK);
        sqlite3_bind_int(st, 1, rowid);
        sqlite3_bind_text(st, 2, row.body.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, row.fields.c_str(), -1, SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
        sqlite3_finalize(st);
    }

    std::set<int> viaIndex(const Query& q) {
        std::set<int> rows;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, "SELECT rowid FROM ft WHERE ft MATCH ?", -1, &st, nullptr), SQLITE_OK);
        sqlite3_bind_text(st, 1, q.ftsMatch().c_str(), -1, SQLITE_TRANSIENT);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) rows.insert(sqlite3_column_int(st, 0));
        EXPECT_EQ(rc, SQLITE_DONE) << sqlite3_errmsg(db_) << " for " << q.ftsMatch();
        sqlite3_finalize(st);
        return rows;
    }

    std::set<int> viaMatcher(const Query& q) {
        std::set<int> rows;
        for (size_t i = 0; i < docs_.size(); ++i)
            if (q.matches(docs_[i])) rows.insert(static_cast<int>(i + 1));
        return rows;
    }

    sqlite3* db_ = nullptr;
    std::vector<std::vector<ItemText>> docs_;
};

TEST_F(FtAgreement, EveryAcceptedNestingIsAcceptedByFts5) {
    bool refusedSome = false;
    for (int depth = 1; depth < 40; ++depth) {
        for (const char* shape : {"x OR (y ", "NOT (x "}) {
            std::string text;
            for (int i = 0; i < depth; ++i) text += shape;
            text += "deal" + std::string(static_cast<size_t>(depth), ')');
            auto q = Query::parse(text);
            if (!q) {
                EXPECT_NE(q.error().message.find("nested too deeply"), std::string::npos) << q.error().message;
                refusedSome = true;
                continue;
            }
            EXPECT_EQ(viaIndex(q.value()), viaMatcher(q.value())) << text;
        }
    }
    EXPECT_TRUE(refusedSome);
}

TEST_F(FtAgreement, IndexAndMatcherGiveTheSameDocuments) {
    const std::vector<std::pair<const char*, std::set<int>>> cases = {
        {"deal", {1, 2, 4}},
        {"DEAL*", {1, 2, 4, 5}},
        {"\"big deal\"", {1}},  // not doc 4: its "big" and "deal" are separate list values
        {"big deal", {1, 2, 4}},
        {"report*", {1, 4, 5}},
        {"cafe", {3}},
        {"resume", {5}},
        {"email", {}},
        {"e-mail", {1}},
        {"FIELD Subject CONTAINS big", {2}},
        {"[subject] CONTAINS report", {1, 4}},
        {"[Tags] = drink", {3}},
        {"[Tags] = \"food drink\"", {}},
        {"FIELD body CONTAINS (deal AND NOT news)", {1, 2}},
        {"NOT deal", {3, 5, 6}},
        {"!deal & !cafe", {5, 6}},
        {"report OR cafe", {1, 3, 4}},
        {"(report OR cafe) NOT draft", {1, 3}},
        {"东京", {5}},
        {"\"quarterly report\" OR [Title] CONTAINS dealing*", {1, 5}},
    };
    for (const auto& [text, expected] : cases) {
        auto q = Query::parse(text);
        ASSERT_TRUE(q.ok()) << text << ": " << q.error().message;
        EXPECT_EQ(viaIndex(q.value()), expected) << text << " -> " << q.value().ftsMatch();
        EXPECT_EQ(viaMatcher(q.value()), expected) << text;
    }
}

}  // namespace
}  // namespace quire::ftquery
