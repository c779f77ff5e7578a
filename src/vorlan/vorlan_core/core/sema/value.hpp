// Run-time values of the compile-time evaluator: numbers, strings, tuples, sets, arrays
// and linear expressions over decision variables.
#pragma once
#include <cstdint>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vorlan_core/core/instance.hpp"
#include "vorlan_core/core/syntax/ast.hpp"

namespace vorlan::compiler {

// The value of `maxint`: the largest 32-bit integer, what modellers use it for. Integer
// arithmetic on data is 64-bit, so products such as `maxint * 2` stay exact.
constexpr std::int64_t kMaxint = 2147483647;

struct TupleType {
    std::string name;
    std::vector<TupleField> fields;
    std::vector<const TupleType*> field_tuple;  // nested tuple type per field, or null
    int field_index(const std::string& f) const {
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name == f) return static_cast<int>(i);
        return -1;
    }
};

struct SetV;
struct ArrV;
struct Lin;

struct Value {
    enum class K : std::uint8_t { None, Int, Float, Str, Bool, Tuple, Set, Array, Lin };
    K k = K::None;
    std::int64_t i = 0;
    double f = 0.0;
    std::string s;
    std::shared_ptr<std::vector<Value>> tup;  // Tuple fields
    const TupleType* ttype = nullptr;         // Tuple: its declared type, null for a literal
    std::shared_ptr<SetV> set;
    std::shared_ptr<ArrV> arr;
    std::shared_ptr<Lin> lin;

    static Value Int(std::int64_t v) { Value x; x.k = K::Int; x.i = v; return x; }
    static Value Float(double v) { Value x; x.k = K::Float; x.f = v; return x; }
    static Value Str(std::string v) { Value x; x.k = K::Str; x.s = std::move(v); return x; }
    static Value Bool(bool v) { Value x; x.k = K::Bool; x.i = v; return x; }
    bool is_num() const { return k == K::Int || k == K::Float; }
    double num() const { return k == K::Int ? static_cast<double>(i) : f; }
};

// Canonical text of a scalar or tuple value, used as a hash key (1 and 1.0 are the same key).
std::string value_key(const Value& v);
// Value as it is written in messages: 3, 2.5, "a", <"a", 1>.
std::string value_text(const Value& v);

struct SetV {
    bool is_range = false;
    std::int64_t lo = 1, hi = 0;  // range bounds
    std::vector<Value> elems;
    std::unordered_map<std::string, std::size_t> pos;
    std::string name;  // declared name or source text, for messages

    std::size_t size() const {
        if (!is_range) return elems.size();
        if (hi < lo) return 0;
        // Unsigned difference: hi - lo overflows int64 for the widest ranges.
        std::uint64_t span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
        return span >= SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(span) + 1;
    }
    Value at(std::size_t k) const { return is_range ? Value::Int(lo + static_cast<std::int64_t>(k)) : elems[k]; }
    // Position of v, or -1.
    std::int64_t find(const Value& v) const {
        if (is_range) {
            if (v.k == Value::K::Int) return v.i >= lo && v.i <= hi ? v.i - lo : -1;
            if (v.k == Value::K::Float && v.f == static_cast<double>(static_cast<std::int64_t>(v.f))) {
                auto n = static_cast<std::int64_t>(v.f);
                return n >= lo && n <= hi ? n - lo : -1;
            }
            return -1;
        }
        auto it = pos.find(value_key(v));
        return it == pos.end() ? -1 : static_cast<std::int64_t>(it->second);
    }
    // Adds v unless present; returns false for a duplicate.
    bool add(Value v) {
        auto [it, fresh] = pos.emplace(value_key(v), elems.size());
        if (fresh) elems.push_back(std::move(v));
        return fresh;
    }
};

struct ArrV {
    // Float and int arrays keep plain numbers; every other element type keeps Values.
    enum class Store : std::uint8_t { Values, Floats, Ints };
    std::string name;
    std::vector<std::shared_ptr<SetV>> dims;
    Store store = Store::Values;
    std::vector<Value> cells;           // row-major; empty for a variable array
    std::vector<double> fcells;         // Store::Floats
    std::vector<std::int64_t> icells;   // Store::Ints
    std::int64_t var_base = -1;         // variable arrays: index of the first variable
    // Number of cells; SIZE_MAX when the product does not fit (the caller rejects it as too large).
    std::size_t size() const { return cells_of(dims); }
    static std::size_t cells_of(const std::vector<std::shared_ptr<SetV>>& dims) {
        std::size_t n = 1;
        for (auto& d : dims)
            if (__builtin_mul_overflow(n, d->size(), &n)) return SIZE_MAX;
        return n;
    }
    void allocate(Store s, std::size_t n) {
        store = s;
        if (s == Store::Floats) fcells.assign(n, 0.0);
        else if (s == Store::Ints) icells.assign(n, 0);
        else cells.resize(n);
    }
    // v already has the element type: a Float for Floats, an Int for Ints.
    void put(std::size_t k, Value v) {
        if (store == Store::Floats) fcells[k] = v.f;
        else if (store == Store::Ints) icells[k] = v.i;
        else cells[k] = std::move(v);
    }
    Value cell(std::size_t k) const {
        if (store == Store::Floats) return Value::Float(fcells[k]);
        if (store == Store::Ints) return Value::Int(icells[k]);
        return cells[k];
    }
    // Cells [from, from + n) as the cells of a sub-array.
    void copy_cells(const ArrV& a, std::size_t from, std::size_t n) {
        store = a.store;
        auto slice = [&](const auto& src, auto& dst) {
            dst.assign(src.begin() + static_cast<std::ptrdiff_t>(from), src.begin() + static_cast<std::ptrdiff_t>(from + n));
        };
        if (store == Store::Floats) slice(a.fcells, fcells);
        else if (store == Store::Ints) slice(a.icells, icells);
        else slice(a.cells, cells);
    }
};

// sum(coef * var) + constant; terms may repeat until merged.
struct Lin {
    std::vector<Term> terms;
    double c = 0.0;
};

inline Value lin_value(std::shared_ptr<Lin> l) {
    Value v;
    v.k = Value::K::Lin;
    v.lin = std::move(l);
    return v;
}
// The expression 1 * variable.
inline Value var_value(std::int64_t var) {
    auto l = std::make_shared<Lin>();
    l->terms.push_back({static_cast<std::int32_t>(var), 1.0});
    return lin_value(std::move(l));
}
inline Value set_value(std::shared_ptr<SetV> s) {
    Value v;
    v.k = Value::K::Set;
    v.set = std::move(s);
    return v;
}
inline Value tuple_value(std::vector<Value> items, const TupleType* t) {
    Value v;
    v.k = Value::K::Tuple;
    v.tup = std::make_shared<std::vector<Value>>(std::move(items));
    v.ttype = t;
    return v;
}
inline Value array_value(std::shared_ptr<ArrV> a) {
    Value v;
    v.k = Value::K::Array;
    v.arr = std::move(a);
    return v;
}
inline bool has_vars(const Value& v) { return v.k == Value::K::Lin && !v.lin->terms.empty(); }

// acc as a linear value that no other Value shares, ready to be added to.
inline Lin& own_lin(Value& acc) {
    if (acc.k != Value::K::Lin) {
        auto l = std::make_shared<Lin>();
        l->c = acc.num();
        acc = lin_value(std::move(l));
    } else if (acc.lin.use_count() > 1) {
        acc = lin_value(std::make_shared<Lin>(*acc.lin));
    }
    return *acc.lin;
}

// Number as messages write it: up to 15 significant digits, "infinity" for infinities.
std::string num_text(double d);
// A count for messages; SIZE_MAX stands for a product or span that did not fit.
std::string count_text(std::size_t n);
// The kind of a value as messages name it: "an int", "a set", ...
const char* kind_word(Value::K k);
// The index components of v appended to out (tuples flattened).
void flatten_index(const Value& v, std::vector<IndexValue>& out);

}  // namespace vorlan::compiler
