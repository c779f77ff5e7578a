#include "solve/core/matrix.hpp"

#include <algorithm>
#include <ranges>
#include <stdexcept>

#include "solve/core/export.hpp"
#include "vorlan_core/core/huge_pages.hpp"

namespace vorlan::solve {

namespace c = vorlan::compiler;

double goal_value(const MatrixForm& m, std::size_t k, const std::vector<double>& x) {
    const auto& c = m.goal_costs(k);
    double v = m.goal_constant(k);
    for (std::size_t j = 0; j < c.size() && j < x.size(); ++j) v += c[j] * x[j];
    return v;
}

namespace {

// Room for n elements, backed by huge pages where the kernel offers them (see huge_pages.hpp).
template <typename T>
void reserve_large(std::vector<T>& v, std::size_t n) {
    v.reserve(n);
    c::prefer_huge_pages(v.data(), n * sizeof(T));
}

}  // namespace

MatrixForm matrix_form(const c::Instance& inst) {
    // The terms are checked on the way through them below; a problem found there is named
    // by the full check, which reports the first one as the exports do.
    validate(inst, false);
    auto refuse = [&] {
        validate(inst);
        throw std::invalid_argument("the instance has an invalid term");
    };
    MatrixForm m;
    const std::size_t n = inst.variables.size();
    m.maximize = inst.objective.sense == c::Objective::Sense::Maximize;
    m.offset = inst.objective.constant;
    reserve_large(m.c, n);
    m.c.assign(n, 0.0);
    bool valid = true;
    for (const auto& t : inst.objective.terms) valid &= valid_term(t, n);
    if (!valid) refuse();
    for (const auto& t : inst.objective.terms) m.c[t.var] += t.coef;
    for (const auto& g : inst.lower_priority) {
        for (const auto& t : g.terms) valid &= valid_term(t, n);
        if (!valid) refuse();
        m.goal_c.emplace_back(n, 0.0);
        for (const auto& t : g.terms) m.goal_c.back()[t.var] += t.coef;
        m.goal_offset.push_back(g.constant);
    }
    reserve_large(m.col_lower, n);
    reserve_large(m.col_upper, n);
    reserve_large(m.integrality, n);
    for (const auto& b : inst.variables.blocks()) {
        if (b.lowers.empty()) {
            m.col_lower.insert(m.col_lower.end(), b.count, b.lower);
            m.col_upper.insert(m.col_upper.end(), b.count, b.upper);
        } else {
            m.col_lower.insert(m.col_lower.end(), b.lowers.begin(), b.lowers.end());
            m.col_upper.insert(m.col_upper.end(), b.uppers.begin(), b.uppers.end());
        }
        m.integrality.insert(m.integrality.end(), b.count, b.integer ? 1 : 0);
    }

    std::size_t nnz = 0;
    for (const auto& r : inst.rows) nnz += r.terms.size();
    reserve_large(m.indices, nnz);
    reserve_large(m.data, nnz);
    m.indptr.push_back(0);
    // Dense scratch row: sums repeated columns without sorting a map per row. Made for the
    // first row that needs it: the compiler's rows never do.
    std::vector<double> acc;
    std::vector<char> seen;
    std::vector<std::int32_t> cols;
    for (std::size_t i = 0; i < inst.rows.size(); ++i) {
        const auto& r = inst.rows[i];
        // The compiler's rows come merged: variables ascending, each once, no zero coefficient.
        // Such a row is copied as it is; anything else is merged here.
        bool merged = true;
        std::int32_t last = -1;
        for (const auto& t : r.terms) {
            valid &= valid_term(t, n);
            merged &= t.var > last && t.coef != 0;
            last = t.var;
        }
        if (!valid) refuse();
        if (row_kind(r) == RowKind::Free) continue;
        if (merged) {
            auto vars = r.terms | std::views::transform([](const c::Term& t) { return t.var; });
            auto coefs = r.terms | std::views::transform([](const c::Term& t) { return t.coef; });
            m.indices.insert(m.indices.end(), vars.begin(), vars.end());
            m.data.insert(m.data.end(), coefs.begin(), coefs.end());
            m.indptr.push_back(static_cast<std::int64_t>(m.indices.size()));
            m.row_lower.push_back(r.lower);
            m.row_upper.push_back(r.upper);
            m.row_source.push_back(static_cast<std::int32_t>(i));
            continue;
        }
        if (acc.empty()) {
            acc.assign(n, 0.0);
            seen.assign(n, 0);
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
