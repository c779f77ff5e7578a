#include "vorlan_core/core/diagnostics/sink.hpp"

#include "common/text.hpp"

namespace vorlan::compiler {

std::string Diagnostic::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(col) + ": " + message;
}

bool DiagnosticSink::report(Diagnostic d) {
    if (full()) return false;
    if (!places_.emplace(d.file, d.line, d.col).second) return false;
    list_.push_back(std::move(d));
    return true;
}

std::string diagnostics_text(const std::vector<Diagnostic>& list) {
    std::string msg;
    for (std::size_t i = 0; i < list.size() && i < kMaxDiagnostics; ++i) {
        if (i) msg += "\n";
        msg += list[i].text();
    }
    // Quoted source text may have been cut inside a character; messages are always valid UTF-8.
    return text::drop_invalid_utf8(msg);
}

}  // namespace vorlan::compiler
