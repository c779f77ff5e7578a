// The solver step of the repair loop: the record the solve module returns for a compiled
// pair, read into the typed report the loop core works with.
#pragma once
#include <pybind11/pybind11.h>

#include "genloom/core/verification.hpp"

namespace genloom {
namespace py = pybind11;

// The report of a verification record ({"status", "objective", "seconds", "message",
// "values", "nonzero_count", "conflicts", "irreducible", "unbounded"}); missing entries keep
// their defaults, an unknown status is an error.
verification::Report report_of(const py::handle& record);

// {"status", "objective", "seconds"} of the statistics record.
py::dict statistics_entry(const verification::Report& r);

// VERIFY_TIME_LIMIT read now, as a positive number of seconds.
double time_limit_setting();

// _verify_compiled(compiler, time_limit=None): solves the pair a QelCompiler compiled last,
// with conflict analysis for an infeasible pair and the unbounded variables of an unbounded one.
void register_verify(py::module_& m);

}  // namespace genloom
