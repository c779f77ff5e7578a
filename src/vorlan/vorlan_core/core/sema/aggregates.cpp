// sum, prod, min, max and forall over iterators, and the built-in functions.
#include "vorlan_core/core/sema/sema.hpp"

#include <cmath>
#include <limits>

namespace vorlan::compiler {

// acc += coef * variable.
void Sema::append_term(Value& acc, std::int64_t var, double coef, Pos at) {
    Lin& a = own_lin(acc);
    a.terms.push_back({static_cast<std::int32_t>(var), coef});
    if (a.terms.size() > lim_.max_terms) fail(at, "an expression holds more than the limit of terms");
}

Value Sema::aggregate(const Expr& e) {
    const std::string& op = e.text;
    const Expr& body = *e.kids[0];
    if (op == "sum") {
        Value acc = Value::Int(0);
        if (direct_sum(e, acc)) return acc;
        each(e.iters, 0, [&] {
            std::int64_t var;
            double coef;
            Value v = eval_term(body, var, coef);
            if (var >= 0) return append_term(acc, var, coef, e.pos);
            if (!v.is_num() && v.k != Value::K::Lin)
                fail(body.pos, "'sum' adds numbers or linear expressions, found " + std::string(kind_word(v.k)) +
                                   " " + quote(body));
            if (acc.k == Value::K::Int && v.k == Value::K::Int) {
                if (__builtin_add_overflow(acc.i, v.i, &acc.i)) fail(e.pos, "integer overflow in " + quote(e));
            } else if (acc.k != Value::K::Lin && v.k != Value::K::Lin) {
                acc = Value::Float(acc.num() + v.num());
            } else {
                add_into(acc, v, 1.0, e.pos);
            }
        });
        return acc;
    }
    if (op == "prod") {
        Value acc = Value::Int(1);
        each(e.iters, 0, [&] {
            Value v = eval(body);
            double x = as_num(v, body, "'prod' (a product over decision variables is not linear)");
            if (acc.k == Value::K::Int && v.k == Value::K::Int) {
                if (__builtin_mul_overflow(acc.i, v.i, &acc.i)) fail(e.pos, "integer overflow in " + quote(e));
            } else {
                acc = Value::Float(acc.num() * x);
            }
        });
        return acc;
    }
    if (op == "forall") {
        bool all = true;
        each(e.iters, 0, [&] { all = all && as_bool(eval(body), body, "a condition"); });
        return Value::Bool(all);
    }
    // min, max
    Value best;
    each(e.iters, 0, [&] {
        Value v = eval(body);
        if (v.k == Value::K::Lin)
            fail(body.pos, "non-linear: a decision variable cannot appear inside '" + op + "' in " + quote(e) +
                               "; bound it with linear constraints instead");
        as_num(v, body, ("'" + op + "'").c_str());
        if (best.k == Value::K::None || (op == "min" ? v.num() < best.num() : v.num() > best.num())) best = v;
    });
    if (best.k == Value::K::None) fail(e.pos, "'" + op + "' over an empty set in " + quote(e));
    return best;
}

Value Sema::call(const Expr& e) {
    const std::string& f = e.text;
    std::vector<Value> args;
    for (auto& k : e.kids) args.push_back(eval(*k));
    auto need = [&](std::size_t n) {
        if (args.size() != n)
            fail(e.pos, "'" + f + "' takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s") +
                            ", found " + std::to_string(args.size()));
    };
    auto no_var = [&](std::size_t i) {
        if (args[i].k == Value::K::Lin)
            fail(e.kids[i]->pos, "non-linear: a decision variable cannot appear inside '" + f + "' in " +
                                     quote(e) + "; introduce an auxiliary variable with linear constraints");
    };
    for (std::size_t i = 0; i < args.size(); ++i) no_var(i);
    if (f == "card") {
        need(1);
        std::size_t n = as_set(args[0], *e.kids[0])->size();
        if (n > static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()))
            fail(e.pos, "'card' of " + quote(*e.kids[0]) + " is " + count_text(n) +
                            ", which does not fit an int");
        return Value::Int(static_cast<std::int64_t>(n));
    }
    if (f == "asSet") {
        need(1);
        as_set(args[0], *e.kids[0]);
        return args[0];
    }
    if (f == "first" || f == "last") {
        need(1);
        auto s = as_set(args[0], *e.kids[0]);
        if (s->size() == 0) fail(e.pos, "'" + f + "' of the empty set " + quote(*e.kids[0]));
        return s->at(f == "first" ? 0 : s->size() - 1);
    }
    if (f == "ord") {
        need(2);
        auto s = as_set(args[0], *e.kids[0]);
        std::int64_t p = s->find(args[1]);
        if (p < 0) fail(e.pos, value_text(args[1]) + " is not an element of " + quote(*e.kids[0]) + " in " + quote(e));
        return Value::Int(p);
    }
    if (f == "item") {
        need(2);
        auto s = as_set(args[0], *e.kids[0]);
        std::int64_t k = as_int(args[1], *e.kids[1], "'item'");
        if (k < 0 || static_cast<std::size_t>(k) >= s->size())
            fail(e.pos, "index out of range: item " + std::to_string(k) + " of " + quote(*e.kids[0]) + " which has " +
                            std::to_string(s->size()) + " elements (positions start at 0)");
        return s->at(static_cast<std::size_t>(k));
    }
    if (f == "minl" || f == "maxl" || f == "min" || f == "max") {
        if (args.empty()) fail(e.pos, "'" + f + "' needs at least one argument");
        Value best = args[0];
        for (std::size_t i = 0; i < args.size(); ++i) {
            as_num(args[i], *e.kids[i], ("'" + f + "'").c_str());
            bool lower = f == "minl" || f == "min";
            if (i && (lower ? args[i].num() < best.num() : args[i].num() > best.num())) best = args[i];
        }
        return best;
    }
    if (f == "pow") {
        need(2);
        return Value::Float(std::pow(as_num(args[0], *e.kids[0], "'pow'"), as_num(args[1], *e.kids[1], "'pow'")));
    }
    need(1);
    double x = as_num(args[0], *e.kids[0], ("'" + f + "'").c_str());
    if (f == "abs") return args[0].k == Value::K::Int ? Value::Int(args[0].i < 0 ? -args[0].i : args[0].i) : Value::Float(std::fabs(x));
    if (f == "floor" || f == "ceil" || f == "round") {
        double r = f == "floor" ? std::floor(x) : f == "ceil" ? std::ceil(x) : std::round(x);
        if (std::fabs(r) > 9e18) fail(e.pos, "'" + f + "' result does not fit an int in " + quote(e));
        return Value::Int(static_cast<std::int64_t>(r));
    }
    if (f == "ftoi") {
        double t = std::trunc(x);
        if (!(std::fabs(t) < 9.2e18)) fail(e.pos, "'ftoi' result does not fit an int in " + quote(e));
        return Value::Int(static_cast<std::int64_t>(t));
    }
    if (f == "sqrt") {
        if (x < 0) fail(e.pos, "square root of a negative number in " + quote(e));
        return Value::Float(std::sqrt(x));
    }
    if (f == "exp") return Value::Float(std::exp(x));
    if (f == "log") {
        if (x <= 0) fail(e.pos, "logarithm of a non-positive number in " + quote(e));
        return Value::Float(std::log(x));
    }
    fail(e.pos, "unknown function '" + f + "'");
}

}  // namespace vorlan::compiler
