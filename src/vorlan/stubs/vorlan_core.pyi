"""The Vorlan compiler component."""
from typing import Any

from vorlan.semantic_error import SemanticError as SemanticError

class VorlanSyntaxError(Exception):
    """A lexical or grammar error in a Vorlan model or data file."""

class QelCompiler:
    """Compiles a Vorlan model text with its data text; after a successful compile it holds the
    declarations (ast), the data and the flat linear instance."""

    def __init__(self) -> None: ...
    def compile_model(self, model_code: str, data_code: str) -> bool:
        """Compile a model text and a data text; raise VorlanSyntaxError or SemanticError if invalid."""
    @property
    def ast(self) -> dict[str, Any]:
        """The declarations of the last compiled model: {'declarations': [...]}."""
    @property
    def data(self) -> dict[str, Any]:
        """The data of the last compiled model: name -> value."""
    def instance(self) -> dict[str, Any]:
        """The flat linear instance of the last compiled model: variables, objective, rows; a
        lexicographic objective adds 'objectives', every goal in priority order."""
