// The flat instance as the arrays a matrix solver takes: objective vector, constraint
// matrix in compressed-row form with row bounds, column bounds and integrality.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "vorlan_core/core/instance.hpp"

namespace vorlan::solve {

struct MatrixForm {
    bool maximize = false;
    std::vector<double> c;             // objective coefficient per column (as stated, not negated)
    double offset = 0.0;               // objective constant
    // Rows with no finite side are left out; row_source maps kept rows to Instance::rows.
    std::vector<std::int64_t> indptr;  // size rows + 1
    std::vector<std::int32_t> indices; // column of each nonzero, ascending within a row
    std::vector<double> data;          // value of each nonzero (repeats summed, zeros dropped)
    std::vector<double> row_lower, row_upper;
    std::vector<std::int32_t> row_source;
    std::vector<double> col_lower, col_upper;
    std::vector<std::uint8_t> integrality;  // 1 for integer columns
    // A lexicographic objective's later goals in priority order (c and offset hold the first).
    std::vector<std::vector<double>> goal_c;
    std::vector<double> goal_offset;
    std::size_t goals() const { return 1 + goal_c.size(); }
    const std::vector<double>& goal_costs(std::size_t k) const { return k == 0 ? c : goal_c[k - 1]; }
    double goal_constant(std::size_t k) const { return k == 0 ? offset : goal_offset[k - 1]; }
    std::size_t rows() const { return row_lower.size(); }
    std::size_t cols() const { return c.size(); }
};

// Goal k's value at x (offset included).
double goal_value(const MatrixForm& m, std::size_t k, const std::vector<double>& x);

// Throws std::invalid_argument for the instances validate() refuses.
MatrixForm matrix_form(const compiler::Instance& inst);

}  // namespace vorlan::solve
