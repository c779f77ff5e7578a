#include "vorlan_core/core/sema.hpp"

#include "common/text.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "vorlan_core/core/value.hpp"

namespace vorlan::compiler {

std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diag = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t up = row[j];
            std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            // Case differences count half as much by being cheaper than a substitution.
            if (cost && std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                            std::tolower(static_cast<unsigned char>(b[j - 1])))
                cost = 0;
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + cost});
            diag = up;
        }
    }
    return row[b.size()];
}

namespace {

std::string num_text(double d) {
    if (std::isinf(d)) return d > 0 ? "infinity" : "-infinity";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

}  // namespace

std::string value_key(const Value& v) {
    switch (v.k) {
        case Value::K::Int: return "n" + std::to_string(v.i);
        case Value::K::Float:
            if (v.f == std::floor(v.f) && std::fabs(v.f) < 9e15)
                return "n" + std::to_string(static_cast<std::int64_t>(v.f));
            return "n" + num_text(v.f);
        case Value::K::Str: return "s" + v.s;
        case Value::K::Bool: return "n" + std::to_string(v.i);
        case Value::K::Tuple: {
            std::string k = "<";
            for (auto& x : *v.tup) {
                std::string part = value_key(x);
                k += std::to_string(part.size()) + ":" + part;
            }
            return k + ">";
        }
        case Value::K::Set: {
            std::string k = "{";
            for (std::size_t i = 0; i < v.set->size(); ++i) {
                std::string part = value_key(v.set->at(i));
                k += std::to_string(part.size()) + ":" + part;
            }
            return k + "}";
        }
        default: return "?";
    }
}

std::string value_text(const Value& v) {
    switch (v.k) {
        case Value::K::Int: return std::to_string(v.i);
        case Value::K::Float: return num_text(v.f);
        case Value::K::Str: return "\"" + text::escape_controls(v.s) + "\"";
        case Value::K::Bool: return v.i ? "true" : "false";
        case Value::K::Tuple: {
            std::string t = "<";
            for (std::size_t i = 0; i < v.tup->size(); ++i) t += (i ? ", " : "") + value_text((*v.tup)[i]);
            return t + ">";
        }
        case Value::K::Set: return "a set";
        case Value::K::Array: return "an array";
        case Value::K::Lin: return "a linear expression";
        default: return "nothing";
    }
}

namespace {

// A count for messages; SIZE_MAX stands for a product or span that did not fit.
std::string count_text(std::size_t n) { return std::to_string(n) + (n == SIZE_MAX ? " or more" : ""); }

struct EvalError {
    Pos pos;
    std::string msg;
    std::string file = "model";
    bool silent = false;  // follows from a problem already reported
};

struct Symbol {
    enum class K { Data, Range, Tuple, Dvar, Dexpr, Label };
    K kind;
    const Item* item = nullptr;
    Value value;
    bool ready = false;
    bool postsolve = false;
    bool failed = false;  // its declaration reported a problem
};

const char* kind_word(Value::K k) {
    switch (k) {
        case Value::K::Int: return "an int";
        case Value::K::Float: return "a float";
        case Value::K::Str: return "a string";
        case Value::K::Bool: return "a condition";
        case Value::K::Tuple: return "a tuple";
        case Value::K::Set: return "a set";
        case Value::K::Array: return "an array with indices missing (give one index per dimension)";
        case Value::K::Lin: return "a decision-variable expression";
        default: return "nothing";
    }
}

std::string dv_word(const DataValue& d) {
    switch (d.kind) {
        case DataValue::K::Int: return "the int " + std::to_string(d.ival);
        case DataValue::K::Float: return "the float " + num_text(d.fval);
        case DataValue::K::Str: return "the string \"" + d.text + "\"";
        case DataValue::K::Ident: return "the name " + d.text;
        case DataValue::K::Infinity: return "infinity";
        case DataValue::K::Maxint: return "maxint";
        case DataValue::K::Tuple: return "a tuple <...>";
        case DataValue::K::Set: return "a set {...}";
        case DataValue::K::Array: return "an array [...]";
        case DataValue::K::Keyed: return "a keyed array #[...]#";
    }
    return "?";
}

void flatten_index(const Value& v, std::vector<IndexValue>& out) {
    switch (v.k) {
        case Value::K::Int:
        case Value::K::Bool: out.emplace_back(v.i); break;
        case Value::K::Float: out.emplace_back(v.f); break;
        case Value::K::Str: out.emplace_back(v.s); break;
        case Value::K::Tuple:
            for (auto& x : *v.tup) flatten_index(x, out);
            break;
        default: break;
    }
}

class Sema {
public:
    Sema(std::shared_ptr<Parsed> p, CompileResult& out, const Limits& limits)
        : lim_(limits), parsed_(std::move(p)), m_(parsed_->model), d_(parsed_->data), src_(parsed_->model_src), out_(&out),
          inst_(std::make_shared<Instance>()) {}

    // Returns true when the pair is valid; the Sema then stays alive for export_host.
    bool run() {
        check_names();
        if (full()) return false;
        bind_data();
        if (!out_->diagnostics.empty()) return false;
        evaluate();
        if (!out_->diagnostics.empty()) return false;
        out_->instance = inst_;
        out_ = nullptr;
        return true;
    }

    void export_host(HostValue& ast_out, HostValue& data_out) {
        auto ast = std::make_shared<HostValue>(HostValue::map());
        auto data = std::make_shared<HostValue>(HostValue::map());
        build_host(*ast, *data);
        ast_out = std::move(*ast);
        data_out = std::move(*data);
    }

private:
    Limits lim_;
    std::shared_ptr<Parsed> parsed_;
    const Model& m_;
    DataFile& d_;
    std::string_view src_;
    CompileResult* out_;
    std::shared_ptr<Instance> inst_;
    std::unordered_map<std::string, Symbol> syms_;
    std::unordered_map<std::string, TupleType> tuples_;
    std::unordered_map<std::string, DataAssign*> assigns_;
    // A name bound by an iterator. The name lives in the syntax tree; the value is either
    // `ref`, an element of a set that outlives the binding, or `own`. `from`/`at` record the
    // set and position it was taken from, so indexing an array over that set needs no lookup.
    struct Binding {
        const std::string* name;
        const Value* ref;
        Value own;
        const SetV* from = nullptr;
        std::size_t at = 0;
        Binding(const std::string& n, const Value* r, Value o, const SetV* f, std::size_t a)
            : name(&n), ref(r), own(std::move(o)), from(f), at(a) {}
        const Value& value() const { return ref ? *ref : own; }
    };
    // Binds n to element i of s: by reference for a listed set, by value for a range.
    void bind_element(const std::string& n, const SetV& s, std::size_t i) {
        if (s.is_range) env_.emplace_back(n, nullptr, s.at(i), nullptr, i);
        else env_.emplace_back(n, &s.elems[i], Value(), &s, i);
    }
    std::vector<Binding> env_;
    std::uint64_t steps_ = 0;
    std::size_t terms_ = 0;
    std::set<std::pair<int, int>> seen_;  // positions already reported

    // ----- diagnostics -----
    bool full() const { return out_->diagnostics.size() >= kMaxDiagnostics; }
    void diag(const EvalError& err) {
        if (!err.silent) diag(err.file, err.pos, err.msg);
    }
    void diag(const std::string& file, Pos p, std::string msg) {
        if (full()) return;
        if (file == "model" && !seen_.insert({p.line, p.col}).second) return;
        out_->diagnostics.push_back({Diagnostic::Kind::Semantic, file, p.line, p.col, std::move(msg)});
    }
    [[noreturn]] void fail(Pos p, std::string msg) { throw EvalError{p, std::move(msg)}; }
    std::string quote(const Expr& e) const { return quote_span(e.begin, e.end); }
    std::string suggest(const std::string& name, bool with_locals) const {
        std::string best;
        std::size_t bd = std::max<std::size_t>(2, name.size() / 3) + 1;
        auto consider = [&](const std::string& c) {
            if (c == name) return;
            std::size_t d = edit_distance(name, c);
            if (d < bd || (d == bd && !best.empty() && c < best && d < bd)) {
                bd = d;
                best = c;
            }
        };
        for (auto& [n, s] : syms_) consider(n);
        if (with_locals)
            for (auto& b : env_) consider(*b.name);
        return best.empty() ? "" : "; did you mean '" + best + "'?";
    }

    // ----- names -----
    struct NameScope {
        std::vector<std::string> locals;
        bool uses_var = false;
    };
    std::unordered_map<std::string, const Item*> all_;
    std::unordered_map<std::string, Symbol::K> declared_;
    std::unordered_set<std::string> postsolve_names_;

    bool is_local(const NameScope& sc, const std::string& n) const {
        return std::find(sc.locals.begin(), sc.locals.end(), n) != sc.locals.end();
    }
    std::string closest_declared(const std::string& name, const NameScope& sc) const {
        std::string best;
        std::size_t bd = std::max<std::size_t>(2, name.size() / 3) + 1;
        auto consider = [&](const std::string& c) {
            std::size_t d = edit_distance(name, c);
            if (d < bd) {
                bd = d;
                best = c;
            }
        };
        // Iterators first: on a tie the name in scope nearby is the likelier intent.
        for (auto it = sc.locals.rbegin(); it != sc.locals.rend(); ++it) consider(*it);
        std::vector<std::string> globals;
        for (auto& [n, k] : declared_)
            if (k != Symbol::K::Tuple && k != Symbol::K::Label) globals.push_back(n);
        std::sort(globals.begin(), globals.end());
        for (auto& n : globals) consider(n);
        return best.empty() ? "" : "; did you mean '" + best + "'?";
    }
    void check_iters(const std::vector<Iterator>& its, NameScope& sc) {
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
    void check_expr(const Expr& e, NameScope& sc) {
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
    void check_type(const TypeRef& t) {
        if (t.kind == TypeRef::K::Set && t.elem) return check_type(*t.elem);
        if (t.kind != TypeRef::K::Tuple) return;
        auto d = declared_.find(t.tuple_name);
        if (d != declared_.end() && d->second == Symbol::K::Tuple) return;
        if (all_.count(t.tuple_name) && all_[t.tuple_name]->kind == Item::K::Tuple)
            diag("model", t.pos, "tuple type '" + t.tuple_name + "' is used before its declaration");
        else {
            std::string best;
            for (auto& [n, k] : declared_)
                if (k == Symbol::K::Tuple && edit_distance(n, t.tuple_name) <= 2) best = n;
            diag("model", t.pos, "unknown type '" + t.tuple_name + "' (types: int, float, string, {T}, or a tuple type)" +
                                     (best.empty() ? "" : "; did you mean '" + best + "'?"));
        }
    }
    void check_dims(const std::vector<Dim>& dims, NameScope& sc) {
        for (auto& d : dims) {
            check_expr(*d.set, sc);
            if (!d.binder.empty()) sc.locals.push_back(d.binder);
        }
    }
    void check_stmts(const std::vector<StmtP>& ss, NameScope& sc) {
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
    void check_names() {
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
                    if (!it.with_set.empty() && !declared_.count(it.with_set))
                        diag("model", it.with_pos, "'" + it.with_set + "' is not declared" +
                                                       closest_declared(it.with_set, sc));
                    if (sc.uses_var) postsolve_names_.insert(it.name);
                    break;
                case Item::K::Range:
                case Item::K::Assert:
                case Item::K::Objective:
                    check_expr(*it.value, sc);
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

    // ----- data binding -----
    void bind_data() {
        for (auto& a : d_.assigns) {
            auto s = syms_.find(a.name);
            if (s == syms_.end()) {
                std::string best;
                std::size_t bd = 3;
                for (auto& [n, sym] : syms_)
                    if (sym.item->external) {
                        std::size_t dd = edit_distance(n, a.name);
                        if (dd < bd) {
                            bd = dd;
                            best = n;
                        }
                    }
                diag("data", a.pos, "'" + a.name + "' is not declared in the model" +
                                        (best.empty() ? "; declare it there with '= ...'"
                                                      : "; did you mean '" + best + "'?"));
                continue;
            }
            if (!s->second.item->external) {
                diag("data", a.pos, "'" + a.name + "' gets its value in the model, not from the data file; "
                                        "declare it with '= ...' in the model or remove this assignment");
                continue;
            }
            auto [p, fresh] = assigns_.emplace(a.name, &a);
            if (!fresh)
                diag("data", a.pos, "'" + a.name + "' is assigned twice in the data (first at line " +
                                        std::to_string(p->second->pos.line) + ")");
        }
        for (auto& it : m_.items)
            if (it.external && all_[it.name] == &it && !assigns_.count(it.name))
                diag("model", it.name_pos, "no data for '" + it.name + "', declared with '= ...'; add '" + it.name +
                                               " = ...;' to the data file");
    }

    // ----- values -----
    static Value lin_value(std::shared_ptr<Lin> l) {
        Value v;
        v.k = Value::K::Lin;
        v.lin = std::move(l);
        return v;
    }
    static Value var_value(std::int64_t var) {
        auto l = std::make_shared<Lin>();
        l->terms.emplace_back(static_cast<std::int32_t>(var), 1.0);
        return lin_value(std::move(l));
    }
    static Value set_value(std::shared_ptr<SetV> s) {
        Value v;
        v.k = Value::K::Set;
        v.set = std::move(s);
        return v;
    }
    static Value tuple_value(std::vector<Value> items, const TupleType* t) {
        Value v;
        v.k = Value::K::Tuple;
        v.tup = std::make_shared<std::vector<Value>>(std::move(items));
        v.ttype = t;
        return v;
    }
    const Binding* lookup_binding(const std::string& n) const {
        for (auto it = env_.rbegin(); it != env_.rend(); ++it)
            if (*it->name == n) return &*it;
        return nullptr;
    }
    const Value* lookup_local(const std::string& n) const {
        const Binding* b = lookup_binding(n);
        return b ? &b->value() : nullptr;
    }
    void step(Pos p) {
        if (++steps_ > lim_.max_steps) step_limit(p);
    }
    [[noreturn]] void set_too_large(Pos p, std::size_t n) {
        fail(p, "a set of " + count_text(n) + " elements is too large to build (the limit is " +
                    std::to_string(lim_.max_set_elements) + ")");
    }
    [[noreturn]] void step_limit(Pos p) {
        steps_ = lim_.max_steps + 1;  // later statements stop at once
        fail(p, "the model expands to more than " + std::to_string(lim_.max_steps) +
                    " iterations; the instance is too large");
    }

    double as_num(const Value& v, const Expr& e, const char* what) {
        if (v.is_num()) return v.num();
        if (v.k == Value::K::Lin)
            fail(e.pos, std::string("a decision variable cannot appear in ") + what + ": " + quote(e));
        fail(e.pos, std::string("expected a number in ") + what + ", found " + kind_word(v.k) + " " + quote(e));
    }
    std::int64_t as_int(const Value& v, const Expr& e, const char* what) {
        if (v.k == Value::K::Int) return v.i;
        if (v.k == Value::K::Float && v.f == std::floor(v.f) && std::fabs(v.f) < 9e18)
            return static_cast<std::int64_t>(v.f);
        if (v.k == Value::K::Lin)
            fail(e.pos, std::string("a decision variable cannot appear in ") + what + ": " + quote(e));
        fail(e.pos, std::string("expected an integer in ") + what + ", found " + kind_word(v.k) + " " +
                        (v.k == Value::K::Float ? num_text(v.f) : quote(e)));
    }
    bool as_bool(const Value& v, const Expr& e, const char* what) {
        if (v.k == Value::K::Bool) return v.i != 0;
        if (v.k == Value::K::Lin)
            fail(e.pos, std::string("a decision variable cannot appear in ") + what + ": " + quote(e) +
                            " (conditions and filters are evaluated on the data before solving)");
        if (v.k == Value::K::Int) return v.i != 0;
        fail(e.pos, std::string("expected a condition in ") + what + ", found " + kind_word(v.k) + " " + quote(e));
    }
    std::shared_ptr<SetV> as_set(const Value& v, const Expr& e) {
        if (v.k == Value::K::Set) return v.set;
        if (v.k == Value::K::Lin)
            fail(e.pos, "a decision variable cannot appear in a set expression: " + quote(e));
        fail(e.pos, std::string("expected a set or range, found ") + kind_word(v.k) + " " + quote(e));
    }

    std::shared_ptr<Lin> to_lin(const Value& v) {
        if (v.k == Value::K::Lin) return v.lin;
        auto l = std::make_shared<Lin>();
        l->c = v.num();
        return l;
    }
    // acc as a linear value that no other Value shares, ready to be added to.
    static Lin& own_lin(Value& acc) {
        if (acc.k != Value::K::Lin) {
            auto l = std::make_shared<Lin>();
            l->c = acc.num();
            acc = lin_value(std::move(l));
        } else if (acc.lin.use_count() > 1) {
            acc = lin_value(std::make_shared<Lin>(*acc.lin));
        }
        return *acc.lin;
    }
    // acc += sign * v, reusing acc's storage when it is not shared.
    void add_into(Value& acc, const Value& v, double sign) {
        Lin& a = own_lin(acc);
        if (v.k == Value::K::Lin) {
            for (auto& [var, c] : v.lin->terms) a.terms.emplace_back(var, sign * c);
            a.c += sign * v.lin->c;
            if (a.terms.size() > lim_.max_terms) fail({}, "an expression holds more than the limit of terms");
        } else {
            a.c += sign * v.num();
        }
    }
    Value scale(Value v, double k) {
        if (v.lin.use_count() > 1) v.lin = std::make_shared<Lin>(*v.lin);
        for (auto& t : v.lin->terms) t.second *= k;
        v.lin->c *= k;
        return v;
    }
    static bool has_vars(const Value& v) { return v.k == Value::K::Lin && !v.lin->terms.empty(); }

    std::string quote_span(std::size_t b, std::size_t e) const {
        if (e <= b || e > src_.size()) return "expression";
        std::string s(src_.substr(b, e - b));
        for (char& c : s)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
        if (s.size() > 60) s = s.substr(0, 57) + "...";
        return "'" + s + "'";
    }
    enum class Op { Add, Sub, Mul, Div, IDiv, Mod, Union, Diff, Inter, Symdiff, Or, And };
    static Op op_code(const std::string& s) {
        switch (s[0]) {
            case '+': return Op::Add;
            case '-': return Op::Sub;
            case '*': return Op::Mul;
            case '/': return Op::Div;
            case '|': return Op::Or;
            case '&': return Op::And;
            case 'm': return Op::Mod;
            case 'u': return Op::Union;
            case 'i': return Op::Inter;
            case 's': return Op::Symdiff;
            default: return s == "div" ? Op::IDiv : Op::Diff;
        }
    }
    Value arith(const std::string& op, Value a, Value b, const Expr& whole, const Expr& lhs, const Expr& rhs) {
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
        if (oc == Op::Add || oc == Op::Sub) {
            if (la || lb) {
                add_into(a, b, oc == Op::Add ? 1.0 : -1.0);
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

    int compare_vals(const Value& a, const Value& b, const Expr& e) {
        if (a.is_num() && b.is_num()) return a.num() < b.num() ? -1 : (a.num() > b.num() ? 1 : 0);
        if (a.k == Value::K::Str && b.k == Value::K::Str) return a.s < b.s ? -1 : (a.s > b.s ? 1 : 0);
        if (a.k == Value::K::Tuple && b.k == Value::K::Tuple) return value_key(a) == value_key(b) ? 0 : 1;
        if (a.k == Value::K::Bool && b.k == Value::K::Bool) return a.i == b.i ? 0 : 1;
        fail(e.pos, std::string("cannot compare ") + kind_word(a.k) + " with " + kind_word(b.k) + " in " + quote(e));
    }
    bool cmp_holds(const std::string& op, int c) {
        if (op == "<") return c < 0;
        if (op == "<=") return c <= 0;
        if (op == ">") return c > 0;
        if (op == ">=") return c >= 0;
        if (op == "==") return c == 0;
        return c != 0;
    }

    // Enumerates the bindings of an iterator list; fn runs once per binding.
    void each(const std::vector<Iterator>& its, std::size_t k, const std::function<void()>& fn) {
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
        // `a, b in S` iterates over S for every name.
        std::function<void(std::size_t)> bind = [&](std::size_t n) {
            if (n == it.names.size()) {
                if (pass_filter()) each(its, k + 1, fn);
                return;
            }
            for (std::size_t i = 0; i < s->size(); ++i) {
                step(it.pos);
                bind_element(it.names[n], *s, i);
                bind(n + 1);
                env_.pop_back();
            }
        };
        bind(0);
    }

    // known[d] >= 0 is the position of index d, already found; idx[d] is then not read.
    Value index_value(const Value& base, const Value* idx, const std::int64_t* known, std::size_t nidx,
                      const Expr& e, std::int64_t* var = nullptr) {
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

    // An indexed name. With var set, a reference to one decision variable returns an empty
    // Value and stores the variable in *var (-1 otherwise), so sums need no Lin per term.
    Value eval_index(const Expr& e, std::int64_t* var) {
        Value tmp;
        const Value* base = &tmp;
        if (e.kids[0]->kind == Expr::K::Name) base = name_ref(*e.kids[0]);
        else tmp = eval(*e.kids[0]);
        std::size_t n = e.kids.size() - 1;
        // Fast path: every index is an iterator over the matching dimension's own set.
        if (base->k == Value::K::Array && n == base->arr->dims.size()) {
            const ArrV& a = *base->arr;
            std::size_t flat = 0;
            std::size_t d = 0;
            for (; d < n; ++d) {
                const Expr& ix = *e.kids[d + 1];
                if (ix.kind != Expr::K::Name) break;
                const Binding* b = lookup_binding(ix.text);
                if (!b) break;
                const SetV& dim = *a.dims[d];
                std::size_t p = b->at;
                if (b->from != &dim) {
                    // Integer ranges find positions by arithmetic; anything else takes the general path.
                    if (!dim.is_range || b->value().k != Value::K::Int) break;
                    std::int64_t q = dim.find(b->value());
                    if (q < 0) break;
                    p = static_cast<std::size_t>(q);
                }
                flat = flat * dim.size() + p;
            }
            if (d == n) {
                if (a.var_base < 0) {
                    if (var) *var = -1;
                    return a.cell(flat);
                }
                std::int64_t v = a.var_base + static_cast<std::int64_t>(flat);
                if (!var) return var_value(v);
                *var = v;
                return {};
            }
        }
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

    Value call(const Expr& e) {
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

    // Evaluates e; when it is one decision variable times data (x[i], c * x[i], x[i] * c) it
    // returns an empty Value with the variable in var and the factor in coef instead.
    Value eval_term(const Expr& e, std::int64_t& var, double& coef) {
        var = -1;
        coef = 1.0;
        if (e.kind == Expr::K::Index) return eval_index(e, &var);
        if (e.kind != Expr::K::Nary || e.ops.size() != 1 || e.ops[0] != "*") return eval(e);
        const Expr& l = *e.kids[0];
        const Expr& r = *e.kids[1];
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
    // acc += coef * variable.
    void append_term(Value& acc, std::int64_t var, double coef) {
        Lin& a = own_lin(acc);
        a.terms.emplace_back(static_cast<std::int32_t>(var), coef);
        if (a.terms.size() > lim_.max_terms) fail({}, "an expression holds more than the limit of terms");
    }

    Value aggregate(const Expr& e) {
        const std::string& op = e.text;
        const Expr& body = *e.kids[0];
        if (op == "sum") {
            Value acc = Value::Int(0);
            each(e.iters, 0, [&] {
                std::int64_t var;
                double coef;
                Value v = eval_term(body, var, coef);
                if (var >= 0) return append_term(acc, var, coef);
                if (!v.is_num() && v.k != Value::K::Lin)
                    fail(body.pos, "'sum' adds numbers or linear expressions, found " + std::string(kind_word(v.k)) +
                                       " " + quote(body));
                if (acc.k == Value::K::Int && v.k == Value::K::Int) {
                    if (__builtin_add_overflow(acc.i, v.i, &acc.i)) fail(e.pos, "integer overflow in " + quote(e));
                } else if (acc.k != Value::K::Lin && v.k != Value::K::Lin) {
                    acc = Value::Float(acc.num() + v.num());
                } else {
                    add_into(acc, v, 1.0);
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

    const Value* name_ref(const Expr& e) {
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

    Value eval(const Expr& e) {
        switch (e.kind) {
            case Expr::K::Int: return Value::Int(e.ival);
            case Expr::K::Float: return Value::Float(e.fval);
            case Expr::K::Str: return Value::Str(e.text);
            case Expr::K::Bool: return Value::Bool(e.ival != 0);
            case Expr::K::Infinity: return Value::Float(kInf);
            case Expr::K::Maxint: return Value::Int(std::numeric_limits<std::int64_t>::max());
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
                    std::string best, all;
                    std::size_t bd = 3;
                    for (auto& f : t.ttype->fields) {
                        all += (all.empty() ? "" : ", ") + f.name;
                        std::size_t d = edit_distance(f.name, e.text);
                        if (d < bd) {
                            bd = d;
                            best = f.name;
                        }
                    }
                    fail(e.pos, "tuple type '" + t.ttype->name + "' has no field '" + e.text + "'" +
                                    (best.empty() ? " (fields: " + all + ")" : "; did you mean '" + best + "'?"));
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
        }
        fail(e.pos, "cannot evaluate " + quote(e));
    }

    // ----- typed values -----
    const TupleType* tuple_type(const std::string& n) const {
        auto it = tuples_.find(n);
        return it == tuples_.end() ? nullptr : &it->second;
    }
    Value zero_of(const TypeRef& t) {
        switch (t.kind) {
            case TypeRef::K::Int: return Value::Int(0);
            case TypeRef::K::Float: return Value::Float(0);
            case TypeRef::K::String: return Value::Str("");
            case TypeRef::K::Bool: return Value::Bool(false);
            case TypeRef::K::Set: return set_value(std::make_shared<SetV>());
            case TypeRef::K::Tuple: {
                const TupleType* tt = tuple_type(t.tuple_name);
                std::vector<Value> f;
                for (auto& fd : tt->fields) f.push_back(zero_of(fd.type));
                return tuple_value(std::move(f), tt);
            }
        }
        return {};
    }
    // Converts an evaluated model value to the declared type.
    Value coerce(const Value& v, const TypeRef& t, const std::string& what, Pos p) {
        auto bad = [&]() -> Value {
            fail(p, "'" + what + "' is declared " + t.text() + " but its value is " + kind_word(v.k) +
                        (v.is_num() || v.k == Value::K::Str ? " " + value_text(v) : ""));
        };
        switch (t.kind) {
            case TypeRef::K::Int:
                if (v.k == Value::K::Int) return v;
                if (v.k == Value::K::Bool) return Value::Int(v.i);
                return bad();
            case TypeRef::K::Float:
                if (v.is_num()) return Value::Float(v.num());
                return bad();
            case TypeRef::K::String:
                if (v.k == Value::K::Str) return v;
                return bad();
            case TypeRef::K::Bool:
                if (v.k == Value::K::Bool) return v;
                if (v.k == Value::K::Int && (v.i == 0 || v.i == 1)) return Value::Bool(v.i);
                return bad();
            case TypeRef::K::Tuple: {
                const TupleType* tt = tuple_type(t.tuple_name);
                if (v.k != Value::K::Tuple) return bad();
                if (v.tup->size() != tt->fields.size())
                    fail(p, "a tuple for '" + what + "' has " + std::to_string(v.tup->size()) + " values but '" +
                                tt->name + "' has " + std::to_string(tt->fields.size()) + " fields");
                std::vector<Value> f;
                for (std::size_t i = 0; i < tt->fields.size(); ++i)
                    f.push_back(coerce((*v.tup)[i], tt->fields[i].type, what + "." + tt->fields[i].name, p));
                return tuple_value(std::move(f), tt);
            }
            case TypeRef::K::Set: {
                if (v.k != Value::K::Set) return bad();
                const TypeRef& et = *t.elem;
                if (v.set->is_range && et.kind == TypeRef::K::Int) return v;
                auto s = std::make_shared<SetV>();
                s->name = what;
                const std::string elem_what = "an element of " + what;
                if (v.set->size() > lim_.max_set_elements) set_too_large(p, v.set->size());
                for (std::size_t i = 0; i < v.set->size(); ++i) {
                    step(p);
                    s->add(coerce(v.set->at(i), et, elem_what, p));
                }
                return set_value(s);
            }
        }
        return bad();
    }

    [[noreturn]] void dfail(const DataValue& d, std::string msg) { throw EvalError{d.pos, std::move(msg), "data"}; }

    Value generic(const DataValue& d) {
        switch (d.kind) {
            case DataValue::K::Int: return Value::Int(d.ival);
            case DataValue::K::Float: return Value::Float(d.fval);
            case DataValue::K::Str:
            case DataValue::K::Ident: return Value::Str(d.text);
            case DataValue::K::Infinity: return Value::Float(d.ival < 0 ? -kInf : kInf);
            case DataValue::K::Maxint:
                return Value::Int(d.ival < 0 ? -std::numeric_limits<std::int64_t>::max()
                                             : std::numeric_limits<std::int64_t>::max());
            case DataValue::K::Tuple: {
                std::vector<Value> items;
                for (auto& x : d.items) items.push_back(generic(*x));
                return tuple_value(std::move(items), nullptr);
            }
            default: dfail(d, "expected a number, string or tuple key, found " + dv_word(d));
        }
    }
    // `what` names the value in messages, already quoted: 'n', an element of 'P', ...
    Value convert(const DataValue& d, const TypeRef& t, const std::string& what) {
        auto bad = [&]() -> Value { dfail(d, "expected " + t.text() + " for " + what + ", found " + dv_word(d)); };
        switch (t.kind) {
            case TypeRef::K::Int:
                if (d.kind == DataValue::K::Int) return Value::Int(d.ival);
                if (d.kind == DataValue::K::Maxint) return generic(d);
                if (d.kind == DataValue::K::Float)
                    dfail(d, "expected an int for " + what + ", found the float " + num_text(d.fval) +
                                 " (declare it float, or write a whole number)");
                return bad();
            case TypeRef::K::Float:
                if (d.kind == DataValue::K::Int) return Value::Float(static_cast<double>(d.ival));
                if (d.kind == DataValue::K::Float) return Value::Float(d.fval);
                if (d.kind == DataValue::K::Infinity) return generic(d);
                if (d.kind == DataValue::K::Maxint) return Value::Float(generic(d).num());
                return bad();
            case TypeRef::K::String:
                if (d.kind == DataValue::K::Str || d.kind == DataValue::K::Ident) return Value::Str(d.text);
                return bad();
            case TypeRef::K::Bool:
                if (d.kind == DataValue::K::Int && (d.ival == 0 || d.ival == 1)) return Value::Bool(d.ival);
                if (d.kind == DataValue::K::Ident && (d.text == "true" || d.text == "false"))
                    return Value::Bool(d.text == "true");
                return bad();
            case TypeRef::K::Tuple: {
                const TupleType* tt = tuple_type(t.tuple_name);
                if (d.kind != DataValue::K::Tuple) return bad();
                if (d.items.size() != tt->fields.size()) {
                    std::string names;
                    for (auto& f : tt->fields) names += (names.empty() ? "" : ", ") + f.name;
                    dfail(d, "a tuple for " + what + " has " + std::to_string(d.items.size()) + " values, but tuple '" +
                                 tt->name + "' has " + std::to_string(tt->fields.size()) + " fields (" + names + ")");
                }
                std::vector<Value> f;
                for (std::size_t i = 0; i < tt->fields.size(); ++i)
                    f.push_back(convert(*d.items[i], tt->fields[i].type, "field '" + tt->fields[i].name + "' of " + what));
                return tuple_value(std::move(f), tt);
            }
            case TypeRef::K::Set: {
                if (d.kind != DataValue::K::Set) {
                    if (d.kind == DataValue::K::Array)
                        dfail(d, "expected a set {...} for " + what + ", found an array [...]; write it with braces");
                    return bad();
                }
                auto s = std::make_shared<SetV>();
                s->name = what.size() > 1 && what.front() == '\'' ? what.substr(1, what.size() - 2) : what;
                const TypeRef& et = *t.elem;
                const TupleType* tt = et.kind == TypeRef::K::Tuple ? tuple_type(et.tuple_name) : nullptr;
                std::vector<std::size_t> keys;
                if (tt)
                    for (std::size_t i = 0; i < tt->fields.size(); ++i)
                        if (tt->fields[i].key) keys.push_back(i);
                std::unordered_map<std::string, std::size_t> seen_keys;
                const std::string elem_what = "an element of " + what;
                for (auto& x : d.items) {
                    Value v = convert(*x, et, elem_what);
                    if (!keys.empty()) {
                        std::string k;
                        for (auto i : keys) k += value_key((*v.tup)[i]) + "|";
                        if (!seen_keys.emplace(k, 0).second)
                            dfail(*x, "two elements of " + what + " share the key fields of " + value_text(v) +
                                          "; key fields must identify an element");
                    }
                    auto [at, fresh] = s->pos.emplace(value_key(v), s->elems.size());
                    if (!fresh) dfail(*x, "duplicate element " + value_text(v) + " in the set " + what);
                    s->elems.push_back(std::move(v));
                }
                return set_value(s);
            }
        }
        return bad();
    }
    // `name[k1][k2]...` for the cell path pos[0..k) of an array, built only for messages.
    static std::string cell_name(const std::string& name, const std::vector<std::shared_ptr<SetV>>& dims,
                                 const std::vector<std::size_t>& pos, std::size_t k) {
        std::string out = name;
        for (std::size_t j = 0; j < k; ++j) {
            out += '[';
            out += value_text(dims[j]->at(pos[j]));
            out += ']';
        }
        return out;
    }
    // A scalar cell whose data value already has the declared kind, without the general path.
    static bool convert_plain(const DataValue& d, const TypeRef& t, Value& out) {
        using DK = DataValue::K;
        switch (t.kind) {
            case TypeRef::K::Float:
                if (d.kind == DK::Int) { out = Value::Float(static_cast<double>(d.ival)); return true; }
                if (d.kind == DK::Float) { out = Value::Float(d.fval); return true; }
                return false;
            case TypeRef::K::Int:
                if (d.kind == DK::Int) { out = Value::Int(d.ival); return true; }
                return false;
            case TypeRef::K::String:
                if (d.kind == DK::Str || d.kind == DK::Ident) { out = Value::Str(d.text); return true; }
                return false;
            default: return false;
        }
    }
    // pos holds, per dimension above k, the position of the key being filled.
    void convert_array(const DataValue& d, const std::vector<std::shared_ptr<SetV>>& dims, std::size_t k,
                       const TypeRef& et, const std::string& name, std::vector<std::size_t>& pos,
                       ArrV& out, std::size_t base) {
        if (k == dims.size()) {
            Value v;
            if (!convert_plain(d, et, v)) v = convert(d, et, "'" + cell_name(name, dims, pos, k) + "'");
            out.put(base, std::move(v));
            return;
        }
        const SetV& s = *dims[k];
        std::size_t stride = 1;
        for (std::size_t j = k + 1; j < dims.size(); ++j) stride *= dims[j]->size();
        auto what = [&] { return cell_name(name, dims, pos, k); };
        if (d.kind == DataValue::K::Array) {
            if (d.items.size() != s.size())
                dfail(d, "expected " + std::to_string(s.size()) + " values for '" + what() + "' (one per element of '" +
                             s.name + "'), found " + std::to_string(d.items.size()));
            for (std::size_t i = 0; i < d.items.size(); ++i) {
                pos[k] = i;
                convert_array(*d.items[i], dims, k + 1, et, name, pos, out, base + i * stride);
            }
            return;
        }
        if (d.kind == DataValue::K::Keyed) {
            std::vector<bool> have(s.size(), false);
            std::vector<std::string> extra;
            for (std::size_t i = 0; i + 1 < d.items.size(); i += 2) {
                Value key = generic(*d.items[i]);
                std::int64_t p = s.find(key);
                if (p < 0) {
                    extra.push_back(value_text(key));
                    continue;
                }
                if (have[static_cast<std::size_t>(p)])
                    dfail(*d.items[i], "key " + value_text(key) + " appears twice in '" + what() + "'");
                have[static_cast<std::size_t>(p)] = true;
                pos[k] = static_cast<std::size_t>(p);
                convert_array(*d.items[i + 1], dims, k + 1, et, name, pos, out,
                              base + static_cast<std::size_t>(p) * stride);
            }
            std::vector<std::string> missing;
            for (std::size_t i = 0; i < s.size(); ++i)
                if (!have[i]) missing.push_back(value_text(s.at(i)));
            auto list = [](const std::vector<std::string>& v) {
                std::string r;
                for (std::size_t i = 0; i < v.size() && i < 8; ++i) r += (i ? ", " : "") + v[i];
                if (v.size() > 8) r += ", ... (" + std::to_string(v.size()) + " in all)";
                return r;
            };
            if (!missing.empty() || !extra.empty()) {
                std::string m = "keys of '" + what() + "' do not match '" + s.name + "' (" + std::to_string(s.size()) +
                                " elements, " + std::to_string(d.items.size() / 2) + " keys given)";
                if (!missing.empty()) m += ": missing " + list(missing);
                if (!extra.empty()) m += (missing.empty() ? ": " : "; ") + std::string("not in '") + s.name + "': " + list(extra);
                dfail(d, m);
            }
            return;
        }
        dfail(d, "expected an array [...] or #[...]# with " + std::to_string(s.size()) + " values for '" + what() +
                     "' (indexed by '" + s.name + "'), found " + dv_word(d));
    }

    // ----- declarations -----
    std::vector<std::shared_ptr<SetV>> eval_dims(const std::vector<Dim>& dims) {
        std::vector<std::shared_ptr<SetV>> out;
        for (auto& d : dims) {
            Value v = eval(*d.set);
            auto s = as_set(v, *d.set);
            if (s->name.empty() || s->name.front() == '\'') {
                auto copy = std::make_shared<SetV>(*s);
                std::string q = quote(*d.set);
                copy->name = q.size() >= 2 ? q.substr(1, q.size() - 2) : q;
                s = copy;
            }
            out.push_back(s);
        }
        return out;
    }
    // Calls fn(flat, index values) for every cell of dims, with binders bound.
    void each_cell(const std::vector<Dim>& dims, const std::vector<std::shared_ptr<SetV>>& sets,
                   const std::function<void(std::size_t, const std::vector<Value>&)>& fn) {
        std::vector<Value> idx(sets.size());
        std::function<void(std::size_t, std::size_t)> rec = [&](std::size_t k, std::size_t flat) {
            if (k == sets.size()) return fn(flat, idx);
            for (std::size_t i = 0; i < sets[k]->size(); ++i) {
                step(dims[k].pos);
                idx[k] = sets[k]->at(i);
                bool bound = !dims[k].binder.empty();
                if (bound) env_.emplace_back(dims[k].binder, &idx[k], Value(), sets[k]->is_range ? nullptr : sets[k].get(), i);
                rec(k + 1, flat * sets[k]->size() + i);
                if (bound) env_.pop_back();
            }
        };
        rec(0, 0);
    }
    static Value array_value(std::shared_ptr<ArrV> a) {
        Value v;
        v.k = Value::K::Array;
        v.arr = std::move(a);
        return v;
    }

    void eval_data(const Item& it, Symbol& sym) {
        if (sym.postsolve) return;
        auto sets = eval_dims(it.dims);
        DataAssign* a = it.external ? assigns_[it.name] : nullptr;
        if (sets.empty()) {
            if (a) sym.value = convert(*a->value, it.type, "'" + it.name + "'");
            else if (it.value) sym.value = coerce(eval(*it.value), it.type, it.name, it.value->pos);
            else sym.value = zero_of(it.type);
            if (sym.value.k == Value::K::Set) {
                auto named = std::make_shared<SetV>(*sym.value.set);
                named->name = it.name;
                sym.value.set = named;
            }
        } else {
            auto arr = std::make_shared<ArrV>();
            arr->name = it.name;
            arr->dims = sets;
            std::size_t n = arr->size();
            if (n > lim_.max_cells) fail(it.pos, "array '" + it.name + "' has too many cells (" + count_text(n) + ")");
            arr->allocate(it.type.kind == TypeRef::K::Float ? ArrV::Store::Floats
                          : it.type.kind == TypeRef::K::Int ? ArrV::Store::Ints
                                                             : ArrV::Store::Values,
                          n);
            if (a) {
                std::vector<std::size_t> pos(sets.size(), 0);
                convert_array(*a->value, sets, 0, it.type, it.name, pos, *arr, 0);
            } else if (it.value) {
                each_cell(it.dims, sets, [&](std::size_t flat, const std::vector<Value>&) {
                    arr->put(flat, coerce(eval(*it.value), it.type, it.name, it.value->pos));
                });
            } else {
                Value z = zero_of(it.type);
                for (std::size_t k = 0; k < n; ++k) arr->put(k, z);
            }
            sym.value = array_value(arr);
        }
        if (!it.with_set.empty()) {
            auto other = syms_.find(it.with_set);
            if (sym.value.k != Value::K::Set || it.type.elem->kind != TypeRef::K::Tuple)
                fail(it.with_pos, "'with' applies to a set of tuples");
            const TupleType* tt = tuple_type(it.type.elem->tuple_name);
            int fi = tt->field_index(it.with_field);
            if (fi < 0) fail(it.with_pos, "tuple type '" + tt->name + "' has no field '" + it.with_field + "'");
            if (other == syms_.end() || other->second.value.k != Value::K::Set)
                fail(it.with_pos, "'" + it.with_set + "' is not a set");
            for (auto& el : sym.value.set->elems) {
                const Value& fv = (*el.tup)[static_cast<std::size_t>(fi)];
                if (other->second.value.set->find(fv) < 0) {
                    Pos p = a ? a->pos : it.pos;
                    throw EvalError{p, "element " + value_text(el) + " of '" + it.name + "': field '" + it.with_field +
                                           "' = " + value_text(fv) + " is not in '" + it.with_set + "'",
                                    a ? "data" : "model"};
                }
            }
        }
        // The data file's value is converted; its tree is not read again.
        if (a) a->value.reset();
        sym.ready = true;
    }

    void eval_dvar(const Item& it, Symbol& sym) {
        auto sets = eval_dims(it.dims);
        auto base = static_cast<std::int64_t>(inst_->variables.size());
        std::size_t n = ArrV::cells_of(sets);
        if (n > lim_.max_variables - std::min(lim_.max_variables, inst_->variables.size()))
            fail(it.name_pos, "the model has more than " + std::to_string(lim_.max_variables) + " variables ('" + it.name +
                                  "' adds " + count_text(n) + ")");
        inst_->variables.reserve(inst_->variables.size() + n);
        bool integer = it.vtype == "int" || it.vtype == "int+" || it.vtype == "boolean";
        double lo0 = (it.vtype == "float+" || it.vtype == "int+" || it.vtype == "boolean") ? 0.0 : -kInf;
        double hi0 = it.vtype == "boolean" ? 1.0 : kInf;
        each_cell(it.dims, sets, [&](std::size_t, const std::vector<Value>& idx) {
            Variable v;
            v.name = it.name;
            v.index.reserve(idx.size());
            for (auto& x : idx) flatten_index(x, v.index);
            v.lower = lo0;
            v.upper = hi0;
            v.integer = integer;
            if (it.lo) {
                v.lower = std::max(lo0, as_num(eval(*it.lo), *it.lo, "a variable bound"));
                v.upper = std::min(hi0, as_num(eval(*it.hi), *it.hi, "a variable bound"));
            }
            if (integer) {
                v.lower = std::ceil(v.lower - 1e-9) + 0.0;
                v.upper = std::floor(v.upper + 1e-9) + 0.0;
            }
            if (v.lower > v.upper || std::isnan(v.lower) || std::isnan(v.upper))
                fail(it.lo ? it.lo->pos : it.name_pos,
                     "empty bounds for variable '" + v.full_name() + "': " + num_text(v.lower) + ".." + num_text(v.upper) +
                         (integer ? " (no integer value fits)" : " (lower bound above upper bound)"));
            inst_->variables.push_back(std::move(v));
        });
        if (sets.empty()) {
            sym.value = var_value(base);
        } else {
            auto arr = std::make_shared<ArrV>();
            arr->name = it.name;
            arr->dims = sets;
            arr->var_base = base;
            sym.value = array_value(arr);
        }
        sym.ready = true;
    }

    void eval_dexpr(const Item& it, Symbol& sym) {
        auto sets = eval_dims(it.dims);
        auto check = [&](Value v) {
            if (!v.is_num() && v.k != Value::K::Lin)
                fail(it.value->pos, "dexpr '" + it.name + "' must be a numeric or linear expression, found " +
                                        kind_word(v.k));
            if (it.type.kind == TypeRef::K::Float && v.k == Value::K::Int) v = Value::Float(v.num());
            return v;
        };
        if (sets.empty()) {
            sym.value = check(eval(*it.value));
        } else {
            auto arr = std::make_shared<ArrV>();
            arr->name = it.name;
            arr->dims = sets;
            std::size_t n = arr->size();
            if (n > lim_.max_cells) fail(it.pos, "dexpr '" + it.name + "' has too many cells (" + count_text(n) + ")");
            arr->cells.resize(n);
            each_cell(it.dims, sets, [&](std::size_t flat, const std::vector<Value>&) {
                arr->cells[flat] = check(eval(*it.value));
            });
            sym.value = array_value(arr);
        }
        sym.ready = true;
    }

    std::vector<Term> merge(const Lin& l) {
        auto by_var = [](const auto& a, const auto& b) { return a.first < b.first; };
        std::vector<Term> out;
        out.reserve(l.terms.size());
        std::vector<std::pair<std::int32_t, double>> sorted;
        const auto* t = &l.terms;
        // Sums over a variable array usually come in variable order already.
        if (!std::is_sorted(l.terms.begin(), l.terms.end(), by_var)) {
            sorted = l.terms;
            std::sort(sorted.begin(), sorted.end(), by_var);
            t = &sorted;
        }
        for (auto& [v, c] : *t) {
            if (!out.empty() && out.back().var == v) out.back().coef += c;
            else out.push_back({v, c});
        }
        out.erase(std::remove_if(out.begin(), out.end(), [](const Term& x) { return x.coef == 0.0; }), out.end());
        terms_ += out.size();
        if (terms_ > lim_.max_terms)
            fail({}, "the instance has more than " + std::to_string(lim_.max_terms) + " nonzero terms; it is too large");
        return out;
    }

    // ----- constraints -----
    std::string row_name(const std::string& label, const std::vector<IndexValue>& idx, int line) {
        if (label.empty()) return "the constraint at line " + std::to_string(line) + (idx.empty() ? "" : " " + index_text(idx));
        return "constraint '" + label + index_text(idx) + "'";
    }
    void add_row(const Stmt& s, const Expr& rel, const std::string& label, std::vector<IndexValue> idx) {
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
        for (auto& op : e.ops)
            if ((op == "<" || op == ">" || op == "!=") && linear)
                fail(e.pos, "strict '" + op + "' is not allowed in a constraint; use " +
                                (op == "!=" ? "a binary variable with big-M constraints" : std::string("'") + op + "='") +
                                " in " + quote(e));
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
            row.terms = merge(*mid);
            row.lower = lo - mid->c + 0.0;
            row.upper = hi - mid->c + 0.0;
            if (row.lower > row.upper + 1e-9)
                fail(e.pos, row_name(label, row.index, row.line) + " can never hold: its range is empty (" +
                                num_text(lo) + " > " + num_text(hi) + ")");
        } else {
            const std::string& op = e.ops[0];
            if (!linear) {
                int c = compare_vals(vs[0], vs[1], e);
                if (!cmp_holds(op, c))
                    fail(e.pos, row_name(label, row.index, row.line) + " can never hold: " + quote(e) + " is " +
                                    value_text(vs[0]) + " " + op + " " + value_text(vs[1]));
                return;
            }
            Value d = std::move(vs[0]);
            add_into(d, vs[1], -1.0);
            row.terms = merge(*d.lin);
            double rhs = -d.lin->c;
            rhs += 0.0;  // no negative zero in the instance
            if (op == "<=") row.upper = rhs;
            else if (op == ">=") row.lower = rhs;
            else row.lower = row.upper = rhs;
        }
        if (row.terms.empty()) {
            bool ok = row.lower <= 1e-9 && row.upper >= -1e-9;
            if (!ok)
                fail(e.pos, row_name(label, row.index, row.line) + " can never hold: " + quote(e) +
                                " has no variables left and reduces to 0 in [" + num_text(row.lower) + ", " +
                                num_text(row.upper) + "]");
            return;
        }
        if (inst_->rows.size() >= lim_.max_rows)
            fail(e.pos, "the model has more than " + std::to_string(lim_.max_rows) + " constraints; it is too large");
        inst_->rows.push_back(std::move(row));
    }
    void exec(const Stmt& s, const std::string& family, std::vector<IndexValue>& idx) {
        switch (s.kind) {
            case Stmt::K::Block:
                for (auto& b : s.body) exec(*b, family, idx);
                return;
            case Stmt::K::If:
                if (as_bool(eval(*s.expr), *s.expr, "an 'if' condition")) {
                    for (auto& b : s.body) exec(*b, family, idx);
                } else {
                    for (auto& b : s.else_body) exec(*b, family, idx);
                }
                return;
            case Stmt::K::Forall: {
                std::string fam = s.label.name.empty() ? family : s.label.name;
                std::size_t mark = env_.size();
                each(s.iters, 0, [&] {
                    std::size_t n = idx.size();
                    for (std::size_t i = mark; i < env_.size(); ++i) flatten_index(env_[i].value(), idx);
                    for (auto& b : s.body) exec(*b, fam, idx);
                    idx.resize(n);
                });
                return;
            }
            case Stmt::K::Constraint: {
                step(s.pos);
                if (!s.label.name.empty()) {
                    std::vector<IndexValue> li;
                    if (!s.label.index.empty()) {
                        for (auto& x : s.label.index) flatten_index(eval(*x), li);
                    } else {
                        li = idx;
                    }
                    add_row(s, *s.expr, s.label.name, std::move(li));
                } else {
                    add_row(s, *s.expr, family, idx);
                }
                return;
            }
        }
    }

    void evaluate() {
        for (auto& it : m_.items) {
            if (full()) return;
            try {
                Symbol* sym = nullptr;
                if (!it.name.empty() && it.kind != Item::K::Assert && it.kind != Item::K::Objective) {
                    auto f = syms_.find(it.name);
                    if (f != syms_.end() && f->second.item == &it) sym = &f->second;
                }
                switch (it.kind) {
                    case Item::K::Tuple: {
                        TupleType t;
                        t.name = it.name;
                        t.fields = it.fields;
                        for (auto& f : it.fields)
                            t.field_tuple.push_back(f.type.kind == TypeRef::K::Tuple ? tuple_type(f.type.tuple_name) : nullptr);
                        tuples_.emplace(it.name, std::move(t));
                        break;
                    }
                    case Item::K::Range: {
                        Value v = eval(*it.value);
                        auto s = std::make_shared<SetV>(*v.set);
                        s->name = it.name;
                        sym->value = set_value(s);
                        sym->ready = true;
                        break;
                    }
                    case Item::K::Data: eval_data(it, *sym); break;
                    case Item::K::Dvar: eval_dvar(it, *sym); break;
                    case Item::K::Dexpr: eval_dexpr(it, *sym); break;
                    case Item::K::ConstraintDecl: break;
                    case Item::K::Assert:
                        if (!as_bool(eval(*it.value), *it.value, "an assert"))
                            fail(it.pos, (it.name.empty() ? "assertion " + quote(*it.value)
                                                          : "assertion '" + it.name + "'") +
                                             " does not hold for the data");
                        break;
                    case Item::K::Objective: {
                        Value v = eval(*it.value);
                        if (!v.is_num() && v.k != Value::K::Lin)
                            fail(it.value->pos, "the objective must be a numeric or linear expression, found " +
                                                    std::string(kind_word(v.k)));
                        auto l = to_lin(v);
                        inst_->objective.sense = it.maximize ? Objective::Sense::Maximize : Objective::Sense::Minimize;
                        inst_->objective.label = it.name;
                        inst_->objective.terms = merge(*l);
                        inst_->objective.constant = l->c;
                        break;
                    }
                    case Item::K::Constraints:
                        for (auto& s : it.stmts) {
                            try {
                                std::vector<IndexValue> idx;
                                env_.clear();
                                exec(*s, "", idx);
                            } catch (EvalError& err) {
                                diag(err);
                                if (steps_ > lim_.max_steps) return;
                            }
                        }
                        break;
                }
            } catch (EvalError& err) {
                diag(err);
                env_.clear();
                if (steps_ > lim_.max_steps) return;
                // Later uses of a failed declaration stay silent: the problem is already reported.
                auto f = syms_.find(it.name);
                if (f != syms_.end() && f->second.item == &it) f->second.failed = true;
            }
        }
    }

    // ----- host values -----
    // A range too long to list is exported as its bounds.
    static bool long_range(const SetV& s, HostValue& out) {
        if (!s.is_range || s.size() <= kMaxListedRange) return false;
        out.kind = HostValue::K::Range;
        out.i = s.lo;
        out.hi = s.hi;
        return true;
    }
    HostValue host(const Value& v) {
        switch (v.k) {
            case Value::K::Int: return HostValue::integer(v.i);
            case Value::K::Float: return HostValue::number(v.f);
            case Value::K::Str: return HostValue::str(v.s);
            case Value::K::Bool: return HostValue::boolean(v.i != 0);
            case Value::K::Tuple: {
                HostValue t;
                t.kind = HostValue::K::Tuple;
                for (auto& x : *v.tup) t.items.push_back(host(x));
                return t;
            }
            case Value::K::Set: {
                if (HostValue r; long_range(*v.set, r)) return r;
                HostValue l = HostValue::list();
                for (std::size_t i = 0; i < v.set->size(); ++i) l.items.push_back(host(v.set->at(i)));
                return l;
            }
            case Value::K::Array: return host_array(*v.arr, 0, 0);
            default: return {};
        }
    }
    HostValue host_array(const ArrV& a, std::size_t k, std::size_t flat) {
        if (k == a.dims.size()) return a.var_base >= 0 ? HostValue{} : host(a.cell(flat));
        HostValue m = HostValue::map();
        for (std::size_t i = 0; i < a.dims[k]->size(); ++i)
            m.entries.emplace_back(host(a.dims[k]->at(i)), host_array(a, k + 1, flat * a.dims[k]->size() + i));
        return m;
    }
    // A set member in the literal form of the syntax tree: numbers, strings, tuple literals.
    HostValue literal(const Value& v) {
        HostValue m = HostValue::map();
        if (v.k == Value::K::Tuple) {
            m.set("type", HostValue::str("tuple_literal"));
            HostValue l = HostValue::list();
            for (auto& x : *v.tup) l.items.push_back(literal(x));
            m.set("elements", std::move(l));
        } else if (v.k == Value::K::Str) {
            m.set("type", HostValue::str("string")).set("value", HostValue::str(v.s));
        } else {
            m.set("type", HostValue::str("number")).set("value", host(v));
        }
        return m;
    }
    void build_host(HostValue& ast_root, HostValue& data_root) {
        HostValue* ast = &ast_root;
        HostValue* data = &data_root;
        HostValue decls = HostValue::list();
        for (auto& it : m_.items) {
            HostValue d = HostValue::map();
            d.set("name", HostValue::str(it.name)).set("line", HostValue::integer(it.pos.line));
            auto sym = syms_.find(it.name);
            const Symbol* s = sym != syms_.end() && sym->second.item == &it ? &sym->second : nullptr;
            switch (it.kind) {
                case Item::K::Tuple: {
                    d.set("type", HostValue::str("tuple"));
                    HostValue fs = HostValue::list();
                    for (auto& f : it.fields) {
                        HostValue fm = HostValue::map();
                        fm.set("name", HostValue::str(f.name)).set("type", HostValue::str(f.type.text()))
                            .set("key", HostValue::boolean(f.key));
                        fs.items.push_back(std::move(fm));
                    }
                    d.set("fields", std::move(fs));
                    break;
                }
                case Item::K::Range:
                    d.set("type", HostValue::str("range"));
                    if (s) {
                        d.set("lo", HostValue::integer(s->value.set->lo)).set("hi", HostValue::integer(s->value.set->hi));
                        data->set(it.name, host(s->value));
                    }
                    break;
                case Item::K::Data: {
                    bool tuple_set = it.type.kind == TypeRef::K::Set && it.type.elem->kind == TypeRef::K::Tuple;
                    std::string ty = !it.dims.empty() ? "array"
                                     : tuple_set      ? "set_of_tuples"
                                     : it.type.kind == TypeRef::K::Set ? "set"
                                     : it.type.kind == TypeRef::K::Tuple ? "tuple_value"
                                                                         : it.type.text();
                    d.set("type", HostValue::str(ty)).set("value_type", HostValue::str(it.type.text()));
                    d.set("external", HostValue::boolean(it.external));
                    if (s && s->ready) {
                        if (HostValue r; it.dims.empty() && s->value.k == Value::K::Set && long_range(*s->value.set, r)) {
                            d.set("elements", std::move(r));
                        } else if (it.dims.empty() && s->value.k == Value::K::Set) {
                            HostValue el = HostValue::list();
                            for (std::size_t i = 0; i < s->value.set->size(); ++i)
                                el.items.push_back(tuple_set ? literal(s->value.set->at(i)) : host(s->value.set->at(i)));
                            d.set("elements", std::move(el));
                            if (tuple_set) d.set("tuple_type", HostValue::str(it.type.elem->tuple_name));
                        } else if (it.dims.empty()) {
                            d.set("value", host(s->value));
                        }
                        data->set(it.name, host(s->value));
                    }
                    if (s && s->postsolve) d.set("post_solve", HostValue::boolean(true));
                    break;
                }
                case Item::K::Dvar: {
                    d.set("type", HostValue::str("dvar")).set("var_type", HostValue::str(it.vtype));
                    HostValue dims = HostValue::list();
                    for (auto& dm : it.dims) {
                        std::string q = quote(*dm.set);
                        dims.items.push_back(HostValue::str(q.size() >= 2 ? q.substr(1, q.size() - 2) : q));
                    }
                    d.set("dims", std::move(dims));
                    break;
                }
                case Item::K::Dexpr: d.set("type", HostValue::str("dexpr")); break;
                case Item::K::ConstraintDecl: d.set("type", HostValue::str("constraint")); break;
                case Item::K::Assert: d.set("type", HostValue::str("assert")); break;
                case Item::K::Objective:
                    d.set("type", HostValue::str("objective"))
                        .set("sense", HostValue::str(it.maximize ? "maximize" : "minimize"));
                    break;
                case Item::K::Constraints: d.set("type", HostValue::str("constraints")); break;
            }
            decls.items.push_back(std::move(d));
        }
        ast->set("declarations", std::move(decls));
    }
};

}  // namespace

void analyse(std::shared_ptr<Parsed> parsed, CompileResult& out, const Limits& limits) {
    auto s = std::make_shared<Sema>(std::move(parsed), out, limits);
    if (s->run()) out.export_host = [s](HostValue& ast, HostValue& data) { s->export_host(ast, data); };
}

}  // namespace vorlan::compiler
