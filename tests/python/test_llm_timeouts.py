"""Request timeouts: a provider that never answers fails fast, once per attempt of ours."""
import importlib
import math
import os
import subprocess
import sys
import time
import types

import pytest

import vorlan.genloom as g
from fake_llm_server import PROXY_VARS, StallingServer

P = g.LLMProvider


@pytest.fixture
def stalled(monkeypatch):
    for var in PROXY_VARS:
        monkeypatch.delenv(var, raising=False)
    monkeypatch.setenv("NO_PROXY", "127.0.0.1,localhost")
    monkeypatch.setattr(g, "REQUEST_TIMEOUT", 1)
    server = StallingServer()
    yield server
    server.close()


def test_openai_stall_fails_after_our_three_attempts(stalled, monkeypatch):
    monkeypatch.setenv("OPENAI_BASE_URL", stalled.url + "/v1")
    monkeypatch.setenv("OPENAI_API_KEY", "sk-local-test")
    monkeypatch.setattr(time, "sleep", lambda s: None)
    started = time.monotonic()
    with pytest.raises(RuntimeError) as ei:
        g._llm_generate_text(P.OPENAI, "gpt-5", "p")
    assert time.monotonic() - started < 20  # 3 x 1 s, not the client default of 10 min x 3
    msg = str(ei.value)
    assert msg.startswith("OpenAI request failed after 3 attempts: ")
    assert "Request timed out. (no reply within 1 s in any of 3 attempts (each bounded" in msg
    assert stalled.connections == 3  # the client layer added no hidden retries


def test_ollama_stall_fails_within_the_timeout(stalled, monkeypatch):
    monkeypatch.setenv("OLLAMA_HOST", stalled.url)
    for name in [n for n in sys.modules if n == "ollama" or n.startswith("ollama.")]:
        monkeypatch.delitem(sys.modules, name)
    importlib.import_module("ollama")
    started = time.monotonic()
    with pytest.raises(TimeoutError, match=r"^Ollama request timed out: no reply within 1 s; raise genloom"):
        g._llm_generate_text(P.OLLAMA, "llama3", "p")
    with pytest.raises(RuntimeError, match="^Failed to list Ollama models: Ollama request timed out"):
        g.list_ollama_models()
    assert time.monotonic() - started < 15


class DeadlineExceeded(Exception):
    """Named like the Gemini client layer's timeout error."""


def test_gemini_timeout_is_passed_and_reported(monkeypatch):
    calls = []

    def generate_content(text, **kw):
        calls.append(kw["request_options"])
        raise DeadlineExceeded("504 Deadline Exceeded")

    monkeypatch.setattr(g, "_google_client", lambda: types.SimpleNamespace(
        GenerativeModel=lambda name: types.SimpleNamespace(generate_content=generate_content)))
    monkeypatch.setattr(g, "REQUEST_TIMEOUT", 2.5)
    with pytest.raises(TimeoutError, match=r"^Gemini request timed out: no reply within 2\.5 s") as ei:
        g._llm_generate_text(P.GOOGLE, "gemini-x", "p")
    assert isinstance(ei.value.__cause__, DeadlineExceeded) and calls == [{"timeout": 2.5}]


def test_no_timeout_setting_means_no_limit_passed(monkeypatch):
    seen = {}
    monkeypatch.setitem(sys.modules, "openai", types.SimpleNamespace(OpenAI=lambda **kw: seen.update(kw)))
    monkeypatch.setenv("OPENAI_API_KEY", "k")
    monkeypatch.setattr(g, "REQUEST_TIMEOUT", None)
    g._openai_client()
    assert seen["timeout"] is None and seen["max_retries"] == 0


@pytest.mark.parametrize("value", [0, math.nan, "300", True])
def test_bad_timeout_setting_is_refused_before_any_request(monkeypatch, value):
    monkeypatch.setitem(sys.modules, "openai", types.SimpleNamespace(OpenAI=lambda **kw: pytest.fail("called")))
    monkeypatch.setenv("OPENAI_API_KEY", "k")
    monkeypatch.setattr(g, "REQUEST_TIMEOUT", value)
    with pytest.raises(ValueError, match="^REQUEST_TIMEOUT must be a positive number of seconds or None, got "):
        g._llm_generate_text(P.OPENAI, "gpt-5", "p")


def test_gemini_layer_warnings_stay_quiet():
    code = "import vorlan.genloom as g; g._google_client()"
    env = dict(os.environ, GEMINI_API_KEY="gm-test", PYTHONWARNINGS="always")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert "FutureWarning" not in out.stderr
