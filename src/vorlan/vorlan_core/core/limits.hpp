// Size limits of one compile; going past one is a diagnostic, not a crash.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vorlan::compiler {

struct Limits {
    std::size_t max_variables = 10'000'000;
    std::size_t max_rows = 10'000'000;
    std::size_t max_terms = 50'000'000;     // nonzeros of the whole instance, and of one expression
    std::size_t max_cells = 40'000'000;     // cells of one data array
    std::size_t max_set_elements = 10'000'000;  // elements of one set that is built element by element
    std::uint64_t max_steps = 400'000'000;  // iterator steps while expanding
};

}  // namespace vorlan::compiler
