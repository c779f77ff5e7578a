// The evaluator: an expression to a value under the current iterator bindings.
#include "vorlan_core/core/sema/sema.hpp"

#include "vorlan_core/core/diagnostics/corrector.hpp"

#include <cmath>
#include <limits>

namespace vorlan::compiler {

// Enumerates the bindings of an iterator list; fn runs once per binding.
void Sema::each(const std::vector<Iterator>& its, std::size_t k, FunctionRef<void()> fn) {
    if (k == its.size()) return fn();
    const Iterator& it = its[k];
    Value sv = eval(*it.set);
    auto s = as_set(sv, *it.set);
    auto pass_filter = [&]() { return !it.filter || as_bool(eval(*it.filter), *it.filter, "a filter"); };
    if (it.tuple_pattern) {
        for (std::size_t i = 0; i < s->size(); ++i) {
            step(it.pos);
            Value el = s->at(i);
            if (el.k != Value::K::Tuple)
                fail(it.pos, "a tuple pattern <...> needs a set of tuples, but " + quote(*it.set) +
                                 " holds " + kind_word(el.k) + " elements");
            if (el.tup->size() != it.pattern.size())
                fail(it.pos, "the tuple pattern has " + std::to_string(it.pattern.size()) +
                                 " components but the elements of " + quote(*it.set) + " have " +
                                 std::to_string(el.tup->size()));
            std::size_t mark = env_.size();
            bool match = true;
            for (std::size_t j = 0; j < it.pattern.size() && match; ++j) {
                const Expr& p = *it.pattern[j];
                if (p.kind == Expr::K::Name && !lookup_local(p.text)) {
                    env_.emplace_back(p.text, nullptr, (*el.tup)[j], nullptr, 0);
                    if (env_.size() == mark + 1) env_.back().element = &el;
                    else env_.back().element_part = true;
                } else {
                    Value pv = eval(p);
                    match = value_key(pv) == value_key((*el.tup)[j]);
                }
            }
            if (match && pass_filter()) each(its, k + 1, fn);
            env_.erase(env_.begin() + static_cast<std::ptrdiff_t>(mark), env_.end());
        }
        return;
    }
    each_binding(its, k, *s, 0, fn);
}

// Binds name n of iterator k to each element of s in turn: `a, b in S` iterates over S for
// every name. After the last name, the filter and the next iterator.
void Sema::each_binding(const std::vector<Iterator>& its, std::size_t k, const SetV& s, std::size_t n,
                        FunctionRef<void()> fn) {
    const Iterator& it = its[k];
    if (n == it.names.size()) {
        if (!it.filter || as_bool(eval(*it.filter), *it.filter, "a filter")) each(its, k + 1, fn);
        return;
    }
    for (std::size_t i = 0, size = s.size(); i < size; ++i) {
        step(it.pos);
        bind_element(it.names[n], s, i);
        each_binding(its, k, s, n + 1, fn);
        env_.pop_back();
    }
}

const Value* Sema::name_ref(const Expr& e) {
    if (const Value* v = lookup_local(e.text)) return v;
    auto* sym = static_cast<const Symbol*>(e.cache);
    if (!sym) {
        auto s = syms_.find(e.text);
        if (s == syms_.end()) fail(e.pos, "'" + e.text + "' is not declared");
        sym = &s->second;
    }
    if (sym->failed) throw EvalError{e.pos, "", "model", true};
    if (sym->postsolve)
        fail(e.pos, "'" + e.text + "' depends on decision variables (a post-solve value) and cannot be "
                                   "used in the model");
    if (!sym->ready) fail(e.pos, "'" + e.text + "' has no value here");
    e.cache = sym;
    return &sym->value;
}

Value Sema::eval(const Expr& e) {
    switch (e.kind) {
        case Expr::K::Int: return Value::Int(e.ival);
        case Expr::K::Float: return Value::Float(e.fval);
        case Expr::K::Str: return Value::Str(e.text);
        case Expr::K::Bool: return Value::Bool(e.ival != 0);
        case Expr::K::Infinity: return Value::Float(kInf);
        case Expr::K::Maxint: return Value::Int(kMaxint);
        case Expr::K::Name: return *name_ref(e);
        case Expr::K::Unary: {
            Value v = eval(*e.kids[0]);
            if (e.text == "!") return Value::Bool(!as_bool(v, *e.kids[0], "'!'"));
            if (v.k == Value::K::Lin) return e.text == "-" ? scale(std::move(v), -1.0) : v;
            as_num(v, *e.kids[0], ("unary '" + e.text + "'").c_str());
            if (e.text == "+") return v;
            if (v.k == Value::K::Int) {
                if (v.i == std::numeric_limits<std::int64_t>::min()) fail(e.pos, "integer overflow in " + quote(e));
                return Value::Int(-v.i);
            }
            return Value::Float(-v.f);
        }
        case Expr::K::Nary: {
            Value acc = eval(*e.kids[0]);
            for (std::size_t i = 0; i < e.ops.size(); ++i) {
                const std::string& op = e.ops[i];
                if (op.size() == 2 && ((op[0] == '&' && !as_bool(acc, *e.kids[i], "a condition")) ||
                                       (op[0] == '|' && as_bool(acc, *e.kids[i], "a condition")))) {
                    return Value::Bool(op[0] == '|');
                }
                Value b = eval(*e.kids[i + 1]);
                acc = arith(op, std::move(acc), std::move(b), e, *e.kids[i], *e.kids[i + 1]);
            }
            return acc;
        }
        case Expr::K::Compare: {
            std::vector<Value> vs;
            for (auto& k : e.kids) {
                vs.push_back(eval(*k));
                if (vs.back().k == Value::K::Lin)
                    fail(k->pos, "a decision variable cannot appear in a condition: " + quote(e) +
                                     " (conditions are evaluated on the data before solving)");
            }
            for (std::size_t i = 0; i < e.ops.size(); ++i)
                if (!cmp_holds(e.ops[i], compare_vals(vs[i], vs[i + 1], e))) return Value::Bool(false);
            return Value::Bool(true);
        }
        case Expr::K::In: {
            Value v = eval(*e.kids[0]);
            if (v.k == Value::K::Lin) fail(e.pos, "a decision variable cannot appear in a condition: " + quote(e));
            auto s = as_set(eval(*e.kids[1]), *e.kids[1]);
            bool in = s->find(v) >= 0;
            return Value::Bool(e.text == "in" ? in : !in);
        }
        case Expr::K::Cond: {
            bool c = as_bool(eval(*e.kids[0]), *e.kids[0], "the condition of '?:'");
            return eval(*e.kids[c ? 1 : 2]);
        }
        case Expr::K::Range: {
            auto s = std::make_shared<SetV>();
            s->is_range = true;
            s->lo = as_int(eval(*e.kids[0]), *e.kids[0], "a range bound");
            s->hi = as_int(eval(*e.kids[1]), *e.kids[1], "a range bound");
            s->name = quote(e).substr(1, quote(e).size() - 2);
            return set_value(s);
        }
        case Expr::K::Index: return eval_index(e, nullptr);
        case Expr::K::Field: {
            Value t = eval(*e.kids[0]);
            if (t.k != Value::K::Tuple)
                fail(e.pos, quote(*e.kids[0]) + " is " + kind_word(t.k) + ", not a tuple; it has no field '" +
                                e.text + "'");
            if (!t.ttype) fail(e.pos, "a tuple literal has no field names; '." + e.text + "' cannot be read");
            int fi = t.ttype->field_index(e.text);
            if (fi < 0) {
                Corrector c(e.text);
                std::string all;
                for (auto& f : t.ttype->fields) {
                    all += (all.empty() ? "" : ", ") + f.name;
                    c.consider(f.name);
                }
                fail(e.pos, "tuple type '" + t.ttype->name + "' has no field '" + e.text + "'" +
                                (c.found() ? c.hint() : " (fields: " + all + ")"));
            }
            return (*t.tup)[static_cast<std::size_t>(fi)];
        }
        case Expr::K::Call: return call(e);
        case Expr::K::Aggregate: return aggregate(e);
        case Expr::K::TupleLit: {
            std::vector<Value> items;
            for (auto& k : e.kids) {
                items.push_back(eval(*k));
                if (items.back().k == Value::K::Lin)
                    fail(k->pos, "a decision variable cannot appear in a tuple: " + quote(e));
            }
            return tuple_value(std::move(items), nullptr);
        }
        case Expr::K::SetLit: {
            auto s = std::make_shared<SetV>();
            s->name = quote(e);
            for (auto& k : e.kids) {
                Value v = eval(*k);
                if (v.k == Value::K::Lin)
                    fail(k->pos, "a decision variable cannot appear in a set expression: " + quote(*k));
                if (v.k == Value::K::Set || v.k == Value::K::Array)
                    fail(k->pos, "set elements are numbers, strings or tuples, found " + std::string(kind_word(v.k)));
                s->add(std::move(v));
            }
            return set_value(s);
        }
        case Expr::K::SetComp: {
            auto s = std::make_shared<SetV>();
            s->name = quote(e);
            each(e.iters, 0, [&] {
                Value v = eval(*e.kids[0]);
                if (v.k == Value::K::Lin)
                    fail(e.kids[0]->pos, "a decision variable cannot appear in a set expression: " + quote(*e.kids[0]));
                s->add(std::move(v));
                if (s->size() > lim_.max_set_elements) set_too_large(e.pos, s->size());
            });
            return set_value(s);
        }
        case Expr::K::ArrayLit:
            fail(e.pos, "an array literal [...] is only allowed as the whole value of an array declaration, "
                        "e.g. 'int a[1..3] = [1, 2, 3];'");
    }
    fail(e.pos, "cannot evaluate " + quote(e));
}

}  // namespace vorlan::compiler
