// Semantic analysis of a parsed model and data file: name checks, data binding,
// evaluation of the data, and expansion into the flat linear instance.
#pragma once
#include <string_view>

#include "vorlan_core/core/ast.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace vorlan::compiler {

// Limits on what one compile may produce.
constexpr std::size_t kMaxVariables = 10'000'000;
constexpr std::size_t kMaxRows = 10'000'000;
constexpr std::size_t kMaxTerms = 50'000'000;
constexpr std::uint64_t kMaxSteps = 400'000'000;  // iterator steps while expanding

// Fills out.diagnostics, and on success out.instance, out.ast and out.data.
void analyse(const Model& model, const DataFile& data, std::string_view model_src, CompileResult& out);

// Levenshtein distance, for "did you mean" suggestions.
std::size_t edit_distance(std::string_view a, std::string_view b);

}  // namespace vorlan::compiler
