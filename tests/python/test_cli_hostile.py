"""The command line against hostile and careless input: credentials in a provider URL, terminal
escapes from an LLM or a data file, exports and revisions that would replace their inputs,
devices and huge files as inputs. The real CLI, the real client layer and local stand-in
services throughout."""
import json
import os
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


@pytest.mark.parametrize("revision, force, written", [
    ("// tidied\n{revision}", [], True),  # compiles: replaces the model
    ("float x", [], False),  # does not compile: the working model stays
    ("float x", ["--force"], True),  # unless the user insists
])
def test_feedback_overwrites_only_with_a_pair_that_compiles(provider, tmp_path, capsys, revision, force, written):
    model, data = tmp_path / "m.mod", tmp_path / "m.dat"
    model.write_text(MODEL.read_text())
    data.write_text(DATA.read_text())
    revision = revision.format(revision=MODEL.read_text())
    provider(FakeOpenAI, texts=[json.dumps({"feedback": "f", "revised_model": revision})])
    status = main(["feedback", "q", str(model), str(data), "--write-model", str(model), "--overwrite", *force,
                   "--provider", "openai", "--model", "m"])
    err = capsys.readouterr().err
    assert status == (0 if written else 1)
    assert model.read_text() == (revision if written else MODEL.read_text())
    assert ("the revised pair compiles" if revision.startswith("//") else "does not compile") in err


@pytest.fixture
def pair_copy(tmp_path):
    model, data = tmp_path / "m.mod", tmp_path / "m.dat"
    model.write_text(MODEL.read_text())
    data.write_text(DATA.read_text())
    (tmp_path / "sub").mkdir()
    return model, data


@pytest.mark.parametrize("make_exports, clash", [
    (lambda m, d: {"--mps": m}, "--mps {m} is the same file as the model {m}"),
    (lambda m, d: {"--lp": m.parent / "sub" / ".." / d.name}, "is the same file as the data"),
    (lambda m, d: {"--emit-script": _link(m, "ln.mod", os.symlink)}, "is the same file as the model"),
    (lambda m, d: {"--mps": _link(d, "hard.dat", os.link)}, "is the same file as the data"),
    (lambda m, d: {"--mps": m.parent / "x", "--lp": m.parent / "sub/../x"}, "--lp {x2} is the same file as --mps"),
])
def test_run_refuses_exports_onto_its_inputs_or_each_other(pair_copy, capsys, make_exports, clash):
    model, data = pair_copy
    exports = make_exports(model, data)
    argv = ["run", str(model), str(data)] + [str(a) for kv in exports.items() for a in kv]
    assert main(argv) == 2
    err = capsys.readouterr().err
    assert clash.format(m=model, x2=model.parent / "sub/../x") in err
    assert model.read_text() == MODEL.read_text() and data.read_text() == DATA.read_text()
    assert not (model.parent / "x").exists()


def _link(target, name, how):
    link = target.parent / "sub" / name
    how(target, link)
    return link


@pytest.mark.parametrize("command", ["check", "run", "solve"])
@pytest.mark.parametrize("bad", ["/dev/zero", "fifo", "folder", "huge"])
def test_devices_and_huge_files_are_refused_before_reading(pair_copy, monkeypatch, capsys, command, bad):
    model, data = pair_copy
    monkeypatch.setenv("VORLAN_MAX_INPUT_BYTES", str(len(DATA.read_bytes()) + 1))
    path = {"/dev/zero": "/dev/zero", "fifo": model.parent / "fifo", "folder": model.parent / "sub",
            "huge": model}[bad]
    if bad == "fifo":
        os.mkfifo(path)  # nobody ever writes: reading it would wait for ever
    if bad == "huge":
        model.write_text(MODEL.read_text() + " " * len(DATA.read_bytes()))
    argv = {"check": ["check", str(path), str(data)], "run": ["run", str(path), str(data)],
            "solve": ["solve", "-f", str(path), "-o", str(model.parent / "out"), "--provider", "openai"]}[command]
    assert main(argv) == 1
    err = capsys.readouterr().err
    assert ("is not a regular file" if bad != "huge" else "over the input limit of") in err


def test_sigterm_during_a_replacement_leaves_no_temporary_file(tmp_path):
    import subprocess
    import sys

    from test_cli import base_env

    code = ("import os, signal\nfrom vorlan.textfile import open_replacing\n"
            "with open_replacing('out.lp') as f:\n    f.write('half')\n    os.kill(os.getpid(), signal.SIGTERM)\n"
            "    f.write(' and the rest')\n")
    (tmp_path / "out.lp").write_text("the previous export")
    r = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=base_env(), timeout=60)
    assert r.returncode == 143
    assert [p.name for p in tmp_path.iterdir()] == ["out.lp"] and (tmp_path / "out.lp").read_text() == "the previous export"
