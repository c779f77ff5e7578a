// Lexer, parser and diagnostics of the Vorlan compiler core.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "vorlan_core/core/compiler.hpp"
#include "vorlan_core/core/syntax/lexer.hpp"
#include "vorlan_core/core/syntax/parser.hpp"
#include "vorlan_core/core/diagnostics/corrector.hpp"

using namespace vorlan::compiler;

namespace {
std::vector<std::string> kinds_and_texts(std::string_view src, bool data = false) {
    Lexer lx(src, data);
    std::vector<std::string> out;
    for (;;) {
        Token t = lx.next();
        if (t.kind == Tok::End) break;
        std::string k = t.kind == Tok::Ident     ? "id:"
                        : t.kind == Tok::Keyword ? "kw:"
                        : t.kind == Tok::Int     ? "int:"
                        : t.kind == Tok::Float   ? "float:"
                        : t.kind == Tok::String  ? "str:"
                        : t.kind == Tok::Op      ? "op:"
                        : t.kind == Tok::Execute ? "exec:"
                                                 : "err:";
        // Number tokens keep no text of their own: it is their span of the source.
        bool number = t.kind == Tok::Int || t.kind == Tok::Float;
        out.push_back(k + (number ? std::string(src.substr(t.begin, t.end - t.begin)) : t.text));
        if (t.kind == Tok::Error) break;
    }
    return out;
}
}  // namespace

TEST(Lexer, TokenKinds) {
    struct Case {
        const char* src;
        std::vector<std::string> want;
    } cases[] = {
        {"1..n", {"int:1", "op:..", "id:n"}},
        {"2. .5 1e-3 6.02E23", {"float:2.", "float:.5", "float:1e-3", "float:6.02E23"}},
        {"x<=y>=z==w!=v", {"id:x", "op:<=", "id:y", "op:>=", "id:z", "op:==", "id:w", "op:!=", "id:v"}},
        {"dvar float+ x", {"kw:dvar", "kw:float", "op:+", "id:x"}},
        {"\"a\\\"b\\n\"", {"str:a\"b\n"}},
        {"a // c\n/* d */ b", {"id:a", "id:b"}},
        {"= ...;", {"op:=", "op:...", "op:;"}},
        {"execute X { if (a) { s = \"}\"; } } y", {"exec:execute", "id:y"}},
        {"/* open", {"err:unterminated block comment (opened here, '*/' never found)"}},
        {"\"abc\ndef\"", {"err:unterminated string literal (a string must close on the line it opens)"}},
        {"99999999999999999999", {"err:integer literal 99999999999999999999 does not fit in 64 bits (write it as a float, e.g. 99999999999999999999.0)"}},
    };
    for (auto& c : cases) EXPECT_EQ(kinds_and_texts(c.src), c.want) << c.src;
}

TEST(Lexer, IntegerValuesUpToSixtyFourBits) {
    struct Case {
        const char* text;
        std::int64_t want;
    } cases[] = {{"0", 0}, {"007", 7}, {"123456789012345678", 123456789012345678},
                 {"999999999999999999", 999999999999999999}, {"1000000000000000000", 1000000000000000000},
                 {"9223372036854775807", INT64_MAX}, {"0009223372036854775807", INT64_MAX}};
    for (const Case& c : cases) {
        Lexer lx(c.text, true);
        Token t = lx.next();
        EXPECT_EQ(t.kind, Tok::Int) << c.text;
        EXPECT_EQ(t.ival, c.want) << c.text;
    }
    Lexer over("9223372036854775808", true);
    EXPECT_EQ(over.next().kind, Tok::Error);
}

TEST(Lexer, DataModeKeyedBrackets) {
    EXPECT_EQ(kinds_and_texts("#[ a: 1 ]#", true), (std::vector<std::string>{"op:#[", "id:a", "op::", "int:1", "op:]#"}));
    EXPECT_EQ(kinds_and_texts("#[", false), (std::vector<std::string>{"err:unexpected character '#'"}));
}

TEST(Lexer, PositionsCountLinesAndCodePoints) {
    Lexer lx("a\n  \"\xc3\xa9\" b", false);
    EXPECT_EQ(lx.next().pos.line, 1);
    Token s = lx.next();
    EXPECT_EQ(s.pos.line, 2);
    EXPECT_EQ(s.pos.col, 3);
    Token b = lx.next();
    EXPECT_EQ(b.pos.col, 7);  // the two-byte character counts as one column
}

TEST(Parser, PrecedenceAndChains) {
    Model m;
    ParseError err;
    ASSERT_TRUE(parse_model("float a = 1 + 2 * 3 - 4;\nfloat b = sum(i in 1..3) i * 2 + 1;", m, err)) << err.message;
    const Expr& a = *m.items[0].value;
    ASSERT_EQ(a.kind, Expr::K::Nary);
    EXPECT_EQ(a.ops, (std::vector<std::string>{"+", "-"}));
    EXPECT_EQ(a.kids[1]->kind, Expr::K::Nary);  // 2 * 3
    // The sum body binds like a product term: (sum ...) + 1.
    const Expr& b = *m.items[1].value;
    ASSERT_EQ(b.kind, Expr::K::Nary);
    EXPECT_EQ(b.kids[0]->kind, Expr::K::Aggregate);
}

TEST(Parser, StatementForms) {
    Model m;
    ParseError err;
    ASSERT_TRUE(parse_model("dvar float x[1..2];\nsubject to {\n  c[1]: x[1] >= 0;\n  fam: forall(i in 1..2) x[i] <= 3;\n"
                            "  forall(<a, b> in S : a > 0, k in 1..2) x[k] >= 0;\n  if (1 > 0) x[1] == 1; else { x[2] == 1; };\n}",
                            m, err))
        << err.message;
    const auto& st = m.items[1].stmts;
    ASSERT_EQ(st.size(), 4u);
    EXPECT_EQ(st[0]->label.name, "c");
    EXPECT_EQ(st[0]->label.index.size(), 1u);
    EXPECT_EQ(st[1]->kind, Stmt::K::Forall);
    EXPECT_EQ(st[1]->label.name, "fam");
    EXPECT_TRUE(st[2]->iters[0].tuple_pattern);
    EXPECT_TRUE(st[2]->iters[0].filter != nullptr);
    EXPECT_EQ(st[2]->iters[1].names, std::vector<std::string>{"k"});
    EXPECT_TRUE(st[3]->has_else);
}

TEST(Parser, DataValues) {
    DataFile d;
    ParseError err;
    ASSERT_TRUE(parse_data("a = [1 2, 3,];\nb = #[ <x, 1>: -2.5 ]#;\nc = { {1}, {} };", d, err)) << err.message;
    EXPECT_EQ(d.assigns[0].value->items().size(), 3u);
    const DataValue& keyed = *d.assigns[1].value;
    EXPECT_EQ(keyed.kind, DataValue::K::Keyed);
    auto item = keyed.items().begin();
    EXPECT_EQ(item->kind, DataValue::K::Tuple);
    EXPECT_EQ(item->items().size(), 2u);
    ++item;  // past the tuple and its two values
    EXPECT_DOUBLE_EQ(item->fval, -2.5);
    EXPECT_EQ(++item, keyed.items().end());
    std::vector<std::size_t> sizes;
    for (const DataValue& s : d.assigns[2].value->items()) sizes.push_back(s.items().size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1, 0}));
}

// Runs of plain numbers are read straight from the text; what they give must be what the
// tokens give: each number with its sign, at the position of its first token.
TEST(Parser, NumberRunsMatchTheirTokens) {
    const char* texts[] = {
        "a = [1, -2, + 3, 4.5e1, -.5, 7 8, 1e400, -0.0];",
        "a = [1,\n  2 ,\r\n-\n3\r4\t,\f5];",
        "a = [1, /* two */ 2, // three\n -3, - /* four */ 4];",
        "a = [[1, 2], [-3 4], <5, -6.25>, {7, 8}, x, -infinity, 9];",
        "a = #[ 1: -2, 3: 4 ]#;",
        "a = [1., 2.5E-3, 3e+2, .5e1, 5];",
    };
    for (const char* text : texts) {
        std::vector<std::string> want;
        Lexer lx(text, true);
        int sign = 0;
        Pos at;
        for (;;) {
            Token t = lx.next();
            if (t.kind == Tok::End) break;
            if (t.kind == Tok::Op && (t.text == "-" || t.text == "+")) {
                sign = t.text == "-" ? -1 : 1;
                at = t.pos;
                continue;
            }
            if (t.kind == Tok::Int || t.kind == Tok::Float) {
                if (!sign) at = t.pos;
                double v = t.kind == Tok::Int ? static_cast<double>(t.ival) : t.fval;
                if (sign < 0) v = -v;
                want.push_back(std::to_string(at.line) + ":" + std::to_string(at.col) + (t.kind == Tok::Int ? " int " : " float ") +
                               std::to_string(v) + (std::signbit(v) && v == 0 ? "-" : ""));
            }
            sign = 0;
        }
        DataFile d;
        ParseError err;
        ASSERT_TRUE(parse_data(text, d, err)) << text << ": " << err.message;
        std::vector<std::string> got;
        const DataValue* v = &*d.assigns[0].value;
        for (const DataValue* end = v + v->span; v != end; ++v) {
            if (v->kind != DataValue::K::Int && v->kind != DataValue::K::Float) continue;
            bool i = v->kind == DataValue::K::Int;
            double x = i ? static_cast<double>(v->ival) : v->fval;
            got.push_back(std::to_string(v->pos.line) + ":" + std::to_string(v->pos.col) + (i ? " int " : " float ") +
                          std::to_string(x) + (std::signbit(x) && x == 0 ? "-" : ""));
        }
        EXPECT_EQ(got, want) << text;
    }
}

TEST(Parser, DeepNestingIsBounded) {
    std::string deep = "float a = " + std::string(100000, '(') + "1" + std::string(100000, ')') + ";";
    Model m;
    ParseError err;
    EXPECT_FALSE(parse_model(deep, m, err));
    EXPECT_NE(err.message.find("nesting deeper than 256"), std::string::npos);
}

TEST(Diagnostics, MessagesHaveFileLineColumn) {
    struct Case {
        const char* mod;
        const char* dat;
        const char* want;
    } cases[] = {
        {"int n = ", "", "model:1:9: expected an expression, found end of input"},
        {"int n = ...;", "n = 1.5;", "data:1:5: expected an int for 'n', found the float 1.5"},
        {"int capacity = 3;\nint m = capacty;", "", "model:2:9: 'capacty' is not declared; did you mean 'capacity'?"},
        {"int n = ...;", "", "model:1:5: no data for 'n'"},
    };
    for (auto& c : cases) {
        CompileResult r = compile(c.mod, c.dat);
        ASSERT_FALSE(r.ok()) << c.mod;
        EXPECT_NE(r.message().find(c.want), std::string::npos) << r.message();
    }
    EXPECT_TRUE(compile("int n = ", "").has_syntax_error());
    EXPECT_FALSE(compile("int n = m;", "").has_syntax_error());
}

TEST(Diagnostics, EditDistance) {
    EXPECT_EQ(edit_distance("capacty", "capacity"), 1u);
    EXPECT_EQ(edit_distance("abc", "abc"), 0u);
    EXPECT_EQ(edit_distance("", "abc"), 3u);
    EXPECT_EQ(edit_distance("Demand", "demand"), 0u);  // case differences are free
}
