#include "engine/formula/Parser.h"

#include "engine/formula/Failure.h"
#include "engine/formula/Functions.h"
#include "engine/formula/Lexer.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace quire::formula {

namespace {

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isWord(const Token& t, std::string_view word) {
    return t.kind == TokenKind::Identifier && asciiLower(t.text) == word;
}

std::optional<Op> comparisonOp(TokenKind kind) {
    switch (kind) {
        case TokenKind::Eq: return Op::Eq;
        case TokenKind::Ne: return Op::Ne;
        case TokenKind::Lt: return Op::Lt;
        case TokenKind::Gt: return Op::Gt;
        case TokenKind::Le: return Op::Le;
        case TokenKind::Ge: return Op::Ge;
        case TokenKind::PermEq: return Op::PermEq;
        case TokenKind::PermNe: return Op::PermNe;
        case TokenKind::PermLt: return Op::PermLt;
        case TokenKind::PermGt: return Op::PermGt;
        case TokenKind::PermLe: return Op::PermLe;
        case TokenKind::PermGe: return Op::PermGe;
        default: return std::nullopt;
    }
}

std::unique_ptr<Node> makeNode(NodeKind kind, uint32_t offset) {
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->offset = offset;
    return node;
}

class Parser {
public:
    explicit Parser(std::string_view source) : tokens_(tokenize(source)) {
        program_ = std::make_unique<Program>();
        program_->source.assign(source);
    }

    std::unique_ptr<Program> run() {
        while (!at(TokenKind::End)) {
            if (accept(TokenKind::Semicolon)) continue;
            parseStatement();
            if (!at(TokenKind::End)) expect(TokenKind::Semicolon);
        }
        program_->variableCount = static_cast<uint32_t>(variables_.size());
        return std::move(program_);
    }

private:
    // Nesting guard: every construct that recurses (parentheses, arguments,
    // unary operators) holds one level while it parses its operand.
    class Nest {
    public:
        Nest(Parser& p) : p_(p) {
            if (++p_.depth_ > kMaxNesting)
                fail(ErrorKind::Limit, p_.peek().offset, std::string("nesting deeper than ") + std::to_string(kMaxNesting) + " levels");
        }
        ~Nest() { --p_.depth_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;

    private:
        Parser& p_;
    };

    const Token& peek(size_t ahead = 0) const { return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)]; }
    bool at(TokenKind kind) const { return peek().kind == kind; }
    const Token& next() {
        const Token& t = peek();
        if (pos_ < tokens_.size() - 1) ++pos_;
        return t;
    }
    bool accept(TokenKind kind) {
        if (!at(kind)) return false;
        next();
        return true;
    }
    const Token& expect(TokenKind kind) {
        if (!at(kind)) fail(ErrorKind::Syntax, peek().offset, std::string("expected ") + describe(kind));
        return next();
    }

    void parseStatement() {
        Statement st;
        st.offset = peek().offset;
        if (isWord(peek(), "rem") && peek(1).kind == TokenKind::Text) {
            pos_ += 2;
            return;
        }
        if (isWord(peek(), "select") && !isAssignmentAhead(0)) {
            next();
            st.kind = StatementKind::Select;
            program_->hasSelect = true;
        } else if (isWord(peek(), "field") && peek(1).kind == TokenKind::Identifier && isAssignmentAhead(1)) {
            next();
            st.kind = StatementKind::FieldAssign;
            st.fieldName = next().text;
            next();  // :=
            addWritten(st.fieldName);
        } else if (isAssignmentAhead(0)) {
            const Token& name = next();
            next();  // :=
            st.kind = StatementKind::Assign;
            st.expr = parseExpression();
            // Declared after its expression: in `x := x + 1` the right side
            // still reads the field x.
            st.slot = declareVariable(name.text);
            program_->statements.push_back(std::move(st));
            return;
        }
        st.expr = parseExpression();
        if (st.kind != StatementKind::FieldAssign) program_->hasExpression = true;
        program_->statements.push_back(std::move(st));
    }

    bool isAssignmentAhead(size_t at) const {
        return peek(at).kind == TokenKind::Identifier && peek(at + 1).kind == TokenKind::Assign;
    }

    std::unique_ptr<Node> parseExpression() {
        Nest nest(*this);
        return parseLogical();
    }

    std::unique_ptr<Node> parseLogical() {
        auto first = parseNot();
        if (!at(TokenKind::And) && !at(TokenKind::Or)) return first;
        auto node = makeNode(NodeKind::Logical, first->offset);
        node->children.push_back(std::move(first));
        while (at(TokenKind::And) || at(TokenKind::Or)) {
            const Token& op = next();
            node->ops.push_back(op.kind == TokenKind::And ? Op::And : Op::Or);
            node->opOffsets.push_back(op.offset);
            node->children.push_back(parseNot());
        }
        return node;
    }

    std::unique_ptr<Node> parseNot() {
        if (!at(TokenKind::Not)) return parseComparison();
        Nest nest(*this);
        auto node = makeNode(NodeKind::Not, next().offset);
        node->children.push_back(parseNot());
        return node;
    }

    template <class OpFor, class Operand>
    std::unique_ptr<Node> parseChain(OpFor opFor, Operand operand) {
        auto first = (this->*operand)();
        std::optional<Op> op = opFor(peek().kind);
        if (!op) return first;
        auto node = makeNode(NodeKind::Chain, first->offset);
        node->children.push_back(std::move(first));
        while (op) {
            node->ops.push_back(*op);
            node->opOffsets.push_back(next().offset);
            node->children.push_back((this->*operand)());
            op = opFor(peek().kind);
        }
        return node;
    }

    std::unique_ptr<Node> parseComparison() { return parseChain(comparisonOp, &Parser::parseAdditive); }

    std::unique_ptr<Node> parseAdditive() {
        auto opFor = [](TokenKind k) -> std::optional<Op> {
            if (k == TokenKind::Plus) return Op::Add;
            if (k == TokenKind::Minus) return Op::Sub;
            return std::nullopt;
        };
        return parseChain(opFor, &Parser::parseMultiplicative);
    }

    std::unique_ptr<Node> parseMultiplicative() {
        auto opFor = [](TokenKind k) -> std::optional<Op> {
            if (k == TokenKind::Star) return Op::Mul;
            if (k == TokenKind::Slash) return Op::Div;
            return std::nullopt;
        };
        return parseChain(opFor, &Parser::parseUnary);
    }

    std::unique_ptr<Node> parseUnary() {
        if (at(TokenKind::Plus) || at(TokenKind::Minus)) return parseSigned(&Parser::parseUnary);
        return parseList();
    }

    // A sign applies to what follows: the whole list at the start of an
    // operand (-1:2 negates both), a single element after ':'.
    std::unique_ptr<Node> parseSigned(std::unique_ptr<Node> (Parser::*operand)()) {
        Nest nest(*this);
        const Token& sign = next();
        auto inner = (this->*operand)();
        if (sign.kind == TokenKind::Plus) return inner;
        auto node = makeNode(NodeKind::Negate, sign.offset);
        node->children.push_back(std::move(inner));
        return node;
    }

    std::unique_ptr<Node> parseListElement() {
        if (at(TokenKind::Plus) || at(TokenKind::Minus)) return parseSigned(&Parser::parseListElement);
        return parsePrimary();
    }

    std::unique_ptr<Node> parseList() {
        auto first = parsePrimary();
        if (!at(TokenKind::Colon)) return first;
        auto node = makeNode(NodeKind::List, first->offset);
        node->children.push_back(std::move(first));
        while (accept(TokenKind::Colon)) node->children.push_back(parseListElement());
        return node;
    }

    std::unique_ptr<Node> parsePrimary() {
        const Token& t = peek();
        switch (t.kind) {
            case TokenKind::Number: {
                auto node = makeNode(NodeKind::Literal, next().offset);
                node->literal = Value(t.number);
                return node;
            }
            case TokenKind::Text: {
                auto node = makeNode(NodeKind::Literal, next().offset);
                node->literal = Value(t.text);
                return node;
            }
            case TokenKind::Identifier: return parseReference(next());
            case TokenKind::Function: return parseCall(next());
            case TokenKind::LParen: {
                next();
                auto inner = parseExpression();
                expect(TokenKind::RParen);
                return inner;
            }
            case TokenKind::Keyword:
                fail(ErrorKind::Syntax, t.offset, std::string("keyword [") + t.text + "] is only allowed as an @function argument");
            default: fail(ErrorKind::Syntax, t.offset, std::string("expected a value, found ") + describe(t.kind));
        }
    }

    std::unique_ptr<Node> parseReference(const Token& t) {
        if (auto it = variables_.find(asciiLower(t.text)); it != variables_.end()) {
            auto node = makeNode(NodeKind::Variable, t.offset);
            node->slot = it->second;
            node->name = t.text;
            return node;
        }
        auto node = makeNode(NodeKind::Field, t.offset);
        node->name = t.text;
        addRead(t.text);
        return node;
    }

    std::unique_ptr<Node> parseCall(const Token& t) {
        const FunctionDef* def = findFunction(t.text);
        if (!def) fail(ErrorKind::Syntax, t.offset, std::string("unknown function @") + t.text);
        auto node = makeNode(NodeKind::Call, t.offset);
        node->function = def;
        node->name = t.text;
        if (accept(TokenKind::LParen) && !accept(TokenKind::RParen)) {
            Nest nest(*this);
            do {
                node->children.push_back(parseArgument());
            } while (accept(TokenKind::Semicolon));
            expect(TokenKind::RParen);
        }
        checkArguments(*node, *def);
        return node;
    }

    std::unique_ptr<Node> parseArgument() {
        if (at(TokenKind::Keyword)) {
            const Token& t = next();
            auto node = makeNode(NodeKind::Keyword, t.offset);
            node->literal = Value(t.text);
            return node;
        }
        return parseExpression();
    }

    void checkArguments(const Node& node, const FunctionDef& def) {
        const size_t n = node.children.size();
        const std::string name = std::string("@") + std::string(def.name);
        const bool maskRefuses = def.countMask && (n >= 16 || !(def.countMask & (1u << n)));
        if (n < def.minArgs || (def.maxArgs != kVariadic && n > def.maxArgs) || (def.oddArgs && n % 2 == 0) ||
            maskRefuses) {
            std::string expected;
            if (def.countMask)
                expected = countsAllowed(def.countMask);
            else if (def.oddArgs)
                expected = std::string("an odd number (at least ") + std::to_string(def.minArgs) + ") of arguments";
            else if (def.minArgs == def.maxArgs)
                expected = std::to_string(def.minArgs) + (def.minArgs == 1 ? " argument" : " arguments");
            else if (def.maxArgs == kVariadic)
                expected = std::string("at least ") + std::to_string(def.minArgs) + " arguments";
            else
                expected = std::to_string(def.minArgs) + " to " + std::to_string(def.maxArgs) + " arguments";
            fail(ErrorKind::Syntax, node.offset, name + " expects " + expected + ", got " + std::to_string(n));
        }
        if (def.fieldNameArgument) {
            const Node& arg = *node.children[0];
            if (arg.kind != NodeKind::Field && arg.kind != NodeKind::Variable)
                fail(ErrorKind::Syntax, arg.offset, name + " expects a field name");
        }
    }

    static std::string countsAllowed(uint16_t mask) {
        std::string out;
        for (unsigned n = 0; n < 16; ++n) {
            if (!(mask & (1u << n))) continue;
            if (!out.empty()) out += (mask >> (n + 1)) ? ", " : " or ";
            out += std::to_string(n);
        }
        return out + " arguments";
    }

    uint32_t declareVariable(const std::string& name) {
        auto [it, inserted] = variables_.emplace(asciiLower(name), static_cast<uint32_t>(variables_.size()));
        return it->second;
    }

    static void addUnique(std::vector<std::string>& names, std::set<std::string>& seen, const std::string& name) {
        if (seen.insert(asciiLower(name)).second) names.push_back(name);
    }
    void addRead(const std::string& name) { addUnique(program_->fieldsRead, readSeen_, name); }
    void addWritten(const std::string& name) { addUnique(program_->fieldsWritten, writtenSeen_, name); }

    std::vector<Token> tokens_;
    size_t pos_ = 0;
    size_t depth_ = 0;
    std::map<std::string, uint32_t> variables_;
    std::set<std::string> readSeen_;
    std::set<std::string> writtenSeen_;
    std::unique_ptr<Program> program_;
};

}  // namespace

std::unique_ptr<Program> parseFormula(std::string_view source) { return Parser(source).run(); }

}  // namespace quire::formula
