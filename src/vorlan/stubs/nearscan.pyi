"""Ranking of stored problem descriptions by sentence-embedding similarity."""
import os
from pathlib import Path
from typing import Any, TypedDict, type_check_only

@type_check_only
class RankedDescription(TypedDict):
    path: str
    score: float
    preview: str

_MODEL_CACHE: dict[str, Any]

def rank_problem_descriptions(
    query: str,
    models_dir: str | os.PathLike[str] | None = None,
    top_k: int = 10,
    model_name: str = "sentence-transformers/all-MiniLM-L6-v2",
) -> list[RankedDescription]:
    """Stored descriptions (*.txt below models_dir, default the bundled qel_models) ranked by
    cosine similarity to query, best first."""

def _iter_description_files(models_dir: str | os.PathLike[str]) -> list[Path]: ...
def _load_model(model_name: str) -> Any: ...
def _read_text(path: str | os.PathLike[str], max_chars: int = 100000) -> str: ...
def _main() -> int: ...
