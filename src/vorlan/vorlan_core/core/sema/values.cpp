// Values: their text in messages, conversions to the kinds an operation needs, linear
// arithmetic on decision-variable expressions, and typed values of declarations.
#include "vorlan_core/core/sema/sema.hpp"

#include "common/text.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vorlan::compiler {

std::string num_text(double d) {
    if (std::isinf(d)) return d > 0 ? "infinity" : "-infinity";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

std::string count_text(std::size_t n) { return std::to_string(n) + (n == SIZE_MAX ? " or more" : ""); }

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

// One-character tag followed by text. Built by appending: GCC 12 warns falsely
// (-Wrestrict) on `"literal" + std::string`.
static std::string tagged(char tag, const std::string& body) {
    std::string k(1, tag);
    k += body;
    return k;
}

std::string value_key(const Value& v) {
    switch (v.k) {
        case Value::K::Int: return tagged('n', std::to_string(v.i));
        case Value::K::Float:
            if (v.f == std::floor(v.f) && std::fabs(v.f) < 9e15)
                return tagged('n', std::to_string(static_cast<std::int64_t>(v.f)));
            return tagged('n', num_text(v.f));
        case Value::K::Str: return tagged('s', v.s);
        case Value::K::Bool: return tagged('n', std::to_string(v.i));
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
        case Value::K::Str: {
            std::string t = tagged('"', excerpt(v.s));
            t += '"';
            return t;
        }
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

std::string Sema::quote_span(std::size_t b, std::size_t e) const {
    if (e <= b || e > src_.size()) return "expression";
    std::string s(src_.substr(b, e - b));
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return "'" + s + "'";
}

[[noreturn]] void Sema::set_too_large(Pos p, std::size_t n) {
    fail(p, "a set of " + count_text(n) + " elements is too large to build (the limit is " +
                std::to_string(lim_.max_set_elements) + ")");
}

[[noreturn]] void Sema::step_limit(Pos p) {
    steps_ = lim_.max_steps + 1;  // later statements stop at once
    fail(p, "the model expands to more than " + std::to_string(lim_.max_steps) +
                " iterations; the instance is too large");
}

double Sema::as_num(const Value& v, const Expr& e, const char* what) {
    if (v.is_num()) return v.num();
    if (v.k == Value::K::Lin)
        fail(e.pos, std::string("a decision variable cannot appear in ") + what + ": " + quote(e));
    fail(e.pos, std::string("expected a number in ") + what + ", found " + kind_word(v.k) + " " + quote(e));
}

std::int64_t Sema::as_int(const Value& v, const Expr& e, const char* what) {
    if (v.k == Value::K::Int) return v.i;
    if (v.k == Value::K::Float && v.f == std::floor(v.f) && std::fabs(v.f) < 9e18)
        return static_cast<std::int64_t>(v.f);
    if (v.k == Value::K::Lin)
        fail(e.pos, std::string("a decision variable cannot appear in ") + what + ": " + quote(e));
    fail(e.pos, std::string("expected an integer in ") + what + ", found " + kind_word(v.k) + " " +
                    (v.k == Value::K::Float ? num_text(v.f) : quote(e)));
}

bool Sema::as_bool(const Value& v, const Expr& e, const char* what) {
    if (v.k == Value::K::Bool) return v.i != 0;
    if (v.k == Value::K::Lin)
        fail(e.pos, std::string("a decision variable cannot appear in ") + what + ": " + quote(e) +
                        " (conditions and filters are evaluated on the data before solving)");
    if (v.k == Value::K::Int) return v.i != 0;
    fail(e.pos, std::string("expected a condition in ") + what + ", found " + kind_word(v.k) + " " + quote(e));
}

std::shared_ptr<SetV> Sema::as_set(const Value& v, const Expr& e) {
    if (v.k == Value::K::Set) return v.set;
    if (v.k == Value::K::Lin)
        fail(e.pos, "a decision variable cannot appear in a set expression: " + quote(e));
    fail(e.pos, std::string("expected a set or range, found ") + kind_word(v.k) + " " + quote(e));
}

std::shared_ptr<Lin> Sema::to_lin(const Value& v) {
    if (v.k == Value::K::Lin) return v.lin;
    auto l = std::make_shared<Lin>();
    l->c = v.num();
    return l;
}

// acc += sign * v, reusing acc's storage when it is not shared.
void Sema::add_into(Value& acc, const Value& v, double sign, Pos at) {
    Lin& a = own_lin(acc);
    if (v.k == Value::K::Lin) {
        for (const Term& t : v.lin->terms) a.terms.push_back({t.var, sign * t.coef});
        a.c += sign * v.lin->c;
        if (a.terms.size() > lim_.max_terms) fail(at, "an expression holds more than the limit of terms");
    } else {
        a.c += sign * v.num();
    }
}

Value Sema::scale(Value v, double k) {
    if (v.lin.use_count() > 1) v.lin = std::make_shared<Lin>(*v.lin);
    for (auto& t : v.lin->terms) t.coef *= k;
    v.lin->c *= k;
    return v;
}

Value Sema::zero_of(const TypeRef& t) {
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
Value Sema::coerce(const Value& v, const TypeRef& t, const std::string& what, Pos p) {
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

}  // namespace vorlan::compiler
