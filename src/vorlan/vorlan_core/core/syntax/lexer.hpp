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
    Int,      // integer literal; ival holds it, text stays empty
    Float,    // float literal; fval holds it, text stays empty
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

    // Operators are never empty: the first byte decides most comparisons.
    bool is_op(std::string_view s) const {
        return kind == Tok::Op && text.size() == s.size() && text[0] == s[0] && (s.size() == 1 || text == s);
    }
    bool is_kw(std::string_view s) const { return kind == Tok::Keyword && text == s; }
};

bool is_keyword(std::string_view word);

// Human-readable form of a token of src for "found X" in messages.
std::string describe(const Token& t, std::string_view src);

class Lexer {
public:
    // data_mode admits `#[` and `]#`. A UTF-8 byte-order mark at the start is skipped; byte
    // offsets still count it, so source spans index the text as given.
    Lexer(std::string_view src, bool data_mode) : src_(src), data_(data_mode) {
        if (src_.substr(0, 3) == "\xEF\xBB\xBF") p_ = 3;
    }

    // The k-th token ahead (0 = current), lexing as far as needed.
    const Token& peek(std::size_t k = 0) { return k == 0 && have_cur_ ? slot_[cur_] : lex_ahead(k); }
    // Moves past the current token and returns it; it stays valid until the next call.
    const Token& next();
    std::string_view source() const { return src_; }
    // Data arrays are mostly plain numbers. When no token has been lexed ahead and the text
    // there is a number, optionally signed, then optionally a comma, with only spaces and
    // line breaks between them: reads them into t (the number token, its value signed, at
    // the position of its sign) and returns how many tokens that was. Otherwise, or when
    // that is more than budget tokens, returns 0 and moves nothing, leaving the text to
    // peek() and next().
    std::size_t plain_number(Token& t, std::size_t budget);

private:
    const Token& lex_ahead(std::size_t k);
    void lex(Token& t);
    void lex_number(Token& t);
    void skip_blanks();
    void skip_space_and_comments(Token& err);
    bool skip_execute_body(Token& t);
    char at(std::size_t i) const { return i < src_.size() ? src_[i] : '\0'; }
    // The code point of the well-formed UTF-8 sequence of two or more bytes at `i`, else 0.
    char32_t utf8_code_point(std::size_t i) const {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(at(i + k)); };
        const unsigned lead = b(0);
        const int n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (n == 0 || (n == 3 && lead >= 0xF0)) return 0;
        char32_t cp = lead & (0x7F >> n);
        for (int k = 1; k < n; ++k) {
            if ((b(k) & 0xC0) != 0x80) return 0;
            cp = (cp << 6) | (b(k) & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        return cp;
    }
    void advance(std::size_t n = 1);
    // Moves over n bytes known to be ASCII and not line breaks.
    void advance_ascii(std::size_t n) {
        p_ += n;
        pos_.col += static_cast<int>(n);
    }

    std::string_view src_;
    bool data_;
    std::size_t p_ = 0;
    Pos pos_;
    // Two slots take turns as the current token and the one just passed, so reading token
    // by token copies no token; tokens lexed further ahead by peek(k > 0) wait in ahead_.
    Token slot_[2];
    int cur_ = 0;
    bool have_cur_ = false;
    std::deque<Token> ahead_;
    bool after_execute_ = false;
};

}  // namespace vorlan::compiler
