// A plain value tree handed to hosts: the model's declarations and its data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vorlan::compiler {

struct HostEntry;

struct HostValue {
    // Range: the integers i..hi, kept unexpanded when there are too many to list.
    enum class K { None, Bool, Int, Float, Str, List, Tuple, Map, Range };
    K kind = K::None;
    bool b = false;
    std::int64_t i = 0;
    std::int64_t hi = 0;  // Range
    double f = 0.0;
    std::string s;
    std::vector<HostValue> items;                         // List, Tuple
    // Map, in insertion order. A named pair type, not std::pair: std::pair of the class being
    // defined is rejected by clang with libstdc++ (its traits need the complete type).
    std::vector<HostEntry> entries;

    static HostValue str(std::string v);
    static HostValue integer(std::int64_t v);
    static HostValue number(double v);
    static HostValue boolean(bool v);
    static HostValue list();
    static HostValue map();
    HostValue& set(std::string key, HostValue v);
};

struct HostEntry {
    HostValue first, second;
    HostEntry(HostValue k, HostValue v) : first(std::move(k)), second(std::move(v)) {}
};

// Defined here, where HostEntry is complete.
inline HostValue HostValue::str(std::string v) { HostValue h; h.kind = K::Str; h.s = std::move(v); return h; }
inline HostValue HostValue::integer(std::int64_t v) { HostValue h; h.kind = K::Int; h.i = v; return h; }
inline HostValue HostValue::number(double v) { HostValue h; h.kind = K::Float; h.f = v; return h; }
inline HostValue HostValue::boolean(bool v) { HostValue h; h.kind = K::Bool; h.b = v; return h; }
inline HostValue HostValue::list() { HostValue h; h.kind = K::List; return h; }
inline HostValue HostValue::map() { HostValue h; h.kind = K::Map; return h; }
inline HostValue& HostValue::set(std::string key, HostValue v) {
    entries.emplace_back(str(std::move(key)), std::move(v));
    return *this;
}

// Ranges longer than this are exported as HostValue::K::Range instead of a list of integers.
constexpr std::size_t kMaxListedRange = 1'000'000;

}  // namespace vorlan::compiler
