"""Solving, analysis and export of compiled Vorlan models."""
import os
from collections.abc import Iterator
from typing import Any, overload

from vorlan.vorlan_core import QelCompiler

_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]

def matrices(model_code: str, data_code: str, names: bool = True) -> dict[str, Any]:
    """The flat instance of the compiled pair as milp-style arrays (c, offset, maximize, the
    constraint matrix in CSR form with row bounds, column bounds, integrality, and with names
    the (name, index) of every column and row)."""

@overload
def solve(compiler: QelCompiler, time_limit: float | None = None) -> dict[str, Any]:
    """Solve the pair (or the QelCompiler's last compile) in-process with HiGHS: status (optimal,
    feasible, infeasible, unbounded, infeasible or unbounded, time limit, interrupted, limit,
    error), message, objective, bound, the non-zero values as (name, index, value), their full
    names and the timings. A time limit or Ctrl-C keeps the best solution found so far. A
    lexicographic objective adds objectives (every goal's value in priority order) and, without
    an optimum, goal (the goal the solve stopped at); a model with dexprs adds expressions, their
    values at the solution as (name, value)."""
@overload
def solve(model_code: str, data_code: str, time_limit: float | None = None) -> dict[str, Any]: ...
def verify(compiler: QelCompiler, time_limit: float | None = None, max_values: int | None = None) -> dict[str, Any]:
    """Solve and explain a result without optimum: the conflicting constraints and bounds of an
    infeasible model, the variables along an improving ray of an unbounded one."""
@overload
def write_mps(compiler: QelCompiler, path: _Path) -> str:
    """Write the flat instance as a free-format MPS file, through a temporary file; returns what
    the file leaves out (the later goals of a lexicographic objective), or ''."""
@overload
def write_mps(model_code: str, data_code: str, path: _Path) -> str: ...
@overload
def write_lp(compiler: QelCompiler, path: _Path) -> str:
    """Write the flat instance as an LP file, through a temporary file; returns what the file
    leaves out (the later goals of a lexicographic objective), or ''."""
@overload
def write_lp(model_code: str, data_code: str, path: _Path) -> str: ...
def instance_view(compiler: QelCompiler) -> dict[str, Any]:
    """The flat instance in the shape of QelCompiler.instance(), its variables, rows and
    objective terms as one-pass iterators."""
def export_names(model_code: str, data_code: str) -> tuple[list[str], list[str], str]:
    """The column names, row names and objective name the exports use."""

class _InstanceWalk(Iterator[Any]):
    """One pass over the variables, rows or objective terms of an instance (made by instance_view)."""

    def __init__(self, *args: Any, **kwargs: Any) -> None: ...
    def __iter__(self) -> _InstanceWalk: ...
    def __next__(self) -> Any: ...
    def __len__(self) -> int: ...
