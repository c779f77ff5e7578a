"""The vorlan command, run as `python -m vorlan` with output piped and on a pseudo-terminal,
against a scripted OpenAI service on 127.0.0.1 and the real compiler."""
import json
import os
import pty
import re
import subprocess
import sys
from pathlib import Path

import pytest

import vorlan
from fake_llm_server import PROXY_VARS, FakeOpenAI

STAGE = str(Path(vorlan.__file__).resolve().parents[1])
SAMPLE = Path(__file__).resolve().parents[2] / "examples" / "sample"
GOOD_MODEL = (SAMPLE / "sample.mod").read_text()
GOOD_DATA = (SAMPLE / "sample.dat").read_text()
BAD_DATA = GOOD_DATA.replace("capacity = 120;", "capacity 120;")
TREE = str(Path(vorlan.__file__).resolve().parent / "qel_models")


def base_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in PROXY_VARS and k not in ("OPENAI_API_KEY", "GEMINI_API_KEY", "OPENAI_BASE_URL")}
    env.update(PYTHONPATH=STAGE, OLLAMA_HOST="127.0.0.1:9", NO_PROXY="127.0.0.1,localhost")
    env.update(extra)
    return env


def run(args, env=None, stdin=None, cwd=None):
    return subprocess.run([sys.executable, "-m", "vorlan", *args], env=env or base_env(), input=stdin,
                          capture_output=True, text=True, cwd=cwd, timeout=120)


def run_pty(args, env, cwd=None):
    """Run with stdout and stderr on a pseudo-terminal; returns (status, everything written)."""
    master, slave = pty.openpty()
    proc = subprocess.Popen([sys.executable, "-m", "vorlan", *args], env=env, stdin=subprocess.DEVNULL,
                            stdout=slave, stderr=slave, cwd=cwd)
    os.close(slave)
    chunks = []
    while True:
        try:
            data = os.read(master, 65536)
        except OSError:  # the other side closed
            break
        if not data:
            break
        chunks.append(data)
    os.close(master)
    return proc.wait(timeout=120), b"".join(chunks).decode()


@pytest.fixture
def service():
    s = FakeOpenAI()
    yield s
    s.close()


@pytest.fixture
def files(tmp_path):
    m, good, bad = tmp_path / "p.mod", tmp_path / "p.dat", tmp_path / "bad.dat"
    m.write_text(GOOD_MODEL)
    good.write_text(GOOD_DATA)
    bad.write_text(BAD_DATA)
    return str(m), str(good), str(bad)


def solve_replies(first_bad=True):
    replies = [json.dumps({"model": GOOD_MODEL, "data": BAD_DATA})] if first_bad else []
    return replies + [json.dumps({"model": GOOD_MODEL, "data": GOOD_DATA}),
                      json.dumps({"aligned": True, "assessment": "It matches."})]


# ------------------------------------------------------------------------------- check

@pytest.mark.parametrize("which, status, text", [("good", 0, ": valid"), ("bad", 1, "Error: "),
                                                 ("missing", 1, "no such file")])
def test_check(files, which, status, text):
    model, good, bad = files
    data = {"good": good, "bad": bad, "missing": good + ".none"}[which]
    r = run(["check", model, data])
    assert r.returncode == status
    assert text in (r.stdout + r.stderr)
    assert "Traceback" not in r.stderr


def test_check_on_terminal(files):
    status, out = run_pty(["check", files[0], files[1]], base_env())
    assert status == 0 and out.strip().endswith(": valid")


# ------------------------------------------------------------------------------- solve

@pytest.mark.parametrize("source", ["arg", "stdin", "file"])
def test_solve_piped(service, tmp_path, source):
    service.texts = solve_replies()
    desc = "A workshop builds tables and chairs."
    args, stdin = {"arg": ([desc], None), "stdin": (["-"], desc),
                   "file": (["-f", str(tmp_path / "d.txt")], None)}[source]
    (tmp_path / "d.txt").write_text(desc)
    r = run(["solve", *args, "-o", str(tmp_path / "out" / "x"), "--no-few-shot", "--iterations", "3"],
            env=base_env(**service.env()), stdin=stdin)
    assert r.returncode == 0, r.stderr
    assert "iterations: 2" in r.stdout and "It matches." in r.stdout
    assert (tmp_path / "out" / "x" / "model.dat").read_text() == GOOD_DATA
    lines = r.stderr.splitlines()
    assert lines and all(re.match(r"^\d\d:\d\d:\d\d ", line) for line in lines), r.stderr
    assert lines[0].endswith("Generating with provider=openai model=gpt-5 iterations=3 alignment=on")
    assert lines[-1].endswith(" Generation complete")
    assert desc in service.prompts()[0]


def test_solve_json_options_and_unfixed_pair(service, tmp_path):
    service.texts = [json.dumps({"model": GOOD_MODEL, "data": BAD_DATA}), "Needs an '=' in the data."]
    m, d = tmp_path / "a.mod", tmp_path / "b.dat"
    r = run(["solve", "desc", "--model-file", str(m), "--data-file", str(d), "--no-few-shot", "--iterations", "1",
             "--json", "--model", "gpt-4o", "--temperature", "0.5", "--no-alignment", "--grammar", "none", "-q"],
            env=base_env(**service.env()))
    assert r.returncode == 1 and r.stderr == ""
    stats = json.loads(r.stdout)
    assert stats["iterations"] == 1 and stats["assessment"] == "Needs an '=' in the data."
    assert len(stats["syntax_errors"]) == 1
    bodies = [b for _, _, b in service.requests]
    assert [b["model"] for b in bodies] == ["gpt-4o", "gpt-4o"]
    assert m.read_text() == GOOD_MODEL


def test_solve_on_terminal_shows_live_status(service, tmp_path):
    service.texts = solve_replies(first_bad=False)
    status, out = run_pty(["solve", "desc", "-o", str(tmp_path / "o"), "--no-few-shot"],
                          base_env(**service.env()))
    assert status == 0, out
    assert "\r\x1b[K[" in out
    assert re.search(r"\[\s*\d+\.\ds\] Generation complete", out)
    assert "iterations: 1" in out


@pytest.mark.parametrize("args, env, message", [
    (["solve", "d", "-o", "x"], {}, "no LLM provider is configured (fix: set OPENAI_API_KEY"),
    (["solve", "d", "-o", "x", "--provider", "openai"], {}, "fix: export OPENAI_API_KEY="),
    (["solve", "d", "-o", "x", "--provider", "gemini"], {}, "GEMINI_API_KEY"),
    (["solve", "d", "-o", "x", "--provider", "ollama"], {}, "ollama serve"),
    (["solve", "-o", "x"], {"OPENAI_API_KEY": "k"}, "no description given"),
    (["solve", "d"], {"OPENAI_API_KEY": "k"}, "no output given"),
    (["solve", "d", "-o", "x", "--iterations", "0"], {"OPENAI_API_KEY": "k"}, "--iterations must be at least 1"),
    (["models"], {}, "ollama serve"),
])
def test_errors_are_one_line_with_fix(tmp_path, args, env, message):
    r = run(args, env=base_env(**env), cwd=tmp_path)
    assert r.returncode == (2 if "--iterations" in args else 1)  # a value no run can use is a usage error
    assert r.stderr.count("\n") == 1 and r.stderr.startswith("vorlan: error: "), r.stderr
    assert message in r.stderr
    assert not (tmp_path / "x").exists()


def test_debug_shows_traceback(tmp_path):
    r = run(["--debug", "check", "a.mod", "b.dat"], cwd=tmp_path)
    assert r.returncode == 1 and "Traceback" in r.stderr and "vorlan: error: no such file" in r.stderr


def test_usage_error():
    r = run(["solve", "--grammar", "xml", "d", "-o", "x"])
    assert r.returncode == 2 and "invalid choice" in r.stderr


# ---------------------------------------------------------------------------- feedback

def test_feedback_prints_and_writes_revisions(service, files, tmp_path):
    service.texts = [json.dumps({"feedback": "Capacity looks low.", "revised_model": "new model text"})]
    new_model = tmp_path / "rev" / "m.mod"
    r = run(["feedback", "Is capacity right?", files[0], files[1], "--write-model", str(new_model),
             "--write-data", str(tmp_path / "d.dat")], env=base_env(**service.env()))
    assert r.returncode == 0, r.stderr
    assert r.stdout == "Capacity looks low.\n"
    assert new_model.read_text() == "new model text"
    assert not (tmp_path / "d.dat").exists() and "no revised data proposed" in r.stderr
    assert "Is capacity right?" in service.prompts()[0]


@pytest.mark.parametrize("overwrite", [False, True])
def test_feedback_never_overwrites_originals_unless_asked(service, files, overwrite):
    service.texts = [json.dumps({"feedback": "f", "revised_model": "// changed\n" + GOOD_MODEL})]
    extra = ["--overwrite"] if overwrite else []
    r = run(["feedback", "q", files[0], files[1], "--write-model", files[0], *extra], env=base_env(**service.env()))
    if overwrite:
        assert r.returncode == 0 and Path(files[0]).read_text() == "// changed\n" + GOOD_MODEL
    else:
        assert r.returncode == 1 and "refusing to overwrite" in r.stderr
        assert Path(files[0]).read_text() == GOOD_MODEL
        assert service.requests == []  # refused before any LLM call


def test_feedback_on_terminal(service, files):
    service.texts = [json.dumps({"feedback": "All good."})]
    status, out = run_pty(["feedback", "q", files[0], files[1]], base_env(**service.env()))
    assert status == 0 and "All good." in out and "Feedback received; parsing" in out


# ------------------------------------------------------------------------ models, rank

def test_models(service):
    service.models = ["gpt-5", "o3", "gpt-4o"]
    r = run(["models"], env=base_env(**service.env()))
    assert r.returncode == 0 and r.stdout == "gpt-4o\ngpt-5\n"


def test_rank(tmp_path):
    r = run(["rank", "pack items of maximum value into a bag with a weight limit", "--dir", TREE, "-k", "2",
             "--json"])
    assert r.returncode == 0, r.stderr
    results = json.loads(r.stdout)
    assert len(results) == 2 and "knapsack" in results[0]["path"]
    status, out = run_pty(["rank", "knapsack", "--dir", TREE, "-k", "1"], base_env())
    assert status == 0 and re.search(r"\d\.\d{3}  \S+\.txt", out)


def _chained(outer, cause):
    outer.__cause__ = cause
    return outer


@pytest.mark.parametrize("error, message, fix", [
    (RuntimeError("openai is not installed. Install it with: pip install openai"), "openai is not installed",
     "pip install 'vorlan[openai]'"),
    (RuntimeError("google.generativeai is not installed. pip install google-generativeai"),
     "google.generativeai is not installed", "pip install 'vorlan[generativeai]'"),
    (RuntimeError("google-genai is not installed. x"), "google-genai is not installed", "pip install 'vorlan[gemini]'"),
    (RuntimeError("anthropic is not installed. x"), "anthropic is not installed", "pip install 'vorlan[anthropic]'"),
    (RuntimeError("ANTHROPIC_API_KEY environment variable not set."), None, "export ANTHROPIC_API_KEY=<your key>"),
    (RuntimeError("ollama package is not installed. pip install ollama"), "ollama package is not installed",
     "pip install 'vorlan[ollama]'"),
    (RuntimeError("Ollama generation failed: Failed to connect to Ollama. Check it runs."), None, "ollama serve"),
    (_chained(RuntimeError("OpenAI request failed after 3 attempts: Connection error."), ConnectionError("x")),
     None, "check the network connection"),
    (RuntimeError("Failed to parse model response as JSON: bad\nResponse: {"),
     "Failed to parse model response as JSON: bad [\u2026; --debug shows all]", None),
    (ValueError("plain"), "plain", None),
])
def test_describe_error(error, message, fix):
    from vorlan.cli import describe_error
    got_message, got_fix = describe_error(error)
    assert "\n" not in got_message
    if message:
        assert got_message == message
    assert (fix is None and got_fix is None) or (fix and fix in got_fix)


# --------------------------------------------------------------------------------- run

INFEASIBLE_MODEL = "dvar float+ x;\nminimize cost: x;\nsubject to {\n  low: x >= 5;\n  high: x <= 2;\n}\n"


@pytest.mark.parametrize("case, status, text", [("good", 0, "status: optimal"), ("bad", 1, "compile errors"),
                                                ("infeasible", 2, "infeasible")])
def test_run_exit_status(files, tmp_path, case, status, text):
    model, good, bad = files
    if case == "infeasible":
        model = str(tmp_path / "inf.mod")
        Path(model).write_text(INFEASIBLE_MODEL)
        args = [model]
    else:
        args = [model, good if case == "good" else bad]
    r = run(["run", *args])
    assert r.returncode == status, r.stdout + r.stderr
    assert text in (r.stdout + r.stderr).lower()
    assert "Traceback" not in r.stderr


def test_run_writes_script_and_exports(files, tmp_path):
    model, good, _ = files
    script, mps, lp = tmp_path / "s.py", tmp_path / "m.mps", tmp_path / "m.lp"
    r = run(["run", model, good, "--emit-script", str(script), "--mps", str(mps), "--lp", str(lp)])
    assert r.returncode == 0, r.stderr
    assert script.read_text().startswith("#") or "milp" in script.read_text()
    assert mps.stat().st_size > 0 and lp.stat().st_size > 0


def test_solve_verify_solves_the_generated_pair(service, tmp_path):
    service.texts = solve_replies(first_bad=False)
    r = run(["solve", "A workshop builds tables and chairs.", "-o", str(tmp_path / "o"), "--no-few-shot",
             "--verify", "-q"], env=base_env(**service.env()))
    assert r.returncode == 0, r.stderr
    # the pair was solved inside the loop, before the alignment check
    assert "solver: optimal, objective 960.0\n" in r.stdout and len(service.prompts()) == 2
    assert "<solution>\n" in service.prompts()[1]
