// Query tree and documents to PostgreSQL's tsquery and tsvector (FtQuery.h).
#include <map>
#include <optional>

#include "engine/ftquery/FtQuery.h"
#include "engine/ftquery/QueryAst.h"

namespace quire::ftquery {

namespace {

// A lexeme quoted for tsvector and tsquery input, where a backslash escapes too.
void appendLexeme(std::string& out, std::string_view token) {
    out += '\'';
    for (char c : token) {
        if (c == '\'' || c == '\\') out += c == '\'' ? '\'' : '\\';
        out += c;
    }
    out += '\'';
}

std::string termQuery(const QueryNode& node) {
    std::string out;
    for (size_t i = 0; i < node.tokens.size(); ++i) {
        if (i) out += " <-> ";
        appendLexeme(out, node.tokens[i]);
    }
    if (node.prefix) out += ":*";
    return out;
}

// The tsvector text of one token sequence, or nothing when it cannot be held exactly.
std::optional<std::string> vectorText(const std::vector<std::string>& tokens) {
    if (tokens.size() > kPgMaxPosition) return std::nullopt;
    std::map<std::string_view, std::vector<size_t>> positions;
    for (size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i] != kBoundary) positions[tokens[i]].push_back(i + 1);
    std::string out;
    for (const auto& [token, at] : positions) {
        if (at.size() > kPgMaxPositionsPerLexeme) return std::nullopt;
        if (!out.empty()) out += ' ';
        appendLexeme(out, token);
        char sep = ':';
        for (size_t p : at) {
            out += sep;
            out += std::to_string(p);
            sep = ',';
        }
        if (out.size() > kPgMaxVectorBytes) return std::nullopt;
    }
    return out;
}

class PgTranslator {
public:
    PgTranslator(PgMatch& out, int firstParameter) : out_(out), next_(firstParameter) {}

    std::string condition(const QueryNode& node, bool negated) {
        switch (node.kind) {
            case QueryNode::Kind::Term: return term(node, negated);
            case QueryNode::Kind::Not: return "(NOT " + condition(*node.children[0], !negated) + ")";
            case QueryNode::Kind::And:
            case QueryNode::Kind::Or: {
                const char* op = node.kind == QueryNode::Kind::And ? " AND " : " OR ";
                std::string sql = "(";
                for (size_t i = 0; i < node.children.size(); ++i) {
                    if (i) sql += op;
                    sql += condition(*node.children[i], negated);
                }
                return sql + ")";
            }
        }
        return "FALSE";
    }

private:
    std::string term(const QueryNode& node, bool negated) {
        const std::string query = termQuery(node);
        out_.queries.push_back(query);
        if (!negated) {
            std::string& rank = node.scoped ? out_.fieldsRank : out_.bodyRank;
            rank += rank.empty() ? "(" + query + ")" : " | (" + query + ")";
        }
        return "(" + std::string(node.scoped ? kFieldsColumn : kBodyColumn) + " @@ ?" + std::to_string(next_++) +
               "::text::tsquery)";
    }

    PgMatch& out_;
    int next_;
};

}  // namespace

PgRow pgVectors(std::span<const ItemText> items) {
    const TokenizedDocument doc(items);
    std::optional<std::string> body = vectorText(doc.body());
    std::optional<std::string> fields = body ? vectorText(doc.fields()) : std::nullopt;
    if (!body || !fields) return PgRow{{}, {}, true};
    return PgRow{std::move(*body), std::move(*fields), false};
}

std::string pgCreateTableSql(std::string_view tableName) {
    const std::string t(tableName);
    return "CREATE TABLE " + t + "(note_id BIGINT PRIMARY KEY, " + std::string(kBodyColumn) + " tsvector, " +
           std::string(kFieldsColumn) + " tsvector, verify INTEGER NOT NULL DEFAULT 0);" +  //
           "CREATE INDEX " + t + "_body ON " + t + " USING gin(" + std::string(kBodyColumn) + ");" +
           "CREATE INDEX " + t + "_fields ON " + t + " USING gin(" + std::string(kFieldsColumn) + ");" +
           "CREATE INDEX " + t + "_verify ON " + t + "(note_id) WHERE verify <> 0";
}

PgMatch Query::pgMatch(int firstParameter) const {
    PgMatch out;
    PgTranslator translator(out, firstParameter);
    out.condition = translator.condition(*root_, false);
    return out;
}

}  // namespace quire::ftquery
