// Indexed names: array cells, sub-arrays and decision variables, with a fast path for
// indices that are iterators over the dimension's own set.
#include "vorlan_core/core/sema/sema.hpp"

namespace vorlan::compiler {

// known[d] >= 0 is the position of index d, already found; idx[d] is then not read.
Value Sema::index_value(const Value& base, const Value* idx, const std::int64_t* known, std::size_t nidx,
                  const Expr& e, std::int64_t* var) {
    if (var) *var = -1;
    if (base.k != Value::K::Array)
        fail(e.pos, quote(*e.kids[0]) + " is " + kind_word(base.k) + ", not an array; it cannot be indexed");
    const ArrV& a = *base.arr;
    if (nidx > a.dims.size())
        fail(e.pos, "'" + a.name + "' has " + std::to_string(a.dims.size()) + " dimension" +
                        (a.dims.size() == 1 ? "" : "s") + " but " + quote(e) + " gives " +
                        std::to_string(nidx) + " indices");
    std::size_t flat = 0;
    for (std::size_t d = 0; d < nidx; ++d) {
        std::int64_t p = known[d] >= 0 ? known[d] : a.dims[d]->find(idx[d]);
        if (p < 0)
            fail(e.kids[d + 1]->pos, "index out of range: " + value_text(idx[d]) + " is not in '" +
                                         a.dims[d]->name + "' (dimension " + std::to_string(d + 1) + " of '" +
                                         a.name + "') in " + quote(e));
        flat = flat * a.dims[d]->size() + static_cast<std::size_t>(p);
    }
    if (nidx == a.dims.size()) {
        if (a.var_base >= 0) {
            if (var) {
                *var = a.var_base + static_cast<std::int64_t>(flat);
                return {};
            }
            return var_value(a.var_base + static_cast<std::int64_t>(flat));
        }
        return a.cell(flat);
    }
    // Partial indexing: the sub-array of the remaining dimensions.
    auto sub = std::make_shared<ArrV>();
    sub->name = a.name;
    sub->dims.assign(a.dims.begin() + static_cast<std::ptrdiff_t>(nidx), a.dims.end());
    std::size_t n = sub->size();
    if (a.var_base >= 0) {
        sub->var_base = a.var_base + static_cast<std::int64_t>(flat * n);
    } else {
        sub->copy_cells(a, flat * n, n);
    }
    Value v;
    v.k = Value::K::Array;
    v.arr = sub;
    return v;
}

// The cell e names when every index is an iterator over the matching dimension's own set
// (or an int over an integer range): its array, with its position found by arithmetic and
// no lookup. Null when e needs the general path.
const ArrV* Sema::direct_cell(const Value& base, const Expr& e, std::size_t& flat) const {
    std::size_t n = e.kids.size() - 1;
    if (base.k != Value::K::Array || n != base.arr->dims.size()) return nullptr;
    const ArrV& a = *base.arr;
    flat = 0;
    for (std::size_t d = 0; d < n; ++d) {
        const Expr& ix = *e.kids[d + 1];
        if (ix.kind != Expr::K::Name) return nullptr;
        const Binding* b = lookup_binding(ix.text);
        if (!b) return nullptr;
        const SetV& dim = *a.dims[d];
        std::size_t p = b->at;
        if (b->from != &dim) {
            if (!dim.is_range || b->value().k != Value::K::Int) return nullptr;
            std::int64_t q = dim.find(b->value());
            if (q < 0) return nullptr;
            p = static_cast<std::size_t>(q);
        }
        flat = flat * dim.size() + p;
    }
    return &a;
}

// A named array indexed by iterators, read without building a Value: a decision variable
// (var) or a number cell (num). False when e is anything else.
bool Sema::direct_var(const Expr& e, std::int64_t& var) {
    if (e.kind != Expr::K::Index || e.kids[0]->kind != Expr::K::Name) return false;
    std::size_t flat;
    const ArrV* a = direct_cell(*name_ref(*e.kids[0]), e, flat);
    if (!a || a->var_base < 0) return false;
    var = a->var_base + static_cast<std::int64_t>(flat);
    return true;
}

bool Sema::direct_number(const Expr& e, double& num) {
    if (e.kind != Expr::K::Index || e.kids[0]->kind != Expr::K::Name) return false;
    std::size_t flat;
    const ArrV* a = direct_cell(*name_ref(*e.kids[0]), e, flat);
    if (!a || a->var_base >= 0) return false;
    if (a->store == ArrV::Store::Floats) num = a->fcells[flat];
    else if (a->store == ArrV::Store::Ints) num = static_cast<double>(a->icells[flat]);
    else return false;
    return true;
}

// An indexed name. With var set, a reference to one decision variable returns an empty
// Value and stores the variable in *var (-1 otherwise), so sums need no Lin per term.
Value Sema::eval_index(const Expr& e, std::int64_t* var) {
    std::optional<Value> tmp;
    const Value* base;
    if (e.kids[0]->kind == Expr::K::Name) base = name_ref(*e.kids[0]);
    else base = &tmp.emplace(eval(*e.kids[0]));
    std::size_t flat;
    if (const ArrV* a = direct_cell(*base, e, flat)) {
        if (a->var_base < 0) {
            if (var) *var = -1;
            return a->cell(flat);
        }
        std::int64_t v = a->var_base + static_cast<std::int64_t>(flat);
        if (!var) return var_value(v);
        *var = v;
        return {};
    }
    std::size_t n = e.kids.size() - 1;
    Value small[4];
    std::int64_t small_known[4];
    std::vector<Value> big;
    std::vector<std::int64_t> big_known;
    if (n > 4) big.resize(n), big_known.resize(n);
    Value* idx = n > 4 ? big.data() : small;
    std::int64_t* known = n > 4 ? big_known.data() : small_known;
    const ArrV* arr = base->k == Value::K::Array ? base->arr.get() : nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        known[i] = -1;
        // An iterator over the dimension's own set indexes it by position.
        const Expr& ix = *e.kids[i + 1];
        if (arr && i < arr->dims.size() && ix.kind == Expr::K::Name) {
            const Binding* b = lookup_binding(ix.text);
            if (b && b->from && b->from == arr->dims[i].get()) {
                known[i] = static_cast<std::int64_t>(b->at);
                continue;
            }
        }
        idx[i] = eval(ix);
        if (idx[i].k == Value::K::Lin)
            fail(e.kids[i + 1]->pos, "a decision variable cannot be used as an index: " +
                                         quote(*e.kids[i + 1]) + " in " + quote(e));
    }
    return index_value(*base, idx, known, n, e, var);
}

// Evaluates e; when it is one decision variable times data (x[i], c * x[i], x[i] * c) it
// returns an empty Value with the variable in var and the factor in coef instead.
Value Sema::eval_term(const Expr& e, std::int64_t& var, double& coef) {
    var = -1;
    coef = 1.0;
    if (e.kind == Expr::K::Index) return eval_index(e, &var);
    if (e.kind != Expr::K::Nary || e.ops.size() != 1 || e.ops[0] != "*") return eval(e);
    const Expr& l = *e.kids[0];
    const Expr& r = *e.kids[1];
    // Data cell times variable, either way round, read directly.
    if ((direct_number(l, coef) && direct_var(r, var)) || (direct_var(l, var) && direct_number(r, coef))) return {};
    var = -1;
    coef = 1.0;
    if (r.kind == Expr::K::Index) {
        Value a = eval(l);
        if (!a.is_num()) return arith(e.ops[0], std::move(a), eval(r), e, l, r);
        Value b = eval_index(r, &var);
        if (var >= 0) {
            coef = a.num();
            return {};
        }
        return arith(e.ops[0], std::move(a), std::move(b), e, l, r);
    }
    if (l.kind == Expr::K::Index) {
        Value a = eval_index(l, &var);
        if (var < 0) return arith(e.ops[0], std::move(a), eval(r), e, l, r);
        Value b = eval(r);
        if (b.is_num()) {
            coef = b.num();
            return {};
        }
        a = var_value(var);
        var = -1;
        return arith(e.ops[0], std::move(a), std::move(b), e, l, r);
    }
    return eval(e);
}

}  // namespace vorlan::compiler
