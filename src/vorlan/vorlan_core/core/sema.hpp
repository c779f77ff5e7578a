// Semantic analysis of a parsed model and data file: name checks, data binding,
// evaluation of the data, and expansion into the flat linear instance.
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "vorlan_core/core/ast.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace vorlan::compiler {

// A parsed model and data pair, kept alive while a result may still export host values.
// Data values are released once they are bound to their declarations.
struct Parsed {
    std::string model_src;
    Model model;
    DataFile data;
};

// Fills out.diagnostics, and on success out.instance and out.export_host.
void analyse(std::shared_ptr<Parsed> parsed, CompileResult& out, const Limits& limits);

// Levenshtein distance, for "did you mean" suggestions.
std::size_t edit_distance(std::string_view a, std::string_view b);

}  // namespace vorlan::compiler
