// Public entry point of the Vorlan compiler core (no Python here).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "vorlan_core/core/instance.hpp"

namespace vorlan::compiler {

struct Diagnostic {
    enum class Kind { Syntax, Semantic };
    Kind kind = Kind::Semantic;
    std::string file;  // "model" or "data"
    int line = 0;
    int col = 0;
    std::string message;
    std::string text() const;  // "file:LINE:COL: message"
};

struct HostEntry;

// A plain value tree handed to hosts: the model's declarations and its data.
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

// At most this many diagnostics are reported by one compile.
constexpr std::size_t kMaxDiagnostics = 20;

// Limits on what one compile may produce; going past one is a diagnostic, not a crash.
struct Limits {
    std::size_t max_variables = 10'000'000;
    std::size_t max_rows = 10'000'000;
    std::size_t max_terms = 50'000'000;     // nonzeros of the whole instance, and of one expression
    std::size_t max_cells = 40'000'000;     // cells of one data array
    std::size_t max_set_elements = 10'000'000;  // elements of one set that is built element by element
    std::uint64_t max_steps = 400'000'000;  // iterator steps while expanding
};

struct CompileResult {
    std::vector<Diagnostic> diagnostics;
    std::shared_ptr<const Instance> instance;  // set when ok()
    // Builds the host values on demand (set when ok()): ast = {"declarations": [...]},
    // data = name -> value. Most callers never need them, so they are not built eagerly.
    std::function<void(HostValue& ast, HostValue& data)> export_host;
    bool ok() const { return diagnostics.empty(); }
    // All diagnostics, one per line.
    std::string message() const;
    bool has_syntax_error() const;
};

CompileResult compile(std::string_view model_text, std::string_view data_text, const Limits& limits = {});

// A compiler that keeps what its last successful compile produced.
class Compiler {
public:
    Limits limits;  // applied by every compile
    CompileResult compile(std::string_view model_text, std::string_view data_text);
    // The flat instance of the last successful compile (empty before one).
    const Instance& instance() const;
    const HostValue& ast() const;
    const HostValue& data() const;

private:
    void export_if_needed() const;
    CompileResult last_;
    mutable std::shared_ptr<HostValue> ast_, data_;
};

}  // namespace vorlan::compiler
