"""Goals in priority order (`lexicographic(e1, e2, ...)`): the compiler's instance, the
in-process solve against hand-computed optima and against solving the stages one by one, the
goal a failed solve stopped at, `vorlan run` (text, JSON, exports) and the emitted script."""
import json
import subprocess
import sys

import numpy as np
import pytest

import vorlan.solve as vs
import vorlan.vorlan_core as core
from test_cli import run
from test_pipeline_e2e import service  # noqa: F401 (fixture)
from test_pipeline_verify import run_loop

pytest.importorskip("highspy")

# Production goal for A first, then profit: the goal costs profit (21 instead of 32 alone).
PLAN = """int cap = ...;
dvar int+ a in 0..10;
dvar int+ b in 0..10;
dvar float+ under;
dexpr float profit = 2 * a + 3 * b;
SENSE plan: lexicographic(GOALS);
subject to {
  hours: 3 * a + 2 * b <= cap;
  target: a + under >= 6;
}
"""
PLAN_DATA = "cap = 24;"

# Three continuous goals whose order decides every value.
SHARES = """dvar float+ x; dvar float+ y; dvar float+ z;
maximize lexicographic(GOALS);
subject to { x + y + z == 10; x <= 6; y <= 5; }
"""


def plan(sense, goals):
    return PLAN.replace("SENSE", sense).replace("GOALS", goals)


def staged(inst):
    """The goals solved one by one with SciPy's milp, each optimum then fixed as a constraint."""
    from scipy.optimize import Bounds, LinearConstraint, milp

    var, n = inst["variables"], len(inst["variables"])
    cons = []
    for r in inst["rows"]:
        row = np.zeros(n)
        for v, k in r["terms"]:
            row[v] = k
        cons.append(LinearConstraint(row, r["lower"], r["upper"]))
    sign = -1.0 if inst["objective"]["sense"] == "maximize" else 1.0
    values = []
    for goal in inst["objectives"]:
        c = np.zeros(n)
        for v, k in goal["terms"]:
            c[v] = k
        res = milp(sign * c, constraints=cons, integrality=[int(v["integer"]) for v in var],
                   bounds=Bounds([v["lower"] for v in var], [v["upper"] for v in var]))
        assert res.status == 0, res.message
        best = c @ res.x
        cons.append(LinearConstraint(c, best, np.inf) if sign < 0 else LinearConstraint(c, -np.inf, best))
        values.append(best + goal["constant"])
    return values


@pytest.mark.parametrize("model, data, want", [
    (plan("minimize", "under, -profit"), PLAN_DATA, [0, -21]),
    (plan("maximize", "-under, profit"), PLAN_DATA, [0, 21]),
    (SHARES.replace("GOALS", "x, y, z"), "", [6, 4, 0]),
    (SHARES.replace("GOALS", "y, x, z"), "", [5, 5, 0]),
    (SHARES.replace("GOALS", "z, y - x, x"), "", [10, 0, 0]),
])
def test_goals_are_optimized_in_priority_order(model, data, want):
    c = core.QelCompiler()
    c.compile_model(model, data)
    inst = c.instance()
    assert [g["label"] for g in inst["objectives"]] == [inst["objective"]["label"]] * len(want)
    assert inst["objectives"][0]["terms"] == inst["objective"]["terms"]
    r = vs.solve(c)
    assert r["status"] == "optimal"
    assert r["objectives"] == pytest.approx(want) and r["objective"] == pytest.approx(want[0])
    assert staged(inst) == pytest.approx(want)
    assert vs.verify(c)["objectives"] == pytest.approx(want)


def test_one_objective_keeps_its_shape():
    c = core.QelCompiler()
    c.compile_model(plan("maximize", "profit").replace("lexicographic(profit)", "profit"), PLAN_DATA)
    r = vs.solve(c)
    # Alone, profit gives up the production goal: 32 (a = 1, b = 10) against 21 after it.
    assert r["objective"] == pytest.approx(32)
    assert "objectives" not in r and "objectives" not in c.instance() and "objectives" not in vs.verify(c)


@pytest.mark.parametrize("constraints, status, goal", [
    ("x + y >= 1; x <= 4;", "unbounded", 2),   # y runs away once x is held at 4
    ("x + y <= -1;", "infeasible", 1),
])
def test_a_solve_without_optimum_names_the_goal(constraints, status, goal):
    c = core.QelCompiler()
    c.compile_model(f"dvar float+ x; dvar float+ y;\nmaximize lexicographic(x, y);\nsubject to {{ {constraints} }}", "")
    for r in (vs.solve(c), vs.verify(c)):
        assert (r["status"], r["goal"], r["objectives"]) == (status, goal, None)
        assert f"{status} at goal {goal} of lexicographic(...)" in r["message"]
    if status == "unbounded":
        assert vs.verify(c)["unbounded"] == ["y"]


def test_run_prints_every_goal_and_exports_say_what_they_leave_out(tmp_path):
    mod, dat = tmp_path / "plan.mod", tmp_path / "plan.dat"
    mod.write_text(plan("minimize", "under, -profit"))
    dat.write_text(PLAN_DATA)
    files = {k: tmp_path / f"plan.{k}" for k in ("lp", "mps", "py")}
    r = run(["run", str(mod), str(dat), "--lp", str(files["lp"]), "--mps", str(files["mps"]),
             "--emit-script", str(files["py"])])
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines()[:3] == ["status: optimal", "objective: 0.0", "objectives: 0.0, -21.0"]
    note = "only goal 1 is written, goal 2 is not carried by this format"
    assert r.stderr.count(note) == 2
    assert files["lp"].read_text().splitlines()[1] == "\\ the objective is lexicographic(...) with 2 goals; " + note
    assert files["mps"].read_text().splitlines()[1] == "* the objective is lexicographic(...) with 2 goals; " + note
    record = json.loads(run(["run", str(mod), str(dat), "--json"]).stdout)
    assert record["objectives"] == [0.0, -21.0] and record["objective"] == 0.0
    script = subprocess.run([sys.executable, str(files["py"])], capture_output=True, text=True, timeout=120)
    assert script.returncode == 0, script.stderr
    assert script.stdout.splitlines()[:3] == ["status: optimal", "objective: 0.0", "objectives: 0.0, -21.0"]
    assert "a = 6.0" in script.stdout and "b = 3.0" in script.stdout


@pytest.mark.parametrize("model, replies, seen", [
    (plan("minimize", "under, -profit"), [json.dumps({"aligned": True, "assessment": "ok"})],
     "Goal values in priority order (lexicographic): 0, -21\n"),
    (plan("minimize", "under, -profit").replace("dvar int+ b in 0..10;", "dvar int+ b;").replace(
        "3 * a + 2 * b <= cap", "3 * a <= cap"), ["Still unbounded."],
     "unbounded at goal 2 of lexicographic(...), with goal 1 held at its optimum"),
])
def test_verification_stage_sees_every_goal(service, tmp_path, model, replies, seen):
    service.texts = [json.dumps({"model": model, "data": PLAN_DATA}), *replies]
    stats, _ = run_loop(tmp_path, "Production goal for A first, then profit.", iterations=1, verify=True)
    assert seen in service.prompts()[-1]
    if stats["solve"]["status"] == "optimal":
        assert stats["solve"]["objectives"] == [0, -21]
