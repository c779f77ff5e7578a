import json
import pathlib
import subprocess
import sys

import pytest

import vorlan
import vorlan.solve as vs
import vorlan.vorlan_core as core

highspy = pytest.importorskip("highspy")

EXAMPLES = pathlib.Path(vorlan.__file__).parent / "qel_models"
CASES = sorted(p.name for p in EXAMPLES.iterdir() if (p / "solution.json").exists())


def load(name):
    d = EXAMPLES / name
    return (d / f"{name}.mod").read_text(), (d / f"{name}.dat").read_text(), json.loads((d / "solution.json").read_text())


def compiled(name):
    model, data, want = load(name)
    try:
        core.QelCompiler().compile_model(model, data)
    except Exception as e:  # the compiler's own tests cover the example tree
        pytest.skip(f"{name} does not compile: {type(e).__name__}: {str(e).splitlines()[0]}")
    return model, data, want


def close(a, b):
    return abs(a - b) <= 1e-6 * max(1.0, abs(b))


@pytest.mark.parametrize("name", CASES)
def test_example_solves_in_process_to_its_recorded_optimum(name):
    model, data, want = compiled(name)
    r = vs.solve(model, data)
    assert r["status"] == "optimal", r["message"]
    assert close(r["objective"], want["objective"])
    assert len(r.get("objectives") or []) == len(want.get("objectives", []))
    assert all(map(close, r.get("objectives") or [], want.get("objectives", [])))
    assert r["values"] and all(v != 0 for _, _, v in r["values"])


def highs_read(path):
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    assert h.readModel(str(path)) == highspy.HighsStatus.kOk
    h.run()
    return h.modelStatusToString(h.getModelStatus()), h.getInfo().objective_function_value


@pytest.mark.parametrize("name", CASES)
def test_exports_read_back_by_a_solver_give_the_same_optimum(name, tmp_path):
    model, data, want = compiled(name)
    for writer, suffix in ((vs.write_mps, ".mps"), (vs.write_lp, ".lp")):
        path = tmp_path / (name + suffix)
        writer(model, data, path)
        status, value = highs_read(path)
        assert status == "Optimal" and close(value, want["objective"]), (suffix, status, value)


PAIR = """
{string} P = ...;
float cap = ...;
dvar float+ x[P];
dvar int+ n in 0..3;
maximize total: sum(p in P) x[p] + 3 * n;
subject to {
  forall(p in P) each: x[p] <= cap;
  joint: sum(p in P) x[p] + 2 * n <= 5;
}
""", 'P = {"a", "b c"};\ncap = 2;\n'


def test_matrices_give_the_solver_arrays():
    m = vs.matrices(*PAIR)
    assert m["maximize"] is True and m["columns"] == [("x", ("a",)), ("x", ("b c",)), ("n", ())]
    assert list(m["c"]) == [1.0, 1.0, 3.0] and list(m["integrality"]) == [0, 0, 1]
    assert list(m["col_upper"])[2] == 3.0
    assert m["rows"] == [("each", ("a",)), ("each", ("b c",)), ("joint", ())]
    assert list(m["indptr"]) == [0, 1, 2, 5] and list(m["indices"]) == [0, 1, 0, 1, 2] and list(m["data"])[2:] == [1.0, 1.0, 2.0]


def test_solve_reports_values_by_model_names():
    r = vs.solve(*PAIR)
    assert r["status"] == "optimal" and close(r["objective"], 7)
    values = {(name, idx): v for name, idx, v in r["values"]}
    assert values[("n", ())] == 2.0 and type(values[("n", ())]) is float
    assert close(sum(v for (name, _), v in values.items() if name == "x"), 1)
    assert set(values) <= {("n", ()), ("x", ("a",)), ("x", ("b c",))}
    assert sorted(r["timings"]) == ["compile", "matrix", "solver"] and all(t >= 0 for t in r["timings"].values())


def test_export_names_are_safe_and_unique():
    cols, rows, obj = vs.export_names(*PAIR)
    # A leading e could read as an exponent in LP files, so such names get a "_".
    assert cols == ["x_a", "x_b_c", "n"] and rows == ["_each_a", "_each_b_c", "joint"] and obj == "total"


@pytest.mark.parametrize(
    "model,status",
    [
        ("dvar float+ x;\nminimize o: x;\nsubject to { c1: x >= 3; c2: x <= 2; }\n", "infeasible"),
        ("dvar float+ x;\nmaximize o: x;\nsubject to { c1: x >= 1; }\n", "unbounded"),
    ],
)
def test_infeasible_and_unbounded_models(model, status):
    try:
        r = vs.solve(model, "")
    except core.SemanticError as e:  # a compiler that proves infeasibility itself is fine too
        assert status == "infeasible", e
        return
    assert r["status"] == status and r["objective"] is None and r["values"] == []


def test_compile_errors_raise_the_compilers_error_kinds():
    with pytest.raises(Exception) as e:
        vs.solve("dvar float+ x\nminimize o: x;", "")
    assert type(e.value).__module__.startswith("vorlan.")
    with pytest.raises(core.SemanticError):
        vs.matrices("dvar float+ x;\nminimize o: y;\n", "")


def test_unwritable_export_path_raises(tmp_path):
    with pytest.raises(RuntimeError, match="no_such_dir"):
        vs.write_mps(*PAIR, tmp_path / "no_such_dir" / "m.mps")


def test_module_loads_and_exports_without_scipy(tmp_path):
    code = (
        "import sys\n"
        "class Block:\n"
        "    def find_spec(self, name, path=None, target=None):\n"
        "        if name.split('.')[0] in ('scipy', 'numpy'):\n"
        "            raise ImportError('blocked ' + name)\n"
        "sys.meta_path.insert(0, Block())\n"
        "import vorlan.solve as vs\n"
        f"vs.write_lp({PAIR[0]!r}, {PAIR[1]!r}, {str(tmp_path / 'm.lp')!r})\n"
        "try:\n"
        f"    vs.solve({PAIR[0]!r}, {PAIR[1]!r})\n"
        "except ModuleNotFoundError as e:\n"
        "    print(e, '|', type(e.__cause__).__name__)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert "pip install 'vorlan[solve]'" in out and "| ImportError" in out
    assert (tmp_path / "m.lp").read_text().startswith("\\ Problem")


# ------------------------------------------------------------------ verification and analysis

def compiler_for(model, data=""):
    c = core.QelCompiler()
    c.compile_model(model, data)
    return c


SMALL_CONFLICT = """
dvar float+ x[1..3];
minimize o: sum(i in 1..3) x[i];
subject to {
  forall(i in 1..3) cap: x[i] <= i;
  big: x[1] + x[2] >= 5;
  fine: x[3] >= 1;
}
"""

SHIPPING = """
{string} W = ...;
{string} S = ...;
float supply[W] = ...;
float demand[S] = ...;
dvar float+ ship[W][S];
minimize cost: sum(w in W, s in S) ship[w][s];
subject to {
  forall(w in W) out: sum(s in S) ship[w][s] <= supply[w];
  forall(s in S) need: sum(w in W) ship[w][s] >= demand[s];
  forall(s in S) lane: ship["b"][s] <= 1;
}
"""


def conflict_set(r):
    return sorted((c["kind"], c["name"], c["condition"]) for c in r["conflicts"])


@pytest.mark.parametrize("model, data, want", [
    (SMALL_CONFLICT, "", [("row", "big", "x[1] + x[2] >= 5"), ("row", "cap[1]", "x[1] <= 1"),
                          ("row", "cap[2]", "x[2] <= 2")]),
    ("dvar float x in 0..2;\nminimize o: x;\nsubject to { need: x >= 3; }\n", "",
     [("bound", "x", "x <= 2"), ("row", "need", "x >= 3")]),
    # a has 3 units, b may send 1 per lane: p's demand of 5 cannot be met (a must not ship to q
    # a negative amount, so that bound takes part); q's demand and b's supply are irrelevant
    (SHIPPING, 'W = {"a", "b"};\nS = {"p", "q"};\nsupply = [3, 50];\ndemand = [5, 1];\n',
     [("bound", 'ship["a"]["q"]', 'ship["a"]["q"] >= 0'), ("row", "lane[\"p\"]", 'ship["b"]["p"] <= 1'), ("row", "need[\"p\"]", 'ship["a"]["p"] + ship["b"]["p"] >= 5'),
      ("row", "out[\"a\"]", 'ship["a"]["p"] + ship["a"]["q"] <= 3')]),
])
def test_infeasible_models_name_an_irreducible_conflict(model, data, want):
    r = vs.verify(compiler_for(model, data))
    assert r["status"] == "infeasible" and r["irreducible"] is True
    assert conflict_set(r) == want
    assert all(c["line"] > 0 for c in r["conflicts"] if c["kind"] == "row")
    assert r["objective"] is None and r["values"] == [] and r["unbounded"] == []


def test_unbounded_model_names_the_variables_along_the_ray():
    r = vs.verify(compiler_for("dvar float+ x;\ndvar float+ y;\ndvar float z;\nmaximize o: x + y - z;\n"
                               "subject to { c: x <= 4; d: z >= -3; }\n"))
    assert r["status"] == "unbounded" and r["unbounded"] == ["y"] and r["conflicts"] == []


def test_integrality_alone_makes_no_conflict_set():
    r = vs.verify(compiler_for("dvar int x;\nminimize o: x;\nsubject to { half: 2 * x == 1; }\n"))
    assert r["status"] == "infeasible" and r["conflicts"] == []
    assert "integer" in r["message"]


def test_verify_caps_values_and_counts_them():
    c = compiler_for("dvar float+ x[1..30];\nminimize o: sum(i in 1..30) x[i];\n"
                     "subject to { forall(i in 1..30) low: x[i] >= i; }\n")
    r = vs.verify(c, max_values=5)
    assert r["status"] == "optimal" and close(r["objective"], 465)
    assert r["values"] == [(f"x[{i}]", float(i)) for i in range(1, 6)] and r["nonzero_count"] == 30
    assert r["seconds"] >= r["timings"]["solver"] >= 0


@pytest.mark.parametrize("model, status, objective", [
    ("dvar float+ x;\nsubject to { c: x >= 1; }\n", "feasible", None),
    ("dvar float+ x;\nminimize o: x + 2;\nsubject to { c: x >= 1; }\n", "optimal", 3.0),
])
def test_solve_accepts_a_compiler_and_reports_feasible_without_objective(model, status, objective):
    c = compiler_for(model)
    r = vs.solve(c)
    assert r["status"] == status and r["objective"] == objective and r["timings"]["compile"] == 0
    assert vs.verify(c)["status"] == status


def test_an_uncompiled_compiler_is_refused():
    with pytest.raises(ValueError, match="compile_model"):
        vs.solve(core.QelCompiler())


def market_split(rows=4, cols=36, seed=3):
    """A small integer program that branch-and-bound takes minutes on."""
    import random
    rng = random.Random(seed)
    a = [[rng.randint(0, 99) for _ in range(cols)] for _ in range(rows)]
    b = [sum(r) // 2 for r in a]
    model = ("int m = ...;\nint n = ...;\nint a[1..m][1..n] = ...;\nint b[1..m] = ...;\n"
             "dvar boolean x[1..n];\ndvar float+ s[1..m];\ndvar float+ t[1..m];\n"
             "minimize slack: sum(i in 1..m) (s[i] + t[i]);\n"
             "subject to { forall(i in 1..m) split: sum(j in 1..n) a[i][j] * x[j] + s[i] - t[i] == b[i]; }\n")
    data = (f"m = {rows};\nn = {cols};\na = [" + ",\n".join("[" + ", ".join(map(str, r)) + "]" for r in a)
            + "];\nb = [" + ", ".join(map(str, b)) + "];\n")
    return model, data


def test_time_limit_keeps_the_best_solution_and_bound():
    r = vs.solve(*market_split(), time_limit=1.5)
    assert r["status"] == "time limit", r["message"]
    assert r["objective"] is not None and r["bound"] is not None and r["bound"] <= r["objective"]
    assert r["timings"]["solver"] < 10


def test_solves_on_several_threads_at_once():
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda _: vs.solve(*PAIR), range(8)))
    assert [r["status"] for r in results] == ["optimal"] * 8


def test_ctrl_c_in_process_returns_what_was_found():
    import _thread
    import threading
    import time
    c = compiler_for(*market_split())
    threading.Timer(1.5, _thread.interrupt_main).start()
    t0 = time.monotonic()
    r = vs.solve(c)
    assert time.monotonic() - t0 < 10
    assert r["status"] == "interrupted" and r["bound"] is not None
    assert [t.name for t in threading.enumerate() if t.name == "vorlan-solve"] == []
