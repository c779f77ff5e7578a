// Data files: `name = value;` assignments whose values are literals, tuples, sets,
// arrays and keyed arrays.
#include "vorlan_core/core/syntax/token_reader.hpp"

#include "vorlan_core/core/huge_pages.hpp"

#include <algorithm>
#include <utility>

namespace vorlan::compiler {

namespace {

class DataParser : public TokenReader {
public:
    explicit DataParser(std::string_view src) : TokenReader(src, true) {}

private:
    std::vector<DataValue>* out_ = nullptr;  // the values of the assignment being read
    std::forward_list<std::string>* texts_ = nullptr;  // and their texts

    const std::string* keep(const std::string& text) { return &texts_->emplace_front(text); }

    // Plain numbers of a sequence, each with its comma, read straight from the text: the
    // values and the tokens counted are those dvalue() and accept_op(",") would give.
    std::uint32_t plain_numbers() {
        std::uint32_t n = 0;
        if (depth_ >= kMaxNesting) return n;  // a value here is nested too deep: dvalue() says so
        while (std::size_t used = lx_.plain_number(number_, max_tokens_ - tokens_)) {
            tokens_ += used;
            DataValue& v = out_->emplace_back(number_.kind == Tok::Int ? DataValue::K::Int : DataValue::K::Float,
                                              number_.pos);
            if (number_.kind == Tok::Int) v.ival = number_.ival;
            else v.fval = number_.fval;
            ++n;
        }
        return n;
    }
    Token number_;  // the last plain number read

public:

    // Appends the next value, and its items after it, to out_.
    void dvalue() {
        DepthGuard g(*this, cur().pos);
        const Token& t = cur();
        Pos p = t.pos;
        auto mk = [&](DataValue::K k) -> DataValue& { return out_->emplace_back(k, p); };
        if (t.kind == Tok::Int) {
            mk(DataValue::K::Int).ival = t.ival;
            take();
            return;
        }
        if (t.kind == Tok::Float) {
            mk(DataValue::K::Float).fval = t.fval;
            take();
            return;
        }
        if (t.is_op("-") || t.is_op("+")) {
            bool neg = take().text == "-";
            const Token& n = cur();
            if (n.kind == Tok::Int) {
                mk(DataValue::K::Int).ival = neg ? -n.ival : n.ival;
            } else if (n.kind == Tok::Float) {
                mk(DataValue::K::Float).fval = neg ? -n.fval : n.fval;
            } else if (n.is_kw("infinity")) {
                mk(DataValue::K::Infinity).ival = neg ? -1 : 1;
            } else if (n.is_kw("maxint")) {
                mk(DataValue::K::Maxint).ival = neg ? -1 : 1;
            } else {
                fail("a number after the sign");
            }
            take();
            return;
        }
        if (t.kind == Tok::String) {
            mk(DataValue::K::Str).str = keep(take().text);
            return;
        }
        if (t.is_kw("infinity") || t.is_kw("maxint")) {
            mk(t.text == "infinity" ? DataValue::K::Infinity : DataValue::K::Maxint).ival = 1;
            take();
            return;
        }
        if (t.kind == Tok::Ident || t.kind == Tok::Keyword) {
            mk(DataValue::K::Ident).str = keep(take().text);
            return;
        }
        // A compound value: its node first, the items after it; count and span are set at the close.
        auto open = [&](DataValue::K k) {
            take();
            mk(k);
            return out_->size() - 1;
        };
        auto close = [&](std::size_t at, std::uint32_t count) {
            DataValue& v = (*out_)[at];
            v.count = count;
            v.span = static_cast<std::uint32_t>(out_->size() - at);
        };
        auto seq = [&](DataValue::K k, std::string_view close_op, const char* what) {
            std::size_t at = open(k);
            std::uint32_t count = 0;
            for (;;) {
                count += plain_numbers();
                if (accept_op(close_op)) return close(at, count);
                if (cur().kind == Tok::End) {
                    // Appended piece by piece: GCC 12 warns falsely on the chained form.
                    std::string expected = "'";
                    expected.append(close_op).append("' to close the ").append(what);
                    fail(expected);
                }
                dvalue();
                ++count;
                accept_op(",");
            }
        };
        if (t.is_op("<")) return seq(DataValue::K::Tuple, ">", "tuple");
        if (t.is_op("{")) return seq(DataValue::K::Set, "}", "set");
        if (t.is_op("[")) return seq(DataValue::K::Array, "]", "array");
        if (t.is_op("#[")) {
            std::size_t at = open(DataValue::K::Keyed);
            std::uint32_t count = 0;
            for (;;) {
                if (accept_op("]#")) return close(at, count);
                if (cur().kind == Tok::End) fail("']#' to close the keyed array");
                dvalue();
                expect_op(":", "between key and value in '#[ key: value ]#'");
                dvalue();
                count += 2;
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
            std::size_t from = expect_op("=", "after the data name").end;
            out_ = &a.value.nodes;
            // Room for the whole value at once, so a large array is never copied to grow: at
            // most one value per two bytes up to the next ';'. Pages no value reaches stay untouched.
            std::string_view src = lx_.source();
            std::size_t to = std::min(src.find(';', from), src.size());
            out_->reserve(std::min((to - from) / 2 + 1, max_tokens_ - tokens_ + 1));
            prefer_huge_pages(out_->data(), out_->capacity() * sizeof(DataValue));
            texts_ = &a.value.texts;
            dvalue();
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
