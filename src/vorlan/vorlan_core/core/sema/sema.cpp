// The semantic phases in order: names, data binding, then evaluation and expansion of
// every declaration, objective and constraint block.
#include "vorlan_core/core/sema/sema.hpp"

namespace vorlan::compiler {

bool Sema::run() {
    check_names();
    bool names_ok = sink_->empty();
    check_kinds();
    if (full()) return false;
    std::size_t before_binding = sink_->size();
    bind_data();
    if (!names_ok || sink_->size() != before_binding) return false;
    // Declarations and statements rejected by the static kinds are left out; everything else
    // is evaluated, so the data problems of the same pair are reported in the same round.
    evaluate();
    if (!sink_->empty()) return false;
    sink_ = nullptr;
    return true;
}

void Sema::evaluate() {
    for (auto& it : m_.items) {
        if (full()) return;
        try {
            Symbol* sym = nullptr;
            if (!it.name.empty() && it.kind != Item::K::Assert && it.kind != Item::K::Objective) {
                auto f = syms_.find(it.name);
                if (f != syms_.end() && f->second.item == &it) sym = &f->second;
            }
            if (kind_failed_.count(&it)) {
                if (sym) sym->failed = true;  // later uses stay silent
                continue;
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
                    const auto sense = it.maximize ? Objective::Sense::Maximize : Objective::Sense::Minimize;
                    if (it.value) {
                        inst_->objective = objective_of(*it.value, "the objective");
                    } else {
                        inst_->objective = objective_of(*it.goals[0], "goal 1 of lexicographic(...)");
                        for (std::size_t k = 1; k < it.goals.size(); ++k)
                            inst_->lower_priority.push_back(objective_of(
                                *it.goals[k], "goal " + std::to_string(k + 1) + " of lexicographic(...)"));
                    }
                    inst_->objective.sense = sense;
                    inst_->objective.label = it.name;
                    for (auto& o : inst_->lower_priority) {
                        o.sense = sense;
                        o.label = it.name;
                    }
                    break;
                }
                case Item::K::Constraints:
                    for (auto& s : it.stmts) {
                        if (kind_failed_.count(s.get())) continue;
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

Objective Sema::objective_of(const Expr& e, const std::string& what) {
    Value v = eval(e);
    if (!v.is_num() && v.k != Value::K::Lin)
        fail(e.pos, what + " must be a numeric or linear expression, found " + std::string(kind_word(v.k)));
    auto l = to_lin(v);
    v = {};  // l alone holds the terms now, so merging may take them
    Objective o;
    o.constant = l->c;
    o.terms = merge(std::move(l));
    return o;
}

Analysis analyse(std::shared_ptr<Parsed> parsed, DiagnosticSink& sink, const Limits& limits) {
    auto s = std::make_shared<Sema>(std::move(parsed), sink, limits);
    Analysis a;
    if (s->run()) {
        a.instance = s->instance();
        a.export_host = [s](HostValue& ast, HostValue& data) { s->export_host(ast, data); };
    }
    return a;
}

}  // namespace vorlan::compiler
