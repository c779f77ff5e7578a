// Expansion of constraint blocks into the rows of the flat instance.
#include "vorlan_core/core/sema/sema.hpp"

#include <algorithm>

namespace vorlan::compiler {

// The terms of l by variable, each variable once, without zero coefficients. Terms that are
// already so (a sum over a variable array usually is) are taken as they are: moved out of
// l when nothing else shares it.
std::vector<Term> Sema::merge(std::shared_ptr<Lin> l) {
    auto by_var = [](const Term& a, const Term& b) { return a.var < b.var; };
    auto nonzero = [](const Term& x) { return x.coef != 0.0; };
    const std::vector<Term>& in = l->terms;
    // The end of the leading run of strictly increasing variables, and of the run after it.
    auto run_end = [&](std::size_t from) {
        std::size_t k = from + 1;
        while (k < in.size() && in[k - 1].var < in[k].var) ++k;
        return k;
    };
    std::size_t first = run_end(0);
    std::vector<Term> out;
    if (first >= in.size() && std::all_of(in.begin(), in.end(), nonzero)) {
        if (l.use_count() == 1) out = std::move(l->terms);
        else out = in;
    } else {
        if (first < in.size() && run_end(first) == in.size()) {
            // Two runs, as `sum(...) <= a * y` gives: merged in one pass. When no variable is in
            // both, that is the order sorting gives; otherwise sorting decides the order in
            // which coefficients of one variable are added, so the general path below runs.
            out.resize(in.size());
            std::merge(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(first),
                       in.begin() + static_cast<std::ptrdiff_t>(first), in.end(), out.begin(), by_var);
            if (std::adjacent_find(out.begin(), out.end(), [](const Term& a, const Term& b) { return a.var == b.var; }) ==
                out.end()) {
                std::erase_if(out, [&](const Term& x) { return !nonzero(x); });
                return counted(std::move(out));
            }
            out.clear();
        }
        out.reserve(in.size());
        std::vector<Term> sorted;
        const auto* t = &in;
        if (!std::is_sorted(in.begin(), in.end(), by_var)) {
            sorted = in;
            std::sort(sorted.begin(), sorted.end(), by_var);
            t = &sorted;
        }
        for (const Term& x : *t) {
            if (!out.empty() && out.back().var == x.var) out.back().coef += x.coef;
            else out.push_back(x);
        }
        std::erase_if(out, [&](const Term& x) { return !nonzero(x); });
    }
    return counted(std::move(out));
}

// Counts the terms of a merged expression against the limit of the whole instance.
std::vector<Term> Sema::counted(std::vector<Term> out) {
    terms_ += out.size();
    if (terms_ > lim_.max_terms)
        fail({}, "the instance has more than " + std::to_string(lim_.max_terms) + " nonzero terms; it is too large");
    return out;
}

// The index of a row as the model writes it: one `[v]` per iterator, a tuple as `<...>`.
std::string Sema::row_keys(const std::vector<Value>* label_keys) const {
    std::string out;
    auto add = [&](const Value& v) {
        out += '[';
        out += value_text(v);
        out += ']';
    };
    if (label_keys) {
        for (auto& v : *label_keys) add(v);
        return out;
    }
    for (auto& b : env_)
        if (!b.element_part) add(b.element ? *b.element : b.value());
    return out;
}

std::string Sema::row_name(const std::string& label, const std::vector<Value>* label_keys, int line) const {
    std::string keys = row_keys(label_keys);
    std::string name;  // appended piece by piece: GCC 12 warns falsely on the chained form
    if (label.empty()) {
        name.append("the constraint at line ").append(std::to_string(line));
        if (!keys.empty()) name.append(" ").append(keys);
    } else {
        name.append("constraint '").append(label).append(keys).append("'");
    }
    return name;
}

void Sema::add_row(const Stmt& s, const Expr& rel, const std::string& label, std::vector<IndexValue> idx,
                   const std::vector<Value>* label_keys) {
    const Expr& e = rel;
    if (e.kind == Expr::K::Nary && (e.ops[0] == "||" || e.ops[0] == "&&"))
        fail(e.pos, "logical constraints between relations ('" + e.ops[0] +
                        "') are not supported; use a binary variable with big-M constraints");
    if (e.kind == Expr::K::Unary && e.text == "!")
        fail(e.pos, "negated constraints ('!') are not supported; write the opposite relation, or use a binary "
                    "variable with big-M constraints");
    if (e.kind != Expr::K::Compare)
        fail(e.pos, "expected a relation (<=, >= or ==) in the constraint, found " + quote(e));
    Row row;
    row.label = label;
    row.index = std::move(idx);
    row.line = s.pos.line;
    std::vector<Value> vs;
    for (auto& k : e.kids) vs.push_back(eval(*k));
    for (std::size_t i = 0; i < vs.size(); ++i)
        if (!vs[i].is_num() && vs[i].k != Value::K::Lin)
            fail(e.kids[i]->pos, "a constraint compares numbers or linear expressions, found " +
                                     std::string(kind_word(vs[i].k)) + " " + quote(*e.kids[i]));
    bool linear = std::any_of(vs.begin(), vs.end(), [](const Value& v) { return v.k == Value::K::Lin; });
    for (std::size_t i = 0; i < e.ops.size(); ++i)
        if (linear && is_strict(e.ops[i])) fail(e.op_pos[i], strict_message(e, i));
    if (e.ops.size() > 2) fail(e.pos, "a constraint has at most two relations (lo <= expr <= hi)");
    if (e.ops.size() == 2) {
        bool up = e.ops[0] == "<=" && e.ops[1] == "<=";
        bool down = e.ops[0] == ">=" && e.ops[1] == ">=";
        if (!up && !down)
            fail(e.pos, "a range constraint is written 'lo <= expr <= hi' (or with '>=' twice), found " + quote(e));
        if (has_vars(vs[0]) || has_vars(vs[2]))
            fail(e.kids[has_vars(vs[0]) ? 0 : 2]->pos,
                 "the bounds of a range constraint must be data, without decision variables: " + quote(e));
        double lo = up ? vs[0].num() : vs[2].num();
        double hi = up ? vs[2].num() : vs[0].num();
        if (vs[0].k == Value::K::Lin) lo = to_lin(vs[up ? 0 : 2])->c, hi = to_lin(vs[up ? 2 : 0])->c;
        auto mid = to_lin(vs[1]);
        row.lower = lo - mid->c + 0.0;
        row.upper = hi - mid->c + 0.0;
        row.terms = merge(std::move(mid));
        if (row.lower > row.upper + 1e-9)
            fail(e.pos, row_name(label, label_keys, row.line) + " can never hold: its range is empty (" +
                            num_text(lo) + " > " + num_text(hi) + ")");
    } else {
        const std::string& op = e.ops[0];
        if (!linear) {
            int c = compare_vals(vs[0], vs[1], e);
            if (!cmp_holds(op, c))
                fail(e.pos, row_name(label, label_keys, row.line) + " can never hold: " + quote(e) + " is " +
                                value_text(vs[0]) + " " + op + " " + value_text(vs[1]));
            return;
        }
        Value d = std::move(vs[0]);
        add_into(d, vs[1], -1.0, e.pos);
        double rhs = -d.lin->c;
        row.terms = merge(std::move(d.lin));
        rhs += 0.0;  // no negative zero in the instance
        if (op == "<=") row.upper = rhs;
        else if (op == ">=") row.lower = rhs;
        else row.lower = row.upper = rhs;
    }
    if (row.terms.empty()) {
        bool ok = row.lower <= 1e-9 && row.upper >= -1e-9;
        if (!ok)
            fail(e.pos, row_name(label, label_keys, row.line) + " can never hold: " + quote(e) +
                            " has no variables left and reduces to 0 in [" + num_text(row.lower) + ", " +
                            num_text(row.upper) + "]");
        return;
    }
    if (inst_->rows.size() >= lim_.max_rows)
        fail(e.pos, "the model has more than " + std::to_string(lim_.max_rows) + " constraints; it is too large");
    inst_->rows.push_back(std::move(row));
}

void Sema::exec(const Stmt& s, const std::string& family, std::vector<IndexValue>& idx,
                const std::vector<Value>* keys) {
    switch (s.kind) {
        case Stmt::K::Block: {
            if (s.label.name.empty()) {
                for (auto& b : s.body) exec(*b, family, idx, keys);
                return;
            }
            // A labelled group names the constraints in it, indexed as its label is.
            if (s.label.index.empty()) {
                for (auto& b : s.body) exec(*b, s.label.name, idx, keys);
                return;
            }
            std::vector<Value> group_keys;
            std::vector<IndexValue> group_idx;
            for (auto& x : s.label.index) {
                group_keys.push_back(eval(*x));
                flatten_index(group_keys.back(), group_idx);
            }
            for (auto& b : s.body) exec(*b, s.label.name, group_idx, &group_keys);
            return;
        }
        case Stmt::K::If:
            if (as_bool(eval(*s.expr), *s.expr, "an 'if' condition")) {
                for (auto& b : s.body) exec(*b, family, idx, keys);
            } else {
                for (auto& b : s.else_body) exec(*b, family, idx, keys);
            }
            return;
        case Stmt::K::Forall: {
            std::string fam = s.label.name.empty() ? family : s.label.name;
            std::size_t mark = env_.size();
            each(s.iters, 0, [&] {
                std::size_t n = idx.size();
                for (std::size_t i = mark; i < env_.size(); ++i) flatten_index(env_[i].value(), idx);
                for (auto& b : s.body) exec(*b, fam, idx, keys);
                idx.resize(n);
            });
            return;
        }
        case Stmt::K::Constraint: {
            step(s.pos);
            if (s.label.name.empty()) return add_row(s, *s.expr, family, idx, keys);
            if (s.label.index.empty()) return add_row(s, *s.expr, s.label.name, idx, keys);
            std::vector<Value> label_keys;
            std::vector<IndexValue> li;
            for (auto& x : s.label.index) {
                label_keys.push_back(eval(*x));
                flatten_index(label_keys.back(), li);
            }
            add_row(s, *s.expr, s.label.name, std::move(li), &label_keys);
            return;
        }
    }
}

}  // namespace vorlan::compiler
