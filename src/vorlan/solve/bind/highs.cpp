#include "solve/bind/highs.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace vorlan::solve::bind {

namespace {

constexpr const char* kExtraHint =
    "solving needs HiGHS (highspy) and NumPy; install them with: pip install 'vorlan[solve]'";

template <typename T, typename S>
py::array_t<T> array_of(const std::vector<S>& v) {
    py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
    T* p = a.mutable_data();
    for (std::size_t k = 0; k < v.size(); ++k) p[k] = static_cast<T>(v[k]);
    return a;
}

// A read-only array over `v` itself, no copy: only for arrays the solver copies before `v` goes.
template <typename T>
py::array_t<T> view_of(const std::vector<T>& v) {
    py::array_t<T> a(static_cast<py::ssize_t>(v.size()), v.data(), py::capsule(v.data(), [](void*) {}));
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

// Hands HiGHS the first `n` goals of a lexicographic `m` as objectives solved one after the
// other (not blended), highest priority first, each held at its optimum.
void add_goals(const py::object& hs, const py::object& h, const MatrixForm& m, std::size_t n) {
    h.attr("setOptionValue")("blend_multi_objectives", false);
    for (std::size_t k = 0; k < n; ++k) {
        py::object o = hs.attr("HighsLinearObjective")();
        o.attr("weight") = m.maximize ? -1.0 : 1.0;  // the sign sets the sense of each goal
        o.attr("offset") = m.goal_constant(k);
        o.attr("coefficients") = view_of(m.goal_costs(k));
        o.attr("abs_tolerance") = kGoalTolerance;
        o.attr("rel_tolerance") = kGoalTolerance;
        o.attr("priority") = static_cast<int>(n - k);
        py::object status = h.attr("addLinearObjective")(o);
        if (!status.equal(hs.attr("HighsStatus").attr("kOk")))
            throw std::runtime_error("the solver refused goal " + std::to_string(k + 1) + " of the objective: " +
                                     std::string(py::str(status)));
    }
}

// A configured HiGHS instance holding `m`; `arrays_seconds` receives the time spent making the
// arrays, the rest is HiGHS taking its own copy.
py::object load(const MatrixForm& m, double time_limit, bool presolve, double* arrays_seconds = nullptr,
               std::size_t goals = 1) {
    py::object hs = import_solver_module("highspy");
    import_solver_module("numpy");
    if (!m.indptr.empty() && m.indptr.back() > INT32_MAX)
        throw std::invalid_argument("the model has more nonzeros than the solver takes (2^31 - 1)");
    py::object h = hs.attr("Highs")();
    h.attr("silent")();
    if (std::isfinite(time_limit)) h.attr("setOptionValue")("time_limit", time_limit);
    if (!presolve) h.attr("setOptionValue")("presolve", "off");
    int sense = py::cast<int>(py::int_(hs.attr("ObjSense").attr(m.maximize ? "kMaximize" : "kMinimize")));
    int rowwise = py::cast<int>(py::int_(hs.attr("MatrixFormat").attr("kRowwise")));
    auto t0 = std::chrono::steady_clock::now();
    py::tuple args = py::make_tuple(
        static_cast<int>(m.cols()), static_cast<int>(m.rows()), static_cast<int>(m.indices.size()), rowwise, sense,
        m.offset, view_of(m.c), view_of(m.col_lower), view_of(m.col_upper), view_of(m.row_lower),
        view_of(m.row_upper), array_of<std::int32_t>(m.indptr), view_of(m.indices), view_of(m.data),
        array_of<std::int32_t>(m.integrality));
    if (arrays_seconds)
        *arrays_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    py::object status = h.attr("passModel")(*args);
    if (!status.equal(hs.attr("HighsStatus").attr("kOk")) && !status.equal(hs.attr("HighsStatus").attr("kWarning")))
        throw std::runtime_error("the solver refused the model: " + std::string(py::str(status)));
    if (goals > 1 && m.goals() > 1) add_goals(hs, h, m, std::min(goals, m.goals()));
    return h;
}

std::string status_of(const std::string& highs_name) {
    if (highs_name == "kOptimal" || highs_name == "kModelEmpty") return "optimal";
    if (highs_name == "kInfeasible") return "infeasible";
    if (highs_name == "kUnbounded") return "unbounded";
    if (highs_name == "kUnboundedOrInfeasible") return "infeasible or unbounded";
    if (highs_name == "kTimeLimit") return "time limit";
    if (highs_name == "kInterrupt") return "interrupted";
    if (highs_name == "kIterationLimit" || highs_name == "kSolutionLimit" || highs_name == "kObjectiveBound" ||
        highs_name == "kObjectiveTarget")
        return "limit";
    return "error";
}

// Runs the solve on a thread of its own while this one waits, so that Ctrl-C reaches the host
// at once; the first one cancels the solve (HiGHS stops at its next interrupt check), later
// ones are ignored while it winds down. The wait is on a plain lock that the solve releases
// when it ends: an interrupted Thread.join can report a running thread as stopped, and
// highspy's own startSolve shares one lock among all its instances, so concurrent solves on
// other threads would refuse to start.
bool solve_interruptibly(const py::object& h) {
    h.attr("HandleUserInterrupt") = true;
    py::module_ threading = py::module_::import("threading");
    py::object scheduler_reset = import_solver_module("highspy").attr("_Highs").attr("resetGlobalScheduler");
    py::object running = threading.attr("Lock")();
    running.attr("acquire")();
    // The solver's worker pool belongs to the thread that ran it: shut it down there, as highspy
    // does, or the process aborts at exit with the pool's threads still joinable.
    py::cpp_function target([h, scheduler_reset, running]() {
        try {
            h.attr("run")();
            scheduler_reset(false);
        } catch (...) {
            running.attr("release")();
            throw;
        }
        running.attr("release")();
    });
    threading.attr("Thread")(py::arg("target") = target, py::arg("name") = "vorlan-solve", py::arg("daemon") = true)
        .attr("start")();
    bool interrupted = false;
    for (;;) {
        try {
            if (py::cast<bool>(running.attr("acquire")(true, 0.1))) return interrupted;
            // No host code runs in this loop, so pending signal handlers (Ctrl-C) run here.
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_KeyboardInterrupt)) throw;
            interrupted = true;
            h.attr("cancelSolve")();
        }
    }
}

ConflictMember::Side side_of(int bound_status) {
    return bound_status == 2 ? ConflictMember::Side::Lower
           : bound_status == 3 ? ConflictMember::Side::Upper
                               : ConflictMember::Side::Both;
}

}  // namespace

py::object import_solver_module(const char* name) {
    try {
        return py::module_::import(name);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        py::object err = py::reinterpret_borrow<py::object>(PyExc_ModuleNotFoundError)(kExtraHint);
        err.attr("__cause__") = e.value();
        PyErr_SetObject(PyExc_ModuleNotFoundError, err.ptr());
        throw py::error_already_set();
    }
}

Outcome run(const MatrixForm& m, const RunOptions& opt) {
    using Clock = std::chrono::steady_clock;
    Outcome out;
    // The solve's time starts with HiGHS taking its copy of the arrays (its side of the hand-over).
    auto t0 = Clock::now();
    py::object h = load(m, opt.time_limit, opt.presolve, &out.load_seconds, opt.goals);
    const double handover = std::chrono::duration<double>(Clock::now() - t0).count() - out.load_seconds;
    t0 = Clock::now();
    const bool interrupted = solve_interruptibly(h);
    out.seconds = handover + std::chrono::duration<double>(Clock::now() - t0).count();

    py::object model_status = h.attr("getModelStatus")();
    out.status = status_of(py::cast<std::string>(model_status.attr("name")));
    if (interrupted && out.status != "optimal") out.status = "interrupted";
    out.message = py::cast<std::string>(h.attr("modelStatusToString")(model_status));
    py::object info = h.attr("getInfo")();
    // An unbounded model's feasible point is no solution to report.
    out.has_solution = py::cast<int>(info.attr("primal_solution_status")) == 2 &&
                       (out.status == "optimal" || out.status == "time limit" || out.status == "limit" ||
                        out.status == "interrupted");
    bool mip = false;
    for (auto v : m.integrality) mip = mip || v;
    if (mip) {
        double bound = py::cast<double>(info.attr("mip_dual_bound"));
        if (std::isfinite(bound)) out.bound = bound;
        double gap = py::cast<double>(info.attr("mip_gap"));
        if (std::isfinite(gap) && out.has_solution) out.gap = gap;
    }
    if (opt.rays && !mip && (out.status == "infeasible" || out.status == "unbounded")) {
        const bool dual = out.status == "infeasible";
        py::tuple r = h.attr(dual ? "getDualRay" : "getPrimalRay")();
        if (r.size() == 3 && py::cast<bool>(r[1])) (dual ? out.dual_ray : out.primal_ray) = py::cast<std::vector<double>>(r[2]);
    }
    if (!out.has_solution) return out;
    out.objective = py::cast<double>(info.attr("objective_function_value"));
    py::object sol = h.attr("getSolution")();
    out.x = py::cast<std::vector<double>>(sol.attr("col_value"));
    // objective_function_value is the model cost, not the first goal
    if (m.goals() > 1 && opt.goals > 1) out.objective = goal_value(m, 0, out.x);
    if (opt.duals && py::cast<bool>(sol.attr("dual_valid"))) {
        out.row_dual = py::cast<std::vector<double>>(sol.attr("row_dual"));
        out.col_dual = py::cast<std::vector<double>>(sol.attr("col_dual"));
    }
    return out;
}

std::optional<std::vector<ConflictMember>> irreducible_subset(const MatrixForm& m, double time_limit) {
    py::object h = load(m, time_limit, true);
    h.attr("setOptionValue")("iis_strategy", 4);  // kIisStrategyIrreducible
    py::tuple r = h.attr("getIis")();
    py::object iis = r[1];
    if (!py::cast<bool>(iis.attr("valid_"))) return std::nullopt;
    std::vector<ConflictMember> out;
    auto rows = py::cast<std::vector<int>>(iis.attr("row_index_"));
    auto row_bounds = py::cast<std::vector<int>>(iis.attr("row_bound_"));
    for (std::size_t k = 0; k < rows.size() && k < row_bounds.size(); ++k)
        if (row_bounds[k] >= 2) out.push_back({false, rows[k], side_of(row_bounds[k])});
    auto cols = py::cast<std::vector<int>>(iis.attr("col_index_"));
    auto col_bounds = py::cast<std::vector<int>>(iis.attr("col_bound_"));
    for (std::size_t k = 0; k < cols.size() && k < col_bounds.size(); ++k)
        if (col_bounds[k] >= 2) out.push_back({true, cols[k], side_of(col_bounds[k])});
    if (out.empty()) return std::nullopt;
    return out;
}

}  // namespace vorlan::solve::bind
