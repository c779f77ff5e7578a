"""Faithful answers through the real loop: the real OpenAI client layer against a scripted
service on 127.0.0.1, the real compiler and solver. A problem whose stated limits conflict ends
"infeasible as described" with the faithful pair; a revision that changes a stated number is
reported; reasoning blocks and prose replies do not end the run."""
import json
import time

import pytest

from fake_llm_server import PROXY_VARS
from scripted_llm_server import ALIGNED, ScriptedOpenAI, pair
from vorlan import genloom
from vorlan.cli import main

pytest.importorskip("highspy")

MODEL = """float capacity = ...;
float minTables = ...;
dvar float+ tables;
dvar float+ chairs;
maximize profit: 30 * tables + 12 * chairs;
subject to {
  workshopHours: 4 * tables + 1.5 * chairs <= capacity;
  tableOrders: tables >= minTables;
}
"""
STATED = "capacity = 120;\nminTables = 40;\n"
RAISED = "capacity = 160;\nminTables = 40;\n"  # a revision that changes the stated 120 hours
DESCRIPTION = ("A workshop has 120 hours. A table takes 4 hours and earns 30 dollars, a chair takes 1.5 hours and "
               "earns 12 dollars. At least 40 tables are on order. Maximise the profit.")
EXPLANATION = "40 tables need 160 hours, but the workshop has only 120."
VERDICT = json.dumps({"infeasible_as_described": True, "explanation": EXPLANATION})


@pytest.fixture
def service(monkeypatch):
    services = []

    def start(replies):
        s = ScriptedOpenAI({"At least 40 tables": list(replies)})
        prompts = []
        take = s._next
        s._next = lambda prompt: (prompts.append(prompt), take(prompt))[1]
        s.prompts = prompts
        services.append(s)
        for v in PROXY_VARS:
            monkeypatch.delenv(v, raising=False)
        for k, v in s.env().items():
            monkeypatch.setenv(k, v)
        return s

    monkeypatch.setattr(time, "sleep", lambda s: None)
    yield start
    for s in services:
        s.close()


def solve(tmp_path, **kw):
    return genloom.generative_solve(DESCRIPTION, str(tmp_path / "m.mod"), str(tmp_path / "m.dat"),
                                    model_name="gpt-5", llm_provider="openai", return_statistics=True,
                                    few_shot=False, **kw)


def test_infeasible_as_described_keeps_the_faithful_pair_and_exits_2(service, tmp_path, capsys):
    s = service([pair(MODEL, STATED), VERDICT, "The model states the description; its limits conflict."])
    code = main(["solve", DESCRIPTION, "-o", str(tmp_path), "--provider", "openai", "--model", "gpt-5",
                 "--verify", "--no-few-shot", "--json", "-q"])
    stats = json.loads(capsys.readouterr().out)
    assert code == 2
    assert (stats["verdict"], stats["explanation"]) == ("infeasible as described", EXPLANATION)
    assert stats["solve"]["status"] == "infeasible"
    assert any(c.startswith("constraint tableOrders (line 8): ") for c in stats["conflicts"])
    assert [r["kind"] for r in stats["rounds"]] == ["generation", "solve revision"]
    assert stats["assessment"] == "The model states the description; its limits conflict."
    assert ((tmp_path / "model.mod").read_text(), (tmp_path / "model.dat").read_text()) == (MODEL, STATED)
    # generation, solve revision, final assessment: no third generation, no alignment call
    assert len(s.prompts) == 3
    revision = s.prompts[1]
    assert '"infeasible_as_described": true' in revision and "change the data as little" not in revision
    assert "Never alter a number" in revision

    s = service([pair(MODEL, STATED), VERDICT, "assessment"])
    main(["solve", DESCRIPTION, "-o", str(tmp_path / "t"), "--provider", "openai", "--model", "gpt-5",
          "--verify", "--no-few-shot", "-q"])
    out = capsys.readouterr().out
    assert "status: infeasible as described\nThe problem as described has no feasible solution: " + EXPLANATION in out


def test_a_revision_that_changes_a_stated_number_is_listed(service, tmp_path):
    deviation = "The description states 120 workshop hours; the data uses 160."
    review = json.dumps({"aligned": False, "assessment": "The revision raised the workshop hours.",
                         "deviations": [deviation]})
    s = service([pair(MODEL, STATED), pair(MODEL, RAISED), review])
    stats = solve(tmp_path, verify=True, iterations=2)
    assert stats["deviations"] == [deviation] and stats["verdict"] is None
    alignment = s.prompts[2]
    # the reviewer sees both pairs and is asked for the stated values no longer used as stated
    assert "<previous_attempt>" in alignment and STATED.strip() in alignment and RAISED.strip() in alignment
    assert '"deviations" (array of strings)' in alignment
    assert [(r["kind"], r["status"], r["aligned"]) for r in stats["rounds"]] == [
        ("generation", "infeasible", None), ("solve revision", "optimal", False)]


@pytest.mark.parametrize("first, repaired", [
    ("<think>Hours first: {not the answer}</think>\n" + pair(MODEL, RAISED), False),  # closed: read at once
    ("<THINKING>The reply ran out before the answer " + pair(MODEL, RAISED), True),   # unclosed: asked again
    ("Sure! The model maximises profit subject to the hours.", True),                  # prose: asked again
])
def test_reasoning_blocks_and_prose_do_not_end_the_run(service, tmp_path, first, repaired):
    s = service([first, pair(MODEL, RAISED), ALIGNED] if repaired else [first, ALIGNED])
    stats = solve(tmp_path, repair_replies=True, alignment_check=True)
    kinds = [r["kind"] for r in stats["rounds"]]
    assert kinds == (["generation", "reply repair"] if repaired else ["generation"])
    assert stats["rounds"][-1]["aligned"] is True and (tmp_path / "m.dat").read_text() == RAISED
    if repaired:
        assert stats["rounds"][0]["compile_errors"] is None
        repair = s.prompts[1]
        assert repair.startswith(s.prompts[0]) and "<previous_reply_unusable>" in repair
        # prose is quoted; a reply that was all reasoning is empty once the reasoning is removed
        assert first[:60] in repair if first.startswith("Sure") else "could not be used: the reply was empty" in repair
    # without repair the prose and the cut-off reasoning fail as before
    if repaired:
        service([first])
        with pytest.raises(RuntimeError, match="^(Failed to parse model response as JSON|Empty model response)"):
            solve(tmp_path / "strict")
