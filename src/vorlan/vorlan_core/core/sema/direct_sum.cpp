// Sums of one decision variable per term, alone or times a number:
// `sum(w in W, s in S) cost[w][s] * ship[w][s]`. When every index is one of the sum's
// iterators, or a name bound outside the sum, over the dimension's own set, the terms are
// made by stepping positions through the sets: no names bound, no values built per term.
// The terms, their order and the steps counted are those of the general path in
// aggregate(), which takes every other sum (filters, tuple patterns, other bodies) and any
// sum that would reach a limit, so that the limit is reported where it always was.
#include "vorlan_core/core/sema/sema.hpp"

#include "vorlan_core/core/huge_pages.hpp"

namespace vorlan::compiler {

namespace {

// One name bound by the sum, with the set it runs over.
struct Level {
    const std::string* name;
    const SetV* set;
};

// Where one index of an array reference comes from.
struct IndexSource {
    int level = -1;           // the sum level whose position it is; -1: fixed for the whole sum
    std::int64_t offset = 0;  // added to the level's position (a range inside a larger range)
    std::size_t fixed = 0;    // the position when level is -1
};

// A reference `a[i][j]...` of the body: the array, and its cell's position as a linear
// function of the levels' positions: base + sum of step[l] * position of level l.
struct DirectRef {
    const ArrV* arr = nullptr;
    std::size_t base = 0;
    std::vector<std::size_t> step;  // per level

    // Folds index d, whose dimension's cells are stride apart, into base and step.
    void add(const IndexSource& s, std::size_t stride) {
        if (s.level < 0) {
            base += s.fixed * stride;
        } else {
            step[static_cast<std::size_t>(s.level)] += stride;
            base += static_cast<std::size_t>(s.offset) * stride;
        }
    }
};

class DirectSum {
public:
    explicit DirectSum(Sema& sema) : s_(sema) {}

    // The levels of the iterator list: plain `a, b in S` iterators without filters, over
    // sets that do not depend on the sum's own names.
    bool levels(const std::vector<Iterator>& its) {
        for (auto& it : its) {
            if (it.tuple_pattern || it.filter || !set_is_fixed(*it.set)) return false;
            held_.push_back(s_.eval(*it.set));
            const Value& v = held_.back();
            if (v.k != Value::K::Set) return false;
            for (auto& n : it.names) levels_.push_back({&n, v.set.get()});
        }
        return !levels_.empty();
    }

    // The body: a variable reference, or one times a number (either way round).
    bool body(const Expr& e) {
        if (e.kind == Expr::K::Index) return reference(e, true, var_);
        if (e.kind != Expr::K::Nary || e.ops.size() != 1 || e.ops[0] != "*") return false;
        const Expr& l = *e.kids[0];
        const Expr& r = *e.kids[1];
        if (factor(l) && reference(r, true, var_)) return true;
        has_coef_ = false;
        coef_ = 1.0;
        return reference(l, true, var_) && factor(r);
    }

    // Steps and terms of the whole sum; false when a limit would be reached on the way.
    bool within(const Limits& lim, std::uint64_t steps_so_far) {
        std::uint64_t combos = 1;
        for (auto& l : levels_) {
            if (__builtin_mul_overflow(combos, static_cast<std::uint64_t>(l.set->size()), &combos)) return false;
            if (__builtin_add_overflow(steps_, combos, &steps_)) return false;
        }
        terms_ = combos;
        return steps_so_far <= lim.max_steps && steps_ <= lim.max_steps - steps_so_far && terms_ <= lim.max_terms;
    }

    std::uint64_t steps() const { return steps_; }

    Value expand() const {
        if (terms_ == 0) return Value::Int(0);
        auto lin = std::make_shared<Lin>();
        lin->terms.reserve(terms_);
        prefer_huge_pages(lin->terms.data(), terms_ * sizeof(Term));
        // One loop per kind of coefficient, so that the innermost loop has no branch on it.
        const ArrV* c = has_coef_ ? coef_ref_.arr : nullptr;
        if (!c) fill(*lin, [this](std::size_t) { return coef_; });
        else if (c->store == ArrV::Store::Floats) fill(*lin, [c](std::size_t k) { return c->fcells[k]; });
        else fill(*lin, [c](std::size_t k) { return static_cast<double>(c->icells[k]); });
        return lin_value(std::move(lin));
    }

private:
    // The terms in order: the outer levels step as an odometer, the innermost runs as a plain loop.
    template <typename Coef>
    void fill(Lin& lin, Coef coef_at) const {
        const std::size_t inner = levels_.size() - 1;
        const std::size_t n = levels_.back().set->size();
        std::vector<std::size_t> pos(levels_.size(), 0);
        const bool c = has_coef_;
        const std::int64_t var_base = var_.arr->var_base;
        for (;;) {
            std::size_t v = var_.base, k = c ? coef_ref_.base : 0;
            for (std::size_t l = 0; l < inner; ++l) {
                v += var_.step[l] * pos[l];
                if (c) k += coef_ref_.step[l] * pos[l];
            }
            const std::size_t vs = var_.step[inner], ks = c ? coef_ref_.step[inner] : 0;
            for (std::size_t i = 0; i < n; ++i, v += vs, k += ks)
                lin.terms.push_back({static_cast<std::int32_t>(var_base + static_cast<std::int64_t>(v)), coef_at(k)});
            std::size_t l = inner;
            while (l > 0 && ++pos[l - 1] == levels_[l - 1].set->size()) pos[--l] = 0;
            if (l == 0) break;
        }
    }

    Sema& s_;
    std::vector<Value> held_;  // the sets iterated
    std::vector<Level> levels_;
    DirectRef var_, coef_ref_;
    bool has_coef_ = false;  // the factor is coef_ref_; otherwise the constant coef_
    double coef_ = 1.0;
    std::uint64_t steps_ = 0, terms_ = 0;

    int level_of(const std::string& n) const {
        for (std::size_t l = levels_.size(); l-- > 0;)
            if (*levels_[l].name == n) return static_cast<int>(l);
        return -1;
    }
    bool fixed_name(const Expr& e) const { return e.kind == Expr::K::Name && level_of(e.text) < 0; }
    bool set_is_fixed(const Expr& e) const {
        if (e.kind == Expr::K::Range)
            return (e.kids[0]->kind == Expr::K::Int || fixed_name(*e.kids[0])) &&
                   (e.kids[1]->kind == Expr::K::Int || fixed_name(*e.kids[1]));
        return fixed_name(e);
    }

    // A number: a literal, a name that is not one of the sum's, or a cell of a number array.
    bool factor(const Expr& e) {
        if (e.kind == Expr::K::Int || e.kind == Expr::K::Float) {
            coef_ = e.kind == Expr::K::Int ? static_cast<double>(e.ival) : e.fval;
            return true;
        }
        if (fixed_name(e)) {
            const Value& v = *s_.name_ref(e);
            if (!v.is_num()) return false;
            coef_ = v.num();
            return true;
        }
        has_coef_ = reference(e, false, coef_ref_);
        return has_coef_;
    }

    bool reference(const Expr& e, bool variable, DirectRef& out) {
        if (e.kind != Expr::K::Index || !fixed_name(*e.kids[0])) return false;
        const Value& base = *s_.name_ref(*e.kids[0]);
        if (base.k != Value::K::Array) return false;
        const ArrV& a = *base.arr;
        std::size_t n = e.kids.size() - 1;
        if (n != a.dims.size()) return false;
        if (variable ? a.var_base < 0 : (a.var_base >= 0 || a.store == ArrV::Store::Values)) return false;
        out = DirectRef();
        out.arr = &a;
        out.step.assign(levels_.size(), 0);
        std::size_t stride = 1;
        for (std::size_t d = n; d-- > 0;) {
            IndexSource src;
            if (!source(*e.kids[d + 1], *a.dims[d], src)) return false;
            out.add(src, stride);
            stride *= a.dims[d]->size();
        }
        return true;
    }

    // The position an index takes in dim: a level's own (or one of a range inside dim's
    // range), or that of a name bound outside the sum, found as the general path finds it.
    bool source(const Expr& ix, const SetV& dim, IndexSource& out) const {
        if (ix.kind != Expr::K::Name) return false;
        int l = level_of(ix.text);
        if (l >= 0) {
            const SetV& s = *levels_[static_cast<std::size_t>(l)].set;
            out.level = l;
            if (&s == &dim) return true;
            if (!s.is_range || !dim.is_range || s.size() == 0) return false;
            if (s.lo < dim.lo || s.hi > dim.hi) return false;
            out.offset = s.lo - dim.lo;
            return true;
        }
        const Binding* b = s_.lookup_binding(ix.text);
        if (!b) return false;
        if (b->from == &dim) {
            out.fixed = b->at;
            return true;
        }
        if (!dim.is_range || b->value().k != Value::K::Int) return false;
        std::int64_t q = dim.find(b->value());
        if (q < 0) return false;
        out.fixed = static_cast<std::size_t>(q);
        return true;
    }
};

}  // namespace

bool Sema::direct_sum(const Expr& e, Value& out) {
    DirectSum d(*this);
    try {
        if (!d.levels(e.iters) || !d.body(*e.kids[0]) || !d.within(lim_, steps_)) return false;
    } catch (EvalError&) {
        return false;  // the general path meets the same problem where it always has
    }
    out = d.expand();
    steps_ += d.steps();
    return true;
}

}  // namespace vorlan::compiler
