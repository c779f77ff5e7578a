// Recursive-descent parsers of model and data files. Nesting is bounded by an explicit
// depth counter, so no input can exhaust the stack.
#pragma once
#include <string>
#include <string_view>

#include "vorlan_core/core/syntax/ast.hpp"

namespace vorlan::compiler {

constexpr int kMaxNesting = 256;
constexpr std::size_t kMaxIterators = 32;  // names bound by one iterator list
constexpr std::size_t kMaxDims = 16;       // dimensions of one array
// Bounds on the syntax tree a file may build (a model needs far fewer tokens than its data).
constexpr std::size_t kMaxModelTokens = 2'000'000;
constexpr std::size_t kMaxDataTokens = 8'000'000;

struct ParseError {
    Pos pos;
    std::string message;
    bool unsupported = false;  // a construct outside the language, reported as a semantic error
};

// Both return false and fill err on the first error.
bool parse_model(std::string_view src, Model& out, ParseError& err);
bool parse_data(std::string_view src, DataFile& out, ParseError& err);

}  // namespace vorlan::compiler
