"""Text to solver matrix: time and build memory of the Vorlan compiler on generated
transportation LPs and a capacitated facility-location MILP, next to building the same model
with linopy, pyoptinterface, Pyomo and PuLP in the same run.

    PYTHONPATH=build/dev-NAME/stage .venv/bin/python bench/bench_compile.py
        [--sizes 100,300,1000] [--facility 1000x1000] [--tools vorlan,linopy,poi,pyomo,pulp] [--repeat 1]

The peers come from requirements/bench.txt. Every measurement runs in its own process, so
"peak" is that process's high-water RSS and "build" is the peak minus the RSS just before the
timed step (the generated data and the imported library already in memory). Our timed step is
vorlan.solve.matrices(model text, data text, names=False): lexing, parsing, data binding and
checking, expansion into the flat instance and the solver arrays (objective, CSR matrix, row and
column bounds). linopy starts from numpy arrays already built and ends with its CSR matrix and
objective vector; pyoptinterface (poi) starts from the same arrays and ends with the model
loaded into HiGHS; Pyomo and PuLP start from Python dicts and end with their model objects.
None of the peers parses any text.
"""

import argparse
import json
import os
import random
import resource
import subprocess
import sys
import time

TRANSPORT = """
{string} W = ...;
{string} S = ...;
float supply[W] = ...;
float demand[S] = ...;
float cost[W][S] = ...;
dvar float+ ship[W][S];
minimize total: sum(w in W, s in S) cost[w][s] * ship[w][s];
subject to {
  forall(w in W) out: sum(s in S) ship[w][s] <= supply[w];
  forall(s in S) meet: sum(w in W) ship[w][s] == demand[s];
}
"""

FACILITY = """
{string} W = ...;
{string} R = ...;
float fixedCost[W] = ...;
float capacity[W] = ...;
float demand[R] = ...;
float shipCost[W][R] = ...;
dvar boolean open[W];
dvar float+ ship[W][R];
minimize total: sum(w in W) fixedCost[w] * open[w] + sum(w in W, r in R) shipCost[w][r] * ship[w][r];
subject to {
  forall(r in R) serve: sum(w in W) ship[w][r] == demand[r];
  forall(w in W) cap: sum(r in R) ship[w][r] <= capacity[w] * open[w];
}
"""


# ---------------------------------------------------------------- generated data


def transport(n):
    rng = random.Random(7 + n)
    W = [f"w{i}" for i in range(n)]
    S = [f"s{i}" for i in range(n)]
    demand = [rng.randint(10, 100) for _ in S]
    supply = [sum(demand) // n + 60 for _ in W]
    cost = [[rng.randint(1, 99) for _ in S] for _ in W]
    return {"W": W, "S": S, "supply": supply, "demand": demand, "cost": cost}


def facility(m, k):
    rng = random.Random(11 + m * k)
    W = [f"w{i}" for i in range(m)]
    R = [f"r{i}" for i in range(k)]
    demand = [rng.randint(5, 50) for _ in R]
    capacity = [sum(demand) * 3 // m for _ in W]
    fixed = [rng.randint(2000, 8000) for _ in W]
    ship = [[rng.randint(1, 60) for _ in R] for _ in W]
    return {"W": W, "R": R, "fixedCost": fixed, "capacity": capacity, "demand": demand, "shipCost": ship}


def data_text(d):
    def val(v):
        if isinstance(v, list):
            if v and isinstance(v[0], str):
                return "{" + ", ".join(json.dumps(x) for x in v) + "}"
            return "[" + ",\n".join(val(x) for x in v) + "]" if v and isinstance(v[0], list) \
                else "[" + ", ".join(str(x) for x in v) + "]"
        return str(v)
    return "".join(f"{k} = {val(v)};\n" for k, v in d.items())


def make_case(case):
    kind, size = case.split(":")
    a, b = (int(x) for x in size.split("x"))
    if kind == "transport":
        return TRANSPORT, transport(a)
    return FACILITY, facility(a, b)


# ---------------------------------------------------------------- the three builders


def build_vorlan(model, d):
    import numpy  # noqa: F401  (loaded before the step, as for the peers: the arrays are numpy's)
    import vorlan.solve as vs
    text = data_text(d)

    def step():
        return vs.matrices(model, text, names=False)
    return step


def arrays(d):
    """The data as numpy arrays: (W, J, per-W vector, per-J vector, W x J costs, fixed costs or None)."""
    import numpy as np
    if "cost" in d:
        return d["W"], d["S"], np.array(d["supply"], float), np.array(d["demand"], float), \
            np.array(d["cost"], float), None
    return d["W"], d["R"], np.array(d["capacity"], float), np.array(d["demand"], float), \
        np.array(d["shipCost"], float), np.array(d["fixedCost"], float)


def build_linopy(model, d):
    import linopy
    import pandas as pd
    import xarray as xr
    W, J, per_w, per_j, cost, fixed = arrays(d)

    def step():
        m = linopy.Model()
        wi, ji = pd.Index(W, name="w"), pd.Index(J, name="j")
        ship = m.add_variables(lower=0, coords=[wi, ji], name="ship")
        obj = (xr.DataArray(cost, coords=[wi, ji]) * ship).sum()
        if fixed is not None:
            opened = m.add_variables(coords=[wi], name="open", binary=True)
            obj = obj + (xr.DataArray(fixed, coords=[wi]) * opened).sum()
            m.add_constraints(ship.sum("w") == xr.DataArray(per_j, coords=[ji]), name="serve")
            m.add_constraints(ship.sum("j") - xr.DataArray(per_w, coords=[wi]) * opened <= 0, name="cap")
        else:
            m.add_constraints(ship.sum("j") <= xr.DataArray(per_w, coords=[wi]), name="out")
            m.add_constraints(ship.sum("w") == xr.DataArray(per_j, coords=[ji]), name="meet")
        m.add_objective(obj)
        return m.matrices.A, m.matrices.c
    return step


def build_poi(model, d):
    import pyoptinterface as poi
    from pyoptinterface import highs
    import glob
    import highspy
    # The HiGHS library that highspy (pinned in dev.txt) ships.
    shipped = sorted(glob.glob(os.path.join(os.path.dirname(highspy.__file__), "libhighs.so*")))
    if not any(highs.load_library(p) for p in shipped):
        raise RuntimeError("pyoptinterface found no HiGHS library in highspy")
    W, J, per_w, per_j, cost, fixed = arrays(d)
    per_w, per_j, cost = per_w.tolist(), per_j.tolist(), cost.tolist()
    fixed = None if fixed is None else fixed.tolist()

    def step():
        m = highs.Model()
        m.set_model_attribute(poi.ModelAttribute.Silent, True)
        n, k = len(W), len(J)
        ship = [[m.add_variable(lb=0.0) for _ in range(k)] for _ in range(n)]
        obj = poi.ExprBuilder()
        for i in range(n):
            row = ship[i]
            ci = cost[i]
            for j in range(k):
                obj.add_affine_term(row[j], ci[j])
        if fixed is not None:
            opened = [m.add_variable(domain=poi.VariableDomain.Binary) for _ in range(n)]
            for i in range(n):
                obj.add_affine_term(opened[i], fixed[i])
            for j in range(k):
                m.add_linear_constraint(poi.quicksum(ship[i][j] for i in range(n)), poi.Eq, per_j[j])
            for i in range(n):
                e = poi.quicksum(ship[i])
                e.add_affine_term(opened[i], -per_w[i])
                m.add_linear_constraint(e, poi.Leq, 0.0)
        else:
            for i in range(n):
                m.add_linear_constraint(poi.quicksum(ship[i]), poi.Leq, per_w[i])
            for j in range(k):
                m.add_linear_constraint(poi.quicksum(ship[i][j] for i in range(n)), poi.Eq, per_j[j])
        m.set_objective(obj, poi.ObjectiveSense.Minimize)
        return m
    return step


def build_pyomo(model, d):
    import pyomo.environ as pe
    transport_case = "cost" in d

    def step():
        m = pe.ConcreteModel()
        m.W = pe.Set(initialize=d["W"], ordered=True)
        other = d["S"] if transport_case else d["R"]
        m.J = pe.Set(initialize=other, ordered=True)
        W, J = d["W"], other
        if transport_case:
            cost = {(w, s): d["cost"][i][j] for i, w in enumerate(W) for j, s in enumerate(J)}
            supply = dict(zip(W, d["supply"]))
            demand = dict(zip(J, d["demand"]))
            m.ship = pe.Var(m.W, m.J, domain=pe.NonNegativeReals)
            m.total = pe.Objective(expr=sum(cost[w, s] * m.ship[w, s] for w in W for s in J),
                                   sense=pe.minimize)
            m.out = pe.Constraint(m.W, rule=lambda m, w: sum(m.ship[w, s] for s in J) <= supply[w])
            m.meet = pe.Constraint(m.J, rule=lambda m, s: sum(m.ship[w, s] for w in W) == demand[s])
        else:
            cost = {(w, r): d["shipCost"][i][j] for i, w in enumerate(W) for j, r in enumerate(J)}
            fixed = dict(zip(W, d["fixedCost"]))
            cap = dict(zip(W, d["capacity"]))
            demand = dict(zip(J, d["demand"]))
            m.open = pe.Var(m.W, domain=pe.Binary)
            m.ship = pe.Var(m.W, m.J, domain=pe.NonNegativeReals)
            m.total = pe.Objective(expr=sum(fixed[w] * m.open[w] for w in W)
                                   + sum(cost[w, r] * m.ship[w, r] for w in W for r in J), sense=pe.minimize)
            m.serve = pe.Constraint(m.J, rule=lambda m, r: sum(m.ship[w, r] for w in W) == demand[r])
            m.cap = pe.Constraint(m.W, rule=lambda m, w: sum(m.ship[w, r] for r in J) <= cap[w] * m.open[w])
        return m
    return step


def build_pulp(model, d):
    import pulp
    transport_case = "cost" in d

    def step():
        p = pulp.LpProblem("bench", pulp.LpMinimize)
        W = d["W"]
        J = d["S"] if transport_case else d["R"]
        ship = pulp.LpVariable.dicts("ship", (W, J), lowBound=0)
        if transport_case:
            p += pulp.lpSum(d["cost"][i][j] * ship[w][s] for i, w in enumerate(W) for j, s in enumerate(J))
            for i, w in enumerate(W):
                p += pulp.lpSum(ship[w][s] for s in J) <= d["supply"][i], f"out_{w}"
            for j, s in enumerate(J):
                p += pulp.lpSum(ship[w][s] for w in W) == d["demand"][j], f"meet_{s}"
        else:
            opened = pulp.LpVariable.dicts("open", W, cat="Binary")
            p += pulp.lpSum(d["fixedCost"][i] * opened[w] for i, w in enumerate(W)) + pulp.lpSum(
                d["shipCost"][i][j] * ship[w][r] for i, w in enumerate(W) for j, r in enumerate(J))
            for j, r in enumerate(J):
                p += pulp.lpSum(ship[w][r] for w in W) == d["demand"][j], f"serve_{r}"
            for i, w in enumerate(W):
                p += pulp.lpSum(ship[w][r] for r in J) <= d["capacity"][i] * opened[w], f"cap_{w}"
        return p
    return step


BUILDERS = {"vorlan": build_vorlan, "linopy": build_linopy, "poi": build_poi, "pyomo": build_pyomo,
            "pulp": build_pulp}


def rss_mb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def child(tool, case):
    model, d = make_case(case)
    step = BUILDERS[tool](model, d)
    before = rss_mb()
    r0 = resource.getrusage(resource.RUSAGE_SELF)
    t0 = time.perf_counter()
    built = step()  # kept alive: tearing the model down is not part of building it
    seconds = time.perf_counter() - t0
    r1 = resource.getrusage(resource.RUSAGE_SELF)
    cpu = r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime
    peak = r1.ru_maxrss / 1024
    print(json.dumps({"seconds": seconds, "cpu": cpu, "peak_mb": peak, "build_mb": max(0.0, peak - before)}))
    sys.stdout.flush()
    os._exit(0 if built is not None else 1)  # skip the teardown of a large model


# ---------------------------------------------------------------- driver


def measure(tool, case, repeat):
    best = None
    for _ in range(repeat):
        out = subprocess.run([sys.executable, __file__, "--child", tool, case],
                             capture_output=True, text=True)
        if out.returncode != 0:
            tail = (out.stderr.strip().splitlines() or ["no output"])[-1]
            return {"error": tail}
        r = json.loads(out.stdout.strip().splitlines()[-1])
        if best is None or r["seconds"] < best["seconds"]:
            best = r
    return best


def cell(r):
    if r is None:
        return f"{'-':>25}"
    if "error" in r:
        return f"{'failed':>25}"
    return f"{r['seconds']:7.3f}s {r['cpu']:7.3f}s {r['build_mb']:6.0f}MB"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sizes", default="100,300,1000", help="transportation sizes n (n x n)")
    ap.add_argument("--facility", default="1000x1000", help="facilities x customers, '' to skip")
    ap.add_argument("--tools", default="vorlan,linopy,poi,pyomo,pulp")
    ap.add_argument("--repeat", type=int, default=1, help="runs per cell; the fastest is kept")
    ap.add_argument("--child", nargs=2, metavar=("TOOL", "CASE"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        child(*args.child)
        return
    tools = [t for t in args.tools.split(",") if t]
    for t in tools:
        if t not in BUILDERS:
            ap.error(f"unknown tool {t!r}; choose from {', '.join(BUILDERS)}")
    cases = [(f"transport:{n}x{n}", f"transportation {n}x{n}", 2 * n * n + n * n)
             for n in (int(s) for s in args.sizes.split(",") if s)]
    if args.facility:
        m, k = (int(x) for x in args.facility.split("x"))
        cases.append((f"facility:{m}x{k}", f"facility {m}x{k} (MILP)", 3 * m * k + 2 * m))

    head = f"{'case':<26} {'nonzeros':>9} " + " ".join(f"{t + ' time/cpu/build mem':>25}" for t in tools)
    ratios = [t for t in tools if t != "vorlan"] if "vorlan" in tools else []
    head += "".join(f" {'vs ' + t:>12}" for t in ratios)
    print(head, flush=True)
    failures = []
    for case, label, nz in cases:
        results = {}
        for t in tools:
            results[t] = measure(t, case, args.repeat)
            if "error" in results[t]:
                failures.append(f"{t} on {label}: {results[t]['error']}")
        line = f"{label:<26} {nz:>9} " + " ".join(cell(results[t]) for t in tools)
        ours = results.get("vorlan")
        for t in ratios:
            r = results[t]
            if ours and "error" not in ours and "error" not in r:
                line += f" {r['seconds'] / ours['seconds']:6.1f}x/{r['build_mb'] / max(ours['build_mb'], 1):4.1f}x"
            else:
                line += f" {'-':>12}"
        print(line, flush=True)
    print("\nnonzeros count the objective and constraint coefficients; time is wall-clock (the fastest of "
          "--repeat runs), cpu the process's user + system time in that run (all threads); 'vs' = their time / "
          "ours, their build memory / ours.", flush=True)
    print(f"load average at the end: {' '.join(f'{x:.2f}' for x in os.getloadavg())} on {os.cpu_count()} cores",
          flush=True)
    for f in failures:
        print("failed:", f, file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
