#!/usr/bin/env python3
"""Solve every example of the qel_models tree with an independent formulation.

Each example's model is written a second time here in Python (a small linear-expression
helper over scipy.optimize.milp / HiGHS); the data are read from the example's own .dat file,
so the two formulations share the instance but not the modelling. The optimal objective is
compared with (or, with --write, written to) the example's solution.json.

    .venv/bin/python scripts/solve_examples.py [--write] [name ...]
"""
from __future__ import annotations

import json
import math
import re
import sys
from pathlib import Path

import numpy as np
from scipy.optimize import Bounds, LinearConstraint, milp
from scipy.sparse import lil_matrix

ROOT = Path(__file__).resolve().parent.parent / "src" / "vorlan" / "qel_models"
INF = math.inf

# --------------------------------------------------------------------------- data files

_TOKEN = re.compile(
    r"\s+|//[^\n]*|/\*.*?\*/|(?P<tok>#\[|\]#|\"(?:[^\"\\]|\\.)*\"|"
    r"-?(?:\d+\.\d*|\.\d+|\d+)(?:[eE][-+]?\d+)?|-?infinity|maxint|[A-Za-z_][A-Za-z0-9_]*|[{}\[\]<>:,;=])",
    re.S,
)


def _tokens(text: str) -> list[str]:
    out, pos = [], 0
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        if not m:
            raise ValueError(f"bad data text at {text[pos:pos + 20]!r}")
        if m.group("tok"):
            out.append(m.group("tok"))
        pos = m.end()
    return out


def parse_dat(text: str) -> dict:
    """Data file -> {name: value}; sets and arrays become lists, tuples tuples, keyed arrays dicts."""
    toks, i = _tokens(text), 0

    def value():
        nonlocal i
        t = toks[i]
        i += 1
        if t in ("{", "[", "<", "#["):
            close = {"{": "}", "[": "]", "<": ">", "#[": "]#"}[t]
            items = []
            while toks[i] != close:
                if toks[i] == ",":
                    i += 1
                    continue
                k = value()
                if t == "#[":
                    assert toks[i] == ":", toks[i]
                    i += 1
                    items.append((k, value()))
                else:
                    items.append(k)
            i += 1
            return dict(items) if t == "#[" else tuple(items) if t == "<" else items
        if t.startswith('"'):
            return bytes(t[1:-1], "utf-8").decode("unicode_escape")
        if t in ("infinity", "-infinity"):
            return -INF if t[0] == "-" else INF
        if t == "maxint":
            return 2**63 - 1
        if re.fullmatch(r"-?\d+", t):
            return int(t)
        if re.fullmatch(r"[A-Za-z_]\w*", t):
            return t
        return float(t)

    data = {}
    while i < len(toks):
        name = toks[i]
        assert toks[i + 1] == "=", (name, toks[i + 1])
        i += 2
        data[name] = value()
        assert toks[i] == ";", (name, toks[i])
        i += 1
    return data


# --------------------------------------------------------------------------- linear models


class Lin:
    """A linear expression: {variable index: coefficient} plus a constant."""

    __slots__ = ("c", "k")

    def __init__(self, c=None, k=0.0):
        self.c, self.k = dict(c or {}), float(k)

    def _combine(self, o, s):
        r = Lin(self.c, self.k)
        if isinstance(o, Lin):
            for v, a in o.c.items():
                r.c[v] = r.c.get(v, 0.0) + s * a
            r.k += s * o.k
        else:
            r.k += s * o
        return r

    def __add__(self, o): return self._combine(o, 1.0)
    __radd__ = __add__
    def __sub__(self, o): return self._combine(o, -1.0)
    def __rsub__(self, o): return (-1.0 * self)._combine(o, 1.0)
    def __neg__(self): return -1.0 * self

    def __mul__(self, a):
        assert not isinstance(a, Lin), "non-linear"
        return Lin({v: a * x for v, x in self.c.items()}, a * self.k)
    __rmul__ = __mul__

    def __le__(self, o): return ("le", self - o)
    def __ge__(self, o): return ("ge", self - o)
    def __eq__(self, o): return ("eq", self - o)
    __hash__ = None


def lsum(items) -> Lin:
    r = Lin()
    for e in items:
        r = r + e
    return r


class Model:
    def __init__(self):
        self.lb, self.ub, self.integ, self.rows = [], [], [], []
        self.obj, self.sense = Lin(), "minimize"

    def var(self, lb=0.0, ub=INF, integer=False) -> Lin:
        self.lb.append(lb); self.ub.append(ub); self.integ.append(1 if integer else 0)
        return Lin({len(self.lb) - 1: 1.0})

    def bin(self) -> Lin:
        return self.var(0, 1, True)

    def st(self, con):
        kind, e = con
        lo, hi = {"le": (-INF, -e.k), "ge": (-e.k, INF), "eq": (-e.k, -e.k)}[kind]
        self.rows.append((e.c, lo, hi))

    def range(self, lo, e: Lin, hi):
        self.rows.append((e.c, lo - e.k, hi - e.k))

    def minimize(self, e): self.obj, self.sense = Lin() + e, "minimize"
    def maximize(self, e): self.obj, self.sense = Lin() + e, "maximize"

    def solve(self) -> float:
        n = len(self.lb)
        c = np.zeros(n)
        for v, a in self.obj.c.items():
            c[v] = a
        sign = -1.0 if self.sense == "maximize" else 1.0
        cons = []
        if self.rows:
            A = lil_matrix((len(self.rows), n))
            for r, (coefs, _, _) in enumerate(self.rows):
                for v, a in coefs.items():
                    A[r, v] = a
            cons = [LinearConstraint(A.tocsr(), [r[1] for r in self.rows], [r[2] for r in self.rows])]
        res = milp(sign * c, constraints=cons, integrality=np.array(self.integ),
                   bounds=Bounds(self.lb, self.ub),
                   options={"mip_rel_gap": 1e-12, "presolve": True})
        if res.status != 0:
            raise RuntimeError(f"solver status {res.status}: {res.message}")
        return float(c @ res.x + self.obj.k)


def by(keys, values):
    """Positional array -> dict keyed by the index set."""
    assert len(keys) == len(values), (keys, values)
    return dict(zip(keys, values))


def by2(k1, k2, rows):
    assert len(rows) == len(k1)
    return {(a, b): v for a, row in zip(k1, rows) for b, v in zip(k2, by(k2, row).values())}


EXAMPLES = {}


def main(argv: list[str]) -> int:
    write = "--write" in argv
    names = [a for a in argv if not a.startswith("--")] or sorted(EXAMPLES)
    bad = 0
    for name in names:
        folder = ROOT / name
        dat = next(folder.glob("*.dat"))
        obj, sense, *goals = EXAMPLES[name](parse_dat(dat.read_text(encoding="utf-8")))
        obj = _tidy(obj)
        record = {"objective": obj, "sense": sense}
        if goals:  # lexicographic: every goal's value in priority order
            record = {"objective": obj, "objectives": [_tidy(g) for g in goals[0]], "sense": sense}
        sol = folder / "solution.json"
        if write:
            sol.write_text(json.dumps(record) + "\n", encoding="utf-8")
            print(f"{name:28s} {sense:9s} {record.get('objectives', obj)}")
            continue
        rec = json.loads(sol.read_text(encoding="utf-8"))
        ok = rec["sense"] == sense and set(rec) == set(record) and all(
            math.isclose(a, b, rel_tol=1e-6, abs_tol=1e-6)
            for a, b in zip([rec["objective"], *rec.get("objectives", [])], [obj, *record.get("objectives", [])]))
        bad += not ok
        print(f"{name:28s} {sense:9s} {obj} {'ok' if ok else 'MISMATCH: recorded ' + str(rec)}")
    missing = sorted(p.name for p in ROOT.iterdir() if p.is_dir() and p.name not in EXAMPLES)
    if missing:
        print("no formulation for:", ", ".join(missing))
        bad += len(missing)
    return 1 if bad else 0


def _tidy(value: float) -> float | int:
    value = round(value, 9) + 0.0
    return int(round(value)) if abs(value - round(value)) < 1e-6 else value


def example(fn):
    EXAMPLES[fn.__name__] = fn
    return fn


# --------------------------------------------------------------------------- the examples


@example
def product_mix(d):
    m, P, R = Model(), d["Products"], d["Resources"]
    use = by2(R, P, d["use"])
    cap, prof, ms = by(R, d["available"]), by(P, d["profit"]), by(P, d["maxSales"])
    x = {p: m.var(0, ms[p]) for p in P}
    for r in R:
        m.st(lsum(use[r, p] * x[p] for p in P) <= cap[r])
    m.maximize(lsum(prof[p] * x[p] for p in P))
    return m.solve(), m.sense


@example
def diet(d):
    m, F, N = Model(), d["Foods"], d["Nutrients"]
    cost, mx = by(F, d["cost"]), by(F, d["maxServings"])
    cont, need = by2(F, N, d["content"]), d["minIntake"]
    x = {f: m.var(0, mx[f]) for f in F}
    for n in N:
        m.st(lsum(cont[f, n] * x[f] for f in F) >= need[n])
    m.minimize(lsum(cost[f] * x[f] for f in F))
    return m.solve(), m.sense


@example
def blending(d):
    m, C, G = Model(), d["Crudes"], d["Grades"]
    cc, av, oc, su = (by(C, d[k]) for k in ("crudeCost", "crudeAvail", "octane", "sulfur"))
    pr, mo, ms, lo, hi = (by(G, d[k]) for k in ("price", "minOctane", "maxSulfur", "minDemand", "maxDemand"))
    b = {(c, g): m.var() for c in C for g in G}
    prod = {g: lsum(b[c, g] for c in C) for g in G}
    for c in C:
        m.st(lsum(b[c, g] for g in G) <= av[c])
    for g in G:
        m.range(lo[g], prod[g], hi[g])
        m.st(lsum(oc[c] * b[c, g] for c in C) >= mo[g] * prod[g])
        m.st(lsum(su[c] * b[c, g] for c in C) <= ms[g] * prod[g])
    m.maximize(lsum(pr[g] * prod[g] for g in G) - lsum(cc[c] * b[c, g] for c in C for g in G))
    return m.solve(), m.sense


@example
def transportation(d):
    m, W, S = Model(), d["Warehouses"], d["Stores"]
    sup, dem, cost = by(W, d["supply"]), by(S, d["demand"]), by2(W, S, d["cost"])
    x = {(w, s): m.var() for w in W for s in S}
    for w in W:
        m.st(lsum(x[w, s] for s in S) <= sup[w])
    for s in S:
        m.st(lsum(x[w, s] for w in W) == dem[s])
    m.minimize(lsum(cost[k] * x[k] for k in x))
    return m.solve(), m.sense


@example
def transshipment(d):
    m, N, A, net = Model(), d["Nodes"], d["Arcs"], d["netSupply"]
    f = {a: m.var(0, a[3]) for a in A}
    for n in N:
        m.st(lsum(f[a] for a in A if a[0] == n) - lsum(f[a] for a in A if a[1] == n) <= net[n])
    m.minimize(lsum(a[2] * f[a] for a in A))
    return m.solve(), m.sense


@example
def assignment(d):
    m, T, D = Model(), d["Translators"], d["Documents"]
    h = by2(T, D, d["hours"])
    x = {k: m.bin() for k in h}
    for t in T:
        m.st(lsum(x[t, j] for j in D) == 1)
    for j in D:
        m.st(lsum(x[t, j] for t in T) == 1)
    m.minimize(lsum(h[k] * x[k] for k in h))
    return m.solve(), m.sense


@example
def knapsack(d):
    m, I = Model(), d["Items"]
    x = {i: m.bin() for i in I}
    m.st(lsum(i[1] * x[i] for i in I) <= d["capacity"])
    m.maximize(lsum(i[2] * x[i] for i in I))
    return m.solve(), m.sense


@example
def bin_packing(d):
    m, I, B = Model(), range(1, d["nbItems"] + 1), range(1, d["nbBins"] + 1)
    size = by(list(I), d["size"])
    x = {(i, b): m.bin() for i in I for b in B}
    u = {b: m.bin() for b in B}
    for i in I:
        m.st(lsum(x[i, b] for b in B) == 1)
    for b in B:
        m.st(lsum(size[i] * x[i, b] for i in I) <= d["capacity"] * u[b])
        if b > 1:
            m.st(u[b] <= u[b - 1])
    m.minimize(lsum(u.values()))
    return m.solve(), m.sense


@example
def set_cover(d):
    m, S = Model(), d["Sites"]
    cost, reach = by(S, d["buildCost"]), by(S, d["reaches"])
    x = {s: m.bin() for s in S}
    for k in range(1, d["nbDistricts"] + 1):
        m.st(lsum(x[s] for s in S if k in reach[s]) >= 1)
    m.minimize(lsum(cost[s] * x[s] for s in S))
    return m.solve(), m.sense


@example
def facility_location(d):
    m, W, R = Model(), d["Warehouses"], d["Regions"]
    fc, cap, dem = by(W, d["fixedCost"]), by(W, d["capacity"]), by(R, d["demand"])
    sc = by2(W, R, d["shipCost"])
    o = {w: m.bin() for w in W}
    x = {k: m.var() for k in sc}
    for r in R:
        m.st(lsum(x[w, r] for w in W) == dem[r])
    for w in W:
        m.st(lsum(x[w, r] for r in R) <= cap[w] * o[w])
        for r in R:
            m.st(x[w, r] <= dem[r] * o[w])
    m.minimize(lsum(fc[w] * o[w] for w in W) + lsum(sc[k] * x[k] for k in sc))
    return m.solve(), m.sense


@example
def production_planning(d):
    m, P, T = Model(), d["Products"], list(range(1, d["nbPeriods"] + 1))
    dem = by2(P, T, d["demand"])
    hpu, uc, hc = by(P, d["hoursPerUnit"]), by(P, d["unitCost"]), by(P, d["holdCost"])
    ha, init, fin = by(T, d["hoursAvail"]), by(P, d["initStock"]), by(P, d["finalStock"])
    mk = {(p, t): m.var() for p in P for t in T}
    st = {(p, t): m.var() for p in P for t in [0] + T}
    for p in P:
        m.st(st[p, 0] == init[p])
        m.st(st[p, T[-1]] >= fin[p])
        for t in T:
            m.st(st[p, t - 1] + mk[p, t] - dem[p, t] == st[p, t])
    for t in T:
        m.st(lsum(hpu[p] * mk[p, t] for p in P) <= ha[t])
        m.st(lsum(st[p, t] for p in P) <= d["storageCap"])
    m.minimize(lsum(uc[p] * mk[p, t] for p, t in mk) + lsum(hc[p] * st[p, t] for p in P for t in T))
    return m.solve(), m.sense


@example
def workforce_scheduling(d):
    m, n, L = Model(), d["nbDays"], d["shiftLength"]
    D = list(range(1, n + 1))
    req = by(D, d["required"])
    s = {k: m.var(0, INF, True) for k in D}
    for day in D:
        m.st(lsum(s[(day - k - 1 + n) % n + 1] for k in range(L)) >= req[day])
    m.minimize(lsum(s.values()))
    return m.solve(), m.sense


@example
def cutting_stock(d):
    m, W, P = Model(), d["Widths"], list(range(1, d["nbPatterns"] + 1))
    dem, fill = by(W, d["demand"]), by2(P, W, d["fill"])
    for p in P:
        assert sum(w * fill[p, w] for w in W) <= d["rollWidth"]
    x = {p: m.var(0, INF, True) for p in P}
    for w in W:
        m.st(lsum(fill[p, w] * x[p] for p in P) >= dem[w])
    m.minimize(lsum(x.values()))
    return m.solve(), m.sense


@example
def min_cost_flow(d):
    m, A = Model(), d["Pipes"]
    N = list(range(1, d["nbNodes"] + 1))
    sup = by(N, d["supply"])
    f = {a: m.var(0, a[3]) for a in A}
    for n in N:
        m.st(lsum(f[a] for a in A if a[0] == n) - lsum(f[a] for a in A if a[1] == n) == sup[n])
    m.minimize(lsum(a[2] * f[a] for a in A))
    return m.solve(), m.sense


@example
def shortest_path(d):
    m, N, S = Model(), d["Nodes"], d["Streets"]
    u = {s: m.var(0, 1) for s in S}
    for n in N:
        net = 1 if n == d["source"] else -1 if n == d["target"] else 0
        m.st(lsum(u[s] for s in S if s[0] == n) - lsum(u[s] for s in S if s[1] == n) == net)
    m.minimize(lsum(s[2] * u[s] for s in S))
    return m.solve(), m.sense


@example
def max_flow(d):
    m, N, R, src, snk = Model(), d["Nodes"], d["Roads"], d["source"], d["sink"]
    f = {r: m.var(0, r[2]) for r in R}
    for n in N:
        if n not in (src, snk):
            m.st(lsum(f[r] for r in R if r[1] == n) == lsum(f[r] for r in R if r[0] == n))
    m.maximize(lsum(f[r] for r in R if r[0] == src) - lsum(f[r] for r in R if r[1] == src))
    return m.solve(), m.sense


@example
def cash_planning(d):
    m, T = Model(), d["nbMonths"]
    M = list(range(1, T + 1))
    flow = by(M, d["netFlow"])
    cash = {t: m.var() for t in range(T + 1)}
    cred = {t: m.var(0, d["creditLimit"]) for t in range(T + 1)}
    term = m.var(0, d["termLimit"])
    m.st(cash[0] == d["initialCash"])
    m.st(cred[0] == 0)
    m.st(cred[T] == 0)
    for t in M:
        t_in = 1 if t == 1 else 0
        t_out = (d["termRate"] if t > 1 else 0) + (1 if t == T else 0)
        m.st(cash[t] == (1 + d["depositRate"]) * cash[t - 1] + flow[t] + cred[t]
             - (1 + d["creditRate"]) * cred[t - 1] + t_in * term - t_out * term)
        m.st(cash[t] >= d["minBalance"])
    m.maximize(cash[T])
    return m.solve(), m.sense


@example
def capital_budgeting(d):
    m, P, Y = Model(), d["Projects"], list(range(1, d["nbYears"] + 1))
    npv, cap, bud = by(P, d["npv"]), by2(P, Y, d["capital"]), by(Y, d["budget"])
    x = {p: m.bin() for p in P}
    for y in Y:
        m.st(lsum(cap[p, y] * x[p] for p in P) <= bud[y])
    for a, b in d["Requires"]:
        m.st(x[a] <= x[b])
    for a, b in d["Exclusive"]:
        m.st(x[a] + x[b] <= 1)
    m.maximize(lsum(npv[p] * x[p] for p in P))
    return m.solve(), m.sense


@example
def unit_commitment(d):
    m, U, H = Model(), d["Units"], list(range(1, d["nbHours"] + 1))
    dem = by(H, d["demand"])
    mn, mx, ec, nl, sc, ini = (by(U, d[k]) for k in
                               ("minOut", "maxOut", "energyCost", "noLoadCost", "startCost", "initiallyOn"))
    on = {(u, h): m.bin() for u in U for h in H}
    su = {(u, h): m.bin() for u in U for h in H}
    p = {(u, h): m.var() for u in U for h in H}
    for h in H:
        m.st(lsum(p[u, h] for u in U) == dem[h])
        m.st(lsum(mx[u] * on[u, h] for u in U) >= (1 + d["reserve"]) * dem[h])
    for u in U:
        for h in H:
            m.st(p[u, h] >= mn[u] * on[u, h])
            m.st(p[u, h] <= mx[u] * on[u, h])
            prev = on[u, h - 1] if h > 1 else ini[u]
            m.st(su[u, h] >= on[u, h] - prev)
    m.minimize(lsum(ec[u] * p[u, h] + nl[u] * on[u, h] + sc[u] * su[u, h] for u in U for h in H))
    return m.solve(), m.sense


@example
def vehicle_loading(d):
    m, O, K = Model(), d["Orders"], d["Trucks"]
    w, v, r = by(O, d["weight"]), by(O, d["volume"]), by(O, d["revenue"])
    mw, mv, tc = by(K, d["maxWeight"]), by(K, d["maxVolume"]), by(K, d["truckCost"])
    x = {(o, k): m.bin() for o in O for k in K}
    u = {k: m.bin() for k in K}
    for o in O:
        m.st(lsum(x[o, k] for k in K) <= 1)
    for k in K:
        m.st(lsum(w[o] * x[o, k] for o in O) <= mw[k] * u[k])
        m.st(lsum(v[o] * x[o, k] for o in O) <= mv[k] * u[k])
    for a, b in d["SameTruck"]:
        for k in K:
            m.st(x[a, k] == x[b, k])
    m.maximize(lsum(r[o] * x[o, k] for o, k in x) - lsum(tc[k] * u[k] for k in K))
    return m.solve(), m.sense


@example
def crop_planning(d):
    m, C = Model(), d["Crops"]
    y, sp, bp, pc, lab, feed, quota = (by(C, d[k]) for k in
                                       ("yield", "sellPrice", "buyPrice", "plantCost", "labor", "feedNeed", "salesQuota"))
    a = {c: m.var() for c in C}
    s = {c: m.var(0, quota[c]) for c in C}
    b = {c: m.var() for c in C}
    m.st(lsum(a.values()) <= d["land"])
    m.st(lsum(lab[c] * a[c] for c in C) <= d["laborHours"])
    for c in C:
        m.st(y[c] * a[c] + b[c] - s[c] >= feed[c])
        if bp[c] == 0:
            m.st(b[c] == 0)
    m.maximize(lsum(sp[c] * s[c] - bp[c] * b[c] - pc[c] * a[c] for c in C))
    return m.solve(), m.sense


@example
def staff_rostering(d):
    m, N, S, D = Model(), d["Nurses"], d["Shifts"], list(range(1, d["nbDays"] + 1))
    req, pen = by2(D, S, d["required"]), {(n, s): v for n, row in d["penalty"].items() for s, v in by(S, row).items()}
    x = {(n, dd, s): m.bin() for n in N for dd in D for s in S}
    for dd in D:
        for s in S:
            m.st(lsum(x[n, dd, s] for n in N) >= req[dd, s])
    for n in N:
        for dd in D:
            m.st(lsum(x[n, dd, s] for s in S) <= 1)
        m.st(lsum(x[n, dd, s] for dd in D for s in S) <= d["maxShifts"])
    for n, dd in d["Unavailable"]:
        for s in S:
            m.st(x[n, dd, s] == 0)
    for n in N:
        for a, b in d["Forbidden"]:
            for dd in D[:-1]:
                m.st(x[n, dd, a] + x[n, dd + 1, b] <= 1)
    m.minimize(lsum(pen[n, s] * x[n, dd, s] for n, dd, s in x))
    return m.solve(), m.sense


@example
def multicommodity_flow(d):
    m, N, T, K = Model(), d["Nodes"], d["Tracks"], d["Commodities"]
    f = {(k, t): m.var() for k in K for t in T}
    for k in K:
        for n in N:
            net = k[3] if n == k[1] else -k[3] if n == k[2] else 0
            m.st(lsum(f[k, t] for t in T if t[0] == n) - lsum(f[k, t] for t in T if t[1] == n) == net)
    for t in T:
        m.st(lsum(f[k, t] for k in K) <= t[3])
    m.minimize(lsum(t[2] * f[k, t] for k, t in f))
    return m.solve(), m.sense


@example
def lot_sizing(d):
    m, n = Model(), d["nbWeeks"]
    W = list(range(1, n + 1))
    dem = by(W, d["demand"])
    run = {w: m.bin() for w in W}
    pr = {w: m.var() for w in W}
    st = {w: m.var() for w in range(n + 1)}
    m.st(st[0] == d["initialStock"])
    for w in W:
        m.st(st[w - 1] + pr[w] == dem[w] + st[w])
        m.st(pr[w] <= d["capacity"] * run[w])
    m.minimize(lsum(d["setupCost"] * run[w] + d["unitCost"] * pr[w] + d["holdCost"] * st[w] for w in W))
    return m.solve(), m.sense


@example
def network_design(d):
    m, N, L, dem = Model(), d["Nodes"], d["Links"], d["demand"]
    b = {l: m.bin() for l in L}
    f = {l: m.var() for l in L}
    for n in N:
        m.st(lsum(f[l] for l in L if l[1] == n) - lsum(f[l] for l in L if l[0] == n) == dem[n])
    for l in L:
        m.st(f[l] <= l[4] * b[l])
    m.minimize(lsum(l[2] * b[l] + l[3] * f[l] for l in L))
    return m.solve(), m.sense


@example
def machine_scheduling(d):
    m, J, M = Model(), d["Jobs"], range(1, d["nbMachines"] + 1)
    dur = by(J, d["duration"])
    x = {(j, k): m.bin() for j in J for k in M}
    cmax = m.var()
    for j in J:
        m.st(lsum(x[j, k] for k in M) == 1)
    for k in M:
        m.st(lsum(dur[j] * x[j, k] for j in J) <= cmax)
    m.minimize(cmax)
    return m.solve(), m.sense


@example
def project_crashing(d):
    m, A = Model(), d["Activities"]
    nd, md, cc = by(A, d["normalDays"]), by(A, d["minDays"]), by(A, d["crashCost"])
    s = {a: m.var() for a in A}
    c = {a: m.var(0, nd[a] - md[a]) for a in A}
    dur = {a: nd[a] - c[a] for a in A}
    for b, a in d["Precedences"]:
        m.st(s[a] >= s[b] + dur[b])
    for a in A:
        m.st(s[a] + dur[a] <= d["deadline"])
    m.minimize(lsum(cc[a] * c[a] for a in A))
    return m.solve(), m.sense


@example
def traveling_salesman(d):
    n = d["nbCities"]
    m, C = Model(), list(range(1, n + 1))
    dist = by2(C, C, d["dist"])
    x = {(i, j): m.bin() for i in C for j in C}
    u = {i: m.var(1, n - 1) for i in C}
    for i in C:
        m.st(x[i, i] == 0)
        m.st(lsum(x[i, j] for j in C if j != i) == 1)
        m.st(lsum(x[j, i] for j in C if j != i) == 1)
    for i in C:
        for j in C:
            if i != j and i > 1 and j > 1:
                m.st(u[i] - u[j] + n * x[i, j] <= n - 1)
    m.minimize(lsum(dist[i, j] * x[i, j] for i in C for j in C if i != j))
    return m.solve(), m.sense


@example
def graph_coloring(d):
    m, C, S = Model(), d["Courses"], list(range(1, d["maxSlots"] + 1))
    x = {(c, s): m.bin() for c in C for s in S}
    u = {s: m.bin() for s in S}
    for c in C:
        m.st(lsum(x[c, s] for s in S) == 1)
    for a, b in d["Conflicts"]:
        for s in S:
            m.st(x[a, s] + x[b, s] <= u[s])
    for s in S[1:]:
        m.st(u[s] <= u[s - 1])
    m.minimize(lsum(u.values()))
    return m.solve(), m.sense


@example
def media_selection(d):
    m, M = Model(), d["Media"]
    cost, reach, mx, mn, share = (by(M, d[k]) for k in ("cost", "reach", "maxAds", "minAds", "maxShare"))
    a = {k: m.var(mn[k], mx[k], True) for k in M}
    m.st(lsum(cost[k] * a[k] for k in M) <= d["budget"])
    for k in M:
        if share[k] < 1:
            m.st(cost[k] * a[k] <= share[k] * d["budget"])
    m.maximize(lsum(reach[k] * a[k] for k in M))
    return m.solve(), m.sense


@example
def portfolio_allocation(d):
    m, A, B = Model(), d["Assets"], d["budget"]
    R = list(dict.fromkeys(a[1] for a in A))
    x = {a: m.var() for a in A}
    m.st(lsum(x.values()) == B)
    for a in A:
        m.st(x[a] <= d["maxPerAsset"] * B)
    for r in R:
        m.range(d["minShare"][r] * B, lsum(x[a] for a in A if a[1] == r), d["maxShare"][r] * B)
    m.st(lsum(x[a] for a in A if a[0] == "corporate bonds") >= lsum(x[a] for a in A if a[0] == "growth stocks"))
    m.maximize(lsum(a[2] * x[a] for a in A))
    return m.solve(), m.sense


@example
def aggregate_planning(d):
    m, T = Model(), d["nbMonths"]
    M = list(range(1, T + 1))
    dem = by(M, d["demand"])
    w = {t: m.var(0, INF, True) for t in range(T + 1)}
    h = {t: m.var(0, INF, True) for t in M}
    f = {t: m.var(0, INF, True) for t in M}
    o = {t: m.var() for t in M}
    s = {t: m.var() for t in range(T + 1)}
    m.st(w[0] == d["initialWorkers"])
    m.st(s[0] == d["initialStock"])
    m.st(s[T] >= d["finalStock"])
    for t in M:
        m.st(w[t] == w[t - 1] + h[t] - f[t])
        m.st(s[t] == s[t - 1] + d["unitsPerWorker"] * w[t] + o[t] - dem[t])
        m.st(o[t] <= d["maxOvertimePerWorker"] * w[t])
    m.minimize(lsum(d["wage"] * w[t] + d["hireCost"] * h[t] + d["fireCost"] * f[t]
                    + d["overtimeCost"] * o[t] + d["holdCost"] * s[t] for t in M))
    return m.solve(), m.sense


def _load_everyday() -> None:
    """The short everyday word problems are formulated in everyday_formulations.py beside this
    file, the goal programmes and the later additions in goal_formulations.py."""
    from importlib.util import module_from_spec, spec_from_file_location

    for name in ("everyday_formulations", "goal_formulations"):
        found = spec_from_file_location(name, Path(__file__).with_name(name + ".py"))
        mod = module_from_spec(found)
        found.loader.exec_module(mod)
        mod.use({"Model": Model, "lsum": lsum, "by": by, "by2": by2, "INF": INF})
        EXAMPLES.update(mod.FORMULATIONS)


_load_everyday()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
