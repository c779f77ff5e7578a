#include "vorlan_core/core/compiler.hpp"

namespace vorlan::compiler {

std::string Diagnostic::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(col) + ": " + message;
}

CompileResult compile(std::string_view, std::string_view) {
    return {};  // placeholder until the front end lands
}

}  // namespace vorlan::compiler
