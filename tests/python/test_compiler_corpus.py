"""The compiler against the corpus: every invalid pair fails with its expected message
fragment (position included), every valid pair and every example of the tree compiles,
and the examples' expanded instances solve to their recorded optimum."""
import json
from pathlib import Path

import numpy as np
import pytest

from vorlan import vorlan_core

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT / "tests" / "corpus"
EXAMPLES = ROOT / "src" / "vorlan" / "qel_models"

INVALID = sorted(CORPUS.glob("invalid/*/*.mod"))
VALID = sorted(CORPUS.glob("valid/*.mod"))
TREE = sorted(p for p in EXAMPLES.glob("**/*.mod") if p.with_suffix(".dat").exists())


def read(p):
    return p.read_text(encoding="utf-8")


def case_id(p):
    return f"{p.parent.name}/{p.stem}"


@pytest.mark.parametrize("mod", INVALID, ids=case_id)
def test_invalid_pair_reports_expected_message(mod):
    expect = mod.with_suffix(".expect").read_text(encoding="utf-8").splitlines()
    cls_name, fragment = expect[0], "\n".join(expect[1:])
    with pytest.raises(Exception) as info:
        vorlan_core.QelCompiler().compile_model(read(mod), read(mod.with_suffix(".dat")))
    assert type(info.value).__name__ == cls_name
    assert fragment in str(info.value)
    # One problem per line, never more than 20.
    assert len(str(info.value).splitlines()) <= 20


def test_corpus_is_broad():
    kinds = {p.parent.name for p in INVALID}
    assert len(INVALID) >= 80 and len(VALID) >= 30
    assert {"syntax", "names", "binding", "data", "linearity", "expansion", "unsupported", "limits"} <= kinds


@pytest.mark.parametrize("mod", VALID, ids=lambda p: p.stem)
def test_valid_pair_compiles(mod):
    assert vorlan_core.QelCompiler().compile_model(read(mod), read(mod.with_suffix(".dat"))) is True


def solve(inst):
    """Optimum of the flat instance, solved with SciPy's MILP routine."""
    from scipy.optimize import Bounds, LinearConstraint, milp

    n = len(inst["variables"])
    c = np.zeros(n)
    for v, k in inst["objective"]["terms"]:
        c[v] = k
    sign = -1.0 if inst["objective"]["sense"] == "maximize" else 1.0
    cons = []
    if inst["rows"]:
        a = np.zeros((len(inst["rows"]), n))
        for i, r in enumerate(inst["rows"]):
            for v, k in r["terms"]:
                a[i, v] = k
        cons.append(LinearConstraint(a, [r["lower"] for r in inst["rows"]], [r["upper"] for r in inst["rows"]]))
    var = inst["variables"]
    res = milp(sign * c, constraints=cons, integrality=[1 if v["integer"] else 0 for v in var],
               bounds=Bounds([v["lower"] for v in var], [v["upper"] for v in var]))
    assert res.status == 0, res.message
    return sign * res.fun + inst["objective"]["constant"]


@pytest.mark.parametrize("mod", TREE, ids=lambda p: p.parent.name)
def test_example_tree_compiles_and_solves_to_recorded_optimum(mod):
    comp = vorlan_core.QelCompiler()
    assert comp.compile_model(read(mod), read(mod.with_suffix(".dat"))) is True
    sol = mod.parent / "solution.json"
    if not sol.exists():
        return
    want = json.loads(sol.read_text(encoding="utf-8"))
    if "objective" not in want:
        return
    assert solve(comp.instance()) == pytest.approx(want["objective"], rel=1e-6, abs=1e-6)


def test_sample_pair_compiles():
    sample = ROOT / "examples" / "sample" / "sample.mod"
    comp = vorlan_core.QelCompiler()
    assert comp.compile_model(read(sample), read(sample.with_suffix(".dat"))) is True
    # 120 hours: chairs give 12/1.5 = 8 per hour against 7.5 for tables.
    assert solve(comp.instance()) == pytest.approx(960.0)


def test_grammar_reference_complete_example_compiles():
    import re

    doc = (ROOT / "docs" / "grammars" / "Vorlan grammar.md").read_text(encoding="utf-8")
    mods = [m for m in re.findall(r"```mod\n(.*?)```", doc, re.S) if "minimize" in m and "subject to" in m]
    dats = re.findall(r"```dat\n(.*?)```", doc, re.S)
    complete = [m for m in mods if "Plants" in m]
    if not complete:
        pytest.skip("the grammar reference has no complete example")
    data = [d for d in dats if "Plants" in d][0]
    comp = vorlan_core.QelCompiler()
    assert comp.compile_model(complete[0], data) is True
    assert len(comp.instance()["rows"]) == 5
