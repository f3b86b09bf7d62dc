// Splits formula text into tokens. Internal to the formula library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quire::formula {

enum class TokenKind : uint8_t {
    End,
    Number,
    Text,
    Identifier,
    Function,  // @Name; text holds the name without '@'
    Keyword,   // [Name]; text holds the name without brackets
    LParen,
    RParen,
    Semicolon,
    Assign,  // :=
    Colon,
    Plus,
    Minus,
    Star,
    Slash,
    Eq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    PermEq,
    PermNe,
    PermLt,
    PermGt,
    PermLe,
    PermGe,
    And,
    Or,
    Not,
};

struct Token {
    TokenKind kind = TokenKind::End;
    uint32_t offset = 0;  // byte offset of the first character
    std::string text;     // identifier, function or keyword name, or decoded text literal
    double number = 0;
};

// Throws Failure (Syntax) on an unterminated literal or a stray character.
std::vector<Token> tokenize(std::string_view source);

const char* describe(TokenKind kind);

}  // namespace quire::formula
