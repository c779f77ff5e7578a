"""Second formulations of the examples with goals in priority order, an undirected network,
generated cutting patterns and a lagged stock balance.

Loaded by solve_examples.py like everyday_formulations.py, which hands over its modelling
helpers with use(). The goal programmes are small
enough to enumerate: every plan is listed and the best one taken by comparing the goals'
values as tuples, which is what a lexicographic objective means. Each function returns
(value of the first goal, sense) and, for several goals, the list of every goal's value.
"""
from itertools import product

Model = lsum = by = INF = None  # set by use()


def use(helpers: dict) -> None:
    globals().update(helpers)


def best_by_priority(plans):
    """(first goal, 'minimize', all goals) of the plan whose goal tuple is smallest."""
    goals = min(plans)
    return goals[0], "minimize", list(goals)


def blood_drive_goals(d):
    V = d["Venues"]
    units, hours, cost, most = (by(V, d[k]) for k in ("units", "hours", "cost", "maxDrives"))
    plans = []
    for n in product(*(range(most[v] + 1) for v in V)):
        x = dict(zip(V, n))
        got = sum(units[v] * x[v] for v in V)
        used = sum(hours[v] * x[v] for v in V)
        plans.append((max(0, d["targetUnits"] - got), max(0, used - d["pledgedHours"]),
                      sum(cost[v] * x[v] for v in V)))
    return best_by_priority(plans)


def helpdesk_staffing_goals(d):
    blocks = range(1, d["nbBlocks"] + 1)
    need, S, wage = by(list(blocks), d["needed"]), d["Starts"], by(d["Starts"], d["wage"])
    plans = []
    for n in product(range(d["maxPerStart"] + 1), repeat=len(S)):
        if sum(n) > d["maxAgents"]:
            continue
        x = dict(zip(S, n))
        on = {b: sum(x[s] for s in S if s <= b < s + d["shiftBlocks"]) for b in blocks}
        plans.append((sum(max(0, need[b] - on[b]) for b in blocks), sum(wage[s] * x[s] for s in S)))
    return best_by_priority(plans)


def exam_grading_fairness(d):
    A, Q = d["Assistants"], range(d["nbQuestions"])
    hours = by(A, d["hours"])
    plans = []
    for who in product(A, repeat=len(Q)):
        if any(who.count(a) > d["maxQuestions"] for a in A):
            continue
        load = {a: sum(hours[a][q] for q in Q if who[q] == a) for a in A}
        plans.append((max(load.values()), sum(load.values())))
    return best_by_priority(plans)


def village_water_network(d):
    # One signed flow per pipe (positive from a to b) and its cost as an absolute value.
    m, N, P = Model(), d["Nodes"], d["Pipes"]
    sup, dem = by(N, d["supply"]), by(N, d["demand"])
    f = {p: m.var(-p[3], p[3]) for p in P}
    c = {p: m.var() for p in P}
    for p in P:
        m.st(c[p] >= p[2] * f[p])
        m.st(c[p] >= -p[2] * f[p])
    for n in N:
        m.st(lsum(f[p] for p in P if p[0] == n) - lsum(f[p] for p in P if p[1] == n) <= sup[n] - dem[n])
    m.minimize(lsum(c.values()))
    return m.solve(), m.sense


def sign_blank_cutting(d):
    # Every pattern that fits, not only those that leave a short offcut: surplus blanks are
    # allowed, so the optimum is the same.
    m, L, lens, want = Model(), d["stripLength"], d["blankLength"], d["ordered"]
    pats = [n for n in product(*(range(L // w + 1) for w in lens))
            if any(n) and sum(k * w for k, w in zip(n, lens)) <= L]
    x = {p: m.var(0, INF, True) for p in pats}
    for s, q in enumerate(want):
        m.st(lsum(p[s] * x[p] for p in pats) >= q)
    m.minimize(lsum(x.values()))
    return m.solve(), m.sense


def cheese_aging_plan(d):
    # Cumulative form: the ready stock at the end of month t is what was ready at the start
    # plus everything that has finished aging by t, less everything sold by t.
    m, T, lag = Model(), d["nbMonths"], d["lag"]
    M = list(range(1, T + 1))
    dem, cost = by(M, d["demand"]), by(M, d["makeCost"])
    before = dict(zip(range(1 - lag, 1), d["madeBefore"]))
    make = {t: m.var(0, d["maxMake"]) for t in M}

    def made(k):
        return make[k] if k >= 1 else before[k]

    def ready(t):
        return d["initialReady"] + lsum(made(k - lag) for k in range(1, t + 1)) - sum(dem[k] for k in range(1, t + 1))

    cellar = {t: ready(t) + lsum(made(k) for k in range(t - lag + 1, t + 1)) for t in M}
    for t in M:
        m.st(ready(t) >= 0)
        m.st(cellar[t] <= d["cellarCap"])
    m.st(ready(T) >= d["finalReady"])
    m.minimize(lsum(cost[t] * make[t] + d["holdCost"] * cellar[t] for t in M))
    return m.solve(), m.sense


FORMULATIONS = {f.__name__: f for f in (blood_drive_goals, helpdesk_staffing_goals, exam_grading_fairness,
                                        village_water_network, sign_blank_cutting, cheese_aging_plan)}
