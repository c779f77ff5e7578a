#include "vorlan_core/core/diagnostics/sink.hpp"

#include "common/text.hpp"

namespace vorlan::compiler {

std::string Diagnostic::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(col) + ": " + message;
}

std::string excerpt(std::string_view s, std::size_t max_points) {
    std::string_view head = text::prefix_code_points(s, max_points);
    std::string out = text::escape_controls(head);
    if (head.size() < s.size()) out += "...";
    return out;
}

namespace {

// A message over the byte limit keeps its start and its end (where the fix is usually
// named), cut at character boundaries.
std::string shorten(const std::string& m) {
    auto boundary = [&](std::size_t i) {
        while (i < m.size() && (static_cast<unsigned char>(m[i]) & 0xC0) == 0x80) ++i;
        return i;
    };
    std::size_t head = boundary(kMaxMessageBytes * 2 / 3);
    std::size_t tail = boundary(m.size() - kMaxMessageBytes / 4);
    return m.substr(0, head) + " ... " + m.substr(tail);
}

}  // namespace

bool DiagnosticSink::report(Diagnostic d) {
    if (full()) return false;
    if (!places_.emplace(d.file, d.line, d.col).second) return false;
    if (d.message.size() > kMaxMessageBytes) d.message = shorten(d.message);
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
