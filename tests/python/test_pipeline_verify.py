"""The verification stage of generative_solve: scripted solver records through the loop, then the
real loop end to end (real openai client against a local scripted service, real compiler, real
solver)."""
import json

import pytest

from vorlan import genloom
from vorlan.vorlan_core import QelCompiler

from test_pipeline import OK, SemErr, Script, pair, verdict
from test_pipeline_e2e import GOOD_DATA, GOOD_MODEL, service  # noqa: F401 (fixture)
from test_solve import market_split

INFEASIBLE = {"status": "infeasible", "objective": None, "seconds": 0.25, "message": "", "values": [],
              "nonzero_count": 0, "irreducible": True, "unbounded": [],
              "conflicts": [{"kind": "row", "name": "cap", "line": 4, "condition": "x <= 2"},
                            {"kind": "row", "name": "need", "line": 5, "condition": "x >= 3"}]}
OPTIMAL = {"status": "optimal", "objective": 7.0, "seconds": 0.5, "message": "", "values": [("x", 2.0)],
           "nonzero_count": 1, "conflicts": [], "irreducible": False, "unbounded": []}


@pytest.fixture
def paths(tmp_path):
    return str(tmp_path / "out.mod"), str(tmp_path / "out.dat")


@pytest.fixture
def solver(monkeypatch):
    monkeypatch.setattr(genloom, "SemanticError", SemErr)
    calls = []
    records = []

    def verify_compiled(compiler, time_limit=None):
        calls.append(time_limit)
        return records.pop(0)
    monkeypatch.setattr(genloom, "_verify_compiled", verify_compiled)
    return calls, records


def test_infeasible_pair_is_revised_with_its_conflicts(monkeypatch, paths, solver):
    calls, records = solver
    records += [INFEASIBLE, OPTIMAL]
    s = Script(monkeypatch, [pair(1), pair(2), verdict(True, "fine")])
    monkeypatch.setattr(genloom, "_build_revision_prompt_solve",
                        lambda *a, **kw: (s.prompts.append(("_build_revision_prompt_solve", a, kw)), "<resolve>")[1])
    msgs = []
    stats = genloom.generative_solve("p", *paths, verify=True, alignment_check=True, return_statistics=True,
                                     few_shot=False, progress=msgs.append)
    assert stats == {"iterations": 2, "assessment": "fine", "syntax_errors": [],
                     "solve": {"status": "optimal", "objective": 7.0, "seconds": 0.5}, "verdict": None,
                     "explanation": None, "conflicts": [], "deviations": [],
                     "rounds": [{"kind": "generation", "compile_errors": 0, "status": "infeasible", "objective": None,
                                 "aligned": None},
                                {"kind": "solve revision", "compile_errors": 0, "status": "optimal", "objective": 7.0,
                                 "aligned": True}]}
    assert calls == [60.0, 60.0]
    assert s.built() == ["_build_generation_prompt", "_build_revision_prompt_solve", "_build_alignment_prompt"]
    _, args, kw = s.prompts[1]
    assert args[:4] == ("p", "GRAMMAR[BNF]", "model 1", "data 1") and kw == {"few_shots": []}
    assert "- constraint cap (line 4): x <= 2\n- constraint need (line 5): x >= 3\n" in args[4]
    assert s.prompts[2][2]["solution_summary"].startswith("Solver status: optimal\nObjective value: 7\n")
    assert [c["input_text"] for c in s.calls][1] == "<resolve>"
    assert msgs[0].endswith("alignment=on verify=on")
    assert "Infeasible: 2 conflicting constraints; revising..." in msgs
    assert msgs[msgs.index("Optimal: objective 7") - 1] == "Solving..."


@pytest.mark.parametrize("setting, arg, used", [(True, None, True), (True, False, False), (False, None, False),
                                                (False, 1, True)])
def test_verify_follows_its_setting_unless_given(monkeypatch, paths, solver, setting, arg, used):
    calls, records = solver
    records.append(OPTIMAL)
    monkeypatch.setattr(genloom, "VERIFY", setting)
    monkeypatch.setattr(genloom, "VERIFY_TIME_LIMIT", 7)
    Script(monkeypatch, [pair(1), "final"])
    stats = genloom.generative_solve("p", *paths, verify=arg, alignment_check=False, return_statistics=True,
                                     few_shot=False)
    assert calls == ([7.0] if used else [])
    assert ("solve" in stats) == used


def test_bad_time_limit_fails_before_any_call(monkeypatch, paths, solver):
    monkeypatch.setattr(genloom, "VERIFY_TIME_LIMIT", 0)
    s = Script(monkeypatch, [])
    with pytest.raises(ValueError, match="VERIFY_TIME_LIMIT"):
        genloom.generative_solve("p", *paths, verify=True, few_shot=False)
    assert s.calls == []


def test_solve_entry_is_none_when_the_last_pair_did_not_compile(monkeypatch, paths, solver):
    calls, records = solver
    records.append(dict(INFEASIBLE))
    s = Script(monkeypatch, [pair(1), pair(2), "final"], [OK, SemErr("bad")])
    monkeypatch.setattr(genloom, "_build_revision_prompt_solve", lambda *a, **kw: "<resolve>")
    stats = genloom.generative_solve("p", *paths, iterations=2, verify=True, return_statistics=True, few_shot=False)
    assert stats["solve"] is None and stats["syntax_errors"] == ["bad"]
    assert len(calls) == 1 and s.built()[-1] == "_build_final_assessment_prompt"


def test_ctrl_c_during_the_solve_ends_the_call(monkeypatch, paths, solver):
    calls, records = solver
    records.append(dict(OPTIMAL, status="interrupted"))
    Script(monkeypatch, [pair(1)])
    with pytest.raises(KeyboardInterrupt):
        genloom.generative_solve("p", *paths, verify=True, few_shot=False)


# ----------------------------------------------------------------------------- end to end

CONFLICT_MODEL = GOOD_MODEL.replace("subject to {", "subject to {\n  minTables: make[\"tables\"] >= 40;")


def run_loop(tmp_path, description, **kw):
    msgs = []
    stats = genloom.generative_solve(description, str(tmp_path / "m.mod"), str(tmp_path / "m.dat"),
                                     return_statistics=True, few_shot=False, progress=msgs.append, **kw)
    return stats, msgs


def test_conflict_named_in_the_next_prompt_then_solved(service, tmp_path):
    service.texts = [json.dumps({"model": CONFLICT_MODEL, "data": GOOD_DATA}),
                     json.dumps({"model": GOOD_MODEL, "data": GOOD_DATA}),
                     json.dumps({"aligned": True, "assessment": "Right."})]
    stats, msgs = run_loop(tmp_path, "Tables and chairs within 120 hours.", iterations=3, verify=True)
    assert stats["iterations"] == 2 and stats["solve"]["status"] == "optimal"
    assert stats["solve"]["objective"] == pytest.approx(960)
    first, second, third = service.prompts()
    assert "<solver_findings>\nThe solver proved the model infeasible" in second
    assert "- constraint minTables (line " in second and ': make["tables"] >= 40\n' in second
    assert "- constraint workshopHours (line " in second
    assert '- bound make["chairs"]: make["chairs"] >= 0\n' in second  # without it tables could borrow hours
    assert "<solution>\n" in third and "Objective value: 960\n" in third and 'make["chairs"] = 80\n' in third
    assert "Infeasible: 2 conflicting constraints and 1 bound; revising..." in msgs


def test_unbounded_pair_names_its_variable(service, tmp_path):
    unbounded = GOOD_MODEL.replace("hours[p] * make[p] <= capacity",
                                   'hours[p] * make[p] - 2 * make["chairs"] <= capacity')
    service.texts = [json.dumps({"model": unbounded, "data": GOOD_DATA}), "Still unbounded."]
    stats, msgs = run_loop(tmp_path, "Tables and chairs.", iterations=1, verify=True)
    assert stats["solve"]["status"] == "unbounded"
    final = service.prompts()[-1]
    assert "SYNTAX ERRORS:\n['The solver found the model unbounded" in final and '- make["chairs"]\\n' in final
    assert any(m.startswith("Unbounded: ") and m.endswith(" without limit; revising...") for m in msgs)


def test_time_limited_pair_is_kept_and_reviewed(service, tmp_path, monkeypatch):
    model, data = market_split()
    monkeypatch.setattr(genloom, "VERIFY_TIME_LIMIT", 1)
    service.texts = [json.dumps({"model": model, "data": data}),
                     json.dumps({"aligned": True, "assessment": "Good enough."})]
    stats, msgs = run_loop(tmp_path, "Split the items evenly.", verify=True)
    assert stats["solve"]["status"] == "time limit" and stats["iterations"] == 1
    assert stats["solve"]["seconds"] < 15
    assert any(m.startswith("Solver stopped at the time limit (1 s)") for m in msgs)
    assert "Solver status: time limit\n" in service.prompts()[-1]


def test_option_off_sends_exactly_the_prompts_of_the_six_builders(service, tmp_path):
    bad = GOOD_DATA.replace("capacity = 120;", "capacity 120;")
    try:
        QelCompiler().compile_model(GOOD_MODEL, bad)
    except Exception as e:
        err = str(e) if isinstance(e, genloom.SemanticError) else f"{type(e).__name__}: {e}"
    service.texts = [json.dumps({"model": GOOD_MODEL, "data": bad}), json.dumps({"model": GOOD_MODEL, "data": GOOD_DATA}),
                     json.dumps({"aligned": True, "assessment": "ok"})]
    description = "Tables and chairs."
    stats, _ = run_loop(tmp_path, description, iterations=3, alignment_check=True)
    grammar = genloom._get_grammar_implementation(genloom.Grammar.BNF)
    assert service.prompts() == [
        genloom._build_generation_prompt(description, grammar, few_shots=[]),
        genloom._build_revision_prompt_syntax(description, grammar, GOOD_MODEL, bad, [err], few_shots=[]),
        genloom._build_alignment_prompt(description, grammar, GOOD_MODEL, GOOD_DATA),
    ]
    assert "solve" not in stats
