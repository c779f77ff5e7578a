"""Two runs side by side: per set both accuracies, and the problems one run solved and the
other did not (among the problems both ran)."""
from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path

from vorlan.bench.results import load_run
from vorlan.bench.scoring import wilson_interval


@dataclass
class SetComparison:
    name: str
    n1: int = 0
    correct1: int = 0
    n2: int = 0
    correct2: int = 0
    only1: list[str] = field(default_factory=list)   # solved by the first run only
    only2: list[str] = field(default_factory=list)   # solved by the second run only
    not_shared: int = 0                              # problems only one of the runs has


def _id_order(pid: str):
    return (0, int(pid), "") if pid.isdigit() else (1, 0, pid)


def compare_rows(rows1: list[dict], rows2: list[dict]) -> list[SetComparison]:
    sets = list(dict.fromkeys([r["set"] for r in rows1] + [r["set"] for r in rows2]))
    out = []
    for name in sets:
        a = {r["id"]: bool(r.get("correct")) for r in rows1 if r["set"] == name}
        b = {r["id"]: bool(r.get("correct")) for r in rows2 if r["set"] == name}
        c = SetComparison(name, len(a), sum(a.values()), len(b), sum(b.values()))
        shared = a.keys() & b.keys()
        c.only1 = sorted((i for i in shared if a[i] and not b[i]), key=_id_order)
        c.only2 = sorted((i for i in shared if b[i] and not a[i]), key=_id_order)
        c.not_shared = len(a.keys() ^ b.keys())
        out.append(c)
    return out


def compare_runs(dir1: str | Path, dir2: str | Path) -> list[SetComparison]:
    return compare_rows(load_run(dir1), load_run(dir2))


def _acc(correct: int, n: int) -> str:
    if not n:
        return "-"
    lo, hi = wilson_interval(correct, n)
    return f"{100.0 * correct / n:.1f}% [{100 * lo:.1f}%, {100 * hi:.1f}%] ({correct}/{n})"


def format_comparison(comparisons: list[SetComparison], label1: str, label2: str, max_ids: int = 50) -> str:
    lines = [f"A: {label1}", f"B: {label2}", ""]
    for c in comparisons:
        lines.append(f"{c.name}")
        lines.append(f"  A accuracy: {_acc(c.correct1, c.n1)}")
        lines.append(f"  B accuracy: {_acc(c.correct2, c.n2)}")
        for who, ids in (("A", c.only1), ("B", c.only2)):
            shown = ", ".join(ids[:max_ids]) + (f", \u2026 ({len(ids) - max_ids} more)" if len(ids) > max_ids else "")
            lines.append(f"  solved by {who} only ({len(ids)}): {shown or '-'}")
        if c.not_shared:
            lines.append(f"  {c.not_shared} problem(s) ran in one run only")
    return "\n".join(lines)
