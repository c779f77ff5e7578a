import random
import re
import inspect
import sys
import time
import types

import pytest

import vorlan.genloom as g

P = g.LLMProvider


@pytest.fixture
def notes():
    seen = []
    return seen


def note_cb(seen):
    return seen.append


# ---- provider inference and request records ---------------------------------------


@pytest.mark.parametrize(
    "provider, model, expected",
    [
        ("  openai ", "gemini-pro", P.OPENAI),
        ("OAI", "llama3", P.OPENAI),
        ("Gemini", "gpt-5", P.GOOGLE),
        ("GOOGLE.GENERATIVEAI", "gpt-5", P.GOOGLE),
        ("genai", "x", P.GOOGLE),
        ("google", "x", P.GOOGLE),
        ("Ollama", "gpt-5", P.OLLAMA),
        (None, "gemini-1.5-pro", P.GOOGLE),
        ("", "gpt-oss:20b", P.OLLAMA),
        ("   ", "llama3", P.OLLAMA),
        ("unknown", "qwen2.5", P.OLLAMA),
        (None, "mistral", P.OLLAMA),
        (None, "my-gpt-oss", P.OLLAMA),
        (None, "gpt-5", P.OPENAI),
        (None, "Llama3", P.OPENAI),
        (None, "models/gemini-pro", P.OPENAI),
        (" Anthropic", "gpt-5", P.ANTHROPIC),
        ("CLAUDE", "gemini-pro", P.ANTHROPIC),
        (None, "claude-sonnet-4-5", P.ANTHROPIC),
        ("openai", "claude-sonnet-4-5", P.OPENAI),  # a named provider wins, e.g. a compatible proxy
    ],
)
def test_infer_provider(provider, model, expected):
    assert g._infer_provider(provider, model) is expected


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({}, {"model": "m", "input": "i", "response_format": {"type": "json"}}),
        ({"max_tokens": 0, "temperature": 0.0, "stop": []},
         {"model": "m", "input": "i", "response_format": {"type": "json"}, "max_output_tokens": 0, "temperature": 0.0}),
        ({"max_tokens": 10, "stop": ["\n\n"]},
         {"model": "m", "input": "i", "response_format": {"type": "json"}, "max_output_tokens": 10, "stop": ["\n\n"]}),
    ],
)
def test_build_create_params(kwargs, expected):
    got = g._build_create_params("m", "i", **kwargs)
    assert got == expected and list(got) == list(expected)


def test_defaults_were_copied_at_load(monkeypatch):
    monkeypatch.setattr(g, "MAX_OUTPUT_TOKENS", 99)
    assert "max_output_tokens" not in g._build_create_params("m", "i")


# ---- fakes for the client layers -----------------------------------------------------


class FakeResponses:
    def __init__(self, outcomes, accepts_any=False):
        self.outcomes = list(outcomes)
        self.calls = []
        if accepts_any:
            self.create = self._create_any
        else:
            self.create = self._create_named

    def _next(self, kw):
        self.calls.append(dict(kw))
        out = self.outcomes.pop(0)
        if isinstance(out, BaseException):
            raise out
        return out

    def _create_named(self, *, model=None, input=None, max_output_tokens=None, temperature=None, reasoning=None, stop=None):
        kw = {k: v for k, v in dict(model=model, input=input, max_output_tokens=max_output_tokens,
                                    temperature=temperature, reasoning=reasoning, stop=stop).items() if v is not None}
        return self._next(kw)

    def _create_any(self, **kw):
        return self._next(kw)


class FakeClient:
    def __init__(self, outcomes, accepts_any=False):
        self.responses = FakeResponses(outcomes, accepts_any)


@pytest.fixture
def sleeps(monkeypatch):
    slept = []
    monkeypatch.setattr(time, "sleep", slept.append)
    return slept


FULL = {"model": "m", "input": "i", "response_format": {"type": "json"}, "temperature": 0.2, "stop": ["x"]}


def test_signature_filter_drops_unknown_keys_without_notice(sleeps):
    client = FakeClient(["reply"])
    seen = []
    record = dict(FULL)
    assert g._call_openai_with_retry(client, record, progress=seen.append) == "reply"
    assert client.responses.calls == [{"model": "m", "input": "i", "temperature": 0.2, "stop": ["x"]}]
    assert seen == [] and sleeps == [] and record == FULL


def test_var_keyword_client_receives_everything(sleeps):
    client = FakeClient(["ok"], accepts_any=True)
    g._call_openai_with_retry(client, FULL)
    assert client.responses.calls == [FULL]


def test_unsupported_parameter_is_stripped_and_retried_at_once(sleeps):
    err = ValueError("Error code: 400 - Unsupported parameter: 'temperature' is not supported with this model.")
    client = FakeClient([err, "second"], accepts_any=True)
    seen = []
    assert g._call_openai_with_retry(client, {"model": "m", "temperature": 1.0}, progress=seen.append) == "second"
    assert client.responses.calls == [{"model": "m", "temperature": 1.0}, {"model": "m"}]
    assert seen == ["[LLM] OpenAI: " + str(err), "[LLM] OpenAI: retrying without unsupported parameters"]
    assert sleeps == []


@pytest.mark.parametrize(
    "message, record, remaining",
    [
        ("please STOP", {"model": "m", "stop": ["x"]}, {"model": "m"}),
        ("The parameter 'max_output_tokens' is not supported here", {"model": "m", "max_output_tokens": 5}, {"model": "m"}),
        ("unsupported parameter:  'Custom_Key'", {"model": "m", "Custom_Key": 1, "custom_key": 2}, {"model": "m", "custom_key": 2}),
        ("bad reasoning and temperature and response_format", {"model": "m", "reasoning": 1, "temperature": 1, "response_format": 1},
         {"model": "m"}),
    ],
)
def test_error_text_rules(message, record, remaining, sleeps):
    client = FakeClient([RuntimeError(message), "ok"], accepts_any=True)
    g._call_openai_with_retry(client, record)
    assert client.responses.calls[1] == remaining and sleeps == []


def test_exhausted_retries_report_and_sleep(sleeps):
    errs = [ConnectionError(f"boom {i}") for i in range(3)]
    client = FakeClient(errs, accepts_any=True)
    seen = []
    with pytest.raises(RuntimeError) as ei:
        g._call_openai_with_retry(client, {"model": "m"}, progress=seen.append)
    assert str(ei.value) == "OpenAI request failed after 3 attempts: boom 2"
    assert sleeps == [1.5, 3.0]  # no wait after the last attempt
    assert seen == [
        "[LLM] OpenAI: boom 0", "[LLM] OpenAI: retry 1/3 after error: boom 0",
        "[LLM] OpenAI: boom 1", "[LLM] OpenAI: retry 2/3 after error: boom 1",
        "[LLM] OpenAI: boom 2", "[LLM] OpenAI: retry 3/3 after error: boom 2",
        "[LLM] OpenAI: failed after 3 attempts",
    ]


def test_strip_uses_up_an_attempt(sleeps):
    errs = [RuntimeError("unsupported parameter: 'a'"), RuntimeError("unsupported parameter: 'b'"), RuntimeError("x")]
    client = FakeClient(errs, accepts_any=True)
    with pytest.raises(RuntimeError, match="after 3 attempts: x$"):
        g._call_openai_with_retry(client, {"model": "m", "a": 1, "b": 2}, backoff_sec=0.25)
    assert len(client.responses.calls) == 3 and sleeps == []  # the last attempt is not followed by a wait


def test_zero_retries(sleeps):
    client = FakeClient([], accepts_any=True)
    seen = []
    with pytest.raises(RuntimeError) as ei:
        g._call_openai_with_retry(client, {"model": "m"}, retries=0, progress=seen.append)
    assert str(ei.value) == "OpenAI request failed after 0 attempts: None"
    assert seen == ["[LLM] OpenAI: failed after 0 attempts"] and client.responses.calls == []


def test_interrupt_is_not_retried(sleeps):
    client = FakeClient([KeyboardInterrupt()], accepts_any=True)
    with pytest.raises(KeyboardInterrupt):
        g._call_openai_with_retry(client, {"model": "m"})
    assert len(client.responses.calls) == 1


def test_failing_callback_does_not_disturb_retries(sleeps):
    def bad(msg):
        raise ValueError("callback broke")

    client = FakeClient([OSError("e"), "ok"], accepts_any=True)
    assert g._call_openai_with_retry(client, {"model": "m"}, progress=bad) == "ok"


# ---- client construction ---------------------------------------------------------------


def fake_module(name, **attrs):
    mod = types.ModuleType(name)
    for k, v in attrs.items():
        setattr(mod, k, v)
    return mod


def block_import(monkeypatch, name):
    monkeypatch.setitem(sys.modules, name, None)  # import then fails with ImportError


@pytest.mark.parametrize(
    "func, layer, message",
    [
        (lambda: g._openai_client(), "openai", "openai is not installed."),
        (lambda: g._google_client(), "google.generativeai", "google.generativeai is not installed."),
        (lambda: g._ollama_generate_text("m", "p"), "ollama", "ollama package is not installed."),
        (lambda: g.list_ollama_models(), "ollama", "ollama package is not installed."),
    ],
)
def test_missing_client_layer(monkeypatch, func, layer, message):
    block_import(monkeypatch, layer)
    monkeypatch.delenv("OPENAI_API_KEY", raising=False)
    monkeypatch.delenv("GEMINI_API_KEY", raising=False)
    with pytest.raises(RuntimeError) as ei:
        func()
    assert str(ei.value).startswith(message) and "pip install" in str(ei.value)
    assert isinstance(ei.value.__cause__, ImportError)


@pytest.mark.parametrize("value", [None, ""])
def test_missing_keys(monkeypatch, value):
    for var in ("OPENAI_API_KEY", "GEMINI_API_KEY"):
        if value is None:
            monkeypatch.delenv(var, raising=False)
        else:
            monkeypatch.setenv(var, value)
    monkeypatch.setitem(sys.modules, "openai", fake_module("openai", OpenAI=lambda **kw: kw))
    monkeypatch.setitem(sys.modules, "google.generativeai", fake_module("google.generativeai", configure=lambda **kw: None))
    with pytest.raises(RuntimeError, match=r"^OPENAI_API_KEY environment variable not set\.$"):
        g._openai_client()
    with pytest.raises(RuntimeError, match=r"^GEMINI_API_KEY environment variable not set\.$"):
        g._google_client()


def test_clients_get_the_keys(monkeypatch):
    configured = []
    monkeypatch.setenv("OPENAI_API_KEY", "sk-test")
    monkeypatch.setenv("GEMINI_API_KEY", "gm-test")
    monkeypatch.setitem(sys.modules, "openai", fake_module("openai", OpenAI=lambda **kw: ("client", kw)))
    genai = fake_module("google.generativeai", configure=lambda **kw: configured.append(kw))
    monkeypatch.setitem(sys.modules, "google.generativeai", genai)
    # the client's own retries are off (ours are the attempts); the timeout is REQUEST_TIMEOUT
    assert g._openai_client() == ("client", {"api_key": "sk-test", "timeout": 300.0, "max_retries": 0})
    assert g._google_client() is genai and configured == [{"api_key": "gm-test"}]


# ---- dispatch ------------------------------------------------------------------------


def test_openai_dispatch(monkeypatch):
    sent = []
    monkeypatch.setattr(g, "_openai_client", lambda: "CLIENT")

    def fake_call(client, record, retries=3, backoff_sec=1.5, progress=None):
        sent.append((client, record))
        return types.SimpleNamespace(output_text="the text")

    monkeypatch.setattr(g, "_call_openai_with_retry", fake_call)
    seen = []
    out = g._llm_generate_text(P.OPENAI, "gpt-5", "hello", max_tokens=7, stop=["s"], progress=seen.append)
    assert out == "the text"
    assert sent == [("CLIENT", {"model": "gpt-5", "input": "hello", "response_format": {"type": "json"},
                                "max_output_tokens": 7, "stop": ["s"]})]
    assert seen == ["[LLM] OpenAI \u2022 gpt-5: sending request", "[LLM] OpenAI: response received"]


def test_openai_empty_reply(monkeypatch):
    monkeypatch.setattr(g, "_openai_client", lambda: None)
    monkeypatch.setattr(g, "_call_openai_with_retry", lambda c, r, **kw: types.SimpleNamespace(output_text="", output=[]))
    with pytest.raises(RuntimeError) as ei:
        g._llm_generate_text(P.OPENAI, "m", "x")
    assert str(ei.value).startswith("Empty OpenAI response: ") and str(ei.value).endswith(".")


def test_openai_missing_key_fails_before_notice(monkeypatch):
    monkeypatch.delenv("OPENAI_API_KEY", raising=False)
    monkeypatch.setitem(sys.modules, "openai", fake_module("openai", OpenAI=lambda **kw: None))
    seen = []
    with pytest.raises(RuntimeError, match="OPENAI_API_KEY"):
        g._llm_generate_text(P.OPENAI, "m", "x", progress=seen.append)
    assert seen == []


class FakeGemini:
    def __init__(self, reply):
        self.reply = reply
        self.calls = []

    def GenerativeModel(self, name):
        outer = self

        class Model:
            def generate_content(self, text, generation_config=None, request_options=None):
                outer.calls.append((name, text, generation_config, request_options))
                return outer.reply

        return Model()


NS = types.SimpleNamespace


@pytest.mark.parametrize(
    "reply, expected",
    [
        (NS(text="direct"), "direct"),
        (NS(text="", candidates=[NS(content=NS(parts=[NS(text="a")])), NS(content=NS(parts=[NS(text="b")]))]), "ab"),
        (NS(candidates=[NS(content=None), NS(content=NS(parts=[NS(text=None), NS(other=1), NS(text="z")]))]), "z"),
        (NS(text=None, candidates=[]), ""),
        (NS(), ""),
    ],
)
def test_gemini_dispatch(monkeypatch, reply, expected):
    fake = FakeGemini(reply)
    monkeypatch.setattr(g, "_google_client", lambda: fake)
    seen = []
    out = g._llm_generate_text(P.GOOGLE, "gemini-x", "hi", max_tokens=5, temperature=0.5, stop=["q"], progress=seen.append)
    assert out == expected
    assert fake.calls == [("gemini-x", "hi", {"max_output_tokens": 5, "temperature": 0.5}, {"timeout": 300.0})]
    assert seen == ["[LLM] Gemini \u2022 gemini-x: sending request", "[LLM] Gemini: response received"]


def test_gemini_text_errors_propagate(monkeypatch):
    class Reply:
        @property
        def text(self):
            raise ValueError("blocked")

    monkeypatch.setattr(g, "_google_client", lambda: FakeGemini(Reply()))
    with pytest.raises(ValueError, match="blocked"):
        g._llm_generate_text(P.GOOGLE, "gemini-x", "hi")


def test_ollama_dispatch(monkeypatch):
    calls = []
    monkeypatch.setattr(g, "_ollama_generate_text", lambda **kw: calls.append(kw) or "out")
    seen = []
    assert g._llm_generate_text(P.OLLAMA, "llama3", "p", max_tokens=3, temperature=1.0, stop=["x"], progress=seen.append) == "out"
    assert calls == [{"model_name": "llama3", "prompt": "p", "num_predict": 3}]
    assert seen == ["[LLM] Ollama \u2022 llama3: generating", "[LLM] Ollama: response received"]


def test_unsupported_provider():
    with pytest.raises(ValueError, match="^Unsupported LLM provider: openai$"):
        g._llm_generate_text("openai", "m", "x")


@pytest.mark.parametrize(
    "num_predict, options", [(None, {}), (256, {"num_predict": 256}), (0, {"num_predict": 0})]
)
def test_ollama_generate_options(monkeypatch, num_predict, options):
    calls = []
    monkeypatch.setitem(sys.modules, "ollama", fake_module("ollama", generate=lambda **kw: calls.append(kw) or {"response": "r"}))
    assert g._ollama_generate_text("m", "p", num_predict) == "r"
    assert calls == [{"model": "m", "prompt": "p", "options": options}]


@pytest.mark.parametrize("reply, expected", [({"response": ""}, ""), ({"response": None}, ""), ({"response": "t"}, "t")])
def test_ollama_reply_texts(monkeypatch, reply, expected):
    monkeypatch.setitem(sys.modules, "ollama", fake_module("ollama", generate=lambda **kw: reply))
    assert g._ollama_generate_text("m", "p") == expected


@pytest.mark.parametrize("reply", [{}, {"response": 5}, 42, None])
def test_ollama_bad_replies(monkeypatch, reply):
    monkeypatch.setitem(sys.modules, "ollama", fake_module("ollama", generate=lambda **kw: reply))
    with pytest.raises(RuntimeError, match="^Failed to retrieve response text from Ollama response: "):
        g._ollama_generate_text("m", "p")


def test_ollama_service_errors_propagate_unchanged(monkeypatch):
    def gen(**kw):
        raise ConnectionError("refused")

    monkeypatch.setitem(sys.modules, "ollama", fake_module("ollama", generate=gen))
    with pytest.raises(ConnectionError, match="refused"):
        g._ollama_generate_text("m", "p")


def reference_strip(params, msg):
    low = msg.lower()
    removed = False
    for key in ("response_format", "stop", "reasoning", "temperature"):
        if key in params and key in low:
            del params[key]
            removed = True
    m = re.search(r"unsupported parameter:\s*'([^']+)'", msg, re.IGNORECASE)
    if m and m.group(1) in params:
        del params[m.group(1)]
        removed = True
    m = re.search(r"parameter\s*'([^']+)'\s*is not supported", msg, re.IGNORECASE)
    if m and m.group(1) in params:
        del params[m.group(1)]
        return True
    return removed


@pytest.mark.parametrize("seed", range(4))
def test_error_text_rules_agree_with_host_regex(seed, sleeps):
    rnd = random.Random(seed)
    pieces = ["unsupported parameter:", "UNSUPPORTED PARAMETER:", "un\u017fupported parameter:", "parameter", "Parameter",
              " ", "\n", "\u3000", "'", "x", "top_p", "stop", "is not supported", "IS NOT SUPPORTED", "is  not supported"]
    for _ in range(3000):
        msg = "".join(rnd.choice(pieces) for _ in range(rnd.randint(1, 9)))
        record = {"model": "m", "x": 1, "top_p": 2, "stop": 3, " ": 4, "temperature": 5, "xx": 6}
        expected = dict(record)
        stripped = reference_strip(expected, msg)
        client = FakeClient([RuntimeError(msg), "ok"], accepts_any=True)
        sleeps.clear()
        g._call_openai_with_retry(client, record, retries=2, backoff_sec=0.0)
        assert client.responses.calls[1] == expected, repr(msg)
        assert (sleeps == []) == stripped, repr(msg)
