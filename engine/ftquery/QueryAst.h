// The parsed form of a full-text query. Internal to the ftquery library.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quire::ftquery {

struct QueryNode {
    enum class Kind { Term, And, Or, Not };
    Kind kind = Kind::Term;
    // Term: the tokens to find adjacent and in order; in the `fields` column
    // (already prefixed by the item key) when `scoped`, else in `body`.
    std::vector<std::string> tokens;
    bool prefix = false;  // the last token is a prefix
    bool scoped = false;
    std::vector<std::unique_ptr<QueryNode>> children;
};

// Throws QueryFailure.
std::unique_ptr<QueryNode> parseQuery(std::string_view text);

struct QueryFailure {
    size_t offset;  // byte offset in the query
    std::string message;
};

std::string translateToFts(const QueryNode& node);
// Deepest parenthesis nesting of a MATCH expression, quoted text excluded.
size_t ftsNestingDepth(std::string_view match);
bool matchNode(const QueryNode& node, const std::vector<std::string>& body, const std::vector<std::string>& fields);

}  // namespace quire::ftquery
