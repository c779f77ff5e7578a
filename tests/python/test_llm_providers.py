"""Anthropic and Gemini on google-genai through their real client layers, against local
stand-ins of the two services; the command line and `vorlan bench` on every provider path."""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

import vorlan
import vorlan.genloom as g
from fake_llm_server import PROXY_VARS, FakeOpenAI
from fake_provider_servers import KEY, FakeAnthropic, FakeGemini, FakeOllama

P = g.LLMProvider
STAGE = str(Path(vorlan.__file__).resolve().parents[1])
SAMPLE = Path(__file__).resolve().parents[2] / "examples" / "sample"

# kind: stand-in, provider member, model, progress label, usage provider, key variable, --provider
KINDS = {
    "anthropic": (FakeAnthropic, P.ANTHROPIC, "claude-test", "Anthropic", "anthropic", "ANTHROPIC_API_KEY", "anthropic"),
    "genai": (FakeGemini, P.GOOGLE, "gemini-test", "Gemini", "google", "GEMINI_API_KEY", "google"),
}


@pytest.fixture(params=sorted(KINDS))
def service(request, monkeypatch):
    cls, member, model, label, usage_name, key_var, cli = KINDS[request.param]
    for var in PROXY_VARS:
        monkeypatch.delenv(var, raising=False)
    fake = cls()
    for k, v in fake.env().items():
        monkeypatch.setenv(k, v)
    monkeypatch.setattr(g, "GEMINI_CLIENT", "genai")
    slept = []
    monkeypatch.setattr(time, "sleep", slept.append)
    fake.kind, fake.member, fake.model, fake.label, fake.usage_name = request.param, member, model, label, usage_name
    fake.key_var, fake.cli, fake.slept = key_var, cli, slept
    yield fake
    fake.close()


@pytest.fixture
def records():
    got = []
    token = g._usage_sink.set(got.append)
    yield got
    g._usage_sink.reset(token)


def sent(kind, body):
    """Prompt, token cap, temperature and stop sequences as the service received them."""
    if kind == "anthropic":
        return body["messages"][0]["content"], body.get("max_tokens"), body.get("temperature"), body.get("stop_sequences")
    config = body.get("generationConfig") or {}
    return (body["contents"][0]["parts"][0]["text"], config.get("maxOutputTokens"), config.get("temperature"),
            config.get("stopSequences"))


def test_prompt_options_reply_and_usage(service, records):
    service.script = ["alpha beta END gamma", "one two three four"]
    seen = []
    first = g._llm_generate_text(service.member, service.model, "a short prompt", temperature=0.5, stop=["END"],
                                 progress=seen.append)
    second = g._llm_generate_text(service.member, service.model, "p", max_tokens=2)
    assert (first, second) == ("alpha beta ", "one two")
    default_cap = 8192 if service.kind == "anthropic" else None  # the Messages API requires a cap
    assert [sent(service.kind, b) for b in service.posts()] == [
        ("a short prompt", default_cap, 0.5, ["END"]), ("p", 2, None, None)]
    assert seen == [f"[LLM] {service.label} \u2022 {service.model}: sending request",
                    f"[LLM] {service.label}: response received"]
    assert [(r["provider"], r["model"], r["output_text"], r["input_tokens"], r["output_tokens"]) for r in records] == [
        (service.usage_name, service.model, "alpha beta ", 3, 2), (service.usage_name, service.model, "one two", 1, 2)]


@pytest.mark.parametrize("script, bad_key, outcome, posts", [
    ([429, 529, "ok"], False, "ok", 3),  # rate limit, then overload, then an answer
    ([503, 500, 429], False, "request failed after 3 attempts: .*rate limit reached", 3),
    ([404], False, "request failed: .*no model named 'MODEL'; `vorlan models --provider CLI`", 1),
    (["ok"], True, "request failed: .*the service refused the key; check KEYVAR", 1),
])
def test_retries_and_refusals(service, monkeypatch, script, bad_key, outcome, posts):
    service.script = list(script)
    if bad_key:
        monkeypatch.setenv(service.key_var, "wrong-key")
    seen = []
    call = lambda: g._llm_generate_text(service.member, service.model, "p", progress=seen.append)  # noqa: E731
    if outcome == "ok":
        assert call() == "ok"
        assert f"[LLM] {service.label}: retry 2/3 after error: " in "\n".join(seen)
    else:
        pattern = "^" + service.label + " " + outcome.replace("MODEL", service.model).replace("CLI", service.cli) \
            .replace("KEYVAR", service.key_var)
        with pytest.raises(RuntimeError, match=pattern):
            call()
    assert len(service.posts()) == posts
    assert service.slept == [1.5, 3.0][:posts - 1]  # no wait after the last attempt, none for a refusal


@pytest.mark.parametrize("service", ["anthropic"], indirect=True)
def test_anthropic_asks_again_without_a_refused_temperature(service):
    service.script = [(400, "temperature: not supported by this model"), "ok"]
    assert g._llm_generate_text(P.ANTHROPIC, "claude-test", "p", temperature=0.3) == "ok"
    assert [b.get("temperature") for b in service.posts()] == [0.3, None] and service.slept == []


def test_stalled_service_times_out_per_attempt(service, monkeypatch):
    monkeypatch.setattr(g, "REQUEST_TIMEOUT", 1)
    service.script = [None, "late but fine"]
    started = time.monotonic()
    assert g._llm_generate_text(service.member, service.model, "p") == "late but fine"
    service.script = [None, None, None]
    with pytest.raises(RuntimeError, match=rf"^{service.label} request failed after 3 attempts: .*"
                                           r"\(no reply within 1 s; raise genloom.REQUEST_TIMEOUT or use --timeout\)$"):
        g._llm_generate_text(service.member, service.model, "p")
    assert time.monotonic() - started < 15 and len(service.posts()) == 5  # no hidden client retries


def test_model_listing(service, monkeypatch):
    if service.kind == "anthropic":
        service.models = ["claude-b", "claude-a", "claude-a", "other-model"]
        expected = ["claude-a", "claude-b"]
    else:
        service.models = [("gemini-b", ["generateContent"]), ("gemini-a", ["countTokens", "generateContent"]),
                          ("gemini-embedding", ["embedContent"])]
        expected = ["gemini-a", "gemini-b"]
    assert g.list_models(llm_provider=service.cli) == expected
    monkeypatch.setenv(service.key_var, "wrong-key")
    with pytest.raises(RuntimeError, match=f"^Failed to list {service.label} models: .*401"):
        g.list_models(llm_provider=service.cli)


@pytest.mark.parametrize("kind, layer, hint", [("anthropic", "anthropic", "anthropic"), ("genai", "google.genai", "gemini")])
def test_missing_key_or_client_layer(monkeypatch, kind, layer, hint):
    _, member, model, _, _, key_var, _ = KINDS[kind]
    monkeypatch.setattr(g, "GEMINI_CLIENT", "genai")
    monkeypatch.delenv(key_var, raising=False)
    with pytest.raises(RuntimeError, match=f"^{key_var} environment variable not set.$"):
        g._llm_generate_text(member, model, "p")
    monkeypatch.setitem(sys.modules, layer, None)
    with pytest.raises(RuntimeError, match=rf"is not installed. Install it with: pip install 'vorlan\[{hint}\]'$"):
        g._llm_generate_text(member, model, "p")


@pytest.mark.parametrize("service", ["genai"], indirect=True)
def test_genai_blocked_prompt_and_setting(service, records):
    service.script = ["BLOCK"]
    with pytest.raises(ValueError, match=r"^Gemini blocked the prompt \(block reason: SAFETY\)\.$"):
        g._llm_generate_text(P.GOOGLE, "gemini-test", "p")
    assert [r["output_text"] for r in records] == [""]
    g.GEMINI_CLIENT = "grpc"
    with pytest.raises(ValueError, match="^GEMINI_CLIENT must be \"generativeai\" or \"genai\", got 'grpc'$"):
        g._llm_generate_text(P.GOOGLE, "gemini-test", "p")


def test_reply_contract_goes_as_schema_and_a_refusal_falls_back(service, monkeypatch):
    monkeypatch.setattr(g, "_REPLY_FORMAT_REFUSED", set())
    verdict = json.dumps({"aligned": True, "assessment": "fine"})
    service.script = [verdict, (400, "response schema not supported"), verdict]
    out = g._llm_generate_text(service.member, service.model, "p", reply_contract="alignment")
    assert json.loads(out) == json.loads(verdict)
    schema = json.loads(g._reply_schema("alignment", "object"))

    def shape(body):
        if service.kind == "anthropic":
            return body.get("tools"), body.get("tool_choice")
        config = body.get("generationConfig") or {}
        return config.get("responseMimeType"), config.get("responseJsonSchema")

    expected = ([{"name": "reply", "description": "Give the reply as this tool's input.", "input_schema": schema}],
                {"type": "tool", "name": "reply"}) if service.kind == "anthropic" else ("application/json", schema)
    seen = []
    assert g._llm_generate_text(service.member, service.model, "p", reply_contract="alignment",
                                progress=seen.append) == verdict
    assert [shape(b) for b in service.posts()] == [expected, expected, (None, None)]
    assert any("did not accept the reply schema" in m for m in seen)


# ---- the command line -----------------------------------------------------------------


def run_cli(args, env):
    base = {k: v for k, v in os.environ.items() if k not in PROXY_VARS and not k.endswith("_API_KEY")}
    base.update({"PYTHONPATH": STAGE, "OLLAMA_HOST": "127.0.0.1:9", **env})
    return subprocess.run([sys.executable, "-m", "vorlan", *args], env=base, capture_output=True, text=True,
                          timeout=120)


@pytest.mark.parametrize("kind", sorted(KINDS))
def test_solve_and_models_on_the_command_line(kind, tmp_path):
    cls, _, model, _, _, _, cli = KINDS[kind]
    pair = json.dumps({"model": (SAMPLE / "sample.mod").read_text(), "data": (SAMPLE / "sample.dat").read_text()})
    fake = cls([pair, json.dumps({"assessment": "Fine."})],
               models=["claude-x"] if kind == "anthropic" else [("gemini-x", ["generateContent"])])
    try:
        r = run_cli(["solve", "A workshop builds tables and chairs.", "-o", str(tmp_path / "out"), "--no-few-shot",
                     "--no-alignment", "--iterations", "1", "--provider", cli, "--model", model], fake.env())
        assert r.returncode == 0, r.stderr
        assert f"[LLM] {KINDS[kind][3]} \u2022 {model}: sending request" in r.stderr
        assert (tmp_path / "out" / "model.mod").read_text() == (SAMPLE / "sample.mod").read_text()
        r = run_cli(["models", "--provider", cli], fake.env())
        assert (r.returncode, r.stdout) == (0, ("claude-x" if kind == "anthropic" else "gemini-x") + "\n")
    finally:
        fake.close()


BENCH_PATHS = {  # path: stand-in, its settings, the bench options
    "openai-responses": (lambda texts: FakeOpenAI(texts), ["--provider", "openai", "--model", "gpt-5"]),
    "openai-chat": (lambda texts: FakeOpenAI(texts, responses=False),
                    ["--provider", "openai", "--model", "local", "--openai-api", "chat"]),
    "gemini-genai": (lambda texts: FakeGemini(texts), ["--provider", "google", "--model", "gemini-x"]),
    "ollama": (lambda texts: FakeOllama(texts), ["--provider", "ollama", "--model", "llama3"]),
    "anthropic": (lambda texts: FakeAnthropic(texts), ["--provider", "anthropic", "--model", "claude-x"]),
    "ollama-without-counts": (lambda texts: FakeOllama(texts, counts=False), ["--provider", "ollama", "--model", "m"]),
}


@pytest.mark.parametrize("path", list(BENCH_PATHS))
def test_bench_shows_tokens_on_every_path(path, tmp_path, monkeypatch, capsys):
    from vorlan.cli import main

    make, options = BENCH_PATHS[path]
    for var in PROXY_VARS:
        monkeypatch.delenv(var, raising=False)
    for name in ("OPENAI_API", "GEMINI_CLIENT", "REQUEST_TIMEOUT"):  # the command sets them; restored after
        monkeypatch.setattr(g, name, getattr(g, name))
    reply = json.dumps({"model": (SAMPLE / "sample.mod").read_text(), "data": (SAMPLE / "sample.dat").read_text()})
    fake = make([reply])
    for k, v in fake.env().items():
        monkeypatch.setenv(k, v)
    monkeypatch.setenv("OPENAI_API_KEY", "sk-local-test")
    (tmp_path / "Set.jsonl").write_text(json.dumps({"id": "1", "question": "Make tables and chairs.", "answer": "1"}))
    try:
        main(["bench", str(tmp_path / "Set.jsonl"), "--out", str(tmp_path / "run"), "--no-few-shot",
              "--no-alignment", "--iterations", "1", "-q", *options])
    finally:
        fake.close()
    (row,) = [line for line in capsys.readouterr().out.splitlines() if line.startswith("Set ")]
    prompt = fake.prompts()[0] if isinstance(fake, FakeOpenAI) else None
    if path == "ollama-without-counts":
        assert row.split()[-2:] == ["n/a", "-"]  # tokens, and so no cost
    else:
        tokens_in, slash, tokens_out = row.split()[-4:-1]
        assert slash == "/" and int(tokens_out) == len(reply.split())
        assert int(tokens_in) > 100 and (prompt is None or int(tokens_in) == len(prompt.split()))
