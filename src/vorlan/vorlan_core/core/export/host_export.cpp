// Host views of a compiled model: its declarations with their evaluated data ("ast") and
// the data by name, as plain HostValue trees.
#include "vorlan_core/core/sema/sema.hpp"

namespace vorlan::compiler {

namespace {

// A range too long to list is exported as its bounds.
bool long_range(const SetV& s, HostValue& out) {
    if (!s.is_range || s.size() <= kMaxListedRange) return false;
    out.kind = HostValue::K::Range;
    out.i = s.lo;
    out.hi = s.hi;
    return true;
}

}  // namespace

void Sema::export_host(HostValue& ast_out, HostValue& data_out) {
    auto ast = std::make_shared<HostValue>(HostValue::map());
    auto data = std::make_shared<HostValue>(HostValue::map());
    build_host(*ast, *data);
    ast_out = std::move(*ast);
    data_out = std::move(*data);
}

HostValue Sema::host(const Value& v) {
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

HostValue Sema::host_array(const ArrV& a, std::size_t k, std::size_t flat) {
    if (k == a.dims.size()) return a.var_base >= 0 ? HostValue{} : host(a.cell(flat));
    HostValue m = HostValue::map();
    for (std::size_t i = 0; i < a.dims[k]->size(); ++i)
        m.entries.emplace_back(host(a.dims[k]->at(i)), host_array(a, k + 1, flat * a.dims[k]->size() + i));
    return m;
}

// A set member in the literal form of the syntax tree: numbers, strings, tuple literals.
HostValue Sema::literal(const Value& v) {
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

void Sema::build_host(HostValue& ast_root, HostValue& data_root) {
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

}  // namespace vorlan::compiler
