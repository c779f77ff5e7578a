"""Which example tree few-shot gathering reads: the one the command line or a benchmark run
chose, else ./qel_models when present, else the bundled tree."""
from __future__ import annotations

from pathlib import Path

__all__ = ["use_examples"]


def use_examples(examples: str | None) -> None:
    """Few-shot gathering looks for "qel_models" in the working directory; point it at the
    chosen example tree instead (default: ./qel_models if present, else the bundled tree)."""
    from vorlan import genloom

    if examples is None:
        if Path("qel_models").is_dir():
            return
        examples = str(Path(genloom.__file__).resolve().parent / "qel_models")
    original = genloom._gather_few_shots

    def gather(problem_description, k=3, models_dir=None, progress=None):
        return original(problem_description, k=k, models_dir=examples, progress=progress)

    genloom._gather_few_shots = gather
