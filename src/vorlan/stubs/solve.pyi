"""Solving and export of compiled Vorlan models."""
import os
from typing import Any

def matrices(model_code: str, data_code: str) -> dict[str, Any]:
    """The flat instance of the compiled pair as milp-style arrays (c, offset, maximize, the
    constraint matrix in CSR form with row bounds, column bounds, integrality, names)."""

def solve(model_code: str, data_code: str, time_limit: float | None = None) -> dict[str, Any]:
    """Compile the pair and solve it in-process: status, message, objective, the non-zero
    values as (name, index, value) and the timings."""

def write_mps(model_code: str, data_code: str, path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> None:
    """Compile the pair and write its flat instance as a free-format MPS file."""

def write_lp(model_code: str, data_code: str, path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> None:
    """Compile the pair and write its flat instance as an LP file."""

def export_names(model_code: str, data_code: str) -> tuple[list[str], list[str], str]:
    """The column names, row names and objective name the exports use."""
