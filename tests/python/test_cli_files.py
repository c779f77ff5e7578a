"""The vorlan command refuses bad values and unsafe outputs before any LLM call, reads
UTF-8 (with or without a byte-order mark) and Latin-1 inputs, and ends quietly on a closed
pipe. Runs `python -m vorlan` against a scripted OpenAI service on 127.0.0.1."""
import json
import subprocess
import sys
from pathlib import Path

import pytest

from fake_llm_server import FakeOpenAI
from test_cli import GOOD_DATA, GOOD_MODEL, base_env, run

from vorlan.textfile import decode_text

PAIR_REPLIES = [json.dumps({"model": GOOD_MODEL, "data": GOOD_DATA}),
                json.dumps({"aligned": True, "assessment": "It matches."})]


@pytest.fixture
def service():
    s = FakeOpenAI()
    yield s
    s.close()


@pytest.mark.parametrize("raw, text", [
    (b"caf\xc3\xa9\n", "caf\u00e9\n"),                 # UTF-8
    (b"\xef\xbb\xbfcaf\xc3\xa9", "caf\u00e9"),         # UTF-8 with a byte-order mark
    (b"caf\xe9 \xbd", "caf\u00e9 \u00bd"),             # not UTF-8: Latin-1
    (b"a\r\nb\rc\n", "a\nb\nc\n"),                     # line ends as in text mode
    (b"", ""),
])
def test_decode_text(raw, text):
    assert decode_text(raw) == text


# ----------------------------------------------------------- refused before any LLM call

@pytest.mark.parametrize("args, message", [
    (["solve", "d", "-o", "{out}", "--provider", "bogus"], "unknown provider 'bogus'"),
    (["models", "--provider", "opneai"], "unknown provider 'opneai'"),
    (["feedback", "q", "{m}", "{d}", "--provider", ""], "unknown provider ''"),
    (["solve", "d", "-o", "{out}", "--temperature", "nan"], "--temperature: must be a number from 0 to 2"),
    (["solve", "d", "-o", "{out}", "--temperature", "inf"], "not 'inf'"),
    (["solve", "d", "-o", "{out}", "--temperature", "-0.1"], "not '-0.1'"),
    (["feedback", "q", "{m}", "{d}", "--temperature", "2.5"], "not '2.5'"),
])
def test_bad_values_are_usage_errors(service, tmp_path, args, message):
    m, d = tmp_path / "p.mod", tmp_path / "p.dat"
    m.write_text(GOOD_MODEL)
    d.write_text(GOOD_DATA)
    args = [a.format(out=tmp_path / "out", m=m, d=d) for a in args]
    r = run(args, env=base_env(**service.env()))
    assert r.returncode == 2 and message in r.stderr, r.stderr
    assert service.requests == [] and not (tmp_path / "out").exists()


@pytest.mark.parametrize("case, message", [
    ("existing pair", "refusing to overwrite {tmp}/old/model.mod (fix: choose another output or pass --overwrite)"),
    ("one existing file", "refusing to overwrite {tmp}/old/model.dat"),
    ("same file", "the model and data files are the same file"),
    ("same file via ..", "the model and data files are the same file"),
    ("output is a file", "{tmp}/afile is not a directory"),
    ("empty description", "the problem description is empty"),
    ("blank description", "the problem description is empty"),
    ("feedback same targets", "the revised model and data would go to the same file"),
    ("feedback target is a directory", "it is a directory"),
])
def test_unsafe_outputs_are_refused_before_the_call(service, tmp_path, case, message):
    old = tmp_path / "old"
    old.mkdir()
    (old / "model.mod").write_text("keep me")
    (old / "model.dat").write_text("keep me too")
    (tmp_path / "afile").write_text("not a folder")
    if case == "one existing file":
        (old / "model.mod").unlink()
    t = str(tmp_path)
    feedback = ["feedback", "q", str(old / "model.mod"), str(old / "model.dat")]
    args = {
        "existing pair": ["solve", "d", "-o", str(old)],
        "one existing file": ["solve", "d", "-o", str(old)],
        "same file": ["solve", "d", "--model-file", t + "/x", "--data-file", t + "/x"],
        "same file via ..": ["solve", "d", "--model-file", t + "/new/x", "--data-file", t + "/new/../new/x",
                             "--overwrite"],
        "output is a file": ["solve", "d", "-o", t + "/afile"],
        "empty description": ["solve", "", "-o", t + "/new"],
        "blank description": ["solve", " \n", "-o", t + "/new"],
        "feedback same targets": feedback + ["--write-model", t + "/r", "--write-data", t + "/r"],
        "feedback target is a directory": feedback + ["--write-data", t],
    }[case]
    r = run(args, env=base_env(**service.env()))
    assert r.returncode == 1 and r.stderr.count("\n") == 1, r.stderr
    assert message.format(tmp=t) in r.stderr
    assert service.requests == []
    assert (old / "model.dat").read_text() == "keep me too"
    assert not (tmp_path / "new").exists()


def test_overwrite_replaces_an_existing_pair(service, tmp_path):
    (tmp_path / "model.mod").write_text("old")
    (tmp_path / "model.dat").write_text("old")
    service.texts = list(PAIR_REPLIES)
    r = run(["solve", "d", "-o", str(tmp_path), "--overwrite", "--no-few-shot", "-q"], env=base_env(**service.env()))
    assert r.returncode == 0, r.stderr
    assert (tmp_path / "model.mod").read_text() == GOOD_MODEL


# ------------------------------------------------------------------- input encodings

LATIN1_DATA = GOOD_DATA.replace('"chairs"', '"chaises \u00e0 caf\u00e9"')


@pytest.mark.parametrize("encoding", ["latin-1", "utf-8-sig"])
def test_inputs_in_latin1_or_with_bom(service, tmp_path, encoding):
    m, d, desc = tmp_path / "m.mod", tmp_path / "m.dat", tmp_path / "d.txt"
    m.write_bytes(("// caf\u00e9 model\n" + GOOD_MODEL).encode(encoding))
    d.write_bytes(LATIN1_DATA.encode(encoding))
    desc.write_bytes("Un caf\u00e9 fait des tables.".encode(encoding))

    r = run(["check", str(m), str(d)])
    assert r.returncode == 0 and r.stdout.endswith(": valid\n"), r.stdout + r.stderr
    r = run(["run", str(m), str(d)])
    assert r.returncode == 0 and "chaises \u00e0 caf\u00e9" in r.stdout, r.stdout + r.stderr

    service.texts = [json.dumps({"feedback": "ok"})] + list(PAIR_REPLIES)
    env = base_env(**service.env())
    assert run(["feedback", "q", str(m), str(d), "-q"], env=env).returncode == 0
    r = run(["solve", "-f", str(desc), "-o", str(tmp_path / "o"), "--no-few-shot", "-q"], env=env)
    assert r.returncode == 0, r.stderr
    feedback_prompt, solve_prompt = service.prompts()[:2]
    assert "caf\u00e9 model" in feedback_prompt and "chaises \u00e0 caf\u00e9" in feedback_prompt
    assert "\ufeff" not in feedback_prompt
    assert "Un caf\u00e9 fait des tables." in solve_prompt


# ------------------------------------------------------------------ pipes and --debug

def test_closed_pipe_ends_quietly(tmp_path):
    (tmp_path / "m.mod").write_text(GOOD_MODEL)
    (tmp_path / "m.dat").write_text(GOOD_DATA)
    proc = subprocess.Popen([sys.executable, "-m", "vorlan", "run", "m.mod", "m.dat"], cwd=tmp_path,
                            env=base_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    proc.stdout.close()  # the reader is gone before the command writes anything
    err = proc.stderr.read().decode()
    assert proc.wait(timeout=120) == 141
    assert err == ""


def test_debug_after_the_command(tmp_path):
    r = run(["check", "a.mod", "b.dat", "--debug"], cwd=tmp_path)
    assert r.returncode == 1 and "Traceback" in r.stderr and "vorlan: error: no such file" in r.stderr


def test_main_job_without_a_provider_shows_compile_solve_and_optimum():
    root = Path(__file__).resolve().parents[2]
    if not (root / ".venv" / "bin" / "vorlan").exists():
        pytest.skip("needs the set-up of scripts/setup.sh")
    r = subprocess.run(["bash", "scripts/run.sh"], cwd=root, env=base_env(VORLAN_SKIP_SETUP="1"),
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    assert "no generation ran" in r.stderr and "export OPENAI_API_KEY=" in r.stderr
    assert ": valid" in r.stdout and "status: optimal" in r.stdout and "objective: 960.0" in r.stdout
