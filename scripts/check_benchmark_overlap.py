#!/usr/bin/env python3
"""How close each example description of the tree comes to any problem of the public
benchmark sets, which must never enter the library (nor a paraphrase of one).

For every description: the highest TF-IDF cosine against all benchmark questions (with the
nearest one's start) and the most word 5-grams it shares with one question. A paraphrase
shows as a high cosine (above about 0.5) or many shared 5-grams; our own problems on a
common topic stay well below.

    .venv/bin/python scripts/check_benchmark_overlap.py [--sets DIR] [example ...]
"""
import json
import math
import re
import sys
from collections import Counter
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
TREE = REPO / "src" / "vorlan" / "qel_models"


def questions(sets: Path) -> list[tuple[str, str]]:
    out = []
    for path in sorted(sets.glob("*.json*")):
        text = path.read_text(encoding="utf-8")
        records = json.loads(text) if text.lstrip().startswith("[") else [json.loads(line) for line in text.splitlines() if line.strip()]
        out += [(path.name, r["en_question"]) for r in records]
    return out


def words(text: str) -> list[str]:
    return re.findall(r"[a-z]+|\d+(?:\.\d+)?", text.lower())


def main(argv: list[str]) -> int:
    sets = Path(argv[argv.index("--sets") + 1]) if "--sets" in argv else REPO.parent / "shared" / "benchmarks"
    names = [a for a in argv if not a.startswith("--") and Path(a) != sets] or sorted(p.name for p in TREE.iterdir() if p.is_dir())
    docs = [(name, text, words(text)) for name, text in questions(sets)]
    df = Counter(w for _, _, ws in docs for w in set(ws))

    def vector(ws):
        tf = Counter(ws)
        v = {w: (1 + math.log(n)) * math.log(len(docs) / (1 + df.get(w, 0))) for w, n in tf.items()}
        norm = math.sqrt(sum(x * x for x in v.values())) or 1.0
        return {w: x / norm for w, x in v.items()}

    def grams(ws):
        return {tuple(ws[i:i + 5]) for i in range(len(ws) - 4)}

    bench = [(vector(ws), grams(ws)) for _, _, ws in docs]
    for name in names:
        ws = words(next((TREE / name).glob("*.txt")).read_text(encoding="utf-8"))
        v, g = vector(ws), grams(ws)
        cos = [sum(v.get(w, 0.0) * x for w, x in bv.items()) for bv, _ in bench]
        best = max(range(len(docs)), key=cos.__getitem__)
        shared = max(len(g & bg) for _, bg in bench)
        print(f"{name:28s} cosine {cos[best]:.2f} shared 5-grams {shared:2d}  nearest {docs[best][0]}: {docs[best][1][:70]!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
