// The "did you mean" corrector: given a name that does not resolve, it picks the closest
// of the candidates a caller offers. The choice depends only on the candidates, never on
// the order they are offered in, so suggestions are the same on every run.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace vorlan::compiler {

// Levenshtein distance; a difference in letter case alone costs nothing.
std::size_t edit_distance(std::string_view a, std::string_view b);

class Corrector {
public:
    explicit Corrector(std::string_view typo);

    // Offers a candidate. Closer candidates win; at equal distance the lower tier wins
    // (callers rank names nearer the use lower), then the first in byte order.
    void consider(std::string_view candidate, std::size_t tier = 0);

    bool found() const { return found_; }
    const std::string& best() const { return best_; }
    // "; did you mean 'best'?", or "" when no candidate is close enough.
    std::string hint() const;

private:
    std::string typo_;
    std::size_t limit_;  // largest distance still suggested
    bool found_ = false;
    std::string best_;
    std::size_t best_distance_ = 0, best_tier_ = 0;
};

}  // namespace vorlan::compiler
