// The parsed form of a full-text query. Internal to the ftquery library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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
class TokenizedDocument;
bool matchNode(const QueryNode& node, const TokenizedDocument& document);
// The range of `order` (positions of `seq` sorted by token) whose tokens equal `token`, or
// start with it when `prefix`.
std::pair<const uint32_t*, const uint32_t*> findTokens(const std::vector<std::string>& seq,
                                                       const std::vector<uint32_t>& order, std::string_view token,
                                                       bool prefix);

}  // namespace quire::ftquery
