// Where every phase reports its problems. The sink keeps them in the order they were
// found, drops a second report at a place already reported (one problem often shows up
// again in what follows from it), and stops taking more at the cap.
#pragma once
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "vorlan_core/core/diagnostic.hpp"

namespace vorlan::compiler {

class DiagnosticSink {
public:
    explicit DiagnosticSink(std::size_t cap = kMaxDiagnostics) : cap_(cap) {}

    // Adds the diagnostic unless the sink is full or its place was already reported;
    // returns whether it was added.
    bool report(Diagnostic d);
    bool report(Diagnostic::Kind kind, const std::string& file, int line, int col, std::string message) {
        return report(Diagnostic{kind, file, line, col, std::move(message)});
    }
    bool full() const { return list_.size() >= cap_; }
    bool empty() const { return list_.empty(); }
    std::size_t size() const { return list_.size(); }
    const std::vector<Diagnostic>& diagnostics() const { return list_; }
    std::vector<Diagnostic> take() { return std::move(list_); }

private:
    std::size_t cap_;
    std::vector<Diagnostic> list_;
    std::set<std::tuple<std::string, int, int>> places_;
};

// Quoted text (names, strings, data) is cut to this many code points in a message, and a
// whole message to about this many bytes, so a 5 MB string never becomes a 5 MB message.
constexpr std::size_t kExcerptPoints = 60;
constexpr std::size_t kMaxMessageBytes = 2000;

// text with control bytes escaped, cut after max_points code points with "..." appended.
std::string excerpt(std::string_view text, std::size_t max_points = kExcerptPoints);

// The diagnostics as the text hosts show: one "file:LINE:COL: message" per line, at most
// kMaxDiagnostics lines, always valid UTF-8.
std::string diagnostics_text(const std::vector<Diagnostic>& list);

}  // namespace vorlan::compiler
