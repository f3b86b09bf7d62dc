// Any text parses to a query or to an error naming a position inside it.
// A parsed query's FTS5 expression must be accepted by SQLite and select the
// same documents as the index-free matcher.
#include "engine/ftquery/FtQuery.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>

using namespace quire::ftquery;

namespace {

const std::vector<std::vector<ItemText>>& corpus() {
    static const std::vector<std::vector<ItemText>> docs = {
        {{"Subject", {"Quarterly report"}}, {"Body", {"The big deal closed. E-mail the team!"}}},
        {{"Subject", {"Big news"}}, {"Body", {"Nothing about the deal, or AND and NOT"}}},
        {{"Subject", {"Café menu"}}, {"Tags", {"food", "drink", ""}}},
        {{"Title", {"Résumé of DEALINGS"}}, {"Body", {"东京 meeting about reports \"quoted\""}}},
        {},
    };
    return docs;
}

sqlite3* index() {
    static sqlite3* db = [] {
        sqlite3* d = nullptr;
        if (sqlite3_open(":memory:", &d) != SQLITE_OK) std::abort();
        if (sqlite3_exec(d, ftsCreateTableSql("ft").c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(d, "INSERT INTO ft(rowid, body, fields) VALUES (?, ?, ?)", -1, &st, nullptr);
        for (size_t i = 0; i < corpus().size(); ++i) {
            const FtsRow row = buildFtsRow(corpus()[i]);
            sqlite3_bind_int(st, 1, static_cast<int>(i));
            sqlite3_bind_text(st, 2, row.body.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, row.fields.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(st) != SQLITE_DONE) std::abort();
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        return d;
    }();
    return db;
}

std::set<int> viaIndex(const Query& q) {
    std::set<int> rows;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(index(), "SELECT rowid FROM ft WHERE ft MATCH ?", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, q.ftsMatch().c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) rows.insert(sqlite3_column_int(st, 0));
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {  // FTS5 refused our expression
        std::fprintf(stderr, "FTS5: %s\nMATCH %s\n", sqlite3_errmsg(index()), q.ftsMatch().c_str());
        std::abort();
    }
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto q = Query::parse(text);
    if (!q) {
        const QueryError& e = q.error();
        if (e.position < 1 || e.position > text.size() + 1) std::abort();
        return 0;
    }
    std::set<int> matched;
    for (size_t i = 0; i < corpus().size(); ++i)
        if (q.value().matches(corpus()[i])) matched.insert(static_cast<int>(i));
    if (matched != viaIndex(q.value())) std::abort();
    return 0;
}
