// Expressions of the model language, by precedence level from the conditional down to
// primaries; every node records its source span so messages can quote it.
#include "vorlan_core/core/syntax/model_parser.hpp"

namespace vorlan::compiler {

ExprP ModelParser::expr() {
    DepthGuard g(*this, cur().pos);
    ExprP c = or_expr();
    if (cur().is_op("?")) {
        take_tracked();
        auto e = std::make_unique<Expr>(Expr::K::Cond, c->pos);
        e->begin = c->begin;
        e->kids.push_back(std::move(c));
        e->kids.push_back(expr());
        expect_op(":", "in conditional expression 'c ? a : b'");
        e->kids.push_back(expr());
        e->end = e->kids.back()->end;
        return e;
    }
    return c;
}

template <class Next, class IsOp>
ExprP ModelParser::chain(Next next, IsOp is_op) {
    ExprP first = (this->*next)();
    if (!is_op(cur())) return first;
    auto e = std::make_unique<Expr>(Expr::K::Nary, first->pos);
    e->begin = first->begin;
    e->kids.push_back(std::move(first));
    while (is_op(cur())) {
        e->ops.push_back(take_tracked().text);
        e->kids.push_back((this->*next)());
    }
    e->end = e->kids.back()->end;
    return e;
}

ExprP ModelParser::or_expr() {
    return chain(&ModelParser::and_expr, [](const Token& t) { return t.is_op("||"); });
}

ExprP ModelParser::and_expr() {
    return chain(&ModelParser::cmp_expr, [](const Token& t) { return t.is_op("&&"); });
}

bool ModelParser::is_cmp(const Token& t) {
    return t.kind == Tok::Op && (t.text == "<=" || t.text == ">=" || t.text == "==" || t.text == "!=" ||
                                 t.text == "<" || t.text == ">");
}

ExprP ModelParser::cmp_expr() {
    ExprP first = range_expr();
    if (cur().is_kw("in") || (cur().is_kw("not") && ahead(1).is_kw("in"))) {
        auto e = std::make_unique<Expr>(Expr::K::In, first->pos);
        e->begin = first->begin;
        e->text = cur().is_kw("not") ? "not in" : "in";
        if (take_tracked().text == "not") take_tracked();
        e->kids.push_back(std::move(first));
        e->kids.push_back(range_expr());
        e->end = e->kids.back()->end;
        return e;
    }
    if (!is_cmp(cur())) return first;
    auto e = std::make_unique<Expr>(Expr::K::Compare, first->pos);
    e->begin = first->begin;
    e->kids.push_back(std::move(first));
    while (is_cmp(cur())) {
        e->op_pos.push_back(cur().pos);
        e->ops.push_back(take_tracked().text);
        e->kids.push_back(range_expr());
    }
    e->end = e->kids.back()->end;
    return e;
}

ExprP ModelParser::range_expr() {
    ExprP lo = add_expr();
    if (!cur().is_op("..")) return lo;
    take_tracked();
    auto e = std::make_unique<Expr>(Expr::K::Range, lo->pos);
    e->begin = lo->begin;
    e->kids.push_back(std::move(lo));
    e->kids.push_back(add_expr());
    e->end = e->kids.back()->end;
    return e;
}

ExprP ModelParser::add_expr() {
    return chain(&ModelParser::mul_expr, [](const Token& t) {
        return t.is_op("+") || t.is_op("-") || t.is_kw("union") || t.is_kw("diff") || t.is_kw("symdiff");
    });
}

ExprP ModelParser::mul_expr() {
    ExprP e = chain(&ModelParser::pow_expr, [](const Token& t) {
        return t.is_op("*") || t.is_op("/") || t.is_op("%") || t.is_kw("div") || t.is_kw("mod") || t.is_kw("inter");
    });
    // `%` is `mod`: one operator for everything after the parser.
    if (e->kind == Expr::K::Nary)
        for (auto& op : e->ops)
            if (op == "%") op = "mod";
    return e;
}

// `a ^ b ^ c` is `a ^ (b ^ c)`: a Nary node of one `^` per level, nested to the right.
ExprP ModelParser::pow_expr() {
    ExprP base = unary_expr();
    if (!cur().is_op("^")) return base;
    DepthGuard g(*this, cur().pos);
    auto e = std::make_unique<Expr>(Expr::K::Nary, base->pos);
    e->begin = base->begin;
    e->kids.push_back(std::move(base));
    e->ops.push_back(take_tracked().text);
    e->kids.push_back(pow_expr());
    e->end = e->kids.back()->end;
    return e;
}

ExprP ModelParser::unary_expr() {
    DepthGuard g(*this, cur().pos);
    if (cur().is_op("-") || cur().is_op("+") || cur().is_op("!") || cur().is_kw("not")) {
        if (cur().is_kw("not")) fail("an expression");
        Token t = take_tracked();
        auto e = node(Expr::K::Unary, t);
        e->text = t.text;
        e->kids.push_back(unary_expr());
        e->end = e->kids.back()->end;
        return e;
    }
    return postfix_expr();
}

void ModelParser::index_args(Expr& e) {
    // `[a][b]` and `[a, b]` both append to the same index list.
    while (cur().is_op("[")) {
        take_tracked();
        e.kids.push_back(expr());
        while (accept_op(",")) e.kids.push_back(expr());
        last_end_ = expect_op("]", "to close the index").end;
    }
    e.end = last_end_;
}

ExprP ModelParser::postfix_expr() {
    ExprP e = primary();
    for (;;) {
        if (cur().is_op("[")) {
            auto ix = std::make_unique<Expr>(Expr::K::Index, e->pos);
            ix->begin = e->begin;
            ix->kids.push_back(std::move(e));
            index_args(*ix);
            e = std::move(ix);
        } else if (cur().is_op(".") ) {
            take_tracked();
            Token f = expect_ident("a field name after '.'");
            last_end_ = f.end;
            auto fe = std::make_unique<Expr>(Expr::K::Field, f.pos);
            fe->begin = e->begin;
            fe->end = f.end;
            fe->text = f.text;
            fe->kids.push_back(std::move(e));
            e = std::move(fe);
        } else {
            return e;
        }
    }
}

// True when the tokens after '(' start an iterator list (`i in`, `a, b in`, `<...> in`).
bool ModelParser::iterators_ahead(std::size_t k) {
    if (ahead(k).is_op("<")) return true;
    std::size_t j = k;
    while (ahead(j).kind == Tok::Ident) {
        if (ahead(j + 1).is_kw("in")) return true;
        if (!ahead(j + 1).is_op(",")) return false;
        j += 2;
        if (j - k > 64) return false;
    }
    return false;
}

void ModelParser::iterators(std::vector<Iterator>& out) {
    do {
        Iterator it;
        it.pos = cur().pos;
        if (cur().is_op("<")) {
            take();
            it.tuple_pattern = true;
            do {
                it.pattern.push_back(add_expr());
            } while (accept_op(","));
            expect_op(">", "to close the tuple pattern");
        } else {
            it.names.push_back(expect_ident("an iterator name").text);
            while (cur().is_op(",") && ahead(1).kind == Tok::Ident &&
                   (ahead(2).is_op(",") || ahead(2).is_kw("in"))) {
                take();
                it.names.push_back(take().text);
            }
        }
        if (!accept_kw("in")) fail("'in' after the iterator name");
        it.set = range_expr();
        if (accept_op(":")) it.filter = or_expr();
        std::size_t names = it.names.size();
        for (auto& x : out) names += x.names.size() + x.pattern.size();
        if (names > kMaxIterators)
            throw Fail{{it.pos, "more than " + std::to_string(kMaxIterators) + " iterators in one list"}};
        out.push_back(std::move(it));
    } while (accept_op(","));
}

bool ModelParser::is_builtin(const std::string& s) {
    static const char* names[] = {"abs", "card", "asSet", "ord", "first", "last", "item", "floor", "ceil",
                                  "round", "sqrt", "exp", "log", "pow", "minl", "maxl", "ftoi", "min", "max"};
    for (auto n : names)
        if (s == n) return true;
    return false;
}

ExprP ModelParser::primary() {
    const Token& t = cur();
    switch (t.kind) {
        case Tok::Int: {
            auto e = node(Expr::K::Int, t);
            e->ival = t.ival;
            take_tracked();
            return e;
        }
        case Tok::Float: {
            auto e = node(Expr::K::Float, t);
            e->fval = t.fval;
            take_tracked();
            return e;
        }
        case Tok::String: {
            auto e = node(Expr::K::Str, t);
            e->text = t.text;
            take_tracked();
            return e;
        }
        case Tok::Ident: {
            if (t.text == "true" || t.text == "false") {
                auto e = node(Expr::K::Bool, t);
                e->ival = t.text == "true";
                take_tracked();
                return e;
            }
            if (ahead(1).is_op("(") ) {
                static const char* pwl = "piecewise";
                if (t.text == pwl)
                    unsupported(t.pos, "piecewise-linear functions are not supported; model the pieces with "
                                       "extra variables and linear constraints");
                throw Fail{{t.pos, "unknown function '" + t.text +
                                       "' (built-ins: abs card asSet ord first last item floor ceil round "
                                       "sqrt exp log pow minl maxl ftoi; aggregates: sum prod min max)"}};
            }
            auto e = node(Expr::K::Name, t);
            e->text = t.text;
            take_tracked();
            return e;
        }
        case Tok::Keyword: break;
        case Tok::Op: break;
        default: fail("an expression");
    }
    if (t.is_kw("infinity") || t.is_kw("maxint")) {
        auto e = node(t.text == "infinity" ? Expr::K::Infinity : Expr::K::Maxint, t);
        take_tracked();
        return e;
    }
    if (t.is_kw("sum") || t.is_kw("prod") || t.is_kw("forall") ||
        ((t.is_kw("min") || t.is_kw("max")) && ahead(1).is_op("(") && iterators_ahead(2))) {
        Token k = take_tracked();
        auto e = node(Expr::K::Aggregate, k);
        e->text = k.text;
        expect_op("(", ("after '" + k.text + "'").c_str());
        iterators(e->iters);
        expect_op(")", "to close the iterator list");
        // The body binds like a product term: sum(i in I) a[i]*x[i] + b sums a[i]*x[i] only.
        e->kids.push_back(k.text == "forall" ? cmp_expr() : mul_expr());
        e->end = e->kids.back()->end;
        return e;
    }
    if (t.kind == Tok::Keyword && is_builtin(t.text)) {
        Token k = take_tracked();
        auto e = node(Expr::K::Call, k);
        e->text = k.text;
        expect_op("(", ("after '" + k.text + "'").c_str());
        if (!cur().is_op(")")) {
            e->kids.push_back(expr());
            while (accept_op(",")) e->kids.push_back(expr());
        }
        last_end_ = expect_op(")", "to close the argument list").end;
        e->end = last_end_;
        return e;
    }
    if (t.is_op("(")) {
        Token open = take_tracked();
        ExprP inner = expr();
        last_end_ = expect_op(")", "to close '('").end;
        inner->begin = open.begin;
        inner->end = last_end_;
        return inner;
    }
    if (t.is_op("<")) {
        Token open = take_tracked();
        auto e = node(Expr::K::TupleLit, open);
        do {
            e->kids.push_back(add_expr());
        } while (accept_op(","));
        last_end_ = expect_op(">", "to close the tuple").end;
        e->end = last_end_;
        return e;
    }
    if (t.is_op("{")) {
        Token open = take_tracked();
        auto e = node(Expr::K::SetLit, open);
        if (!cur().is_op("}")) {
            e->kids.push_back(expr());
            if (accept_op("|")) {
                e->kind = Expr::K::SetComp;
                iterators(e->iters);
            } else {
                while (accept_op(",")) {
                    if (cur().is_op("}")) break;
                    e->kids.push_back(expr());
                }
            }
        }
        last_end_ = expect_op("}", "to close the set").end;
        e->end = last_end_;
        return e;
    }
    fail("an expression");
}

// The value of a data declaration: an expression, or an array literal `[a, b, ...]` whose
// items are values again (one nesting level per dimension).
ExprP ModelParser::value_expr() {
    if (!cur().is_op("[")) return expr();
    DepthGuard g(*this, cur().pos);
    Token open = take_tracked();
    auto e = node(Expr::K::ArrayLit, open);
    if (!cur().is_op("]")) {
        e->kids.push_back(value_expr());
        while (accept_op(",")) e->kids.push_back(value_expr());
    }
    last_end_ = expect_op("]", "to close the array").end;
    e->end = last_end_;
    return e;
}

}  // namespace vorlan::compiler
