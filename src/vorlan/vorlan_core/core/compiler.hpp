// The Vorlan compiler: model text and data text in, a flat linear instance (or the
// problems found) out. No Python here.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorlan_core/core/diagnostic.hpp"
#include "vorlan_core/core/host_value.hpp"
#include "vorlan_core/core/instance.hpp"
#include "vorlan_core/core/limits.hpp"

namespace vorlan::compiler {

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
