// Public entry point of the Vorlan compiler core (no Python here).
#pragma once
#include <string>
#include <string_view>
#include <vector>

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

struct CompileResult {
    std::vector<Diagnostic> diagnostics;
    bool ok() const { return diagnostics.empty(); }
};

CompileResult compile(std::string_view model_text, std::string_view data_text);

}  // namespace vorlan::compiler
