"""The command line against hostile and careless input: credentials in a provider URL, terminal
escapes from an LLM or a data file, exports and revisions that would replace their inputs,
devices and huge files as inputs. The real CLI, the real client layer and local stand-in
services throughout."""
import json
import time
from pathlib import Path

import pytest

from fake_llm_server import PROXY_VARS, FakeOpenAI
from scripted_llm_server import ScriptedOpenAI, pair
from vorlan.cli import main

EXAMPLE = Path(__file__).resolve().parents[2] / "src/vorlan/qel_models/transportation"
MODEL, DATA = EXAMPLE / "transportation.mod", EXAMPLE / "transportation.dat"
ESCAPES = "\x1b]0;owned\x07\x1b[2J\x9b31m\r"


@pytest.fixture
def provider(monkeypatch):
    """Starts a stand-in service (FakeOpenAI or ScriptedOpenAI) that this process's client talks to."""
    started = []

    def start(cls, *args, **kwargs):
        server = cls(*args, **kwargs)
        started.append(server)
        for var in PROXY_VARS:
            monkeypatch.delenv(var, raising=False)
        for k, v in server.env().items():
            monkeypatch.setenv(k, v)
        return server

    monkeypatch.setattr(time, "sleep", lambda s: None)
    yield start
    for s in started:
        s.close()


@pytest.mark.parametrize("command", ["solve", "bench"])
def test_credentials_in_the_base_url_are_never_shown_or_stored(provider, monkeypatch, tmp_path, capsys, command):
    server = provider(FakeOpenAI, responses=False)  # 404: the hint names the server
    monkeypatch.setenv("OPENAI_BASE_URL", server.url.replace("://", "://user:sk-SECRET@"))
    if command == "solve":
        argv = ["solve", "a problem", "-o", str(tmp_path / "o"), "--no-few-shot"]
    else:
        (tmp_path / "S.jsonl").write_text(json.dumps({"id": "p", "question": "q", "answer": "1"}) + "\n")
        argv = ["bench", str(tmp_path / "S.jsonl"), "--no-few-shot", "--out", str(tmp_path / "run")]
    assert main([*argv, "--provider", "openai", "--model", "m"]) == 1
    err = capsys.readouterr().err
    assert "has no Responses endpoint" in err and "http://***@127.0.0.1" in err
    stored = [p.read_text() for p in tmp_path.rglob("*") if p.is_file()]
    assert all("sk-SECRET" not in text for text in [err, *stored])
    if command == "bench":
        assert sum("***@" in text for text in stored) >= 3  # results.jsonl, statistics.json, transcript.txt


def test_terminal_escapes_from_the_llm_or_the_data_are_printed_escaped(provider, tmp_path, capsys):
    verdict = json.dumps({"aligned": True, "assessment": f"Fine.{ESCAPES}"})
    provider(ScriptedOpenAI, {"case one;": [pair(MODEL.read_text(), DATA.read_text()), verdict],
                              "fix it": [json.dumps({"feedback": f"Looks right{ESCAPES}"})]})
    (tmp_path / "S.jsonl").write_text(json.dumps({"id": f"b{ESCAPES}", "question": "case one;", "answer": "1"}))
    runs = [["solve", "case one;", "-o", str(tmp_path / "o")],
            ["feedback", "fix it", str(MODEL), str(DATA)],
            ["bench", str(tmp_path / "S.jsonl"), "--out", str(tmp_path / "run"), "--iterations", "1"]]
    shown = ""
    for argv in runs:
        main([*argv, "--provider", "openai", "--model", "m", "--no-few-shot"][: None if argv[0] != "feedback" else -1])
        out, err = capsys.readouterr()
        shown += out + err
    assert "Fine.\\x1b]0;owned\\x07\\x1b[2J\\x9b31m" in shown and "Looks right\\x1b]0;owned" in shown
    assert "b\\x1b]0;owned" in shown
    assert not any(c in shown for c in "\x1b\x07\x9b\r")
