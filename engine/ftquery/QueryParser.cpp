#include "engine/ftquery/FtQuery.h"
#include "engine/ftquery/QueryAst.h"

#include <algorithm>

namespace quire::ftquery {

namespace {

struct QToken {
    enum class Kind { Word, Phrase, LParen, RParen, And, Or, Not, FieldRef, Equals, Field, Contains, End };
    Kind kind = Kind::End;
    size_t offset = 0;
    std::string text;
    bool prefix = false;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool endsWord(char c) { return isSpace(c) || c == '(' || c == ')' || c == '&' || c == '|' || c == '"'; }

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

[[noreturn]] void fail(size_t offset, std::string message) { throw QueryFailure{offset, std::move(message)}; }

class QueryLexer {
public:
    explicit QueryLexer(std::string_view text) : src_(text) {}

    std::vector<QToken> run() {
        std::vector<QToken> out;
        for (;;) {
            while (pos_ < src_.size() && isSpace(src_[pos_])) ++pos_;
            QToken t;
            t.offset = pos_;
            if (pos_ >= src_.size()) {
                out.push_back(t);
                return out;
            }
            lexOne(t, out);
        }
    }

private:
    void lexOne(QToken& t, std::vector<QToken>& out) {
        const char c = src_[pos_];
        switch (c) {
            case '(': return single(t, QToken::Kind::LParen, out);
            case ')': return single(t, QToken::Kind::RParen, out);
            case '&': return single(t, QToken::Kind::And, out);
            case '|': return single(t, QToken::Kind::Or, out);
            case '!': return single(t, QToken::Kind::Not, out);
            case '"': return phrase(t, out);
            case '[': return fieldRef(t, out);
            default: return word(t, out);
        }
    }

    void single(QToken& t, QToken::Kind kind, std::vector<QToken>& out) {
        t.kind = kind;
        ++pos_;
        out.push_back(t);
    }

    void phrase(QToken& t, std::vector<QToken>& out) {
        const size_t close = src_.find('"', pos_ + 1);
        if (close == std::string_view::npos) fail(t.offset, "unterminated phrase: expected '\"'");
        t.kind = QToken::Kind::Phrase;
        t.text.assign(src_.substr(pos_ + 1, close - pos_ - 1));
        pos_ = close + 1;
        if (pos_ < src_.size() && src_[pos_] == '*') {
            t.prefix = true;
            ++pos_;
        }
        out.push_back(t);
    }

    // "[name]" optionally followed by "=", which is an operator only here.
    void fieldRef(QToken& t, std::vector<QToken>& out) {
        const size_t close = src_.find(']', pos_ + 1);
        if (close == std::string_view::npos) fail(t.offset, "unterminated item name: expected ']'");
        t.kind = QToken::Kind::FieldRef;
        t.text.assign(src_.substr(pos_ + 1, close - pos_ - 1));
        if (t.text.find_first_not_of(" \t") == std::string::npos) fail(t.offset, "empty item name []");
        pos_ = close + 1;
        out.push_back(t);
        size_t next = pos_;
        while (next < src_.size() && isSpace(src_[next])) ++next;
        if (next < src_.size() && src_[next] == '=') {
            QToken eq;
            eq.kind = QToken::Kind::Equals;
            eq.offset = next;
            out.push_back(eq);
            pos_ = next + 1;
        }
    }

    void word(QToken& t, std::vector<QToken>& out) {
        const size_t start = pos_;
        while (pos_ < src_.size() && !endsWord(src_[pos_])) ++pos_;
        std::string_view text = src_.substr(start, pos_ - start);
        t.kind = keyword(text);
        if (t.kind == QToken::Kind::Word) {
            while (!text.empty() && text.back() == '*') {
                text.remove_suffix(1);
                t.prefix = true;
            }
            if (const size_t star = text.find('*'); star != std::string_view::npos)
                fail(start + star, "the wildcard '*' is only supported at the end of a word");
            if (text.empty()) fail(start, "the wildcard '*' needs a word before it");
        }
        t.text.assign(text);
        out.push_back(t);
    }

    static QToken::Kind keyword(std::string_view text) {
        const std::string upper = upperAscii(text);
        if (upper == "AND") return QToken::Kind::And;
        if (upper == "OR") return QToken::Kind::Or;
        if (upper == "NOT") return QToken::Kind::Not;
        if (upper == "FIELD") return QToken::Kind::Field;
        if (upper == "CONTAINS") return QToken::Kind::Contains;
        return QToken::Kind::Word;
    }

    std::string_view src_;
    size_t pos_ = 0;
};

using NodePtr = std::unique_ptr<QueryNode>;

NodePtr makeNode(QueryNode::Kind kind) {
    auto node = std::make_unique<QueryNode>();
    node->kind = kind;
    return node;
}

// Terms that tokenised to nothing are null; a combination drops them and
// collapses to its only remaining operand.
NodePtr combine(QueryNode::Kind kind, std::vector<NodePtr> parts) {
    parts.erase(std::remove(parts.begin(), parts.end(), nullptr), parts.end());
    if (parts.empty()) return nullptr;
    if (parts.size() == 1) return std::move(parts[0]);
    auto node = makeNode(kind);
    node->children = std::move(parts);
    return node;
}

const char* describe(const QToken& t) {
    switch (t.kind) {
        case QToken::Kind::End: return "the end of the query";
        case QToken::Kind::RParen: return "')'";
        case QToken::Kind::And: return "AND";
        case QToken::Kind::Or: return "OR";
        case QToken::Kind::Contains: return "CONTAINS";
        case QToken::Kind::Equals: return "'='";
        default: return "a term";
    }
}

class QueryParser {
public:
    explicit QueryParser(std::string_view text) : tokens_(QueryLexer(text).run()) {}

    NodePtr run() {
        if (peek().kind == QToken::Kind::End) fail(0, "the query contains no word to search for");
        NodePtr root = parseOr("");
        if (peek().kind == QToken::Kind::RParen) fail(peek().offset, "unexpected ')' without '('");
        if (peek().kind != QToken::Kind::End) fail(peek().offset, std::string("unexpected ") + describe(peek()));
        if (!root) fail(0, "the query contains no word to search for");
        return root;
    }

private:
    class Nest {
    public:
        explicit Nest(QueryParser& p) : p_(p) {
            if (++p_.depth_ > kMaxNesting) fail(p_.peek().offset, "the query is nested too deeply");
        }
        ~Nest() { --p_.depth_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;

    private:
        QueryParser& p_;
    };

    const QToken& peek() const { return tokens_[pos_]; }
    const QToken& next() {
        const QToken& t = tokens_[pos_];
        if (pos_ + 1 < tokens_.size()) ++pos_;
        return t;
    }
    bool accept(QToken::Kind kind) {
        if (peek().kind != kind) return false;
        next();
        return true;
    }
    bool startsTerm() const {
        switch (peek().kind) {
            case QToken::Kind::Word:
            case QToken::Kind::Phrase:
            case QToken::Kind::LParen:
            case QToken::Kind::Not:
            case QToken::Kind::FieldRef:
            case QToken::Kind::Field: return true;
            default: return false;
        }
    }

    // `scope` is the item key terms are confined to, empty for the body.
    NodePtr parseOr(const std::string& scope) {
        std::vector<NodePtr> parts;
        parts.push_back(parseAnd(scope));
        while (accept(QToken::Kind::Or)) parts.push_back(parseAnd(scope));
        return combine(QueryNode::Kind::Or, std::move(parts));
    }

    NodePtr parseAnd(const std::string& scope) {
        std::vector<NodePtr> parts;
        parts.push_back(parseNot(scope));
        for (;;) {
            if (accept(QToken::Kind::And))
                parts.push_back(parseNot(scope));
            else if (startsTerm())
                parts.push_back(parseNot(scope));
            else
                break;
        }
        return combine(QueryNode::Kind::And, std::move(parts));
    }

    NodePtr parseNot(const std::string& scope) {
        if (!accept(QToken::Kind::Not)) return parsePrimary(scope);
        Nest nest(*this);
        NodePtr inner = parseNot(scope);
        if (!inner) return nullptr;
        if (inner->kind == QueryNode::Kind::Not) return std::move(inner->children[0]);  // NOT NOT a is a
        auto node = makeNode(QueryNode::Kind::Not);
        node->children.push_back(std::move(inner));
        return node;
    }

    NodePtr parsePrimary(const std::string& scope) {
        const QToken& t = peek();
        switch (t.kind) {
            case QToken::Kind::Word:
            case QToken::Kind::Phrase: return term(next(), scope);
            case QToken::Kind::LParen: return parseGroup(scope);
            case QToken::Kind::Field: {
                next();
                if (peek().kind != QToken::Kind::Word) fail(peek().offset, "expected an item name after FIELD");
                const std::string name = next().text;
                return parseScoped(name);
            }
            case QToken::Kind::FieldRef: return parseScoped(next().text);
            default: fail(t.offset, std::string("expected a word, a phrase or '(', found ") + describe(t));
        }
    }

    NodePtr parseGroup(const std::string& scope) {
        Nest nest(*this);
        next();
        NodePtr inner = parseOr(scope);
        if (peek().kind != QToken::Kind::RParen)
            fail(peek().offset, std::string("expected ')', found ") + describe(peek()));
        next();
        return inner;
    }

    NodePtr parseScoped(const std::string& name) {
        if (!accept(QToken::Kind::Contains) && !accept(QToken::Kind::Equals))
            fail(peek().offset, "expected CONTAINS or '=' after the item name");
        const std::string key = fieldKey(name);
        const QToken& t = peek();
        if (t.kind == QToken::Kind::Word || t.kind == QToken::Kind::Phrase) return term(next(), key);
        if (t.kind == QToken::Kind::LParen) return parseGroup(key);
        fail(t.offset, std::string("expected a word, a phrase or '(' after CONTAINS, found ") + describe(t));
    }

    static NodePtr term(const QToken& t, const std::string& scope) {
        std::vector<std::string> tokens = tokenize(t.text);
        if (tokens.empty()) return nullptr;
        auto node = makeNode(QueryNode::Kind::Term);
        node->prefix = t.prefix;
        node->scoped = !scope.empty();
        if (node->scoped)
            for (auto& token : tokens) token.insert(0, scope);
        node->tokens = std::move(tokens);
        return node;
    }

    std::vector<QToken> tokens_;
    size_t pos_ = 0;
    size_t depth_ = 0;
};

}  // namespace

std::unique_ptr<QueryNode> parseQuery(std::string_view text) { return QueryParser(text).run(); }

}  // namespace quire::ftquery
