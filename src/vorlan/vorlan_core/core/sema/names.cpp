// Name checks before any evaluation: every name declared before its use, no name declared
// twice, types known, decision variables kept out of data-only places.
#include "vorlan_core/core/sema/sema.hpp"

#include "vorlan_core/core/diagnostics/corrector.hpp"

#include <algorithm>
#include <set>

namespace vorlan::compiler {

bool Sema::is_local(const NameScope& sc, const std::string& n) {
    return std::find(sc.locals.begin(), sc.locals.end(), n) != sc.locals.end();
}

// Iterators rank before global names, the innermost first: on a tie the name in scope
// nearby is the likelier intent.
std::string Sema::closest_declared(const std::string& name, const NameScope& sc) const {
    Corrector c(name);
    std::size_t tier = 0;
    for (auto it = sc.locals.rbegin(); it != sc.locals.rend(); ++it) c.consider(*it, tier++);
    for (auto& [n, k] : declared_)
        if (k != Symbol::K::Tuple && k != Symbol::K::Label) c.consider(n, tier);
    return c.hint();
}

void Sema::check_iters(const std::vector<Iterator>& its, NameScope& sc) {
    for (auto& it : its) {
        check_expr(*it.set, sc);
        if (it.tuple_pattern) {
            for (auto& p : it.pattern) {
                if (p->kind == Expr::K::Name && !is_local(sc, p->text)) sc.locals.push_back(p->text);
                else check_expr(*p, sc);
            }
        } else {
            for (auto& n : it.names) sc.locals.push_back(n);
        }
        if (it.filter) check_expr(*it.filter, sc);
    }
}

void Sema::check_expr(const Expr& e, NameScope& sc) {
    switch (e.kind) {
        case Expr::K::Name: {
            if (is_local(sc, e.text)) return;
            auto d = declared_.find(e.text);
            if (d != declared_.end()) {
                if (d->second == Symbol::K::Tuple)
                    diag("model", e.pos, "'" + e.text + "' is a tuple type, not a value");
                else if (d->second == Symbol::K::Label)
                    diag("model", e.pos, "'" + e.text + "' is a constraint label, not a value");
                if (d->second == Symbol::K::Dvar || d->second == Symbol::K::Dexpr ||
                    postsolve_names_.count(e.text))
                    sc.uses_var = true;
                return;
            }
            auto a = all_.find(e.text);
            if (a != all_.end())
                diag("model", e.pos, "'" + e.text + "' is used before its declaration at line " +
                                         std::to_string(a->second->name_pos.line) +
                                         "; move the declaration above this use");
            else
                diag("model", e.pos, "'" + e.text + "' is not declared" + closest_declared(e.text, sc));
            return;
        }
        case Expr::K::Aggregate:
        case Expr::K::SetComp: {
            std::size_t mark = sc.locals.size();
            check_iters(e.iters, sc);
            for (auto& k : e.kids) check_expr(*k, sc);
            sc.locals.resize(mark);
            return;
        }
        default:
            for (auto& k : e.kids) check_expr(*k, sc);
    }
}

void Sema::check_type(const TypeRef& t) {
    if (t.kind == TypeRef::K::Set && t.elem) return check_type(*t.elem);
    if (t.kind != TypeRef::K::Tuple) return;
    auto d = declared_.find(t.tuple_name);
    if (d != declared_.end() && d->second == Symbol::K::Tuple) return;
    if (all_.count(t.tuple_name) && all_[t.tuple_name]->kind == Item::K::Tuple)
        diag("model", t.pos, "tuple type '" + t.tuple_name + "' is used before its declaration");
    else {
        Corrector c(t.tuple_name);
        for (auto& [n, k] : declared_)
            if (k == Symbol::K::Tuple) c.consider(n);
        diag("model", t.pos, "unknown type '" + t.tuple_name + "' (types: int, float, string, {T}, or a tuple type)" +
                                 c.hint());
    }
}

void Sema::check_dims(const std::vector<Dim>& dims, NameScope& sc) {
    for (auto& d : dims) {
        check_expr(*d.set, sc);
        if (!d.binder.empty()) sc.locals.push_back(d.binder);
    }
}

void Sema::check_stmts(const std::vector<StmtP>& ss, NameScope& sc) {
    for (auto& s : ss) {
        std::size_t mark = sc.locals.size();
        for (auto& ix : s->label.index) check_expr(*ix, sc);
        if (s->kind == Stmt::K::Forall) check_iters(s->iters, sc);
        if (s->expr) check_expr(*s->expr, sc);
        check_stmts(s->body, sc);
        check_stmts(s->else_body, sc);
        sc.locals.resize(mark);
    }
}

void Sema::check_names() {
    bool objective = false;
    for (auto& it : m_.items) {
        if (it.kind == Item::K::Assert || it.kind == Item::K::Objective || it.kind == Item::K::Constraints) {
            if (it.kind == Item::K::Objective) {
                if (objective)
                    diag("model", it.pos, "a model has at most one objective (minimize or maximize); remove "
                                          "this one or combine them into one expression");
                objective = true;
            }
            continue;
        }
        auto [p, fresh] = all_.emplace(it.name, &it);
        if (!fresh)
            diag("model", it.name_pos, "'" + it.name + "' is already declared at line " +
                                           std::to_string(p->second->name_pos.line) + "; rename one of them");
    }
    for (auto& it : m_.items) {
        NameScope sc;
        switch (it.kind) {
            case Item::K::Tuple: {
                std::set<std::string> fields;
                for (auto& f : it.fields) {
                    check_type(f.type);
                    if (!fields.insert(f.name).second)
                        diag("model", f.pos, "field '" + f.name + "' appears twice in tuple '" + it.name + "'");
                }
                break;
            }
            case Item::K::Data:
                check_type(it.type);
                check_dims(it.dims, sc);
                if (it.value) check_expr(*it.value, sc);
                for (auto& w : it.with)
                    if (!declared_.count(w.set))
                        diag("model", w.field_pos[0], "'" + w.set + "' is not declared" + closest_declared(w.set, sc));
                if (sc.uses_var) postsolve_names_.insert(it.name);
                break;
            case Item::K::Range:
            case Item::K::Assert:
            case Item::K::Objective:
                if (it.value) check_expr(*it.value, sc);
                for (auto& g : it.goals) check_expr(*g, sc);
                if (it.kind == Item::K::Assert && sc.uses_var)
                    diag("model", it.pos, "an assert checks data only; it cannot use decision variables");
                break;
            case Item::K::Dvar:
                check_dims(it.dims, sc);
                {
                    // Only the bounds count here: dimensions that use variables are reported apart.
                    NameScope bsc = sc;
                    bsc.uses_var = false;
                    if (it.lo) check_expr(*it.lo, bsc);
                    if (it.hi) check_expr(*it.hi, bsc);
                    if (it.lo && bsc.uses_var)
                        diag("model", it.lo->pos, "variable bounds of '" + it.name +
                                                      "' must be data; they cannot use decision variables");
                    if (it.lo && it.vtype == "boolean") {
                        std::string range = quote_span(it.lo->begin, it.hi->end);  // 'lo..hi'
                        diag("model", it.bounds_pos, "a boolean variable is 0 or 1 and takes no range; remove 'in " +
                                                         range.substr(1, range.size() - 2) + "' or declare '" +
                                                         it.name + "' as 'dvar int'");
                    }
                }
                break;
            case Item::K::Dexpr:
                check_dims(it.dims, sc);
                check_expr(*it.value, sc);
                break;
            case Item::K::ConstraintDecl: check_dims(it.dims, sc); break;
            case Item::K::Constraints: check_stmts(it.stmts, sc); break;
        }
        if (it.kind == Item::K::Assert || it.kind == Item::K::Objective || it.kind == Item::K::Constraints)
            continue;
        Symbol::K k = Symbol::K::Data;
        if (it.kind == Item::K::Tuple) k = Symbol::K::Tuple;
        else if (it.kind == Item::K::Range) k = Symbol::K::Range;
        else if (it.kind == Item::K::Dvar) k = Symbol::K::Dvar;
        else if (it.kind == Item::K::Dexpr) k = Symbol::K::Dexpr;
        else if (it.kind == Item::K::ConstraintDecl) k = Symbol::K::Label;
        declared_.emplace(it.name, k);
        if (all_[it.name] == &it) {
            Symbol s;
            s.kind = k;
            s.item = &it;
            s.postsolve = postsolve_names_.count(it.name) > 0;
            syms_.emplace(it.name, std::move(s));
        }
    }
}

}  // namespace vorlan::compiler
