// Query tree to FTS5 MATCH text. Every sub-expression is parenthesised, so
// FTS5's own precedence (NOT over AND over OR) never regroups it.
#include "engine/ftquery/FtQuery.h"
#include "engine/ftquery/QueryAst.h"

#include <algorithm>

namespace quire::ftquery {

namespace {

std::string quoted(const std::vector<std::string>& tokens) {
    std::string out = "\"";
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i) out += ' ';
        for (char c : tokens[i]) {
            if (c == '"') out += '"';  // FTS5 doubles quotes inside strings
            out += c;
        }
    }
    return out + "\"";
}

std::string everything() { return std::string(kBodyColumn) + " : " + quoted({std::string(kBoundary)}); }

std::string translateTerm(const QueryNode& node) {
    std::string out(node.scoped ? kFieldsColumn : kBodyColumn);
    out += std::string(" : ") + quoted(node.tokens);
    if (node.prefix) out += " *";
    return out;
}

// FTS5's NOT is binary; a negation without a positive partner is taken from
// the set of all rows, which every row's boundary token provides.
std::string translateNot(const QueryNode& node) {
    return std::string("(") + everything() + " NOT " + translateToFts(*node.children[0]) + ")";
}

// a AND b AND NOT c AND NOT d becomes ((a AND b) NOT c NOT d): FTS5 reads
// a NOT chain left to right without nesting, which keeps its parser stack
// (a fixed size) shallow.
std::string translateAnd(const QueryNode& node) {
    std::string positive;
    size_t positives = 0;
    std::vector<const QueryNode*> negated;
    for (const auto& child : node.children) {
        if (child->kind == QueryNode::Kind::Not) {
            negated.push_back(child->children[0].get());
            continue;
        }
        if (positives++) positive += " AND ";
        positive += translateToFts(*child);
    }
    if (negated.empty()) return std::string("(") + positive + ")";
    std::string out = "(";
    out += positives == 0 ? everything() : (positives == 1 ? positive : "(" + positive + ")");
    for (const QueryNode* n : negated) out += std::string(" NOT ") + translateToFts(*n);
    return out + ")";
}

std::string translateOr(const QueryNode& node) {
    std::string out = "(";
    for (size_t i = 0; i < node.children.size(); ++i) {
        if (i) out += " OR ";
        out += translateToFts(*node.children[i]);
    }
    return out + ")";
}

}  // namespace

size_t ftsNestingDepth(std::string_view match) {
    size_t depth = 0, deepest = 0;
    bool quoted = false;
    for (char c : match) {
        if (c == '"') quoted = !quoted;  // a doubled quote toggles twice
        if (quoted) continue;
        if (c == '(') deepest = std::max(deepest, ++depth);
        if (c == ')') --depth;
    }
    return deepest;
}

std::string translateToFts(const QueryNode& node) {
    switch (node.kind) {
        case QueryNode::Kind::Term: return translateTerm(node);
        case QueryNode::Kind::And: return translateAnd(node);
        case QueryNode::Kind::Or: return translateOr(node);
        case QueryNode::Kind::Not: return translateNot(node);
    }
    return {};
}

}  // namespace quire::ftquery
