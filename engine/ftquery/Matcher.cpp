// Query tree against a tokenised document, without an index. Works on the
// very token sequences buildFtsRow() writes, so its answers are the index's.
#include "engine/ftquery/FtQuery.h"
#include "engine/ftquery/QueryAst.h"

namespace quire::ftquery {

namespace {

bool matchesAt(const std::vector<std::string>& seq, size_t at, const QueryNode& term) {
    const size_t n = term.tokens.size();
    for (size_t k = 0; k < n; ++k) {
        const std::string& have = seq[at + k];
        const std::string& want = term.tokens[k];
        const bool last = k + 1 == n;
        if (last && term.prefix ? !have.starts_with(want) : have != want) return false;
    }
    return true;
}

bool matchTerm(const QueryNode& term, const std::vector<std::string>& seq) {
    const size_t n = term.tokens.size();
    if (n == 0 || seq.size() < n) return false;
    for (size_t at = 0; at + n <= seq.size(); ++at)
        if (matchesAt(seq, at, term)) return true;
    return false;
}

}  // namespace

bool matchNode(const QueryNode& node, const std::vector<std::string>& body, const std::vector<std::string>& fields) {
    switch (node.kind) {
        case QueryNode::Kind::Term: return matchTerm(node, node.scoped ? fields : body);
        case QueryNode::Kind::Not: return !matchNode(*node.children[0], body, fields);
        case QueryNode::Kind::And:
            for (const auto& child : node.children)
                if (!matchNode(*child, body, fields)) return false;
            return true;
        case QueryNode::Kind::Or:
            for (const auto& child : node.children)
                if (matchNode(*child, body, fields)) return true;
            return false;
    }
    return false;
}

}  // namespace quire::ftquery
