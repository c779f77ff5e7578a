"""Time from model text to optimal solution, split into compile/expand, matrix build and
solver time, for generated transportation LPs and a capacitated facility-location MILP.

    PYTHONPATH=build/dev-NAME/stage .venv/bin/python bench/bench_solve.py [--sizes 100,300,1000]
        [--facility 40x200] [--time-limit 120]

"Ours" is compile + matrix; the solver share includes SciPy's own hand-over to HiGHS.
"""

import argparse
import random
import time

import vorlan.solve as vs
# The compile benchmark's models; bench/ is on the path when this runs as a script.
from bench_compile import FACILITY, TRANSPORT


def names(prefix, n):
    return "{" + ", ".join(f'"{prefix}{i}"' for i in range(n)) + "}"


def vector(values):
    return "[" + ", ".join(str(v) for v in values) + "]"


def matrix(rows):
    return "[" + ",\n".join(vector(r) for r in rows) + "]"


def transport_data(n, rng):
    demand = [rng.randint(10, 100) for _ in range(n)]
    total = sum(demand)
    supply = [total // n + 60 for _ in range(n)]
    cost = [[rng.randint(1, 99) for _ in range(n)] for _ in range(n)]
    return (f"W = {names('w', n)};\nS = {names('s', n)};\nsupply = {vector(supply)};\n"
            f"demand = {vector(demand)};\ncost = {matrix(cost)};\n")


def facility_data(m, k, rng):
    demand = [rng.randint(5, 50) for _ in range(k)]
    cap = [sum(demand) * 3 // m for _ in range(m)]
    fixed = [rng.randint(2000, 8000) for _ in range(m)]
    ship = [[rng.randint(1, 60) for _ in range(k)] for _ in range(m)]
    return (f"W = {names('w', m)};\nR = {names('r', k)};\nfixedCost = {vector(fixed)};\n"
            f"capacity = {vector(cap)};\ndemand = {vector(demand)};\nshipCost = {matrix(ship)};\n")


def run(label, model, data, time_limit):
    t0 = time.perf_counter()
    r = vs.solve(model, data, time_limit=time_limit)
    total = time.perf_counter() - t0
    t = r["timings"]
    ours = t["compile"] + t["matrix"]
    print(f"{label:<28} {r['status']:<10} obj={r['objective']!s:<16} compile={t['compile']:.3f}s "
          f"matrix={t['matrix']:.3f}s solver={t['solver']:.3f}s total={total:.3f}s ours={100 * ours / total:.1f}%",
          flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="100,300,1000")
    ap.add_argument("--facility", default="40x200")
    ap.add_argument("--time-limit", type=float, default=300.0)
    args = ap.parse_args()
    rng = random.Random(7)
    for n in (int(s) for s in args.sizes.split(",") if s):
        run(f"transportation {n}x{n} ({2 * n * n} nz)", TRANSPORT, transport_data(n, rng), args.time_limit)
    if args.facility:
        m, k = (int(x) for x in args.facility.split("x"))
        run(f"facility {m}x{k} (MILP)", FACILITY, facility_data(m, k, rng), args.time_limit)


if __name__ == "__main__":
    main()
