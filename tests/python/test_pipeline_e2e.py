"""generative_solve end to end: the real openai client against a scripted local service, the real
compiler, prompt builders, few-shot gathering and the bundled example tree."""
import json
import os
import sys
import time
from pathlib import Path

import pytest

from vorlan import genloom
from vorlan.vorlan_core import QelCompiler

from fake_llm_server import PROXY_VARS, FakeOpenAI

PKG = Path(genloom.__file__).resolve().parent
SAMPLE = Path(__file__).resolve().parents[2] / "examples" / "sample"
GOOD_MODEL = (SAMPLE / "sample.mod").read_text()
GOOD_DATA = (SAMPLE / "sample.dat").read_text()
BAD_DATA = GOOD_DATA.replace("capacity = 120;", "capacity 120;")


def compile_error(model, data):
    try:
        QelCompiler().compile_model(model, data)
    except Exception as e:
        return e
    raise AssertionError("expected a compile error")


@pytest.fixture
def service(monkeypatch, tmp_path):
    for var in PROXY_VARS:
        monkeypatch.delenv(var, raising=False)
    s = FakeOpenAI()
    for k, v in s.env().items():
        monkeypatch.setenv(k, v)
    monkeypatch.setattr(time, "sleep", lambda sec: None)
    # the real embedding library, not a stand-in another test may have left in sys.modules
    for name in ("sentence_transformers", "torch"):
        mod = sys.modules.get(name)
        if mod is not None and "fake_embedding" in str(getattr(mod, "__file__", "")):
            monkeypatch.delitem(sys.modules, name)
    # few-shot gathering looks for "qel_models" in the working directory
    monkeypatch.chdir(tmp_path)
    os.symlink(PKG / "qel_models", tmp_path / "qel_models")
    yield s
    s.close()


def test_repair_then_aligned(service, tmp_path):
    err = compile_error(GOOD_MODEL, BAD_DATA)
    service.texts = [
        json.dumps({"model": GOOD_MODEL, "data": BAD_DATA}),
        "Here you go:\n```json\n" + json.dumps({"model": GOOD_MODEL, "data": GOOD_DATA}) + "\n```",
        json.dumps({"aligned": True, "assessment": "Matches the workshop problem. "}),
    ]
    msgs = []
    out = tmp_path / "out" / "nested"
    stats = genloom.generative_solve(
        "A workshop builds tables and chairs; maximise profit within 120 hours.",
        str(out / "mix.mod"), str(out / "mix.dat"), iterations=3, return_statistics=True,
        alignment_check=True, progress=msgs.append)
    assert stats == {"iterations": 2, "assessment": "Matches the workshop problem.", "syntax_errors": [],
                     "rounds": [{"kind": "generation", "compile_errors": 1, "status": None, "objective": None,
                                 "aligned": None},
                                {"kind": "syntax revision", "compile_errors": 0, "status": None, "objective": None,
                                 "aligned": True}]}
    assert (out / "mix.mod").read_text() == GOOD_MODEL and (out / "mix.dat").read_text() == GOOD_DATA
    first, second, third = service.prompts()
    # few-shot examples from the bundled tree reached the first prompt
    assert "A workshop builds tables" in first
    assert "A furniture workshop builds tables, chairs, desks and bookcases" in first
    # the revision prompt carried the compiler's diagnostic
    assert str(err) in second and type(err).__name__ in second
    assert GOOD_MODEL.strip() in third
    assert "Syntax/semantic errors found: 1; revising..." in msgs
    assert msgs[-2:] == ["Aligned \u2713 Stopping.", "Generation complete"]


def test_exhausted_with_final_assessment(service, tmp_path):
    service.texts = [json.dumps({"model": GOOD_MODEL, "data": BAD_DATA}), "Still broken: the data lacks '='."]
    text = genloom.generative_solve("Tables and chairs.", str(tmp_path / "m.mod"), str(tmp_path / "m.dat"),
                                    iterations=1, few_shot=False)
    assert text == "Still broken: the data lacks '='."
    final_prompt = service.prompts()[-1]
    assert str(compile_error(GOOD_MODEL, BAD_DATA)) in final_prompt
