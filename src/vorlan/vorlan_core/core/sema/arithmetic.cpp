// Binary operators on values: numbers (with integer overflow checks), sets, conditions
// and linear expressions; comparisons.
#include "vorlan_core/core/sema/sema.hpp"

#include <cmath>
#include <limits>

namespace vorlan::compiler {

namespace {

enum class Op { Add, Sub, Mul, Div, IDiv, Mod, Pow, Union, Diff, Inter, Symdiff, Or, And };
Op op_code(const std::string& s) {
    switch (s[0]) {
        case '+': return Op::Add;
        case '-': return Op::Sub;
        case '*': return Op::Mul;
        case '/': return Op::Div;
        case '^': return Op::Pow;
        case '|': return Op::Or;
        case '&': return Op::And;
        case 'm': return Op::Mod;
        case 'u': return Op::Union;
        case 'i': return Op::Inter;
        case 's': return Op::Symdiff;
        default: return s == "div" ? Op::IDiv : Op::Diff;
    }
}

}  // namespace

Value Sema::arith(const std::string& op, Value a, Value b, const Expr& whole, const Expr& lhs, const Expr& rhs) {
    // The expression named in messages: the chain up to and including rhs.
    auto qe = [&] { return quote_span(whole.begin, rhs.end); };
    const Op oc = op_code(op);
    if (oc == Op::Union || oc == Op::Diff || oc == Op::Inter || oc == Op::Symdiff) {
        auto sa = as_set(a, lhs), sb = as_set(b, rhs);
        // The result is built element by element, so `1..maxint union S` is refused up front.
        for (const auto* x : {sa.get(), sb.get()})
            if (x->size() > lim_.max_set_elements) set_too_large(whole.pos, x->size());
        steps_ += sa->size() + sb->size();
        if (steps_ > lim_.max_steps) step_limit(whole.pos);
        auto r = std::make_shared<SetV>();
        if (oc == Op::Union) {
            for (std::size_t i = 0; i < sa->size(); ++i) r->add(sa->at(i));
            for (std::size_t i = 0; i < sb->size(); ++i) r->add(sb->at(i));
        } else if (oc == Op::Diff) {
            for (std::size_t i = 0; i < sa->size(); ++i)
                if (sb->find(sa->at(i)) < 0) r->add(sa->at(i));
        } else if (oc == Op::Inter) {
            for (std::size_t i = 0; i < sa->size(); ++i)
                if (sb->find(sa->at(i)) >= 0) r->add(sa->at(i));
        } else {
            for (std::size_t i = 0; i < sa->size(); ++i)
                if (sb->find(sa->at(i)) < 0) r->add(sa->at(i));
            for (std::size_t i = 0; i < sb->size(); ++i)
                if (sa->find(sb->at(i)) < 0) r->add(sb->at(i));
        }
        return set_value(r);
    }
    if (oc == Op::Or || oc == Op::And) {
        bool x = as_bool(a, lhs, "a condition"), y = as_bool(b, rhs, "a condition");
        return Value::Bool(oc == Op::Or ? (x || y) : (x && y));
    }
    if (a.k == Value::K::Str && b.k == Value::K::Str && oc == Op::Add) return Value::Str(a.s + b.s);
    bool la = a.k == Value::K::Lin, lb = b.k == Value::K::Lin;
    if (!la && !a.is_num())
        fail(lhs.pos, "expected a number before '" + op + "', found " + kind_word(a.k) + " " + quote(lhs));
    if (!lb && !b.is_num())
        fail(rhs.pos, "expected a number after '" + op + "', found " + kind_word(b.k) + " " + quote(rhs));
    if (oc == Op::Pow) return power(std::move(a), std::move(b), whole, rhs);
    if (oc == Op::Add || oc == Op::Sub) {
        if (la || lb) {
            add_into(a, b, oc == Op::Add ? 1.0 : -1.0, whole.pos);
            return a;
        }
        if (a.k == Value::K::Int && b.k == Value::K::Int) {
            std::int64_t r;
            bool ovf = oc == Op::Add ? __builtin_add_overflow(a.i, b.i, &r) : __builtin_sub_overflow(a.i, b.i, &r);
            if (ovf) fail(whole.pos, "integer overflow in " + qe());
            return Value::Int(r);
        }
        return Value::Float(oc == Op::Add ? a.num() + b.num() : a.num() - b.num());
    }
    if (oc == Op::Mul) {
        if (la && lb) {
            if (has_vars(a) && has_vars(b))
                fail(whole.pos, "non-linear term " + qe() + ": the product of two decision-variable "
                            "expressions is not linear; multiply a variable only by data");
            return has_vars(a) ? scale(std::move(a), b.lin->c) : scale(std::move(b), a.lin->c);
        }
        if (la) return scale(std::move(a), b.num());
        if (lb) return scale(std::move(b), a.num());
        if (a.k == Value::K::Int && b.k == Value::K::Int) {
            std::int64_t r;
            if (__builtin_mul_overflow(a.i, b.i, &r)) fail(whole.pos, "integer overflow in " + qe());
            return Value::Int(r);
        }
        return Value::Float(a.num() * b.num());
    }
    if (lb && has_vars(b))
        fail(rhs.pos, "non-linear term " + qe() + ": division by a decision-variable expression " + quote(rhs) +
                          " is not linear");
    double den = lb ? b.lin->c : b.num();
    if (oc == Op::Div) {
        if (den == 0) fail(rhs.pos, "division by zero in " + qe() + " (" + quote(rhs) + " is 0)");
        if (la) return scale(std::move(a), 1.0 / den);
        return Value::Float(a.num() / den);
    }
    // div, mod: integers only
    if (la) fail(lhs.pos, "'" + op + "' needs integer data; a decision variable cannot appear in " + qe());
    std::int64_t x = as_int(a, lhs, ("'" + op + "'").c_str()), y = as_int(b, rhs, ("'" + op + "'").c_str());
    if (y == 0) fail(rhs.pos, "division by zero in " + qe() + " (" + quote(rhs) + " is 0)");
    if (x == std::numeric_limits<std::int64_t>::min() && y == -1) fail(whole.pos, "integer overflow in " + qe());
    if (oc == Op::IDiv) return Value::Int(x / y);
    return Value::Int(x % y);
}

// `a ^ b` on data: an int when both are ints and b >= 0, else a float.
Value Sema::power(Value a, Value b, const Expr& whole, const Expr& rhs) {
    auto qe = [&] { return quote_span(whole.begin, rhs.end); };
    for (const Value* v : {&a, &b})
        if (v->k == Value::K::Lin && has_vars(*v))
            fail(whole.pos, "non-linear term " + qe() + ": '^' raises data to a power; a power of a decision-variable "
                            "expression is not linear");
    if (a.k == Value::K::Lin) a = Value::Float(a.lin->c);
    if (b.k == Value::K::Lin) b = Value::Float(b.lin->c);
    if (a.k == Value::K::Int && b.k == Value::K::Int && b.i >= 0) {
        const std::int64_t base = a.i, n = b.i;
        if (base == 0 || base == 1) return Value::Int(n == 0 ? 1 : base);
        if (base == -1) return Value::Int(n % 2 ? -1 : 1);
        std::int64_t r = 1;  // |base| >= 2 overflows within 63 steps
        for (std::int64_t k = 0; k < n; ++k)
            if (__builtin_mul_overflow(r, base, &r)) fail(whole.pos, "integer overflow in " + qe());
        return Value::Int(r);
    }
    if (a.num() == 0 && b.num() < 0) fail(rhs.pos, "division by zero in " + qe() + " (0 to a negative power)");
    double r = std::pow(a.num(), b.num());
    if (std::isnan(r)) fail(whole.pos, "a negative number to a fractional power in " + qe() + " is not a real number");
    return Value::Float(r);
}

int Sema::compare_vals(const Value& a, const Value& b, const Expr& e) {
    if (a.is_num() && b.is_num()) return a.num() < b.num() ? -1 : (a.num() > b.num() ? 1 : 0);
    if (a.k == Value::K::Str && b.k == Value::K::Str) return a.s < b.s ? -1 : (a.s > b.s ? 1 : 0);
    if (a.k == Value::K::Tuple && b.k == Value::K::Tuple) return value_key(a) == value_key(b) ? 0 : 1;
    if (a.k == Value::K::Bool && b.k == Value::K::Bool) return a.i == b.i ? 0 : 1;
    fail(e.pos, std::string("cannot compare ") + kind_word(a.k) + " with " + kind_word(b.k) + " in " + quote(e));
}

bool Sema::cmp_holds(const std::string& op, int c) {
    if (op == "<") return c < 0;
    if (op == "<=") return c <= 0;
    if (op == ">") return c > 0;
    if (op == ">=") return c >= 0;
    if (op == "==") return c == 0;
    return c != 0;
}

}  // namespace vorlan::compiler
