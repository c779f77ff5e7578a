#include "solve/core/analysis.hpp"

#include <algorithm>
#include <cmath>

#include "common/number_text.hpp"

namespace vorlan::solve {

namespace c = vorlan::compiler;
using vorlan::text::number_text;

MatrixForm elastic_form(const MatrixForm& m) {
    MatrixForm e;
    const std::size_t n = m.cols(), rows = m.rows();
    e.maximize = false;
    e.c.assign(n, 0.0);
    e.col_lower = m.col_lower;
    e.col_upper = m.col_upper;
    e.integrality.assign(n, 0);
    e.row_lower = m.row_lower;
    e.row_upper = m.row_upper;
    e.row_source = m.row_source;
    e.indptr.reserve(rows + 1);
    e.indices.reserve(m.indices.size() + 2 * rows);
    e.data.reserve(m.indices.size() + 2 * rows);
    e.indptr.push_back(0);
    auto slack = [&](double coef) {
        e.indices.push_back(static_cast<std::int32_t>(e.c.size()));
        e.data.push_back(coef);
        e.c.push_back(1.0);
        e.col_lower.push_back(0.0);
        e.col_upper.push_back(compiler::kInf);
        e.integrality.push_back(0);
    };
    for (std::size_t i = 0; i < rows; ++i) {
        for (auto k = m.indptr[i]; k < m.indptr[i + 1]; ++k) {
            e.indices.push_back(m.indices[k]);
            e.data.push_back(m.data[k]);
        }
        if (std::isfinite(m.row_lower[i])) slack(1.0);   // lifts the row up to its lower side
        if (std::isfinite(m.row_upper[i])) slack(-1.0);  // brings it down to its upper side
        e.indptr.push_back(static_cast<std::int64_t>(e.indices.size()));
    }
    return e;
}

std::vector<ConflictMember> certificate_support(const MatrixForm& m, const std::vector<double>& row_dual,
                                                const std::vector<double>& col_dual, double tol) {
    using Side = ConflictMember::Side;
    std::vector<ConflictMember> out;
    for (std::size_t i = 0; i < m.rows() && i < row_dual.size(); ++i) {
        const double y = row_dual[i];
        if (std::fabs(y) <= tol) continue;
        Side side = m.row_lower[i] == m.row_upper[i] ? Side::Both : y > 0 ? Side::Lower : Side::Upper;
        out.push_back({false, static_cast<std::int32_t>(i), side});
    }
    for (std::size_t j = 0; j < m.cols() && j < col_dual.size(); ++j) {
        const double d = col_dual[j];
        if (std::fabs(d) <= tol) continue;
        const bool lower = d > 0;
        if (!std::isfinite(lower ? m.col_lower[j] : m.col_upper[j])) continue;
        Side side = m.col_lower[j] == m.col_upper[j] ? Side::Both : lower ? Side::Lower : Side::Upper;
        out.push_back({true, static_cast<std::int32_t>(j), side});
    }
    return out;
}

namespace {

double largest_magnitude(const std::vector<double>& v) {
    double big = 0;
    for (double x : v) big = std::max(big, std::fabs(x));
    return big;
}

}  // namespace

std::vector<ConflictMember> ray_support(const MatrixForm& m, const std::vector<double>& dual_ray) {
    const std::size_t rows = std::min(m.rows(), dual_ray.size());
    std::vector<double> z(m.cols(), 0.0);  // A^T y
    for (std::size_t i = 0; i < rows; ++i)
        if (dual_ray[i] != 0)
            for (auto k = m.indptr[i]; k < m.indptr[i + 1]; ++k) z[m.indices[k]] += m.data[k] * dual_ray[i];
    const double tol = 1e-9 * std::max(1.0, largest_magnitude(dual_ray));
    // With y_i > 0 weighing a row's lower side, a certificate only uses finite sides and bounds.
    auto misfits = [&](double sign) {
        std::size_t n = 0;
        for (std::size_t i = 0; i < rows; ++i) {
            const double y = sign * dual_ray[i];
            n += (y > tol && !std::isfinite(m.row_lower[i])) || (y < -tol && !std::isfinite(m.row_upper[i]));
        }
        for (std::size_t j = 0; j < m.cols(); ++j) {
            const double d = -sign * z[j];  // reduced cost: > 0 leans on the lower bound
            n += (d > tol && !std::isfinite(m.col_lower[j])) || (d < -tol && !std::isfinite(m.col_upper[j]));
        }
        return n;
    };
    const double sign = misfits(1.0) <= misfits(-1.0) ? 1.0 : -1.0;
    std::vector<double> row_dual(rows), col_dual(m.cols());
    for (std::size_t i = 0; i < rows; ++i) row_dual[i] = sign * dual_ray[i];
    for (std::size_t j = 0; j < m.cols(); ++j) col_dual[j] = -sign * z[j];
    return certificate_support(m, row_dual, col_dual, tol);
}

std::vector<std::int32_t> ray_columns(const std::vector<double>& primal_ray) {
    const double tol = 1e-9 * std::max(1.0, largest_magnitude(primal_ray));
    std::vector<std::int32_t> out;
    for (std::size_t j = 0; j < primal_ray.size(); ++j)
        if (std::fabs(primal_ray[j]) > tol) out.push_back(static_cast<std::int32_t>(j));
    return out;
}

SubModel restrict_to(const MatrixForm& m, const std::vector<ConflictMember>& members) {
    using Side = ConflictMember::Side;
    SubModel s;
    std::vector<std::int32_t> col_map(m.cols(), -1);
    auto use_col = [&](std::int32_t j) {
        if (col_map[j] < 0) {
            col_map[j] = static_cast<std::int32_t>(s.cols.size());
            s.cols.push_back(j);
        }
        return col_map[j];
    };
    for (const auto& mem : members)
        if (!mem.is_bound) {
            for (auto k = m.indptr[mem.index]; k < m.indptr[mem.index + 1]; ++k) use_col(m.indices[k]);
        } else {
            use_col(mem.index);
        }
    MatrixForm& f = s.form;
    f.c.assign(s.cols.size(), 0.0);
    f.col_lower.assign(s.cols.size(), -compiler::kInf);
    f.col_upper.assign(s.cols.size(), compiler::kInf);
    f.integrality.assign(s.cols.size(), 0);
    f.indptr.push_back(0);
    for (const auto& mem : members) {
        const bool lower = mem.side != Side::Upper, upper = mem.side != Side::Lower;
        if (mem.is_bound) {
            const auto j = col_map[mem.index];
            if (lower) f.col_lower[j] = m.col_lower[mem.index];
            if (upper) f.col_upper[j] = m.col_upper[mem.index];
            continue;
        }
        const auto i = mem.index;
        std::vector<std::pair<std::int32_t, double>> row;
        for (auto k = m.indptr[i]; k < m.indptr[i + 1]; ++k) row.emplace_back(col_map[m.indices[k]], m.data[k]);
        std::sort(row.begin(), row.end());
        for (const auto& [j, v] : row) {
            f.indices.push_back(j);
            f.data.push_back(v);
        }
        f.indptr.push_back(static_cast<std::int64_t>(f.indices.size()));
        f.row_lower.push_back(lower ? m.row_lower[i] : -compiler::kInf);
        f.row_upper.push_back(upper ? m.row_upper[i] : compiler::kInf);
        f.row_source.push_back(m.row_source.empty() ? i : m.row_source[i]);
        s.rows.push_back(i);
    }
    return s;
}

std::vector<ConflictMember> lift(const SubModel& sub, const std::vector<ConflictMember>& members) {
    std::vector<ConflictMember> out;
    out.reserve(members.size());
    for (auto mem : members) {
        mem.index = mem.is_bound ? sub.cols[mem.index] : sub.rows[mem.index];
        out.push_back(mem);
    }
    return out;
}

double box_limit(const MatrixForm& m) {
    double big = 1.0;
    auto see = [&](double v) {
        if (std::isfinite(v)) big = std::max(big, std::fabs(v));
    };
    for (double v : m.col_lower) see(v);
    for (double v : m.col_upper) see(v);
    for (double v : m.row_lower) see(v);
    for (double v : m.row_upper) see(v);
    return std::min(1e6 * big, 1e15);
}

MatrixForm boxed_form(const MatrixForm& m, double limit) {
    MatrixForm b = m;
    for (auto& v : b.col_lower)
        if (!std::isfinite(v)) v = -limit;
    for (auto& v : b.col_upper)
        if (!std::isfinite(v)) v = limit;
    return b;
}

std::vector<std::int32_t> columns_at_box(const MatrixForm& m, const std::vector<double>& x, double limit) {
    std::vector<std::int32_t> out;
    const double near = 0.999 * limit;
    for (std::size_t j = 0; j < m.cols() && j < x.size(); ++j)
        if ((x[j] >= near && !std::isfinite(m.col_upper[j])) || (x[j] <= -near && !std::isfinite(m.col_lower[j])))
            out.push_back(static_cast<std::int32_t>(j));
    return out;
}

std::vector<std::int32_t> free_objective_columns(const MatrixForm& m) {
    std::vector<std::int32_t> out;
    for (std::size_t j = 0; j < m.cols(); ++j) {
        const double c = m.maximize ? -m.c[j] : m.c[j];  // minimising c: improving means decreasing
        if ((c < 0 && !std::isfinite(m.col_upper[j])) || (c > 0 && !std::isfinite(m.col_lower[j])))
            out.push_back(static_cast<std::int32_t>(j));
    }
    return out;
}

std::string row_expression(const c::Instance& inst, const c::Row& row, std::size_t max_terms) {
    std::string out;
    std::size_t shown = 0;
    for (const auto& t : row.terms) {
        if (shown == max_terms) break;
        const double a = std::fabs(t.coef);
        if (shown == 0)
            out += t.coef < 0 ? "-" : "";
        else
            out += t.coef < 0 ? " - " : " + ";
        if (a != 1) {
            out += number_text(a);
            out += '*';
        }
        out += inst.variables.full_name(t.var);
        ++shown;
    }
    if (row.terms.empty()) out.assign(1, '0');
    if (row.terms.size() > shown) {
        out += " + ... (";
        out += std::to_string(row.terms.size());
        out += " terms in all)";
    }
    return out;
}

ConflictText describe(const c::Instance& inst, const MatrixForm& m, const ConflictMember& mem) {
    using Side = ConflictMember::Side;
    ConflictText t;
    t.is_bound = mem.is_bound;
    auto condition = [&](const std::string& lhs, double lo, double hi) {
        if (mem.side == Side::Both && lo == hi) return lhs + " == " + number_text(lo);
        std::string s;
        if (mem.side != Side::Upper && std::isfinite(lo)) s = lhs + " >= " + number_text(lo);
        if (mem.side != Side::Lower && std::isfinite(hi)) s += (s.empty() ? "" : ", ") + lhs + " <= " + number_text(hi);
        return s;
    };
    if (mem.is_bound) {
        const auto& v = inst.variables[mem.index];
        t.name = v.full_name();
        t.condition = condition(t.name, m.col_lower[mem.index], m.col_upper[mem.index]);
        return t;
    }
    const auto& row = inst.rows[m.row_source[mem.index]];
    t.name = row.label.empty() ? std::string() : row.label + c::index_text(row.index);
    t.line = row.line;
    t.condition = condition(row_expression(inst, row), m.row_lower[mem.index], m.row_upper[mem.index]);
    return t;
}

}  // namespace vorlan::solve
