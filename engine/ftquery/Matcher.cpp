// Query tree against a tokenised document, without an index. Works on the
// very token sequences buildFtsRow() writes, so its answers are the index's.
#include "engine/ftquery/FtQuery.h"
#include "engine/ftquery/QueryAst.h"

#include <algorithm>

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

bool matchTerm(const QueryNode& term, const std::vector<std::string>& seq, const std::vector<uint32_t>& order) {
    const size_t n = term.tokens.size();
    if (n == 0 || seq.size() < n) return false;
    // Only where the first token occurs can the term start.
    const auto [begin, end] = findTokens(seq, order, term.tokens[0], term.prefix && n == 1);
    for (const uint32_t* at = begin; at != end; ++at)
        if (*at + n <= seq.size() && matchesAt(seq, *at, term)) return true;
    return false;
}

}  // namespace

std::pair<const uint32_t*, const uint32_t*> findTokens(const std::vector<std::string>& seq,
                                                       const std::vector<uint32_t>& order, std::string_view token,
                                                       bool prefix) {
    const uint32_t* first = order.data();
    const uint32_t* last = order.data() + order.size();
    const uint32_t* begin =
        std::lower_bound(first, last, token, [&](uint32_t at, std::string_view want) { return seq[at] < want; });
    const uint32_t* end = begin;
    if (prefix) {
        while (end != last && std::string_view(seq[*end]).starts_with(token)) ++end;
    } else {
        end = std::upper_bound(begin, last, token, [&](std::string_view want, uint32_t at) { return want < seq[at]; });
    }
    return {begin, end};
}

bool matchNode(const QueryNode& node, const TokenizedDocument& document) {
    switch (node.kind) {
        case QueryNode::Kind::Term:
            return node.scoped ? matchTerm(node, document.fields(), document.fieldsOrder())
                               : matchTerm(node, document.body(), document.bodyOrder());
        case QueryNode::Kind::Not: return !matchNode(*node.children[0], document);
        case QueryNode::Kind::And:
            for (const auto& child : node.children)
                if (!matchNode(*child, document)) return false;
            return true;
        case QueryNode::Kind::Or:
            for (const auto& child : node.children)
                if (matchNode(*child, document)) return true;
            return false;
    }
    return false;
}

}  // namespace quire::ftquery
