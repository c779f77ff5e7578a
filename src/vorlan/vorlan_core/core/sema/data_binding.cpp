// Data binding: each data-file assignment matched to its `= ...` declaration, and data
// values converted to the declared types (arrays cell by cell, keyed arrays by key).
#include "vorlan_core/core/sema/sema.hpp"

#include "vorlan_core/core/diagnostics/corrector.hpp"

#include <unordered_map>

namespace vorlan::compiler {

namespace {

std::string dv_word(const DataValue& d) {
    switch (d.kind) {
        case DataValue::K::Int: return "the int " + std::to_string(d.ival);
        case DataValue::K::Float: return "the float " + num_text(d.fval);
        case DataValue::K::Str: return "the string \"" + excerpt(d.text()) + "\"";
        case DataValue::K::Ident: return "the name " + excerpt(d.text());
        case DataValue::K::Infinity: return "infinity";
        case DataValue::K::Maxint: return "maxint";
        case DataValue::K::Tuple: return "a tuple <...>";
        case DataValue::K::Set: return "a set {...}";
        case DataValue::K::Array: return "an array [...]";
        case DataValue::K::Keyed: return "a keyed array #[...]#";
    }
    return "?";
}

}  // namespace

void Sema::bind_data() {
    for (auto& a : d_.assigns) {
        auto s = syms_.find(a.name);
        if (s == syms_.end()) {
            Corrector c(a.name);
            for (auto& [n, sym] : syms_)
                if (sym.item->external) c.consider(n);
            diag("data", a.pos, "'" + a.name + "' is not declared in the model" +
                                    (c.found() ? c.hint() : "; declare it there with '= ...'"));
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

Value Sema::generic(const DataValue& d) {
    switch (d.kind) {
        case DataValue::K::Int: return Value::Int(d.ival);
        case DataValue::K::Float: return Value::Float(d.fval);
        case DataValue::K::Str:
        case DataValue::K::Ident: return Value::Str(std::string(d.text()));
        case DataValue::K::Infinity: return Value::Float(d.ival < 0 ? -kInf : kInf);
        case DataValue::K::Maxint:
            return Value::Int(d.ival < 0 ? -kMaxint : kMaxint);
        case DataValue::K::Tuple: {
            std::vector<Value> items;
            for (const DataValue& x : d.items()) items.push_back(generic(x));
            return tuple_value(std::move(items), nullptr);
        }
        default: dfail(d, "expected a number, string or tuple key, found " + dv_word(d));
    }
}

// `what` names the value in messages, already quoted: 'n', an element of 'P', ...
Value Sema::convert(const DataValue& d, const TypeRef& t, const std::string& what) {
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
            if (d.kind == DataValue::K::Str || d.kind == DataValue::K::Ident) return Value::Str(std::string(d.text()));
            return bad();
        case TypeRef::K::Bool:
            if (d.kind == DataValue::K::Int && (d.ival == 0 || d.ival == 1)) return Value::Bool(d.ival);
            if (d.kind == DataValue::K::Ident && (d.text() == "true" || d.text() == "false"))
                return Value::Bool(d.text() == "true");
            return bad();
        case TypeRef::K::Tuple: {
            const TupleType* tt = tuple_type(t.tuple_name);
            if (d.kind != DataValue::K::Tuple) return bad();
            if (d.count != tt->fields.size()) {
                std::string names;
                for (auto& f : tt->fields) names += (names.empty() ? "" : ", ") + f.name;
                dfail(d, "a tuple for " + what + " has " + std::to_string(d.count) + " values, but tuple '" +
                             tt->name + "' has " + std::to_string(tt->fields.size()) + " fields (" + names + ")");
            }
            std::vector<Value> f;
            std::size_t i = 0;
            for (const DataValue& x : d.items()) {
                f.push_back(convert(x, tt->fields[i].type, "field '" + tt->fields[i].name + "' of " + what));
                ++i;
            }
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
            for (const DataValue& x : d.items()) {
                Value v = convert(x, et, elem_what);
                if (!keys.empty()) {
                    std::string k;
                    for (auto i : keys) k += value_key((*v.tup)[i]) + "|";
                    if (!seen_keys.emplace(k, 0).second)
                        dfail(x, "two elements of " + what + " share the key fields of " + value_text(v) +
                                      "; key fields must identify an element");
                }
                auto [at, fresh] = s->pos.emplace(value_key(v), s->elems.size());
                if (!fresh) dfail(x, "duplicate element " + value_text(v) + " in the set " + what);
                s->elems.push_back(std::move(v));
            }
            return set_value(s);
        }
    }
    return bad();
}

// `name[k1][k2]...` for the cell path pos[0..k) of an array, built only for messages.
std::string Sema::cell_name(const std::string& name, const std::vector<std::shared_ptr<SetV>>& dims,
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
bool Sema::convert_plain(const DataValue& d, const TypeRef& t, Value& out) {
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
            if (d.kind == DK::Str || d.kind == DK::Ident) { out = Value::Str(std::string(d.text())); return true; }
            return false;
        default: return false;
    }
}

// pos holds, per dimension above k, the position of the key being filled.
void Sema::convert_array(const DataValue& d, const std::vector<std::shared_ptr<SetV>>& dims, std::size_t k,
                   const TypeRef& et, const std::string& name, std::vector<std::size_t>& pos,
                   ArrV& out, std::size_t base) {
    if (k == dims.size()) {
        // Numbers go straight into the number stores; everything else through a Value.
        if (out.store == ArrV::Store::Floats && (d.kind == DataValue::K::Int || d.kind == DataValue::K::Float)) {
            out.fcells[base] = d.kind == DataValue::K::Int ? static_cast<double>(d.ival) : d.fval;
            return;
        }
        if (out.store == ArrV::Store::Ints && d.kind == DataValue::K::Int) {
            out.icells[base] = d.ival;
            return;
        }
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
        if (d.count != s.size())
            dfail(d, "expected " + std::to_string(s.size()) + " values for '" + what() + "' (one per element of '" +
                         s.name + "'), found " + std::to_string(d.count));
        if (k + 1 == dims.size() && out.store != ArrV::Store::Values) {
            // The last dimension of a number array: its numbers stored in one loop, anything
            // else converted (or refused) cell by cell as below.
            const DataValue* x = &d + 1;
            for (std::size_t i = 0; i < d.count; x += x->span, ++i) {
                if (x->kind == DataValue::K::Int && out.store == ArrV::Store::Ints) {
                    out.icells[base + i] = x->ival;
                } else if (out.store == ArrV::Store::Floats && (x->kind == DataValue::K::Int || x->kind == DataValue::K::Float)) {
                    out.fcells[base + i] = x->kind == DataValue::K::Int ? static_cast<double>(x->ival) : x->fval;
                } else {
                    pos[k] = i;
                    convert_array(*x, dims, k + 1, et, name, pos, out, base + i);
                }
            }
            return;
        }
        std::size_t i = 0;
        for (const DataValue& x : d.items()) {
            pos[k] = i;
            convert_array(x, dims, k + 1, et, name, pos, out, base + i * stride);
            ++i;
        }
        return;
    }
    if (d.kind == DataValue::K::Keyed) {
        std::vector<bool> have(s.size(), false);
        std::vector<std::string> extra;
        for (auto item = d.items().begin(), stop = d.items().end(); item != stop;) {
            const DataValue& kd = *item;
            const DataValue& vd = *++item;
            ++item;
            Value key = generic(kd);
            std::int64_t p = s.find(key);
            if (p < 0) {
                extra.push_back(value_text(key));
                continue;
            }
            if (have[static_cast<std::size_t>(p)])
                dfail(kd, "key " + value_text(key) + " appears twice in '" + what() + "'");
            have[static_cast<std::size_t>(p)] = true;
            pos[k] = static_cast<std::size_t>(p);
            convert_array(vd, dims, k + 1, et, name, pos, out, base + static_cast<std::size_t>(p) * stride);
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
                            " elements, " + std::to_string(d.count / 2) + " keys given)";
            if (!missing.empty()) m += ": missing " + list(missing);
            if (!extra.empty()) m += (missing.empty() ? ": " : "; ") + std::string("not in '") + s.name + "': " + list(extra);
            dfail(d, m);
        }
        return;
    }
    dfail(d, "expected an array [...] or #[...]# with " + std::to_string(s.size()) + " values for '" + what() +
                 "' (indexed by '" + s.name + "'), found " + dv_word(d));
}

}  // namespace vorlan::compiler
