#include "vorlan_core/core/syntax/lexer.hpp"

#include "common/text.hpp"
#include "vorlan_core/core/diagnostics/sink.hpp"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace vorlan::compiler {

namespace {
constexpr std::array<std::string_view, 58> kKeywords = {
    "int", "float", "string", "boolean", "range", "tuple", "dvar", "dexpr", "minimize",
    "maximize", "subject", "to", "constraints", "constraint", "assert", "with", "forall",
    "sum", "prod", "min", "max", "in", "not", "if", "else", "union", "inter", "diff",
    "symdiff", "mod", "div", "setof", "key", "execute", "infinity", "maxint", "abs", "card",
    "asSet", "ord", "first", "last", "item", "floor", "ceil", "round", "sqrt", "exp", "log",
    "pow", "minl", "maxl", "float+", "int+", "true", "false", "ftoi", ""};

bool ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool ident_char(char c) { return ident_start(c) || (c >= '0' && c <= '9'); }
bool digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool is_keyword(std::string_view w) {
    if (w.empty() || w == "true" || w == "false" || w == "float+" || w == "int+") return false;
    for (auto k : kKeywords)
        if (k == w) return true;
    return false;
}

std::string describe(const Token& t, std::string_view src) {
    switch (t.kind) {
        case Tok::End: return "end of input";
        case Tok::Ident: return "identifier '" + excerpt(t.text) + "'";
        case Tok::Keyword: return "keyword '" + t.text + "'";
        case Tok::Int:
        case Tok::Float: return "number " + excerpt(src.substr(t.begin, t.end - t.begin));
        case Tok::String: return "string \"" + excerpt(t.text, 30) + "\"";
        case Tok::Op: return "'" + t.text + "'";
        case Tok::Execute: return "execute block";
        case Tok::Error: return t.text;
    }
    return "?";
}

// peek() beyond the current token, or of a current token not lexed yet.
const Token& Lexer::lex_ahead(std::size_t k) {
    Token& cur = slot_[cur_];
    if (!have_cur_) {
        lex(cur);
        have_cur_ = true;
    }
    if (k == 0) return cur;
    while (ahead_.size() < k) {
        const Token& last = ahead_.empty() ? cur : ahead_.back();
        // End and Error repeat: every later token is the same one.
        if (last.kind == Tok::End || last.kind == Tok::Error) return last;
        lex(ahead_.emplace_back());
    }
    return ahead_[k - 1];
}

const Token& Lexer::next() {
    const Token& t = peek(0);
    // End and Error stay current: every later call sees them again.
    if (t.kind == Tok::End || t.kind == Tok::Error) return t;
    cur_ ^= 1;
    if (ahead_.empty()) {
        have_cur_ = false;
    } else {
        slot_[cur_] = std::move(ahead_.front());
        ahead_.pop_front();
    }
    return slot_[cur_ ^ 1];
}

void Lexer::advance(std::size_t n) {
    for (std::size_t i = 0; i < n && p_ < src_.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(src_[p_++]);
        // "\n", "\r\n" and a lone "\r" each end one line.
        if (c == '\n' || (c == '\r' && (p_ >= src_.size() || src_[p_] != '\n'))) {
            ++pos_.line;
            pos_.col = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++pos_.col;  // columns count code points
        }
    }
}

void Lexer::skip_space_and_comments(Token& err) {
    for (;;) {
        char c = at(p_);
        if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
            advance_ascii(1);
        } else if (c == '\n' || c == '\r') {
            advance();
        } else if (c == '/' && at(p_ + 1) == '/') {
            while (p_ < src_.size() && src_[p_] != '\n' && src_[p_] != '\r') advance();
        } else if (c == '/' && at(p_ + 1) == '*') {
            Pos start = pos_;
            std::size_t close = src_.find("*/", p_ + 2);
            if (close == std::string_view::npos) {
                err.kind = Tok::Error;
                err.pos = start;
                err.text = "unterminated block comment (opened here, '*/' never found)";
                p_ = src_.size();
                return;
            }
            advance(close + 2 - p_);
        } else {
            return;
        }
    }
}

// Skips `name? { ... }` after `execute`, tracking braces, strings and comments only.
bool Lexer::skip_execute_body(Token& t) {
    std::size_t save = p_;
    Pos save_pos = pos_;
    Token dummy;
    skip_space_and_comments(dummy);
    if (ident_start(at(p_))) {
        while (ident_char(at(p_))) advance();
        skip_space_and_comments(dummy);
    }
    if (at(p_) != '{' || dummy.kind == Tok::Error) {
        p_ = save;
        pos_ = save_pos;
        return false;
    }
    int depth = 0;
    while (p_ < src_.size()) {
        char c = src_[p_];
        if (c == '{') {
            ++depth;
            advance();
        } else if (c == '}') {
            advance();
            if (--depth == 0) {
                t.kind = Tok::Execute;
                t.text = "execute";
                return true;
            }
        } else if (c == '"' || c == '\'') {
            advance();
            while (p_ < src_.size() && src_[p_] != c && src_[p_] != '\n') {
                if (src_[p_] == '\\') advance();
                advance();
            }
            advance();
        } else if (c == '/' && (at(p_ + 1) == '/' || at(p_ + 1) == '*')) {
            Token e;
            skip_space_and_comments(e);
            if (e.kind == Tok::Error) {
                t = e;
                return true;
            }
        } else {
            advance();
        }
    }
    t.kind = Tok::Error;
    t.text = "unterminated execute block: '}' never found";
    return true;
}

namespace {

// Length of the operator at the start of c0 c1 c2, or 0 when there is none.
std::size_t op_length(char c0, char c1, char c2, bool data) {
    switch (c0) {
        case '.': return c1 == '.' ? (c2 == '.' ? 3 : 2) : 1;
        case '<':
        case '>':
        case '!': return c1 == '=' ? 2 : 1;
        case '=': return c1 == '=' || c1 == '>' ? 2 : 1;
        case '+':
        case '-':
        case '*': return c1 == '=' ? 2 : 1;
        case '&': return c1 == '&' ? 2 : 0;
        case '|': return c1 == '|' ? 2 : 1;
        case '#': return data && c1 == '[' ? 2 : 0;
        case ']': return data && c1 == '#' ? 2 : 1;
        case '/':
        case '%':
        case '^':
        case ';':
        case ',':
        case ':':
        case '(':
        case ')':
        case '[':
        case '{':
        case '}':
        case '?': return 1;
        default: return 0;
    }
}

}  // namespace

// A number literal at the current position (t.pos and t.begin already set).
void Lexer::lex_number(Token& t) {
    std::size_t s = p_;
    std::size_t e = p_;
    bool is_float = false;
    std::uint64_t value = 0;  // of the leading digits; exact up to 18 of them
    while (digit(at(e))) value = value * 10 + static_cast<unsigned>(src_[e++] - '0');
    const std::size_t int_digits = e - s;
    // "1..n" is a range, not the float "1." followed by ".n".
    if (at(e) == '.' && at(e + 1) != '.') {
        is_float = true;
        ++e;
        while (digit(at(e))) ++e;
    }
    if (at(e) == 'e' || at(e) == 'E') {
        std::size_t q = e + 1;
        if (at(q) == '+' || at(q) == '-') ++q;
        if (digit(at(q))) {
            is_float = true;
            e = q;
            while (digit(at(e))) ++e;
        }
    }
    advance_ascii(e - s);
    t.end = p_;
    std::string_view digits = src_.substr(s, e - s);
    if (ident_start(at(p_))) {
        t.kind = Tok::Error;
        t.text.append("malformed number '").append(digits).append(1, at(p_)).append("...'");
        return;
    }
    const char* first = src_.data() + s;
    const char* last = src_.data() + p_;
    if (is_float) {
        t.kind = Tok::Float;
        // from_chars leaves the value untouched when it overflows; strtod gives +-inf or 0.
        auto r = std::from_chars(first, last, t.fval);
        if (r.ec != std::errc() || r.ptr != last) t.fval = std::strtod(std::string(digits).c_str(), nullptr);
    } else {
        t.kind = Tok::Int;
        if (int_digits <= 18) {
            t.ival = static_cast<std::int64_t>(value);
            return;
        }
        auto r = std::from_chars(first, last, t.ival);
        if (r.ec == std::errc::result_out_of_range) {
            t.kind = Tok::Error;
            t.text.append("integer literal ").append(digits).append(" does not fit in 64 bits (write it as a float, e.g. ")
                .append(digits).append(".0)");
        }
    }
}

// Spaces and line breaks; comments are left to skip_space_and_comments.
void Lexer::skip_blanks() {
    for (;;) {
        char c = at(p_);
        if (c == ' ' || c == '\t' || c == '\f' || c == '\v') advance_ascii(1);
        else if (c == '\n' || c == '\r') advance();
        else return;
    }
}

std::size_t Lexer::plain_number(Token& t, std::size_t budget) {
    if (have_cur_ || !ahead_.empty() || budget == 0) return 0;
    const std::size_t start = p_;
    const Pos start_pos = pos_;
    skip_blanks();
    const Pos first = pos_;
    const std::size_t begin = p_;
    char sign = at(p_);
    std::size_t used = 1;
    if (sign == '-' || sign == '+') {
        advance_ascii(1);
        skip_blanks();
        ++used;
    }
    char c = at(p_);
    if (used <= budget && (digit(c) || (c == '.' && digit(at(p_ + 1))))) {
        t.text.clear();
        t.ival = 0;
        t.fval = 0.0;
        t.pos = pos_;
        t.begin = p_;
        lex_number(t);
        if (t.kind != Tok::Error) {
            if (sign == '-') {
                if (t.kind == Tok::Int) t.ival = -t.ival;
                else t.fval = -t.fval;
            }
            t.pos = first;
            t.begin = begin;
            skip_blanks();
            if (at(p_) != ',') return used;
            // A comma past the budget: all of it is left to next(), which reports the limit there.
            if (used < budget) {
                advance_ascii(1);
                return used + 1;
            }
        }
    }
    p_ = start;
    pos_ = start_pos;
    return 0;
}

// Lexes the next token into t, whose storage is reused.
void Lexer::lex(Token& t) {
    t.kind = Tok::End;
    t.text.clear();
    t.ival = 0;
    t.fval = 0.0;
    t.begin = t.end = 0;
    skip_space_and_comments(t);
    if (t.kind == Tok::Error) return;
    t.pos = pos_;
    t.begin = p_;
    if (p_ >= src_.size()) {
        t.end = p_;
        return;
    }
    char c = src_[p_];
    if (ident_start(c)) {
        std::size_t s = p_;
        std::size_t e = p_ + 1;
        while (ident_char(at(e))) ++e;
        advance_ascii(e - s);
        t.text.append(src_.data() + s, e - s);
        t.kind = is_keyword(t.text) ? Tok::Keyword : Tok::Ident;
        if (t.kind == Tok::Keyword && t.text == "execute" && !data_) skip_execute_body(t);
        t.end = p_;
        return;
    }
    if (digit(c) || (c == '.' && digit(at(p_ + 1)))) {
        lex_number(t);
        return;
    }
    if (c == '"') {
        advance();
        for (;;) {
            if (p_ >= src_.size() || src_[p_] == '\n' || src_[p_] == '\r') {
                t.kind = Tok::Error;
                t.text = "unterminated string literal (a string must close on the line it opens)";
                return;
            }
            char d = src_[p_];
            if (d == '"') {
                advance();
                break;
            }
            if (d == '\\') {
                char e = at(p_ + 1);
                if (e == 'n') t.text += '\n';
                else if (e == 't') t.text += '\t';
                else if (e == '"' || e == '\\') t.text += e;
                else if (e == '\'' ) t.text += e;
                else {
                    t.kind = Tok::Error;
                    t.pos = pos_;
                    t.text = std::string("unknown escape '\\") + (e ? text::escape_controls(std::string(1, e)) : "") + "' in string";
                    return;
                }
                advance(2);
                continue;
            }
            // A run of plain characters at once.
            std::size_t e = p_ + 1;
            while (e < src_.size() && src_[e] != '"' && src_[e] != '\\' && src_[e] != '\n' && src_[e] != '\r') ++e;
            t.text.append(src_.data() + p_, e - p_);
            advance(e - p_);
        }
        t.kind = Tok::String;
        t.end = p_;
        return;
    }
    if (std::size_t n = op_length(c, at(p_ + 1), at(p_ + 2), data_)) {
        t.kind = Tok::Op;
        t.text.append(src_.data() + p_, n);
        advance_ascii(n);
        t.end = p_;
        return;
    }
    t.kind = Tok::Error;
    unsigned char u = static_cast<unsigned char>(c);
    char buf[64];
    if (u >= 0x20 && u < 0x7F) {
        std::snprintf(buf, sizeof buf, "unexpected character '%c'", c);
    } else if (char32_t cp = utf8_code_point(p_); cp != 0) {
        // The character, not the first byte of its encoding: text decoded from Latin-1 carries
        // each byte of the file as the code point of the same value.
        std::snprintf(buf, sizeof buf, "unexpected character U+%04X (not part of the language)",
                      static_cast<unsigned>(cp));
    } else {
        std::snprintf(buf, sizeof buf, "unexpected byte 0x%02X (not part of the language)", u);
    }
    t.text = buf;
}

}  // namespace vorlan::compiler
