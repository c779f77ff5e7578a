// The records vorlan.solve returns: a solve of a compiled instance, and a verification (a solve
// plus the analysis of an infeasible or unbounded result).
#pragma once
#include <pybind11/pybind11.h>

#include <cstddef>
#include <limits>

#include "vorlan_core/core/instance.hpp"

namespace vorlan::solve::bind {
namespace py = pybind11;

// {'status', 'message', 'objective', 'bound', 'values': [(name, index, value)], 'names': the full
// name of each of those variables, 'timings'}.
// A model without objective is 'feasible' with objective None; a time limit or Ctrl-C keeps
// the best solution found so far (objective, values) and the best bound of a MIP.
// A lexicographic model adds 'objectives' (every goal's value in priority order, or None) and,
// when it has no optimum, 'goal': the goal it stopped at, also named in 'message'; it reports
// no bound (the solver's bound belongs to the last goal it solved).
py::dict solve_instance(const compiler::Instance& inst, double time_limit, double compile_seconds);

// solve_instance's status and objective plus: 'seconds' (matrix, solve and analysis),
// 'values': [(full name, value)] of the first max_values non-zero variables, 'nonzero_count',
// 'conflicts': [{'kind': 'row' | 'bound', 'name', 'line', 'condition'}] for an infeasible model,
// 'irreducible' (the conflicts are a minimal set), 'unbounded': [full name] for an unbounded
// one. 'infeasible or unbounded' is resolved to one of the two where the analysis can tell.
py::dict verify_instance(const compiler::Instance& inst, double time_limit, std::size_t max_values);

}  // namespace vorlan::solve::bind
