"""--timeout and --openai-api on the command line, against local fake services."""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

import vorlan
from fake_llm_server import PROXY_VARS, FakeOpenAI, StallingServer

STAGE = str(Path(vorlan.__file__).resolve().parents[1])
SAMPLE = Path(__file__).resolve().parents[2] / "examples" / "sample"


def run(args, **env):
    base = {k: v for k, v in os.environ.items()
            if k not in PROXY_VARS and k not in ("OPENAI_API_KEY", "GEMINI_API_KEY", "OPENAI_BASE_URL")}
    base.update({"PYTHONPATH": STAGE, "OLLAMA_HOST": "127.0.0.1:9", "NO_PROXY": "127.0.0.1,localhost", **env})
    return subprocess.run([sys.executable, "-m", "vorlan", *args], env=base, capture_output=True, text=True,
                          timeout=120)


@pytest.fixture
def chat_only():
    server = FakeOpenAI(responses=False)
    yield server
    server.close()


def test_solve_and_models_through_chat_completions(chat_only, tmp_path):
    model, data = (SAMPLE / "sample.mod").read_text(), (SAMPLE / "sample.dat").read_text()
    chat_only.texts = [json.dumps({"model": model, "data": data}), json.dumps({"assessment": "Fine."})]
    chat_only.models = ["qwen2.5-7b-instruct"]
    r = run(["solve", "A workshop builds tables and chairs.", "-o", str(tmp_path / "out"), "--no-few-shot",
             "--no-alignment", "--iterations", "1", "--model", "qwen2.5-7b-instruct", "--openai-api", "chat", "-q"],
            **chat_only.env())
    assert r.returncode == 0, r.stderr
    assert (tmp_path / "out" / "model.dat").read_text() == data
    r = run(["models", "--provider", "openai", "--openai-api", "chat"], **chat_only.env())
    assert (r.returncode, r.stdout) == (0, "qwen2.5-7b-instruct\n")
    assert {p for _, p, _ in chat_only.requests} == {"/v1/chat/completions", "/v1/models"}


def test_timeout_option_reaches_the_provider(tmp_path):
    stalled = StallingServer()
    try:
        started = time.monotonic()
        r = run(["solve", "Make tables.", "-o", str(tmp_path / "o"), "--provider", "ollama", "--model", "llama3",
                 "--no-few-shot", "--timeout", "1", "-q"], OLLAMA_HOST=stalled.url)
        elapsed = time.monotonic() - started
    finally:
        stalled.close()
    assert r.returncode == 1 and elapsed < 60
    assert r.stderr.strip().splitlines()[-1] == (
        "vorlan: error: Ollama request timed out: no reply within 1 s; raise genloom.REQUEST_TIMEOUT or use --timeout")


@pytest.mark.parametrize("args", [["models", "--timeout", "0"], ["models", "--timeout", "nan"],
                                  ["models", "--openai-api", "completions"], ["mcp", "--timeout", "-1"]])
def test_bad_connection_options_are_refused(args):
    r = run(args, OPENAI_API_KEY="k")
    assert r.returncode == 2 and ("--timeout" in r.stderr or "--openai-api" in r.stderr)
    assert "Traceback" not in r.stderr
