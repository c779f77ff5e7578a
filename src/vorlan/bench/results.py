"""The results file of a run, DIR/results.jsonl, and the run's settings, DIR/run.json.

One writer appends whole lines: each line goes out in one append and is flushed to disk
(fsync) before the next problem is counted as done, so an interrupted run keeps every
finished result. A line cut short by a crash of the machine is dropped when the file is
opened again. When a problem appears more than once (an errored problem run again by
--resume), its last line counts.
"""
from __future__ import annotations

import json
import math
import os
from pathlib import Path

from vorlan.textfile import write_text_atomic

RESULTS = "results.jsonl"
RUN_INFO = "run.json"

# Settings that shape the results: a resumed run must use the same ones.
RUN_KEYS = ("provider", "model", "tolerance", "iterations", "alignment", "few_shot", "verify", "repair_replies",
            "grammar")


class ResultsError(RuntimeError):
    """A results folder that cannot be used as asked."""


def json_safe(value):
    """JSON-safe copy: non-finite numbers become null."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {str(k): json_safe(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [json_safe(v) for v in value]
    return value


def encode_line(record: dict) -> bytes:
    return (json.dumps(json_safe(record), ensure_ascii=False, allow_nan=False) + "\n").encode("utf-8")


def read_results(path: str | Path) -> list[dict]:
    """Every complete, valid line of a results file (an unfinished last line and lines that
    are not JSON objects are skipped)."""
    path = Path(path)
    if not path.exists():
        return []
    rows = []
    with open(path, "rb") as f:
        for raw in f:
            if not raw.endswith(b"\n"):
                break
            try:
                row = json.loads(raw)
            except (json.JSONDecodeError, UnicodeDecodeError):
                continue
            if isinstance(row, dict) and "set" in row and "id" in row:
                row["id"] = str(row["id"])
                rows.append(row)
    return rows


def latest(rows: list[dict]) -> list[dict]:
    """The last line of each (set, id), in the order of first appearance."""
    by_key: dict[tuple[str, str], dict] = {}
    for r in rows:
        by_key[(r["set"], r["id"])] = r
    return list(by_key.values())


def load_run(directory: str | Path) -> list[dict]:
    """The effective results of a run folder: one line per problem."""
    directory = Path(directory)
    path = directory / RESULTS
    if not path.is_file():
        raise ResultsError(f"{directory} holds no {RESULTS}")
    return latest(read_results(path))


class ResultsWriter:
    """Appends result lines to one file; the only writer of that file."""

    def __init__(self, path: str | Path):
        self.path = Path(path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self._fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_APPEND, 0o644)
        self._drop_partial_line()

    def _drop_partial_line(self) -> None:
        size = os.fstat(self._fd).st_size
        if size == 0 or os.pread(self._fd, 1, size - 1) == b"\n":
            return
        # Cut back to the end of the last complete line, reading backwards in blocks.
        pos = size
        while pos > 0:
            start = max(0, pos - 65536)
            block = os.pread(self._fd, pos - start, start)
            cut = block.rfind(b"\n")
            if cut >= 0:
                os.ftruncate(self._fd, start + cut + 1)
                return
            pos = start
        os.ftruncate(self._fd, 0)

    def append(self, record: dict) -> None:
        data = memoryview(encode_line(record))
        while data:
            written = os.write(self._fd, data)
            data = data[written:]
        os.fsync(self._fd)

    def close(self) -> None:
        if self._fd >= 0:
            os.close(self._fd)
            self._fd = -1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def prepare_run(directory: str | Path, settings: dict, resume: bool) -> list[dict]:
    """Check the folder for a new or resumed run and record its settings; returns the lines
    already there (empty for a new run)."""
    directory = Path(directory)
    results = directory / RESULTS
    info = directory / RUN_INFO
    existing = read_results(results)
    if not resume:
        if existing or (results.exists() and results.stat().st_size > 0):
            raise ResultsError(f"{directory} already holds results; pass --resume to continue that run, "
                               "or choose another --out")
    elif info.is_file():
        try:
            before = json.loads(info.read_text(encoding="utf-8"))
        except (OSError, ValueError):
            before = {}
        changed = [k for k in RUN_KEYS if k in before and before[k] != settings.get(k)]
        if changed:
            details = ", ".join(f"{k} {before[k]!r} -> {settings.get(k)!r}" for k in changed)
            raise ResultsError(f"cannot resume {directory} with other settings ({details}); "
                               "use another --out for a new run")
    directory.mkdir(parents=True, exist_ok=True)
    write_text_atomic(info, json.dumps(json_safe(settings), indent=2, ensure_ascii=False) + "\n")
    return existing
