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
    "pow", "minl", "maxl", "float+", "int+", "true", "false", "", ""};

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

std::string describe(const Token& t) {
    switch (t.kind) {
        case Tok::End: return "end of input";
        case Tok::Ident: return "identifier '" + excerpt(t.text) + "'";
        case Tok::Keyword: return "keyword '" + t.text + "'";
        case Tok::Int:
        case Tok::Float: return "number " + excerpt(t.text);
        case Tok::String: return "string \"" + excerpt(t.text, 30) + "\"";
        case Tok::Op: return "'" + t.text + "'";
        case Tok::Execute: return "execute block";
        case Tok::Error: return t.text;
    }
    return "?";
}

const Token& Lexer::peek(std::size_t k) {
    while (buf_.size() <= k) {
        if (!buf_.empty() && (buf_.back().kind == Tok::End || buf_.back().kind == Tok::Error))
            return buf_.back();
        buf_.push_back(lex());
    }
    return buf_[k];
}

Token Lexer::next() {
    peek(0);
    // End and Error stay at the front: every later call sees them again.
    if (buf_.front().kind == Tok::End || buf_.front().kind == Tok::Error) return buf_.front();
    Token t = std::move(buf_.front());
    buf_.pop_front();
    return t;
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
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
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

Token Lexer::lex() {
    Token t;
    skip_space_and_comments(t);
    if (t.kind == Tok::Error) return t;
    t.pos = pos_;
    t.begin = p_;
    if (p_ >= src_.size()) {
        t.kind = Tok::End;
        t.end = p_;
        return t;
    }
    char c = src_[p_];
    if (ident_start(c)) {
        std::size_t s = p_;
        while (ident_char(at(p_))) advance();
        t.text = std::string(src_.substr(s, p_ - s));
        t.kind = is_keyword(t.text) ? Tok::Keyword : Tok::Ident;
        if (t.kind == Tok::Keyword && t.text == "execute" && !data_) {
            if (skip_execute_body(t)) {
                if (t.kind == Tok::Error) t.pos = {t.pos.line, t.pos.col};
            }
        }
        t.end = p_;
        return t;
    }
    if (digit(c) || (c == '.' && digit(at(p_ + 1)))) {
        std::size_t s = p_;
        bool is_float = false;
        while (digit(at(p_))) advance();
        // "1..n" is a range, not the float "1." followed by ".n".
        if (at(p_) == '.' && at(p_ + 1) != '.') {
            is_float = true;
            advance();
            while (digit(at(p_))) advance();
        }
        if (at(p_) == 'e' || at(p_) == 'E') {
            std::size_t q = p_ + 1;
            if (at(q) == '+' || at(q) == '-') ++q;
            if (digit(at(q))) {
                is_float = true;
                advance(q - p_);
                while (digit(at(p_))) advance();
            }
        }
        t.text = std::string(src_.substr(s, p_ - s));
        t.end = p_;
        if (ident_start(at(p_))) {
            t.kind = Tok::Error;
            t.text = "malformed number '" + t.text + std::string(1, at(p_)) + "...'";
            return t;
        }
        const char* first = src_.data() + s;
        const char* last = src_.data() + p_;
        if (is_float) {
            t.kind = Tok::Float;
            // from_chars leaves the value untouched when it overflows; strtod gives +-inf or 0.
            auto r = std::from_chars(first, last, t.fval);
            if (r.ec != std::errc() || r.ptr != last) t.fval = std::strtod(t.text.c_str(), nullptr);
        } else {
            t.kind = Tok::Int;
            auto r = std::from_chars(first, last, t.ival);
            if (r.ec == std::errc::result_out_of_range) {
                t.kind = Tok::Error;
                t.text = "integer literal " + t.text + " does not fit in 64 bits (write it as a float, e.g. " +
                         t.text + ".0)";
            }
        }
        return t;
    }
    if (c == '"') {
        advance();
        std::string v;
        for (;;) {
            if (p_ >= src_.size() || src_[p_] == '\n' || src_[p_] == '\r') {
                t.kind = Tok::Error;
                t.text = "unterminated string literal (a string must close on the line it opens)";
                return t;
            }
            char d = src_[p_];
            if (d == '"') {
                advance();
                break;
            }
            if (d == '\\') {
                char e = at(p_ + 1);
                if (e == 'n') v += '\n';
                else if (e == 't') v += '\t';
                else if (e == '"' || e == '\\') v += e;
                else if (e == '\'' ) v += e;
                else {
                    t.kind = Tok::Error;
                    t.pos = pos_;
                    t.text = std::string("unknown escape '\\") + (e ? text::escape_controls(std::string(1, e)) : "") + "' in string";
                    return t;
                }
                advance(2);
                continue;
            }
            v += d;
            advance();
        }
        t.kind = Tok::String;
        t.text = std::move(v);
        t.end = p_;
        return t;
    }
    static constexpr std::string_view three[] = {"..."};
    static constexpr std::string_view two[] = {"..", "<=", ">=", "==", "!=", "&&", "||", "=>", "+=", "-=", "*="};
    for (auto op : three)
        if (src_.substr(p_, op.size()) == op) {
            t.kind = Tok::Op;
            t.text = op;
            advance(op.size());
            t.end = p_;
            return t;
        }
    if (data_ && (src_.substr(p_, 2) == "#[" || src_.substr(p_, 2) == "]#")) {
        t.kind = Tok::Op;
        t.text = std::string(src_.substr(p_, 2));
        advance(2);
        t.end = p_;
        return t;
    }
    for (auto op : two)
        if (src_.substr(p_, op.size()) == op) {
            t.kind = Tok::Op;
            t.text = op;
            advance(op.size());
            t.end = p_;
            return t;
        }
    static constexpr std::string_view one = "+-*/;,:.()[]{}<>!?=|";
    if (one.find(c) != std::string_view::npos) {
        t.kind = Tok::Op;
        t.text = std::string(1, c);
        advance();
        t.end = p_;
        return t;
    }
    t.kind = Tok::Error;
    unsigned char u = static_cast<unsigned char>(c);
    char buf[64];
    if (u >= 0x20 && u < 0x7F)
        std::snprintf(buf, sizeof buf, "unexpected character '%c'", c);
    else
        std::snprintf(buf, sizeof buf, "unexpected byte 0x%02X (not part of the language)", u);
    t.text = buf;
    return t;
}

}  // namespace vorlan::compiler
