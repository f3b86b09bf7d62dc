#include "engine/ftquery/FtQuery.h"

#include "engine/ftquery/QueryAst.h"

#include <algorithm>
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
    auto order = [](const std::vector<std::string>& seq, std::vector<uint32_t>& out) {
        out.resize(seq.size());
        for (size_t i = 0; i < seq.size(); ++i) out[i] = uint32_t(i);
        std::stable_sort(out.begin(), out.end(), [&](uint32_t a, uint32_t b) { return seq[a] < seq[b]; });
    };
    order(body_, bodyOrder_);
    order(fields_, fieldsOrder_);
}

size_t TokenizedDocument::countStartingWith(std::string_view prefix) const {
    const auto [begin, end] = findTokens(body_, bodyOrder_, prefix, true);
    return size_t(end - begin);
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
    if (text.size() > kMaxQueryBytes)
        return QueryError{1, "Query error at position 1: the query is longer than " + std::to_string(kMaxQueryBytes) +
                                 " bytes"};
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
    return matchNode(*root_, document);
}

}  // namespace quire::ftquery
