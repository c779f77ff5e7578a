"""Every provider request is bounded: one deadline from connect to the last byte, a cap on the
reply size, and retries that wait as long as the server asks (never past the deadline)."""
import time

import pytest

import vorlan.genloom as g
from fake_llm_server import PROXY_VARS, FaultServer
from test_cli import base_env, run

P = g.LLMProvider
# path: provider, model, the name its messages start with (the OpenAI APIs, then the other client layers)
PATHS = {"responses": (P.OPENAI, "gpt-5", "OpenAI"), "chat": (P.OPENAI, "gpt-5", "OpenAI"),
         "ollama": (P.OLLAMA, "llama3", "Ollama"), "anthropic": (P.ANTHROPIC, "claude-test", "Anthropic"),
         "genai": (P.GOOGLE, "gemini-test", "Gemini")}


def call(server, path, monkeypatch):
    for var, url in [("OPENAI_BASE_URL", server.url + "/v1"), ("OLLAMA_HOST", server.url),
                     ("ANTHROPIC_BASE_URL", server.url), ("GOOGLE_GEMINI_BASE_URL", server.url)]:
        monkeypatch.setenv(var, url)
    for var in ("OPENAI_API_KEY", "ANTHROPIC_API_KEY", "GEMINI_API_KEY"):
        monkeypatch.setenv(var, "sk-local-test")
    monkeypatch.setattr(g, "OPENAI_API", "chat" if path == "chat" else "responses")
    monkeypatch.setattr(g, "GEMINI_CLIENT", "genai")
    provider, model, _ = PATHS[path]
    return g._llm_generate_text(provider, model, "p")


@pytest.fixture
def faults(monkeypatch):
    for var in PROXY_VARS:
        monkeypatch.delenv(var, raising=False)
    monkeypatch.setenv("NO_PROXY", "127.0.0.1,localhost")
    sleeps = []
    monkeypatch.setattr(time, "sleep", sleeps.append)
    servers = []

    def start(mode, **kw):
        servers.append(FaultServer(mode, **kw))
        return servers[-1], sleeps

    yield start
    for s in servers:
        s.close()


@pytest.mark.parametrize("path", PATHS)
def test_an_endless_reply_stops_at_the_size_cap(faults, monkeypatch, path):
    server, _ = faults("endless")
    monkeypatch.setattr(g, "MAX_REPLY_BYTES", 1 << 20)
    with pytest.raises(RuntimeError, match=rf"^{PATHS[path][2]} reply larger than 1048576 bytes; stopped reading"):
        call(server, path, monkeypatch)
    assert server.requests == 1  # a reply too large is not asked for again


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("mode", ["drip", "drip-headers"])
def test_a_dripping_reply_ends_at_the_request_deadline(faults, monkeypatch, path, mode):
    server, _ = faults(mode, interval=0.1)
    monkeypatch.setattr(g, "REQUEST_TIMEOUT", 1)
    started = time.monotonic()
    with pytest.raises((RuntimeError, TimeoutError)) as ei:
        call(server, path, monkeypatch)
    attempts = 1 if path == "ollama" else 3
    assert server.requests == attempts
    assert time.monotonic() - started < attempts * 1 + 2  # each attempt ends at its deadline
    bound = " in any of 3 attempts (each bounded from connect to the last byte" if PATHS[path][0] == P.OPENAI else ""
    assert f"no reply within 1 s{bound}" in str(ei.value)


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("status, header, waited", [
    (429, "2", 2.0), (503, "0.5", 0.5), (500, "Fri, 01 Jan 1971 00:00:00 GMT", 0.0),
    (429, "86400", 5.0),  # never past the request deadline
    (503, "soon", 1.5),  # unreadable: our own back-off
])
def test_retries_wait_as_the_server_says(faults, monkeypatch, path, status, header, waited):
    server, sleeps = faults("retry-after", status=status, retry_after=header, text="the reply")
    monkeypatch.setattr(g, "REQUEST_TIMEOUT", 5)
    assert call(server, path, monkeypatch) == "the reply"
    assert server.requests == 2 and sleeps == [waited]


@pytest.mark.parametrize("mode, message", [
    ("drip", "no reply within 1 s in any of 3 attempts (each bounded from connect to the last byte"),
    ("endless", "OpenAI reply larger than 8388608 bytes; stopped reading"),
])
def test_the_command_line_call_is_bounded(tmp_path, mode, message):
    server = FaultServer(mode)
    try:
        env = base_env(OPENAI_BASE_URL=server.url + "/v1", OPENAI_API_KEY="sk-local-test")
        started = time.monotonic()
        r = run(["solve", "a problem", "-o", str(tmp_path / "o"), "--provider", "openai", "--openai-api", "chat",
                 "--model", "m", "--no-few-shot", "--timeout", "1", "-q"], env=env)
        assert r.returncode == 1 and message in r.stderr
        assert time.monotonic() - started < 30  # 3 attempts of 1 s and two back-offs capped at 1 s, plus start-up
    finally:
        server.close()
