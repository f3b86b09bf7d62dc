#include "engine/ftquery/FtQuery.h"

#include "engine/ftquery/QueryAst.h"

#include <new>

namespace quire::ftquery {

namespace {

size_t codePointPosition(std::string_view text, size_t offset) {
    size_t n = 0;
    for (size_t i = 0; i < offset && i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++n;
    return n + 1;
}

std::string join(const std::vector<std::string>& tokens) {
    std::string out;
    for (const auto& t : tokens) {
        if (!out.empty()) out += ' ';
        out += t;
    }
    return out;
}

}  // namespace

TokenizedDocument::TokenizedDocument(std::span<const ItemText> items) {
    for (const ItemText& item : items) {
        const std::string key = fieldKey(item.name);
        for (const std::string& value : item.values) {
            body_.emplace_back(kBoundary);
            fields_.emplace_back(kBoundary);
            for (std::string& token : tokenize(value)) {
                fields_.push_back(key + token);
                body_.push_back(std::move(token));
            }
        }
    }
    if (body_.empty()) body_.emplace_back(kBoundary);
}

FtsRow buildFtsRow(std::span<const ItemText> items) {
    const TokenizedDocument doc(items);
    return FtsRow{join(doc.body()), join(doc.fields())};
}

std::string ftsCreateTableSql(std::string_view tableName) {
    std::string sql = "CREATE VIRTUAL TABLE ";
    sql += tableName;
    sql += " USING fts5(";
    sql += kBodyColumn;
    sql += ", ";
    sql += kFieldsColumn;
    sql += ", tokenize = \"";
    sql += kFtsTokenizer;
    sql += "\")";
    return sql;
}

Result<Query> Query::parse(std::string_view text) {
    try {
        std::shared_ptr<const QueryNode> root = parseQuery(text);
        std::string match = translateToFts(*root);
        if (ftsNestingDepth(match) > kMaxFtsDepth) throw QueryFailure{0, "the query is nested too deeply"};
        return Query(std::move(root), std::move(match));
    } catch (const QueryFailure& f) {
        const size_t position = codePointPosition(text, f.offset);
        return QueryError{position, std::string("Query error at position ") + std::to_string(position) + ": " + f.message};
    } catch (const std::bad_alloc&) {
        return QueryError{1, "Query error at position 1: out of memory"};
    }
}

bool Query::matches(const TokenizedDocument& document) const {
    return matchNode(*root_, document.body(), document.fields());
}

}  // namespace quire::ftquery
