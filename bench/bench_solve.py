"""Solving figures, next to what a user would otherwise reach for, measured in the same run.

1. Model text to optimum on generated transportation LPs and a facility-location MILP, split
   into compile/expand, matrix (our arrays up to HiGHS's own copy of them), solver time and the
   rest (the solution read back into result objects); "ours" is compile + matrix. Next to it:
   the same model built in PuLP and solved by the same HiGHS through PuLP's highspy interface
   (requirements/bench.txt).
   Also three goals in priority order (lexicographic) on the --lexicographic transportation
   instance, text to optimum next to solving the same stages one by one with HiGHS from Python.
2. The verification stage's own time (solve + conflict analysis, vorlan.solve.verify on an
   already compiled pair) on every example of the bundled tree, and on transportation
   instances whose supply is below demand; next to it HiGHS's own irreducible-infeasible-subset
   search (getIis) on the same instance, stopped after --iis-time-limit seconds.
3. Peak memory of `vorlan run` on the --memory transportation instance (n*n variables), with
   and without --emit-script, each in a process of its own, next to PuLP building the same LP
   and solving it with HiGHS, and next to the interpreter with vorlan and highspy imported.

    PYTHONPATH=build/dev-NAME/stage .venv/bin/python bench/bench_solve.py [--sizes 100,300,1000]
        [--facility 40x200] [--lexicographic 300] [--infeasible 100,1000] [--iis-time-limit 60] [--time-limit 300] [--no-pulp]
        [--memory 1000]
"""

import argparse
import pathlib
import random
import statistics
import subprocess
import sys
import tempfile
import time

import vorlan
import vorlan.solve as vs
from vorlan.vorlan_core import QelCompiler
# The compile benchmark's models; bench/ is on the path when this runs as a script.
from bench_compile import FACILITY, TRANSPORT


def names(prefix, n):
    return "{" + ", ".join(f'"{prefix}{i}"' for i in range(n)) + "}"


def vector(values):
    return "[" + ", ".join(str(v) for v in values) + "]"


def transport_values(n, rng, short=0):
    """Demand, supply and cost; with short > 0 total supply falls `short` units below demand."""
    demand = [rng.randint(10, 100) for _ in range(n)]
    total = sum(demand)
    supply = [total // n + 60 for _ in range(n)] if not short else [(total - short) // n for _ in range(n)]
    cost = [[rng.randint(1, 99) for _ in range(n)] for _ in range(n)]
    return demand, supply, cost


def transport_data(n, rng, short=0):
    demand, supply, cost = transport_values(n, rng, short)
    return (f"W = {names('w', n)};\nS = {names('s', n)};\nsupply = {vector(supply)};\n"
            f"demand = {vector(demand)};\ncost = [" + ",\n".join(vector(r) for r in cost) + "];\n")


def facility_data(m, k, rng):
    demand = [rng.randint(5, 50) for _ in range(k)]
    cap = [sum(demand) * 3 // m for _ in range(m)]
    fixed = [rng.randint(2000, 8000) for _ in range(m)]
    ship = [[rng.randint(1, 60) for _ in range(k)] for _ in range(m)]
    return (f"W = {names('w', m)};\nR = {names('r', k)};\nfixedCost = {vector(fixed)};\n"
            f"capacity = {vector(cap)};\ndemand = {vector(demand)};\nshipCost = ["
            + ",\n".join(vector(r) for r in ship) + "];\n")


# ------------------------------------------------------------------ text to optimum

def pulp_transport(n, rng, time_limit):
    """Build the same transportation LP in PuLP and solve it with HiGHS (highspy)."""
    import pulp
    demand, supply, cost = transport_values(n, rng)
    t0 = time.perf_counter()
    p = pulp.LpProblem("bench", pulp.LpMinimize)
    W, S = [f"w{i}" for i in range(n)], [f"s{i}" for i in range(n)]
    ship = pulp.LpVariable.dicts("ship", (W, S), lowBound=0)
    p += pulp.lpSum(cost[i][j] * ship[w][s] for i, w in enumerate(W) for j, s in enumerate(S))
    for i, w in enumerate(W):
        p += pulp.lpSum(ship[w][s] for s in S) <= supply[i], f"out_{w}"
    for j, s in enumerate(S):
        p += pulp.lpSum(ship[w][s] for w in W) == demand[j], f"meet_{s}"
    build = time.perf_counter() - t0
    t0 = time.perf_counter()
    p.solve(pulp.HiGHS(msg=False, timeLimit=time_limit))
    return build, time.perf_counter() - t0, pulp.value(p.objective)


def text_to_optimum(label, model, data, time_limit, pulp_case=None):
    t0 = time.perf_counter()
    r = vs.solve(model, data, time_limit=time_limit)
    total = time.perf_counter() - t0
    t = r["timings"]
    ours = t["compile"] + t["matrix"]
    rest = total - ours - t["solver"]  # reading the solution back, result objects, the call itself
    line = (f"{label:<30} {r['status']:<8} obj={r['objective']!s:<12} compile={t['compile']:.3f}s "
            f"matrix={t['matrix']:.3f}s solver={t['solver']:.3f}s rest={rest:.3f}s total={total:.2f}s "
            f"ours={100 * ours / total:.1f}% (all but the solver {100 * (total - t['solver']) / total:.1f}%)")
    if pulp_case:
        build, solve, obj = pulp_transport(*pulp_case)
        line += f" | PuLP+HiGHS build={build:.2f}s solve={solve:.2f}s total={build + solve:.2f}s " \
                f"(x{(build + solve) / total:.1f} ours)"
    print(line, flush=True)


# ------------------------------------------------------------------ goals in priority order

# The transportation model with three goals: first keep long hauls (cost >= 90) off the plan,
# then the total cost, then the load on the first warehouse.
LEX_TRANSPORT = TRANSPORT.replace(
    "minimize total: sum(w in W, s in S) cost[w][s] * ship[w][s];",
    "dexpr float longHaul = sum(w in W, s in S : cost[w][s] >= 90) ship[w][s];\n"
    "dexpr float totalCost = sum(w in W, s in S) cost[w][s] * ship[w][s];\n"
    "dexpr float firstOut = sum(s in S) ship[first(W)][s];\n"
    "minimize lexicographic(longHaul, totalCost, firstOut);")


def highs_staged_transport(n, rng, time_limit):
    """The same three goals solved one after another with HiGHS from Python: the model built
    from NumPy arrays, each goal's optimum added as a row before the next goal (held within
    the same tolerance, 0, as ours). Returns (seconds, goal values)."""
    import highspy
    import numpy as np
    demand, supply, cost = transport_values(n, rng)
    t0 = time.perf_counter()
    cost = np.asarray(cost, dtype=float).ravel()  # column w * n + s is ship[w][s]
    cols = np.arange(n * n, dtype=np.int32)
    # Rows 0..n-1 leave warehouse w (<= supply), rows n..2n-1 meet store s (== demand).
    rows = np.concatenate([cols // n, n + cols % n])
    order = np.argsort(rows, kind="stable")
    indices = np.concatenate([cols, cols])[order]
    indptr = np.concatenate([[0], np.cumsum(np.bincount(rows, minlength=2 * n))]).astype(np.int32)
    lower = np.concatenate([np.full(n, -highspy.kHighsInf), np.asarray(demand, dtype=float)])
    upper = np.concatenate([np.asarray(supply, dtype=float), np.asarray(demand, dtype=float)])
    h = highspy.Highs()
    h.silent()
    h.setOptionValue("time_limit", float(time_limit))
    h.passModel(n * n, 2 * n, 2 * n * n, int(highspy.MatrixFormat.kRowwise), int(highspy.ObjSense.kMinimize), 0.0,
                np.zeros(n * n), np.zeros(n * n), np.full(n * n, highspy.kHighsInf), lower, upper, indptr,
                indices, np.ones(2 * n * n), np.zeros(n * n, dtype=np.int32))
    first_out = np.where(cols < n, 1.0, 0.0)
    values = []
    for goal in ((cost >= 90).astype(float), cost, first_out):
        h.changeColsCost(n * n, cols, goal)
        h.run()
        value = h.getInfo().objective_function_value
        values.append(value)
        support = np.flatnonzero(goal).astype(np.int32)
        h.addRow(-highspy.kHighsInf, value, len(support), support, goal[support])
    return time.perf_counter() - t0, values


def lexicographic_transport(n, time_limit):
    data = transport_data(n, random.Random(7))
    t0 = time.perf_counter()
    r = vs.solve(LEX_TRANSPORT, data, time_limit=time_limit)
    total = time.perf_counter() - t0
    t = r["timings"]
    goals = ", ".join(f"{v:.6g}" for v in r["objectives"] or [])
    line = (f"lexicographic transportation {n}x{n} (3 goals): {r['status']} goals=[{goals}] compile={t['compile']:.3f}s "
            f"matrix={t['matrix']:.3f}s solver={t['solver']:.3f}s total={total:.2f}s")
    seconds, values = highs_staged_transport(n, random.Random(7), time_limit)
    line += (f" | HiGHS from Python, stage by stage: {seconds:.2f}s goals=[{', '.join(f'{v:.6g}' for v in values)}]"
             f" (x{seconds / total:.2f} ours)")
    print(line, flush=True)


# ------------------------------------------------------------------ verification stage

def verify_examples():
    tree = pathlib.Path(vorlan.__file__).parent / "qel_models"
    seconds, statuses = [], {}
    for folder in sorted(p for p in tree.iterdir() if p.is_dir()):
        mod, dat = folder / f"{folder.name}.mod", folder / f"{folder.name}.dat"
        if not mod.exists():
            continue
        c = QelCompiler()
        c.compile_model(mod.read_text(), dat.read_text() if dat.exists() else "")
        t0 = time.perf_counter()
        r = vs.verify(c, time_limit=60)
        seconds.append(time.perf_counter() - t0)
        statuses[r["status"]] = statuses.get(r["status"], 0) + 1
    print(f"verification on {len(seconds)} examples: median {statistics.median(seconds) * 1000:.1f} ms, "
          f"max {max(seconds) * 1000:.1f} ms, total {sum(seconds):.2f} s; statuses {statuses}", flush=True)


def highs_iis_child(n):
    """HiGHS's own search (getIis, "from LP" strategy: the lightest that returns a set) on the
    infeasible n x n instance; prints seconds and the rows in the subset."""
    import highspy
    import numpy as np
    m = vs.matrices(TRANSPORT, transport_data(n, random.Random(11), short=n))
    h = highspy.Highs()
    h.silent()
    h.passModel(len(m["c"]), len(m["row_lower"]), len(m["data"]), int(highspy.MatrixFormat.kRowwise),
                int(highspy.ObjSense.kMinimize), 0.0, m["c"], m["col_lower"], m["col_upper"], m["row_lower"],
                m["row_upper"], np.asarray(m["indptr"], dtype=np.int32), m["indices"], m["data"],
                np.asarray(m["integrality"], dtype=np.int32))
    h.run()
    h.setOptionValue("iis_strategy", int(highspy.IisStrategy.kIisStrategyFromLp))
    t0 = time.perf_counter()
    _, iis = h.getIis()
    print(f"{time.perf_counter() - t0:.2f} {len(iis.row_index_)} {int(iis.valid_)}", flush=True)


def highs_iis(n, time_limit):
    """(seconds, rows) of HiGHS's search in a child process, or None when it did not finish."""
    try:
        out = subprocess.run([sys.executable, __file__, "--child-iis", str(n)], capture_output=True, text=True,
                             timeout=time_limit)
    except subprocess.TimeoutExpired:
        return None
    seconds, rows, valid = out.stdout.split()
    return float(seconds), int(rows)


def verify_infeasible(n, iis_time_limit):
    rng = random.Random(11)
    model, data = TRANSPORT, transport_data(n, rng, short=n)
    c = QelCompiler()
    c.compile_model(model, data)
    t0 = time.perf_counter()
    r = vs.verify(c, time_limit=600)
    total = time.perf_counter() - t0
    t = r["timings"]
    rows = sum(1 for k in r["conflicts"] if k["kind"] == "row")
    line = (f"infeasible transportation {n}x{n}: {r['status']}, {len(r['conflicts'])} conflicting "
            f"({rows} rows, irreducible={r['irreducible']}); verification {total:.2f}s = matrix {t['matrix']:.2f}s "
            f"+ solve {t['solver']:.2f}s + conflict analysis {t['analysis']:.2f}s")
    if iis_time_limit > 0:
        found = highs_iis(n, iis_time_limit)
        line += (f" | HiGHS getIis (solve + search): not finished after {iis_time_limit:g} s" if found is None
                 else f" | HiGHS getIis after its solve: {found[0]:.2f}s, {found[1]} rows")
    print(line, flush=True)


# ------------------------------------------------------------------ memory

# Runs argv[1:] as a child and prints its peak resident set in MB (the wrapper's own children
# are only that one command, so the reading is that command's peak).
PEAK_RSS = ("import resource, subprocess, sys; rc = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode; "
            "print(rc, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024)")


def peak_mb(argv):
    out = subprocess.run([sys.executable, "-c", PEAK_RSS, *argv], capture_output=True, text=True, check=True)
    rc, mb = out.stdout.split()
    return float(mb), int(rc)


def pulp_child(n):
    """Builds and solves the n x n transportation LP in PuLP (the memory comparison's child)."""
    build, solve, obj = pulp_transport(n, random.Random(7), 600)
    print(f"{build:.2f} {solve:.2f} {obj}")


def memory(n, use_pulp):
    with tempfile.TemporaryDirectory() as tmp:
        mod, dat, script = pathlib.Path(tmp, "t.mod"), pathlib.Path(tmp, "t.dat"), pathlib.Path(tmp, "t.py")
        mod.write_text(TRANSPORT)
        dat.write_text(transport_data(n, random.Random(7)))
        cli = [sys.executable, "-m", "vorlan.cli", "run", str(mod), str(dat)]
        base, _ = peak_mb([sys.executable, "-c", "import vorlan.solve, vorlan.vorlan_core, highspy, numpy"])
        run, rc = peak_mb(cli)
        emit, rc2 = peak_mb(cli + ["--emit-script", str(script)])
        size = script.stat().st_size / 2**20 if script.exists() else 0.0
        line = (f"memory, transportation {n}x{n} ({n * n} vars, data {dat.stat().st_size / 2**20:.1f} MB): "
                f"vorlan run {run:.0f} MB (exit {rc}), with --emit-script {emit:.0f} MB (exit {rc2}, script "
                f"{size:.0f} MB); interpreter with the modules imported {base:.0f} MB")
        if use_pulp:
            pulp_mb, _ = peak_mb([sys.executable, __file__, "--child-pulp", str(n)])
            line += f" | PuLP build + HiGHS solve {pulp_mb:.0f} MB (x{pulp_mb / run:.1f} ours)"
    print(line, flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="100,300,1000")
    ap.add_argument("--facility", default="40x200")
    ap.add_argument("--infeasible", default="100,1000", help="sizes of the infeasible transportation instances")
    ap.add_argument("--iis-time-limit", type=float, default=120.0,
                    help="cap in seconds on HiGHS's solve + getIis comparison; 0 skips it")
    ap.add_argument("--time-limit", type=float, default=300.0)
    ap.add_argument("--lexicographic", type=int, default=300,
                    help="size of the transportation instance solved with three goals; 0 skips it")
    ap.add_argument("--no-pulp", action="store_true", help="skip the PuLP comparison")
    ap.add_argument("--memory", type=int, default=1000, help="size of the memory instance; 0 skips it")
    ap.add_argument("--child-iis", type=int, help=argparse.SUPPRESS)
    ap.add_argument("--child-pulp", type=int, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child_iis:
        highs_iis_child(args.child_iis)
        return
    if args.child_pulp:
        pulp_child(args.child_pulp)
        return
    try:
        import pulp  # noqa: F401
        use_pulp = not args.no_pulp
    except ImportError:
        use_pulp = False
        print("PuLP not installed (pip install -r requirements/bench.txt): no comparison column")
    for n in (int(s) for s in args.sizes.split(",") if s):
        data = transport_data(n, random.Random(7))
        text_to_optimum(f"transportation {n}x{n} ({n * n} vars)", TRANSPORT, data, args.time_limit,
                        (n, random.Random(7), args.time_limit) if use_pulp else None)
    if args.lexicographic:
        lexicographic_transport(args.lexicographic, args.time_limit)
    if args.facility:
        m, k = (int(x) for x in args.facility.split("x"))
        text_to_optimum(f"facility {m}x{k} (MILP)", FACILITY, facility_data(m, k, random.Random(7)), args.time_limit)
    verify_examples()
    for n in (int(s) for s in args.infeasible.split(",") if s):
        verify_infeasible(n, args.iis_time_limit)
    if args.memory:
        memory(args.memory, use_pulp)


if __name__ == "__main__":
    main()
