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
    enum class K { None, Bool, Int, Float, Str, List, Tuple, Map };
    K kind = K::None;
    bool b = false;
    std::int64_t i = 0;
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

// At most this many diagnostics are reported by one compile.
constexpr std::size_t kMaxDiagnostics = 20;

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

CompileResult compile(std::string_view model_text, std::string_view data_text);

// A compiler that keeps what its last successful compile produced.
class Compiler {
public:
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
