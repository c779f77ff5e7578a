"""The semantic error kind shared by the Vorlan compiler and the code generators."""

class SemanticError(Exception):
    """A Vorlan model or data file is well-formed but not meaningful."""
