// Static kinds: before anything is evaluated, every expression the model evaluates is
// classified as constant, data, linear in the decision variables, or non-linear. A
// non-linear use of a variable is reported where it arises, with the sub-expression
// named, whatever the data: an empty sum or an `if` branch that is not taken is checked
// like any other. Only an exactly linear operand is reported; an operand that is already
// non-linear was reported where it became so.
#include "vorlan_core/core/sema/sema.hpp"

#include <algorithm>

namespace vorlan::compiler {

namespace {

constexpr const char* kConditionNote = " (conditions and filters are evaluated on the data before solving)";

Kind widest(Kind a, Kind b) { return std::max(a, b); }

// The kind of a data-only result computed from operands of the given kind.
Kind data_result(Kind k) { return k >= Kind::Linear ? Kind::NonLinear : widest(k, Kind::Data); }

}  // namespace

bool Sema::is_strict(const std::string& op) { return op == "<" || op == ">" || op == "!="; }

std::string Sema::strict_message(const Expr& e, std::size_t i) const {
    const std::string& op = e.ops[i];
    return "strict '" + op + "' is not allowed in a constraint; use " +
           (op == "!=" ? "a binary variable with big-M constraints" : "'" + op + "='") + " in " + quote(e);
}

Kind Sema::name_kind(const std::string& n, const NameScope& sc) const {
    if (is_local(sc, n)) return Kind::Data;
    auto k = kinds_.find(n);
    return k == kinds_.end() ? Kind::Data : k->second;
}

// A variable where only data may stand: reported with the operation's own wording.
void Sema::need_data(Kind k, const Expr& e, const char* what) {
    if (k == Kind::Linear)
        diag("model", e.pos, std::string("a decision variable cannot appear in ") + what + ": " + quote(e) + kConditionNote);
}

void Sema::kind_iters(const std::vector<Iterator>& its, NameScope& sc) {
    for (auto& it : its) {
        Kind s = kind_of(*it.set, sc);
        if (s == Kind::Linear && it.set->kind != Expr::K::Range)
            diag("model", it.set->pos, "a decision variable cannot appear in a set expression: " + quote(*it.set));
        if (it.tuple_pattern) {
            for (auto& p : it.pattern) {
                if (p->kind == Expr::K::Name && !is_local(sc, p->text)) sc.locals.push_back(p->text);
                else kind_of(*p, sc);
            }
        } else {
            for (auto& n : it.names) sc.locals.push_back(n);
        }
        if (it.filter) need_data(kind_of(*it.filter, sc), *it.filter, "a filter");
    }
}

void Sema::kind_dims(const std::vector<Dim>& dims, NameScope& sc) {
    for (auto& d : dims) {
        Kind k = kind_of(*d.set, sc);
        if (k == Kind::Linear && d.set->kind != Expr::K::Range)
            diag("model", d.set->pos, "a decision variable cannot appear in a set expression: " + quote(*d.set));
        if (!d.binder.empty()) sc.locals.push_back(d.binder);
    }
}

// One precedence level, operand by operand, the way the evaluator combines them.
Kind Sema::chain_kind(const Expr& e, NameScope& sc) {
    Kind acc = kind_of(*e.kids[0], sc);
    for (std::size_t i = 0; i < e.ops.size(); ++i) {
        const std::string& op = e.ops[i];
        const Expr& lhs = *e.kids[i];
        const Expr& rhs = *e.kids[i + 1];
        Kind b = kind_of(rhs, sc);
        auto chain_text = [&] { return quote_span(e.begin, rhs.end); };
        if (op == "||" || op == "&&") {
            need_data(acc, lhs, "a condition");
            need_data(b, rhs, "a condition");
            acc = data_result(widest(acc, b));
        } else if (op == "union" || op == "diff" || op == "inter" || op == "symdiff") {
            for (auto [k, side] : {std::pair{acc, &lhs}, std::pair{b, &rhs}})
                if (k == Kind::Linear)
                    diag("model", side->pos, "a decision variable cannot appear in a set expression: " + quote(*side));
            acc = data_result(widest(acc, b));
        } else if (op == "*") {
            if (acc == Kind::Linear && b == Kind::Linear) {
                diag("model", e.pos, "non-linear term " + chain_text() +
                                         ": the product of two decision-variable expressions is not linear; multiply "
                                         "a variable only by data");
                acc = Kind::NonLinear;
            } else {
                acc = widest(acc, b);
            }
        } else if (op == "/" || op == "div" || op == "mod") {
            if (b == Kind::Linear) {
                diag("model", rhs.pos, "non-linear term " + chain_text() + ": division by a decision-variable expression " +
                                           quote(rhs) + " is not linear");
                acc = Kind::NonLinear;
            } else if (op != "/" && acc == Kind::Linear) {
                diag("model", lhs.pos, "'" + op + "' needs integer data; a decision variable cannot appear in " +
                                           chain_text());
                acc = Kind::NonLinear;
            } else {
                acc = op == "/" ? widest(acc, b) : data_result(widest(acc, b));
            }
        } else {
            acc = widest(acc, b);  // + and -
        }
    }
    return acc;
}

Kind Sema::aggregate_kind(const Expr& e, NameScope& sc) {
    std::size_t mark = sc.locals.size();
    kind_iters(e.iters, sc);
    const Expr& body = *e.kids[0];
    Kind b = kind_of(body, sc);
    sc.locals.resize(mark);
    const std::string& op = e.text;
    if (op == "sum") return widest(b, Kind::Data);
    if (op == "forall") {
        need_data(b, body, "a condition");
        return data_result(b);
    }
    if (b == Kind::Linear) {
        if (op == "prod")
            diag("model", body.pos, "a decision variable cannot appear in 'prod' (a product over decision variables is "
                                    "not linear): " + quote(body));
        else
            diag("model", body.pos, "non-linear: a decision variable cannot appear inside '" + op + "' in " + quote(e) +
                                        "; bound it with linear constraints instead");
    }
    return data_result(b);
}

Kind Sema::kind_of(const Expr& e, NameScope& sc) {
    switch (e.kind) {
        case Expr::K::Int:
        case Expr::K::Float:
        case Expr::K::Str:
        case Expr::K::Bool:
        case Expr::K::Infinity:
        case Expr::K::Maxint: return Kind::Const;
        case Expr::K::Name: return name_kind(e.text, sc);
        case Expr::K::Unary: {
            Kind k = kind_of(*e.kids[0], sc);
            if (e.text != "!") return k;
            need_data(k, *e.kids[0], "'!'");
            return data_result(k);
        }
        case Expr::K::Nary: return chain_kind(e, sc);
        case Expr::K::Compare: {
            Kind all = Kind::Const;
            bool reported = false;
            for (auto& k : e.kids) {
                Kind kk = kind_of(*k, sc);
                if (kk == Kind::Linear && !reported) {
                    diag("model", k->pos, "a decision variable cannot appear in a condition: " + quote(e) +
                                              " (conditions are evaluated on the data before solving)");
                    reported = true;
                }
                all = widest(all, kk);
            }
            return data_result(all);
        }
        case Expr::K::In: {
            Kind v = kind_of(*e.kids[0], sc), s = kind_of(*e.kids[1], sc);
            if (v == Kind::Linear) diag("model", e.pos, "a decision variable cannot appear in a condition: " + quote(e));
            if (s == Kind::Linear && e.kids[1]->kind != Expr::K::Range)
                diag("model", e.kids[1]->pos,
                     "a decision variable cannot appear in a set expression: " + quote(*e.kids[1]));
            return data_result(widest(v, s));
        }
        case Expr::K::Cond: {
            need_data(kind_of(*e.kids[0], sc), *e.kids[0], "the condition of '?:'");
            return widest(kind_of(*e.kids[1], sc), kind_of(*e.kids[2], sc));
        }
        case Expr::K::Range: {
            Kind all = Kind::Const;
            for (auto& b : e.kids) {
                Kind k = kind_of(*b, sc);
                if (k == Kind::Linear)
                    diag("model", b->pos, "a decision variable cannot appear in a range bound: " + quote(*b));
                all = widest(all, k);
            }
            return data_result(all);
        }
        case Expr::K::Index: {
            Kind base = kind_of(*e.kids[0], sc);
            for (std::size_t i = 1; i < e.kids.size(); ++i) {
                const Expr& ix = *e.kids[i];
                if (kind_of(ix, sc) == Kind::Linear)
                    diag("model", ix.pos,
                         "a decision variable cannot be used as an index: " + quote(ix) + " in " + quote(e));
            }
            return widest(base, Kind::Data);
        }
        case Expr::K::Field: return data_result(kind_of(*e.kids[0], sc));
        case Expr::K::Call: {
            Kind all = Kind::Data;
            bool reported = false;
            for (auto& a : e.kids) {
                Kind k = kind_of(*a, sc);
                if (k == Kind::Linear && !reported) {
                    diag("model", a->pos, "non-linear: a decision variable cannot appear inside '" + e.text + "' in " +
                                              quote(e) + "; introduce an auxiliary variable with linear constraints");
                    reported = true;
                }
                all = widest(all, k);
            }
            return data_result(all);
        }
        case Expr::K::Aggregate: return aggregate_kind(e, sc);
        case Expr::K::TupleLit:
        case Expr::K::SetLit: {
            Kind all = Kind::Const;
            for (auto& k : e.kids) {
                Kind kk = kind_of(*k, sc);
                if (kk == Kind::Linear) {
                    if (e.kind == Expr::K::TupleLit)
                        diag("model", k->pos, "a decision variable cannot appear in a tuple: " + quote(e));
                    else
                        diag("model", k->pos, "a decision variable cannot appear in a set expression: " + quote(*k));
                    return Kind::NonLinear;
                }
                all = widest(all, kk);
            }
            return data_result(all);
        }
        case Expr::K::SetComp: {
            std::size_t mark = sc.locals.size();
            kind_iters(e.iters, sc);
            const Expr& el = *e.kids[0];
            Kind k = kind_of(el, sc);
            sc.locals.resize(mark);
            if (k == Kind::Linear)
                diag("model", el.pos, "a decision variable cannot appear in a set expression: " + quote(el));
            return data_result(k);
        }
        case Expr::K::ArrayLit: {
            Kind all = Kind::Const;
            for (auto& k : e.kids) all = widest(all, kind_of(*k, sc));
            return all;
        }
    }
    return Kind::Data;
}

// A constraint's relation: its form, strict operators next to variables (reported at the
// operator), and data bounds on a range constraint.
void Sema::check_relation(const Expr& e, NameScope& sc) {
    if (e.kind == Expr::K::Nary && (e.ops[0] == "||" || e.ops[0] == "&&")) {
        diag("model", e.pos, "logical constraints between relations ('" + e.ops[0] +
                                 "') are not supported; use a binary variable with big-M constraints");
        return;
    }
    if (e.kind == Expr::K::Unary && e.text == "!") {
        diag("model", e.pos, "negated constraints ('!') are not supported; write the opposite relation, or use a "
                             "binary variable with big-M constraints");
        return;
    }
    if (e.kind != Expr::K::Compare) {
        kind_of(e, sc);
        diag("model", e.pos, "expected a relation (<=, >= or ==) in the constraint, found " + quote(e));
        return;
    }
    std::vector<Kind> k;
    for (auto& kid : e.kids) k.push_back(kind_of(*kid, sc));
    bool linear = std::any_of(k.begin(), k.end(), [](Kind x) { return x >= Kind::Linear; });
    for (std::size_t i = 0; i < e.ops.size(); ++i)
        if (linear && is_strict(e.ops[i])) diag("model", e.op_pos[i], strict_message(e, i));
    if (e.ops.size() > 2) {
        diag("model", e.pos, "a constraint has at most two relations (lo <= expr <= hi)");
    } else if (e.ops.size() == 2) {
        bool up = e.ops[0] == "<=" && e.ops[1] == "<=";
        bool down = e.ops[0] == ">=" && e.ops[1] == ">=";
        if (!up && !down && !is_strict(e.ops[0]) && !is_strict(e.ops[1]))
            diag("model", e.pos, "a range constraint is written 'lo <= expr <= hi' (or with '>=' twice), found " + quote(e));
        for (std::size_t b : {std::size_t{0}, std::size_t{2}})
            if (k[b] >= Kind::Linear) {
                diag("model", e.kids[b]->pos,
                     "the bounds of a range constraint must be data, without decision variables: " + quote(e));
                break;
            }
    }
}

void Sema::check_stmt_kinds(std::span<const StmtP> ss, NameScope& sc) {
    for (auto& s : ss) {
        std::size_t mark = sc.locals.size();
        for (auto& ix : s->label.index)
            if (kind_of(*ix, sc) == Kind::Linear)
                diag("model", ix->pos, "a decision variable cannot be used as an index: " + quote(*ix) +
                                           " in the label '" + s->label.name + "'");
        switch (s->kind) {
            case Stmt::K::Forall: kind_iters(s->iters, sc); break;
            case Stmt::K::If: need_data(kind_of(*s->expr, sc), *s->expr, "an 'if' condition"); break;
            case Stmt::K::Constraint: check_relation(*s->expr, sc); break;
            case Stmt::K::Block: break;
        }
        check_stmt_kinds(s->body, sc);
        check_stmt_kinds(s->else_body, sc);
        sc.locals.resize(mark);
    }
}

void Sema::check_kinds() {
    for (auto& it : m_.items) {
        if (full()) return;
        NameScope sc;
        std::size_t before = sink_->size();
        bool first = !it.name.empty() && all_.count(it.name) && all_[it.name] == &it;
        switch (it.kind) {
            case Item::K::Range:
                kind_of(*it.value, sc);
                if (first) kinds_.emplace(it.name, Kind::Data);
                break;
            case Item::K::Data:
                // A declaration that uses variables is a post-solve report and is not evaluated;
                // any other one holds data only.
                if (first) kinds_.emplace(it.name, Kind::Data);
                break;
            case Item::K::Dvar:
                kind_dims(it.dims, sc);
                if (first) kinds_.emplace(it.name, Kind::Linear);
                break;
            case Item::K::Dexpr: {
                kind_dims(it.dims, sc);
                Kind k = kind_of(*it.value, sc);
                if (first) kinds_.emplace(it.name, widest(k, Kind::Data));
                break;
            }
            case Item::K::ConstraintDecl: kind_dims(it.dims, sc); break;
            case Item::K::Objective:
                if (it.value) kind_of(*it.value, sc);
                for (std::size_t k = 0; k < it.goals.size(); ++k)
                    if (kind_of(*it.goals[k], sc) == Kind::NonLinear)
                        diag("model", it.goals[k]->pos,
                             "goal " + std::to_string(k + 1) + " of lexicographic(...), " + quote(*it.goals[k]) +
                                 ", is not linear; every goal must be a linear expression");
                break;
            case Item::K::Constraints:
                // Statement by statement, so evaluation leaves out only the ones rejected here.
                for (auto& s : it.stmts) {
                    std::size_t at = sink_->size();
                    check_stmt_kinds({&s, 1}, sc);
                    if (sink_->size() != at) kind_failed_.insert(s.get());
                }
                continue;
            case Item::K::Tuple:
            case Item::K::Assert: break;
        }
        if (sink_->size() != before) kind_failed_.insert(&it);
    }
}

}  // namespace vorlan::compiler
