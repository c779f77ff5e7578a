#include "solve/core/matrix.hpp"

#include <algorithm>

#include "solve/core/export.hpp"

namespace vorlan::solve {

namespace c = vorlan::compiler;

double goal_value(const MatrixForm& m, std::size_t k, const std::vector<double>& x) {
    const auto& c = m.goal_costs(k);
    double v = m.goal_constant(k);
    for (std::size_t j = 0; j < c.size() && j < x.size(); ++j) v += c[j] * x[j];
    return v;
}

MatrixForm matrix_form(const c::Instance& inst) {
    validate(inst);
    MatrixForm m;
    const std::size_t n = inst.variables.size();
    m.maximize = inst.objective.sense == c::Objective::Sense::Maximize;
    m.offset = inst.objective.constant;
    m.c.assign(n, 0.0);
    for (const auto& t : inst.objective.terms) m.c[t.var] += t.coef;
    for (const auto& g : inst.lower_priority) {
        m.goal_c.emplace_back(n, 0.0);
        for (const auto& t : g.terms) m.goal_c.back()[t.var] += t.coef;
        m.goal_offset.push_back(g.constant);
    }
    m.col_lower.reserve(n);
    m.col_upper.reserve(n);
    m.integrality.reserve(n);
    for (const auto& v : inst.variables) {
        m.col_lower.push_back(v.lower);
        m.col_upper.push_back(v.upper);
        m.integrality.push_back(v.integer ? 1 : 0);
    }

    std::size_t nnz = 0;
    for (const auto& r : inst.rows) nnz += r.terms.size();
    m.indices.reserve(nnz);
    m.data.reserve(nnz);
    m.indptr.push_back(0);
    // Dense scratch row: sums repeated columns without sorting a map per row.
    std::vector<double> acc(n, 0.0);
    std::vector<char> seen(n, 0);
    std::vector<std::int32_t> cols;
    for (std::size_t i = 0; i < inst.rows.size(); ++i) {
        const auto& r = inst.rows[i];
        if (row_kind(r) == RowKind::Free) continue;
        // The compiler's rows come merged: variables ascending, each once, no zero coefficient.
        // Such a row is copied as it is; anything else is merged here.
        const bool merged = std::adjacent_find(r.terms.begin(), r.terms.end(), [](const auto& a, const auto& b) {
                                return a.var >= b.var;
                            }) == r.terms.end() &&
                            std::none_of(r.terms.begin(), r.terms.end(), [](const auto& t) { return t.coef == 0; });
        if (merged) {
            for (const auto& t : r.terms) {
                m.indices.push_back(t.var);
                m.data.push_back(t.coef);
            }
            m.indptr.push_back(static_cast<std::int64_t>(m.indices.size()));
            m.row_lower.push_back(r.lower);
            m.row_upper.push_back(r.upper);
            m.row_source.push_back(static_cast<std::int32_t>(i));
            continue;
        }
        cols.clear();
        for (const auto& t : r.terms) {
            if (!seen[t.var]) {
                seen[t.var] = 1;
                cols.push_back(t.var);
            }
            acc[t.var] += t.coef;
        }
        std::sort(cols.begin(), cols.end());
        for (auto j : cols) {
            if (acc[j] != 0) {
                m.indices.push_back(j);
                m.data.push_back(acc[j]);
            }
            acc[j] = 0;
            seen[j] = 0;
        }
        m.indptr.push_back(static_cast<std::int64_t>(m.indices.size()));
        m.row_lower.push_back(r.lower);
        m.row_upper.push_back(r.upper);
        m.row_source.push_back(static_cast<std::int32_t>(i));
    }
    return m;
}

}  // namespace vorlan::solve
