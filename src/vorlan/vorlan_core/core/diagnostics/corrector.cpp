#include "vorlan_core/core/diagnostics/corrector.hpp"

#include <algorithm>
#include <cctype>
#include <tuple>
#include <vector>

namespace vorlan::compiler {

std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diag = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t up = row[j];
            std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            if (cost && std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                            std::tolower(static_cast<unsigned char>(b[j - 1])))
                cost = 0;
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + cost});
            diag = up;
        }
    }
    return row[b.size()];
}

// Up to two edits for short names, a third of the length for longer ones.
Corrector::Corrector(std::string_view typo) : typo_(typo), limit_(std::max<std::size_t>(2, typo.size() / 3)) {}

void Corrector::consider(std::string_view candidate, std::size_t tier) {
    if (candidate == typo_ || candidate.empty()) return;
    // Names whose lengths differ by more than the limit cannot be close enough.
    std::size_t gap = candidate.size() > typo_.size() ? candidate.size() - typo_.size() : typo_.size() - candidate.size();
    if (gap > limit_) return;
    std::size_t d = edit_distance(typo_, candidate);
    if (d > limit_) return;
    if (found_ && std::tie(d, tier) > std::tie(best_distance_, best_tier_)) return;
    if (found_ && d == best_distance_ && tier == best_tier_ && candidate >= best_) return;
    found_ = true;
    best_.assign(candidate);
    best_distance_ = d;
    best_tier_ = tier;
}

std::string Corrector::hint() const { return found_ ? "; did you mean '" + best_ + "'?" : ""; }

}  // namespace vorlan::compiler
