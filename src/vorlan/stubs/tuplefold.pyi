"""Tuple-set conversion for code generators."""
from typing import Any

class Tuplefold:
    """Finds the members of a tuple set in the data or the model and turns them into tuples."""

    @staticmethod
    def get_tuple_set(set_name: str, ast: dict[str, Any], data_dict: dict[str, Any] | None) -> list[Any]:
        """The converted members of the named tuple set, from the data or else the model."""
    @staticmethod
    def _to_tuple_recursive(val: Any) -> Any:
        """The value with every nested list, tuple and element map turned into a tuple."""
