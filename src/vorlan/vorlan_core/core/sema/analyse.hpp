// Semantic analysis of a parsed model and data file: name checks, data binding,
// evaluation of the data, and expansion into the flat linear instance.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "vorlan_core/core/diagnostics/sink.hpp"
#include "vorlan_core/core/host_value.hpp"
#include "vorlan_core/core/instance.hpp"
#include "vorlan_core/core/limits.hpp"
#include "vorlan_core/core/syntax/ast.hpp"

namespace vorlan::compiler {

// A parsed model and data pair, kept alive while a result may still export host values.
// Data values are released once they are bound to their declarations.
struct Parsed {
    std::string model_src;
    Model model;
    DataFile data;
};

struct Analysis {
    std::shared_ptr<const Instance> instance;  // set when the pair is valid
    // Builds the host views of the declarations and the data (set with instance).
    std::function<void(HostValue& ast, HostValue& data)> export_host;
};

// Problems go to sink; the result is empty unless the pair is valid.
Analysis analyse(std::shared_ptr<Parsed> parsed, DiagnosticSink& sink, const Limits& limits);

}  // namespace vorlan::compiler
