// Data files: `name = value;` assignments whose values are literals, tuples, sets,
// arrays and keyed arrays.
#include "vorlan_core/core/syntax/token_reader.hpp"

#include <utility>

namespace vorlan::compiler {

namespace {

class DataParser : public TokenReader {
public:
    explicit DataParser(std::string_view src) : TokenReader(src, true) {}

    DataValueP dvalue() {
        DepthGuard g(*this, cur().pos);
        const Token& t = cur();
        Pos p = t.pos;
        auto mk = [&](DataValue::K k) { return std::make_unique<DataValue>(k, p); };
        if (t.is_op("-") || t.is_op("+")) {
            bool neg = take().text == "-";
            const Token& n = cur();
            DataValueP v;
            if (n.kind == Tok::Int) {
                v = mk(DataValue::K::Int);
                v->ival = neg ? -n.ival : n.ival;
            } else if (n.kind == Tok::Float) {
                v = mk(DataValue::K::Float);
                v->fval = neg ? -n.fval : n.fval;
            } else if (n.is_kw("infinity")) {
                v = mk(DataValue::K::Infinity);
                v->ival = neg ? -1 : 1;
            } else if (n.is_kw("maxint")) {
                v = mk(DataValue::K::Maxint);
                v->ival = neg ? -1 : 1;
            } else {
                fail("a number after the sign");
            }
            take();
            return v;
        }
        if (t.kind == Tok::Int) {
            auto v = mk(DataValue::K::Int);
            v->ival = take().ival;
            return v;
        }
        if (t.kind == Tok::Float) {
            auto v = mk(DataValue::K::Float);
            v->fval = take().fval;
            return v;
        }
        if (t.kind == Tok::String) {
            auto v = mk(DataValue::K::Str);
            v->text = take().text;
            return v;
        }
        if (t.is_kw("infinity") || t.is_kw("maxint")) {
            auto v = mk(t.text == "infinity" ? DataValue::K::Infinity : DataValue::K::Maxint);
            v->ival = 1;
            take();
            return v;
        }
        if (t.kind == Tok::Ident || t.kind == Tok::Keyword) {
            auto v = mk(DataValue::K::Ident);
            v->text = take().text;
            return v;
        }
        auto seq = [&](DataValue::K k, std::string_view close, const char* what) {
            take();
            auto v = mk(k);
            for (;;) {
                if (accept_op(close)) return v;
                if (cur().kind == Tok::End) {
                    // Appended piece by piece: GCC 12 warns falsely on the chained form.
                    std::string expected = "'";
                    expected.append(close).append("' to close the ").append(what);
                    fail(expected);
                }
                v->items.push_back(dvalue());
                accept_op(",");
            }
        };
        if (t.is_op("<")) return seq(DataValue::K::Tuple, ">", "tuple");
        if (t.is_op("{")) return seq(DataValue::K::Set, "}", "set");
        if (t.is_op("[")) return seq(DataValue::K::Array, "]", "array");
        if (t.is_op("#[")) {
            take();
            auto v = mk(DataValue::K::Keyed);
            for (;;) {
                if (accept_op("]#")) return v;
                if (cur().kind == Tok::End) fail("']#' to close the keyed array");
                v->items.push_back(dvalue());
                expect_op(":", "between key and value in '#[ key: value ]#'");
                v->items.push_back(dvalue());
                accept_op(",");
            }
        }
        fail("a data value (number, string, <tuple>, {set}, [array] or #[keyed array]#)");
    }
    void data(DataFile& d) {
        for (;;) {
            const Token& t = cur();
            if (t.kind == Tok::End) return;
            if (t.is_op(";")) {
                take();
                continue;
            }
            if (t.kind == Tok::Ident && (t.text == "SheetConnection" || t.text == "DBConnection" ||
                                         t.text == "DBRead" || t.text == "SheetRead"))
                unsupported(t.pos, "external data readers ('" + t.text +
                                       "') are not supported; write the values in the data file");
            DataAssign a;
            a.pos = t.pos;
            a.name = expect_ident("a data name ('name = value;')").text;
            if (cur().kind == Tok::Ident && (cur().text == "from"))
                unsupported(cur().pos, "external data readers ('from ...') are not supported; write the values");
            expect_op("=", "after the data name");
            a.value = dvalue();
            if (!cur().is_op(";")) fail("';' after the value of '" + a.name + "'");
            take();
            d.assigns.push_back(std::move(a));
        }
    }
};

}  // namespace

bool parse_data(std::string_view src, DataFile& out, ParseError& err) {
    DataParser p(src);
    return TokenReader::guarded(err, [&] { p.data(out); });
}

}  // namespace vorlan::compiler
