"""Abstract base class of code generators that emit SciPy linear-programming code."""
from typing import Any

from vorlan.semantic_error import SemanticError as SemanticError

class SciPyCodeGeneratorBase:
    """Abstract base class for SciPy code generators: subclasses fill in generate_code and the
    _build_* steps and write lines with _add_code_line."""

    ast: dict[str, Any]
    data_dict: dict[str, Any]
    scipy_code_lines: list[str]
    indent_level: int
    var_names: list[Any]
    var_indices: dict[Any, int]
    bounds: list[Any]
    c: list[Any]
    A_eq: list[Any]
    b_eq: list[Any]
    A_ub: list[Any]
    b_ub: list[Any]
    results_varname: str
    integrality: list[Any]
    tuple_types: dict[str, Any]

    def __init__(self, ast: dict[str, Any], data_dict: dict[str, Any] | None = None) -> None:
        """Stores the model, its data and the empty generator state."""
    def generate_code(self) -> Any:
        """Generates the whole program; supplied by subclasses."""
    def _build_variables(self) -> None: ...
    def _build_objective(self) -> None: ...
    def _build_constraints(self) -> None: ...
    def _indent(self) -> str: ...
    def _add_code_line(self, line: str) -> None:
        """Appends one line, prefixed with the current indentation."""
    def find_declaration(self, name: str, decl_type: str | None = None) -> dict[str, Any] | None:
        """The first declaration of that name (and kind, when given), or None."""
    def find_declarations(self, name: str, decl_type: str | None = None) -> list[dict[str, Any]]:
        """Every declaration of that name (and kind, when given), in order."""
    @staticmethod
    def normalize_index(idx: Any) -> Any:
        """The index with every nested list or tuple turned into a tuple."""
    def _normalize_index(self, idx: Any) -> Any: ...
    def _tuple_key(self, elements: Any, env: dict[str, Any] | None = None) -> Any: ...
    def _find_decl(self, name: str, decl_type: str | None = None) -> dict[str, Any] | None: ...
    def _find_decls(self, name: str, decl_type: str | None = None) -> list[dict[str, Any]]: ...
    @staticmethod
    def _unsupported_type_error(context: str, value: str) -> SemanticError: ...
    @staticmethod
    def _unsupported_operator_error(context: str, op: str) -> SemanticError: ...
