// Tokens of the Vorlan model and data files. The lexer is pulled one token at a time,
// so a very large input never becomes a very large token array.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace vorlan::compiler {

struct Pos {
    int line = 1;
    int col = 1;
};

enum class Tok : std::uint8_t {
    End,      // end of input
    Ident,    // identifier (not a keyword)
    Keyword,  // reserved word; text holds it
    Int,      // integer literal; ival holds it
    Float,    // float literal; fval holds it
    String,   // string literal; text holds the unescaped value
    Op,       // operator or punctuation; text holds it
    Execute,  // a whole `execute name? { ... }` block, skipped unread
    Error,    // lexical error; text holds the message
};

struct Token {
    Tok kind = Tok::End;
    std::string text;
    std::int64_t ival = 0;
    double fval = 0.0;
    Pos pos;
    std::size_t begin = 0;  // byte offsets into the source
    std::size_t end = 0;

    bool is_op(std::string_view s) const { return kind == Tok::Op && text == s; }
    bool is_kw(std::string_view s) const { return kind == Tok::Keyword && text == s; }
};

bool is_keyword(std::string_view word);

// Human-readable form of a token for "found X" in messages.
std::string describe(const Token& t);

class Lexer {
public:
    // data_mode admits `#[` and `]#`. A UTF-8 byte-order mark at the start is skipped; byte
    // offsets still count it, so source spans index the text as given.
    Lexer(std::string_view src, bool data_mode) : src_(src), data_(data_mode) {
        if (src_.substr(0, 3) == "\xEF\xBB\xBF") p_ = 3;
    }

    // The k-th token ahead (0 = current), lexing as far as needed.
    const Token& peek(std::size_t k = 0);
    Token next();
    std::string_view source() const { return src_; }

private:
    Token lex();
    void skip_space_and_comments(Token& err);
    bool skip_execute_body(Token& t);
    char at(std::size_t i) const { return i < src_.size() ? src_[i] : '\0'; }
    void advance(std::size_t n = 1);

    std::string_view src_;
    bool data_;
    std::size_t p_ = 0;
    Pos pos_;
    std::deque<Token> buf_;
    bool after_execute_ = false;
};

}  // namespace vorlan::compiler
