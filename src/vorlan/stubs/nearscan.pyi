"""Ranking of stored problem descriptions by sentence-embedding similarity."""
import os
from pathlib import Path
from typing import Any, TypedDict, type_check_only

@type_check_only
class RankedDescription(TypedDict):
    path: str
    score: float
    preview: str

@type_check_only
class EmbeddingFileInfo(TypedDict):
    model: str
    revision: str
    scope: str
    dim: int
    digests: list[str]

_MODEL_CACHE: dict[str, Any]
_SHIPPED_EMBEDDINGS_DIR: str | os.PathLike[str] | None

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
def _write_shipped_embeddings(
    models_dir: str | os.PathLike[str] | None,
    path: str | os.PathLike[str],
    model_name: str = "sentence-transformers/all-MiniLM-L6-v2",
) -> int: ...
def _embedding_file_info(path: str | os.PathLike[str]) -> EmbeddingFileInfo | None: ...
def _model_revision(model_name: str) -> str: ...
def _shipped_file_name(model_name: str) -> str: ...
def _shipped_embeddings_dir() -> str: ...
def _embedding_cache_dir() -> str: ...
def _printable(text: str) -> str: ...
def _quiet_embedding_library() -> None: ...
def _main() -> int: ...
