#include "solve/bind/results.hpp"

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "solve/bind/highs.hpp"
#include "solve/core/analysis.hpp"
#include "solve/core/matrix.hpp"

namespace vorlan::solve::bind {

namespace c = vorlan::compiler;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Conflict sets larger than this are reported as the certificate gives them; smaller ones are
// reduced to an irreducible set by the solver.
constexpr std::size_t kIrreducibleCap = 200;
// A phase-one optimum above this total violation proves the model infeasible.
constexpr double kViolationTol = 1e-6;

py::tuple index_tuple(const std::vector<c::IndexValue>& index) {
    py::tuple t(index.size());
    for (std::size_t k = 0; k < index.size(); ++k)
        t[k] = std::visit([](const auto& x) { return py::cast(x); }, index[k]);
    return t;
}

double rounded(const c::Instance& inst, std::size_t j, double v) {
    return inst.variables.integer(j) ? std::nearbyint(v) : v;
}

MatrixForm build_form(const c::Instance& inst) {
    py::gil_scoped_release nogil;
    return matrix_form(inst);
}

// Rows and bounds that cannot hold by themselves: a row with no terms whose sides exclude 0, a
// row or a column whose lower side exceeds its upper side. The solver would refuse the model.
std::vector<ConflictMember> self_contradictions(const MatrixForm& m) {
    std::vector<ConflictMember> out;
    for (std::size_t i = 0; i < m.rows(); ++i) {
        const bool empty = m.indptr[i] == m.indptr[i + 1];
        if (m.row_lower[i] > m.row_upper[i] || (empty && (m.row_lower[i] > 0 || m.row_upper[i] < 0)))
            out.push_back({false, static_cast<std::int32_t>(i), ConflictMember::Side::Both});
    }
    for (std::size_t j = 0; j < m.cols(); ++j)
        if (m.col_lower[j] > m.col_upper[j])
            out.push_back({true, static_cast<std::int32_t>(j), ConflictMember::Side::Both});
    return out;
}

double remaining(double limit, Clock::time_point t0) {
    return std::isfinite(limit) ? std::max(0.5, limit - since(t0)) : limit;
}

struct Analysis {
    std::string status;  // infeasible / unbounded / unchanged ("")
    std::vector<ConflictMember> conflicts;
    bool irreducible = false;
    std::vector<std::int32_t> unbounded;
    std::string note;
};

bool is_mip(const MatrixForm& m) {
    for (auto v : m.integrality)
        if (v) return true;
    return false;
}

void find_unbounded(const MatrixForm& m, double limit, Clock::time_point t0, Analysis& a) {
    const double box = box_limit(m);
    RunOptions opt;
    opt.time_limit = remaining(limit, t0);
    Outcome r = run(boxed_form(m, box), opt);
    if (r.status == "interrupted") {
        a.status = "interrupted";
        return;
    }
    if (r.has_solution) a.unbounded = columns_at_box(m, r.x, box);
    if (a.unbounded.empty()) a.unbounded = free_objective_columns(m);
}

// Why `m` has no optimum. An LP the solve proved infeasible comes with a dual ray whose support
// is a conflicting set; otherwise phase one decides infeasibility and certifies it with its
// duals. A conflicting set is reduced to an irreducible one by the solver when it is small
// enough. An unbounded LP's primal ray names the variables that run away; otherwise the model
// is solved inside a large box to find the variables that run to it.

// Reduces a conflicting set to an irreducible one with HiGHS's own search when it is small.
void reduce(const MatrixForm& m, double limit, Clock::time_point t0, Analysis& a) {
    if (a.conflicts.size() > kIrreducibleCap) return;
    SubModel sub = restrict_to(m, a.conflicts);
    if (auto iis = irreducible_subset(sub.form, remaining(limit, t0))) {
        a.conflicts = lift(sub, *iis);
        a.irreducible = true;
    }
}

Analysis analyse(const MatrixForm& m, const Outcome& solved, double limit, Clock::time_point t0) {
    Analysis a;
    const std::string& status = solved.status;
    if (status == "unbounded") {
        a.status = "unbounded";
        if (!solved.primal_ray.empty()) a.unbounded = ray_columns(solved.primal_ray);
        if (a.unbounded.empty()) find_unbounded(m, limit, t0, a);
        return a;
    }
    if (status == "infeasible" && !solved.dual_ray.empty()) {
        // The solve proved it with a certificate: its support is the conflicting set.
        a.conflicts = ray_support(m, solved.dual_ray);
        if (!a.conflicts.empty()) {
            a.status = "infeasible";
            reduce(m, limit, t0, a);
            return a;
        }
    }
    RunOptions opt;
    opt.time_limit = remaining(limit, t0);
    opt.duals = true;
    MatrixForm phase_one = elastic_form(m);
    Outcome r = run(phase_one, opt);
    if (r.status == "interrupted") {
        a.status = "interrupted";
        return a;
    }
    if (r.status != "optimal") {
        a.note = "the conflict analysis stopped: " + r.message;
        return a;
    }
    if (r.objective <= kViolationTol) {
        // The constraints hold together without the integer restrictions.
        if (status == "infeasible or unbounded" && !is_mip(m)) {
            a.status = "unbounded";
            find_unbounded(m, limit, t0, a);
        } else if (is_mip(m)) {
            a.note = "the constraints can all hold when the integer variables take fractional values, so the "
                     "integer and boolean variables are part of the conflict";
        }
        return a;
    }
    a.status = "infeasible";
    a.conflicts = certificate_support(m, r.row_dual, r.col_dual);
    if (a.conflicts.empty()) {
        a.note = "the solver gave no certificate of the conflict";
        return a;
    }
    reduce(m, limit, t0, a);
    return a;
}

// Every goal's value at x, integer columns rounded as reported.
py::list goal_values(const c::Instance& inst, const MatrixForm& m, const std::vector<double>& x) {
    std::vector<double> v(x.size());
    for (std::size_t j = 0; j < x.size(); ++j) v[j] = rounded(inst, j, x[j]);
    py::list out;
    for (std::size_t k = 0; k < m.goals(); ++k) out.append(goal_value(m, k, v));
    return out;
}

// Names the goal of a lexicographic model at which the solve ended infeasible or unbounded:
// the first k whose goals 1..k alone end that way. Returns the sentence and sets 'goal', or
// returns "" (one goal, another status, or a search stopped by Ctrl-C or the time limit).
std::string failing_goal(const MatrixForm& m, const std::string& status, double limit, Clock::time_point t0,
                         py::dict& result) {
    if (m.goals() < 2 || (status != "infeasible" && status != "unbounded" && status != "infeasible or unbounded"))
        return "";
    std::size_t k = 1;
    for (; k < m.goals(); ++k) {
        RunOptions opt;
        opt.time_limit = remaining(limit, t0);
        opt.goals = k;
        const std::string prefix = run(m, opt).status;
        if (prefix == "interrupted" || prefix == "time limit") return "";
        if (prefix != "optimal") break;
    }
    result["goal"] = k;
    std::string held = k == 1 ? "" : k == 2 ? ", with goal 1 held at its optimum"
                                           : ", with goals 1 to " + std::to_string(k - 1) + " held at their optimum";
    return status + " at goal " + std::to_string(k) + " of lexicographic(...)" + held;
}

}  // namespace

// The named expressions (dexprs) the compiler kept, at solution x: (name as written, value).
static py::list expression_values(const c::Instance& inst, const std::vector<double>& x, std::size_t max_values) {
    py::list expressions;
    for (std::size_t k = 0; k < inst.expressions.size() && k < max_values; ++k) {
        const auto& e = inst.expressions[k];
        double v = e.constant;
        for (const auto& t : e.terms) v += t.coef * rounded(inst, static_cast<std::size_t>(t.var), x[t.var]);
        expressions.append(py::make_tuple(c::written_name(inst, e.name, e.index), v));
    }
    return expressions;
}

py::dict solve_instance(const c::Instance& inst, double time_limit, double compile_seconds) {
    auto t0 = Clock::now();
    py::dict timings;
    timings["compile"] = compile_seconds;
    MatrixForm form = build_form(inst);
    const bool has_objective = inst.objective.sense != c::Objective::Sense::None;
    py::dict result;
    result["status"] = "optimal";
    result["message"] = "";
    result["objective"] = py::none();
    result["bound"] = py::none();
    result["values"] = py::list();
    result["names"] = py::list();
    result["timings"] = timings;
    auto contradictions = self_contradictions(form);
    if (!contradictions.empty() || form.cols() == 0) {
        timings["matrix"] = since(t0);
        timings["solver"] = 0.0;
        // Nothing for a solver to decide: feasible unless a row or bound cannot hold.
        if (!contradictions.empty())
            result["status"] = "infeasible";
        else if (has_objective) {
            result["objective"] = form.offset;
            if (form.goals() > 1) result["objectives"] = goal_values(inst, form, {});
        } else
            result["status"] = "feasible";
        return result;
    }
    const double matrix = since(t0);
    RunOptions opt;
    opt.time_limit = time_limit;
    Outcome r = run(form, opt);
    timings["matrix"] = matrix + r.load_seconds;  // our arrays up to the solver's own copy
    timings["solver"] = r.seconds;
    result["status"] = r.status == "optimal" && !has_objective ? std::string("feasible") : r.status;
    result["message"] = r.message;
    const bool lexicographic = form.goals() > 1;
    if (r.bound && has_objective && !lexicographic) result["bound"] = *r.bound;
    if (lexicographic) {
        result["objectives"] = py::none();
        std::string at = failing_goal(form, r.status, time_limit, t0, result);
        if (!at.empty()) result["message"] = at;
    }
    if (!r.has_solution) return result;
    if (has_objective) result["objective"] = r.objective;
    if (lexicographic) result["objectives"] = goal_values(inst, form, r.x);
    py::list values, names;
    for (std::size_t j = 0; j < r.x.size(); ++j) {
        double v = rounded(inst, j, r.x[j]);
        if (std::fabs(v) <= 1e-9) continue;
        const auto& var = inst.variables[j];
        values.append(py::make_tuple(var.name, index_tuple(var.index), v));
        names.append(var.full_name());
    }
    result["values"] = values;
    result["names"] = names;
    // Only for models with dexprs, so the record of any other model keeps its keys.
    if (!inst.expressions.empty()) result["expressions"] = expression_values(inst, r.x, c::kReportedExpressions);
    return result;
}

py::dict verify_instance(const c::Instance& inst, double time_limit, std::size_t max_values) {
    auto t0 = Clock::now();
    MatrixForm form = build_form(inst);
    const bool has_objective = inst.objective.sense != c::Objective::Sense::None;
    py::dict result;
    py::dict timings;
    timings["matrix"] = since(t0);
    result["message"] = "";
    result["objective"] = py::none();
    result["bound"] = py::none();
    std::string status = "optimal";
    Outcome r;
    Analysis a;
    auto contradictions = self_contradictions(form);
    if (!contradictions.empty()) {
        status = "infeasible";
        a.conflicts = contradictions;
        a.irreducible = contradictions.size() == 1;
        timings["solver"] = 0.0;
    } else if (form.cols() > 0) {
        RunOptions opt;
        opt.time_limit = time_limit;
        opt.rays = true;
        r = run(form, opt);
        timings["matrix"] = py::float_(py::cast<double>(timings["matrix"]) + r.load_seconds);
        timings["solver"] = r.seconds;
        status = r.status;
        result["message"] = r.message;
        auto t1 = Clock::now();
        if (status == "infeasible" || status == "unbounded" || status == "infeasible or unbounded") {
            a = analyse(form, r, time_limit, t0);
            if (!a.status.empty()) status = a.status;
            result["message"] = a.note;  // the analysis says more than the solver's status text
        }
        std::string at = failing_goal(form, status, time_limit, t0, result);
        if (!at.empty()) result["message"] = a.note.empty() ? at : at + "; " + a.note;
        timings["analysis"] = since(t1);
    } else {
        timings["solver"] = 0.0;
        if (has_objective) result["objective"] = form.offset;
        if (form.goals() > 1) result["objectives"] = goal_values(inst, form, {});
    }
    if (status == "optimal" && !has_objective) status = "feasible";
    result["status"] = status;
    if (r.bound && has_objective && form.goals() == 1) result["bound"] = *r.bound;
    if (r.has_solution && has_objective) result["objective"] = r.objective;
    if (form.goals() > 1 && !result.contains("objectives"))
        result["objectives"] = r.has_solution ? py::object(goal_values(inst, form, r.x)) : py::none();

    py::list values;
    std::size_t nonzero = 0;
    for (std::size_t j = 0; j < r.x.size(); ++j) {
        double v = rounded(inst, j, r.x[j]);
        if (std::fabs(v) <= 1e-9) continue;
        const auto var = inst.variables[j];
        if (nonzero++ < max_values) values.append(py::make_tuple(c::written_name(inst, var.name, var.index), v));
    }
    result["values"] = values;
    result["nonzero_count"] = nonzero;
    result["expressions"] = r.has_solution ? expression_values(inst, r.x, max_values) : py::list();
    py::list conflicts;
    for (const auto& mem : a.conflicts) {
        ConflictText t = describe(inst, form, mem);
        py::dict d;
        d["kind"] = t.is_bound ? "bound" : "row";
        d["name"] = t.name;
        d["line"] = t.line;
        d["condition"] = t.condition;
        conflicts.append(d);
    }
    result["conflicts"] = conflicts;
    result["irreducible"] = a.irreducible;
    py::list unbounded;
    for (auto j : a.unbounded) unbounded.append(inst.variables.full_name(j));
    result["unbounded"] = unbounded;
    result["timings"] = timings;
    result["seconds"] = since(t0);
    return result;
}

}  // namespace vorlan::solve::bind
