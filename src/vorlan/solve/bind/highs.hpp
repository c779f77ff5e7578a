// Running HiGHS (through highspy, imported on first use) on a MatrixForm: a solve that honours
// a time limit and stops promptly on Ctrl-C, and HiGHS's own irreducible-infeasible-subset search.
#pragma once
#include <pybind11/pybind11.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "solve/core/analysis.hpp"
#include "solve/core/matrix.hpp"

namespace vorlan::solve::bind {
namespace py = pybind11;

// Imports a module of the `solve` extra; a missing one becomes ModuleNotFoundError with the
// install hint, chained to the import error.
py::object import_solver_module(const char* name);

struct RunOptions {
    double time_limit = std::numeric_limits<double>::infinity();
    bool duals = false;     // keep row duals and reduced costs (LPs only)
    bool presolve = true;
    bool rays = false;      // keep the dual ray of an infeasible LP, the primal ray of an unbounded one
    // A lexicographic model: solve for its first `goals` goals only (finding the goal that fails).
    std::size_t goals = std::numeric_limits<std::size_t>::max();
};

struct Outcome {
    // optimal, infeasible, unbounded, infeasible or unbounded, time limit, limit, interrupted, error
    std::string status = "error";
    std::string message;                   // HiGHS's status text
    bool has_solution = false;
    std::vector<double> x;                 // column values when has_solution
    double objective = 0;                  // in the model's own sense, offset included (the
                                           // first goal's value for a lexicographic model)
    std::optional<double> bound;           // best bound of a MIP
    std::optional<double> gap;             // relative MIP gap
    std::vector<double> row_dual, col_dual;
    std::vector<double> dual_ray, primal_ray;  // empty when the solver has none
    double load_seconds = 0;               // making the arrays the solver takes
    double seconds = 0;                    // the solver taking its copy of them, and solving
};

// How far a finished goal of a lexicographic objective may move while later goals are optimized:
// not at all, so an integer goal is never loosened and a continuous one is not worsened in the
// report; the solver's own feasibility tolerance is the only slack.
constexpr double kGoalTolerance = 0.0;

// Solves `m`; a lexicographic one goal after goal, in priority order, with HiGHS's own
// multi-objective solve. The solver runs on its own thread while this one waits; Ctrl-C (KeyboardInterrupt)
// cancels it, waits for it to stop and returns status "interrupted" with what was found so far.
Outcome run(const MatrixForm& m, const RunOptions& opt);

// HiGHS's irreducible infeasible subset of `m` (an infeasible model), members in m's indices;
// nullopt when HiGHS gives none.
std::optional<std::vector<ConflictMember>> irreducible_subset(const MatrixForm& m, double time_limit);

}  // namespace vorlan::solve::bind
