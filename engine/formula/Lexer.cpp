#include "engine/formula/Lexer.h"

#include "engine/formula/Failure.h"

#include <charconv>
#include <cmath>

namespace quire::formula {

namespace {

bool isIdentifierStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
}
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isIdentifierPart(unsigned char c) { return isIdentifierStart(c) || isDigit(c); }
bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

class Lexer {
public:
    explicit Lexer(std::string_view source) : src_(source) {}

    std::vector<Token> run() {
        std::vector<Token> tokens;
        for (;;) {
            skipSpace();
            Token token;
            token.offset = static_cast<uint32_t>(pos_);
            if (pos_ >= src_.size()) {
                tokens.push_back(token);
                return tokens;
            }
            lexOne(token);
            tokens.push_back(std::move(token));
        }
    }

private:
    void skipSpace() {
        while (pos_ < src_.size() && isSpace(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    }
    char peek(size_t ahead = 0) const { return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : '\0'; }
    bool startsWith(std::string_view s) const { return src_.substr(pos_, s.size()) == s; }

    void lexOne(Token& token) {
        const auto c = static_cast<unsigned char>(src_[pos_]);
        if (isDigit(c) || (c == '.' && isDigit(static_cast<unsigned char>(peek(1))))) return lexNumber(token);
        if (isIdentifierStart(c)) return lexName(token, TokenKind::Identifier);
        if (c == '@') {
            ++pos_;
            if (pos_ >= src_.size() || !isIdentifierStart(static_cast<unsigned char>(src_[pos_])))
                fail(ErrorKind::Syntax, token.offset, "expected a function name after '@'");
            return lexName(token, TokenKind::Function);
        }
        if (c == '"') return lexText(token, '"');
        if (c == '{') return lexText(token, '}');
        if (c == '[') return lexKeyword(token);
        lexOperator(token);
    }

    void lexNumber(Token& token) {
        const size_t start = pos_;
        while (isDigit(static_cast<unsigned char>(peek()))) ++pos_;
        if (peek() == '.') {
            ++pos_;
            while (isDigit(static_cast<unsigned char>(peek()))) ++pos_;
        }
        if ((peek() == 'e' || peek() == 'E') &&
            (isDigit(static_cast<unsigned char>(peek(1))) ||
             ((peek(1) == '+' || peek(1) == '-') && isDigit(static_cast<unsigned char>(peek(2)))))) {
            pos_ += 2;
            while (isDigit(static_cast<unsigned char>(peek()))) ++pos_;
        }
        token.kind = TokenKind::Number;
        const auto [end, ec] = std::from_chars(src_.data() + start, src_.data() + pos_, token.number);
        if (ec != std::errc() || end != src_.data() + pos_ || !std::isfinite(token.number))
            fail(ErrorKind::Syntax, token.offset, "number out of range");
        if (isIdentifierStart(static_cast<unsigned char>(peek())))
            fail(ErrorKind::Syntax, static_cast<uint32_t>(pos_), "expected an operator after a number");
    }

    void lexName(Token& token, TokenKind kind) {
        const size_t start = pos_;
        while (pos_ < src_.size() && isIdentifierPart(static_cast<unsigned char>(src_[pos_]))) ++pos_;
        token.kind = kind;
        token.text.assign(src_.substr(start, pos_ - start));
    }

    // A backslash makes the next character literal, so both quote styles can
    // hold their own closing character.
    void lexText(Token& token, char close) {
        ++pos_;
        token.kind = TokenKind::Text;
        while (pos_ < src_.size()) {
            const char c = src_[pos_++];
            if (c == close) return;
            if (c == '\\' && pos_ < src_.size()) {
                token.text += src_[pos_++];
                continue;
            }
            token.text += c;
        }
        fail(ErrorKind::Syntax, token.offset, std::string("unterminated text: expected '") + close + "'");
    }

    void lexKeyword(Token& token) {
        const size_t close = src_.find(']', pos_);
        const size_t newline = src_.find('\n', pos_);
        if (close == std::string_view::npos || newline < close)
            fail(ErrorKind::Syntax, token.offset, "unterminated keyword: expected ']'");
        std::string_view name = src_.substr(pos_ + 1, close - pos_ - 1);
        while (!name.empty() && isSpace(static_cast<unsigned char>(name.front()))) name.remove_prefix(1);
        while (!name.empty() && isSpace(static_cast<unsigned char>(name.back()))) name.remove_suffix(1);
        if (name.empty()) fail(ErrorKind::Syntax, token.offset, "empty keyword []");
        token.kind = TokenKind::Keyword;
        token.text.assign(name);
        pos_ = close + 1;
    }

    void lexOperator(Token& token) {
        struct Spelling {
            std::string_view text;
            TokenKind kind;
        };
        // Longest spellings first.
        static constexpr Spelling kOperators[] = {
            {"*!=", TokenKind::PermNe}, {"*<>", TokenKind::PermNe}, {"*<=", TokenKind::PermLe},
            {"*>=", TokenKind::PermGe}, {"*=", TokenKind::PermEq},  {"*<", TokenKind::PermLt},
            {"*>", TokenKind::PermGt},  {":=", TokenKind::Assign},  {"!=", TokenKind::Ne},
            {"<>", TokenKind::Ne},      {"<=", TokenKind::Le},      {">=", TokenKind::Ge},
            {"(", TokenKind::LParen},   {")", TokenKind::RParen},   {";", TokenKind::Semicolon},
            {":", TokenKind::Colon},    {"+", TokenKind::Plus},     {"-", TokenKind::Minus},
            {"*", TokenKind::Star},     {"/", TokenKind::Slash},    {"=", TokenKind::Eq},
            {"<", TokenKind::Lt},       {">", TokenKind::Gt},       {"&", TokenKind::And},
            {"|", TokenKind::Or},       {"!", TokenKind::Not},
        };
        for (const auto& op : kOperators) {
            if (startsWith(op.text)) {
                token.kind = op.kind;
                pos_ += op.text.size();
                return;
            }
        }
        std::string shown(1, src_[pos_]);
        if (static_cast<unsigned char>(src_[pos_]) < 0x20) shown = "control character";
        fail(ErrorKind::Syntax, token.offset, std::string("unexpected character '") + shown + "'");
    }

    std::string_view src_;
    size_t pos_ = 0;
};

}  // namespace

std::vector<Token> tokenize(std::string_view source) { return Lexer(source).run(); }

const char* describe(TokenKind kind) {
    switch (kind) {
        case TokenKind::End: return "end of formula";
        case TokenKind::Number: return "number";
        case TokenKind::Text: return "text";
        case TokenKind::Identifier: return "name";
        case TokenKind::Function: return "@function";
        case TokenKind::Keyword: return "keyword";
        case TokenKind::LParen: return "'('";
        case TokenKind::RParen: return "')'";
        case TokenKind::Semicolon: return "';'";
        case TokenKind::Assign: return "':='";
        case TokenKind::Colon: return "':'";
        case TokenKind::Plus: return "'+'";
        case TokenKind::Minus: return "'-'";
        case TokenKind::Star: return "'*'";
        case TokenKind::Slash: return "'/'";
        case TokenKind::Eq: return "'='";
        case TokenKind::Ne: return "'!='";
        case TokenKind::Lt: return "'<'";
        case TokenKind::Gt: return "'>'";
        case TokenKind::Le: return "'<='";
        case TokenKind::Ge: return "'>='";
        case TokenKind::PermEq: return "'*='";
        case TokenKind::PermNe: return "'*!='";
        case TokenKind::PermLt: return "'*<'";
        case TokenKind::PermGt: return "'*>'";
        case TokenKind::PermLe: return "'*<='";
        case TokenKind::PermGe: return "'*>='";
        case TokenKind::And: return "'&'";
        case TokenKind::Or: return "'|'";
        case TokenKind::Not: return "'!'";
    }
    return "token";
}

}  // namespace quire::formula
