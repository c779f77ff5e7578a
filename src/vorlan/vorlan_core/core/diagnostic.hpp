// One problem found in a model or data file, with its position.
#pragma once
#include <cstddef>
#include <string>

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

// At most this many diagnostics are reported by one compile.
constexpr std::size_t kMaxDiagnostics = 20;

}  // namespace vorlan::compiler
