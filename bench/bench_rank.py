"""Ranking latency of vorlan.nearscan with the real embedding model, and module load times.

Usage: PYTHONPATH=<staged package> python bench/bench_rank.py [sizes...]   (default 30 1000 10000)
Set BENCH_TORCH_THREADS=N to fix the tensor library's thread count in the measured processes.

For every size a fresh process builds a tree of synthetic descriptions and ranks it twice:
the first call includes importing the embedding library and constructing the model, the
warm call reuses the cached model. Each call is split into
  load  - _load_model (only the first call pays it: importing the embedding library and
          constructing the model; the tensor library is imported beforehand, timed apart),
  encode- model.encode of the descriptions and the query,
  score - torch.matmul and moving the scores to host memory,
  read  - everything else: walking the tree, reading and capping the files, building
          and sorting the result records.
"""

import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

WORDS = ("warehouse store plant truck route demand supply cost profit machine worker shift nurse "
         "food nutrient item weight value capacity budget project period inventory order roll width "
         "pattern node arc flow path city depot facility customer crop land water loan cash bond").split()
PHRASES = [
    "A company wants to minimise the total cost of {a} while meeting every {b}.",
    "Each {a} has a limited {b}, and the {c} must be respected in every period.",
    "Decide how many units of each {a} to assign to each {b} so that profit is maximal.",
    "The planner must choose which {a} to open, paying a fixed cost, to serve each {b}.",
    "There are {n} {a}s and {m} {b}s; the {c} between them is known in advance.",
]


def synthetic(i: int, rng: random.Random) -> str:
    parts = []
    for _ in range(rng.randint(3, 6)):
        a, b, c = rng.sample(WORDS, 3)
        parts.append(rng.choice(PHRASES).format(a=a, b=b, c=c, n=rng.randint(2, 20), m=rng.randint(2, 20)))
    return f"Problem {i}. " + " ".join(parts)


CHILD = r'''
import json, os, sys, time
t = time.perf_counter()
import torch
torch_import = time.perf_counter() - t
if os.environ.get("BENCH_TORCH_THREADS"):
    torch.set_num_threads(int(os.environ["BENCH_TORCH_THREADS"]))
import vorlan.nearscan as n
root, query = sys.argv[1], sys.argv[2]
timing = {}
real_load, real_matmul = n._load_model, torch.matmul


def add(key, t0):
    timing[key] = timing.get(key, 0.0) + time.perf_counter() - t0


class Timed:
    def __init__(self, m):
        self.m = m

    def encode(self, *a, **k):
        t0 = time.perf_counter()
        try:
            return self.m.encode(*a, **k)
        finally:
            add("encode", t0)


class TimedTensor:
    def __init__(self, t):
        self.t = t

    def cpu(self):
        t0 = time.perf_counter(); r = self.t.cpu(); add("score", t0); return TimedTensor(r)

    def tolist(self):
        t0 = time.perf_counter(); r = self.t.tolist(); add("score", t0); return r


def timed_load(name):
    t0 = time.perf_counter()
    model = real_load(name)
    add("load", t0)
    return Timed(model) if model is not None else None


def matmul(a, b):
    t0 = time.perf_counter(); r = real_matmul(a, b); add("score", t0); return TimedTensor(r)


n._load_model, torch.matmul = timed_load, matmul
out = []
for call in ("first", "warm"):
    timing.clear()
    t0 = time.perf_counter()
    res = n.rank_problem_descriptions(query, root, top_k=10)
    total = time.perf_counter() - t0
    timing.setdefault("load", 0.0)
    timing["read"] = total - timing["load"] - timing["encode"] - timing["score"]
    out.append({"call": call, "total": total, **timing, "results": len(res), "torch_import": torch_import})
print(json.dumps(out))
'''


def load_time(module: str, runs: int = 5) -> float:
    code = f"import time; t = time.perf_counter(); import {module}; print(time.perf_counter() - t)"
    vals = [float(subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout)
            for _ in range(runs)]
    return statistics.median(vals)


def main(argv: list[str]) -> int:
    sizes = [int(a) for a in argv] or [30, 1000, 10000]
    os.environ.setdefault("HF_HUB_OFFLINE", "1")
    print(f"CPUs: {os.cpu_count()}, load average: {os.getloadavg()[0]:.1f}, "
          f"tensor threads: {os.environ.get('BENCH_TORCH_THREADS', 'library default')}")
    print(f"module load (median of 5 fresh processes): vorlan.nearscan {load_time('vorlan.nearscan') * 1000:.1f} ms, "
          f"vorlan.genloom {load_time('vorlan.genloom') * 1000:.1f} ms")
    query = "Ship goods from warehouses to stores at the least total transportation cost."
    print(f"{'size':>6} {'call':>5} {'total s':>8} {'read s':>8} {'load s':>8} {'encode s':>9} {'score s':>8}")
    for size in sizes:
        with tempfile.TemporaryDirectory() as tmp:
            rng = random.Random(size)
            for i in range(size):
                d = Path(tmp) / f"p{i:05d}"
                d.mkdir()
                (d / "problem.txt").write_text(synthetic(i, rng), encoding="utf-8")
            r = subprocess.run([sys.executable, "-c", CHILD, tmp, query], capture_output=True, text=True)
            if r.returncode != 0:
                print(r.stderr, file=sys.stderr)
                return 1
            rows = json.loads(r.stdout.splitlines()[-1])
            print(f"{size:>6} (tensor library import before the first call: {rows[0]['torch_import']:.3f} s)")
            for row in rows:
                print(f"{size:>6} {row['call']:>5} {row['total']:>8.3f} {row['read']:>8.3f} {row['load']:>8.3f} "
                      f"{row['encode']:>9.3f} {row['score']:>8.4f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
