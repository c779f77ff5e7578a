// Token-level reading shared by the model and data parsers: lookahead, expectations with
// "expected X, found Y" messages, a token budget and a nesting guard. Errors unwind as
// Fail and become the parser's ParseError.
#pragma once
#include <string>
#include <string_view>

#include "vorlan_core/core/syntax/lexer.hpp"
#include "vorlan_core/core/syntax/parser.hpp"

namespace vorlan::compiler {

struct Fail {
    ParseError e;
};

class TokenReader {
public:
    TokenReader(std::string_view src, bool data)
        : lx_(src, data), data_(data), max_tokens_(data ? kMaxDataTokens : kMaxModelTokens) {}

    Lexer lx_;
    int depth_ = 0;

    struct DepthGuard {
        TokenReader& p;
        DepthGuard(TokenReader& q, Pos pos) : p(q) {
            if (++p.depth_ > kMaxNesting)
                throw Fail{{pos, "nesting deeper than " + std::to_string(kMaxNesting) +
                                     " levels; simplify the expression or statement"}};
        }
        ~DepthGuard() { --p.depth_; }
    };

    const Token& cur() {
        const Token& t = lx_.peek();
        if (t.kind == Tok::Error) throw Fail{{t.pos, t.text}};
        return t;
    }
    const Token& ahead(std::size_t k) { return lx_.peek(k); }
    // Moves past the current token; the reference stays valid until the next take().
    const Token& take() {
        const Token& t = cur();
        if (++tokens_ > max_tokens_)
            throw Fail{{t.pos, std::string("the ") + (data_ ? "data" : "model") + " text is too large (more than " +
                                   std::to_string(max_tokens_) + " tokens)", true}};
        return lx_.next();
    }
    std::size_t tokens_ = 0;
    bool data_ = false;
    std::size_t max_tokens_ = 0;
    [[noreturn]] void fail(const std::string& expected) {
        const Token& t = cur();
        throw Fail{{t.pos, "expected " + expected + ", found " + describe(t, lx_.source())}};
    }
    [[noreturn]] void unsupported(Pos p, const std::string& msg) { throw Fail{{p, msg, true}}; }
    bool accept_op(std::string_view op) {
        if (cur().is_op(op)) {
            take();
            return true;
        }
        return false;
    }
    bool accept_kw(std::string_view kw) {
        if (cur().is_kw(kw)) {
            take();
            return true;
        }
        return false;
    }
    Token expect_op(std::string_view op, const char* context = nullptr) {
        if (!cur().is_op(op)) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on the chained form.
            std::string expected = "'";
            expected.append(op).append("'");
            if (context) expected.append(" ").append(context);
            fail(expected);
        }
        return take();
    }
    Token expect_ident(const std::string& what) {
        if (cur().kind != Tok::Ident) {
            if (cur().kind == Tok::Keyword)
                throw Fail{{cur().pos, "expected " + what + ", found keyword '" + cur().text +
                                           "' (keywords are reserved; choose another name)"}};
            fail(what);
        }
        return take();
    }

    // Runs parse() and turns a Fail into err; false on failure.
    template <class F>
    static bool guarded(ParseError& err, F&& parse) {
        try {
            parse();
            return true;
        } catch (Fail& f) {
            err = std::move(f.e);
            return false;
        }
    }
};

}  // namespace vorlan::compiler
