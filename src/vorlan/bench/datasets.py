"""Benchmark sets: JSON Lines or a JSON array of records carrying a problem text and its
published optimum.

Field names follow the public sets: ``en_question``/``en_answer`` or ``question``/``answer``,
with an optional ``id`` (a record without one is numbered by its position, from 1). An answer
that is not a finite number is kept as text: answers that say the problem has no optimum
("No Best Solution", "infeasible", ...) expect the generated model to be infeasible or
unbounded; any other text cannot be matched and the problem is scored as not solved.
"""
from __future__ import annotations

import hashlib
import json
import math
import re
from dataclasses import dataclass
from pathlib import Path

from vorlan.textfile import read_text

QUESTION_FIELDS = ("en_question", "question")
ANSWER_FIELDS = ("en_answer", "answer")

# Answer texts that mean "there is no optimal value".
_NO_OPTIMUM = re.compile(r"^\s*(no\s+((best|optimal|feasible)\s+)?solutions?|no\s+optimum|infeasible|unbounded|"
                         r"infeasible\s+or\s+unbounded)\s*\.?\s*$", re.IGNORECASE)


class DatasetError(ValueError):
    """A benchmark file that cannot be read as a set of problems."""


@dataclass(frozen=True)
class Problem:
    set: str
    id: str
    question: str
    answer: float | None      # the optimum, when the answer is a number
    answer_text: str          # the answer as the set gives it
    no_optimum: bool = False  # the answer says there is no optimal value

    @property
    def key(self) -> tuple[str, str]:
        return (self.set, self.id)


def parse_answer(value) -> tuple[float | None, bool]:
    """(number, no_optimum) for a record's answer; (None, False) when it is unusable."""
    if isinstance(value, bool) or value is None:
        return None, False
    if isinstance(value, (int, float)):
        x = float(value)
        return (x, False) if math.isfinite(x) else (None, False)
    if not isinstance(value, str):
        return None, False
    text = value.strip().replace(",", "")
    if text.startswith("$"):
        text = text[1:].strip()
    try:
        x = float(text)
    except ValueError:
        return None, bool(_NO_OPTIMUM.match(value))
    return (x, False) if math.isfinite(x) else (None, False)


def set_name(path: str | Path) -> str:
    """The set's name: the file name without its extension."""
    name = Path(path).name
    for ext in (".jsonl", ".json", ".ndjson"):
        if name.lower().endswith(ext):
            return name[: -len(ext)] or name
    return name


def _records(path: Path) -> list:
    text = read_text(path)
    stripped = text.lstrip()
    if stripped.startswith("["):
        try:
            data = json.loads(stripped)
        except json.JSONDecodeError as e:
            raise DatasetError(f"{path}: not valid JSON: {e}") from None
        return data
    out = []
    for n, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        try:
            out.append(json.loads(line))
        except json.JSONDecodeError as e:
            raise DatasetError(f"{path}:{n}: not a JSON record: {e.msg}") from None
    return out


def _field(record: dict, names: tuple[str, ...]):
    for name in names:
        if name in record:
            return record[name]
    return None


def load_dataset(path: str | Path, name: str | None = None) -> list[Problem]:
    """Every problem of one benchmark file, in file order."""
    path = Path(path)
    if not path.is_file():
        raise FileNotFoundError(2, "No such file", str(path))
    records = _records(path)
    if not isinstance(records, list):
        raise DatasetError(f"{path}: expected JSON Lines or a JSON array of records")
    set_ = name or set_name(path)
    problems, seen = [], set()
    for pos, rec in enumerate(records, 1):
        if not isinstance(rec, dict):
            raise DatasetError(f"{path}: record {pos} is not a JSON object")
        question = _field(rec, QUESTION_FIELDS)
        if not isinstance(question, str) or not question.strip():
            raise DatasetError(f"{path}: record {pos} has no question "
                               f"(expected a text field {' or '.join(QUESTION_FIELDS)})")
        if not any(f in rec for f in ANSWER_FIELDS):
            raise DatasetError(f"{path}: record {pos} has no answer field ({' or '.join(ANSWER_FIELDS)})")
        raw = _field(rec, ANSWER_FIELDS)
        rid = rec.get("id")
        pid = str(pos) if rid is None or (isinstance(rid, str) and not rid.strip()) else str(rid).strip()
        if pid in seen:
            raise DatasetError(f"{path}: id {pid!r} occurs twice")
        seen.add(pid)
        number, no_optimum = parse_answer(raw)
        problems.append(Problem(set_, pid, question, number, "" if raw is None else str(raw), no_optimum))
    return problems


def select(problems: list[Problem], ids: set[str] | None = None, limit: int | None = None) -> list[Problem]:
    """The problems whose id is in ids (all when None), at most limit of them."""
    chosen = [p for p in problems if ids is None or p.id in ids]
    return chosen if limit is None else chosen[:limit]


_UNSAFE = re.compile(r"[^A-Za-z0-9._-]+")


def safe_component(text: str) -> str:
    """A file-name component for an id or set name taken from a data file: letters, digits,
    dot, dash and underscore only, never empty, "." or "..", and not hidden. A text that had
    to be changed gets a short digest of the original, so two ids never share a folder."""
    name = _UNSAFE.sub("_", text).strip(".")[:80]
    if name and name == text:
        return name
    digest = hashlib.sha256(text.encode("utf-8", "surrogatepass")).hexdigest()[:8]
    return f"{name or '_'}-{digest}"
