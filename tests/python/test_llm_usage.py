"""The usage sink: one record per provider reply, per context, never in the way."""
import contextvars
import sys
import threading
import types

import pytest

import vorlan.genloom as g
from fake_llm_server import start_fake_openai, token_count

P = g.LLMProvider
NS = types.SimpleNamespace


@pytest.fixture
def records():
    got = []
    token = g._usage_sink.set(got.append)
    yield got
    g._usage_sink.reset(token)


@pytest.fixture
def openai_server(monkeypatch):
    server = start_fake_openai(monkeypatch)
    yield server
    server.close()


def test_sink_is_a_context_variable():
    assert isinstance(g._usage_sink, contextvars.ContextVar)
    assert g._usage_sink.name == "vorlan_usage_sink" and g._usage_sink.get() is None


def test_openai_reply_is_reported_with_its_usage(openai_server, records):
    openai_server.texts = ['{"model": "a b c"}']
    out = g._llm_generate_text(P.OPENAI, "gpt-5", "four words of prompt")
    (rec,) = records
    assert rec.pop("seconds") >= 0.0
    assert rec == {"provider": "openai", "model": "gpt-5", "input_text": "four words of prompt", "output_text": out,
                   "input_tokens": 4, "output_tokens": token_count(out)}


def test_failed_openai_request_reports_nothing(openai_server, records):
    with pytest.raises(RuntimeError, match="after 3 attempts"):
        g._llm_generate_text(P.OPENAI, "gpt-5", "p")
    assert records == []


@pytest.mark.parametrize(
    "reply, expected",
    [
        (NS(output_text="t", usage=NS(input_tokens=3, output_tokens=5)), ("t", 3, 5)),
        (NS(output_text="t", usage={"prompt_tokens": 2, "completion_tokens": 9}), ("t", 2, 9)),
        (NS(output_text="t", usage=NS(input_tokens=None, output_tokens=True)), ("t", None, None)),
        (NS(output_text="", output=[], usage=NS(input_tokens=7, output_tokens=0)), ("", 7, 0)),  # then raises
    ],
)
def test_openai_token_fields(monkeypatch, records, reply, expected):
    monkeypatch.setattr(g, "_openai_client", lambda: None)
    monkeypatch.setattr(g, "_call_openai_with_retry", lambda c, r, **kw: reply)
    try:
        g._llm_generate_text(P.OPENAI, "m", "x")
    except RuntimeError as e:
        assert str(e).startswith("Empty OpenAI response")
    assert [(r["output_text"], r["input_tokens"], r["output_tokens"]) for r in records] == [expected]


class Gemini:
    def __init__(self, reply):
        self.reply = reply

    def GenerativeModel(self, name):
        return NS(generate_content=lambda text, **kw: self.reply)


def test_gemini_reply_is_reported(monkeypatch, records):
    reply = NS(text="hi", usage_metadata=NS(prompt_token_count=11, candidates_token_count=1))
    monkeypatch.setattr(g, "_google_client", lambda: Gemini(reply))
    assert g._llm_generate_text(P.GOOGLE, "gemini-x", "in") == "hi"
    assert [(r["provider"], r["model"], r["output_text"], r["input_tokens"], r["output_tokens"])
            for r in records] == [("google", "gemini-x", "hi", 11, 1)]


def test_unreadable_gemini_reply_is_reported_then_raises(monkeypatch, records):
    class Blocked:
        usage_metadata = NS(prompt_token_count=4, candidates_token_count=0)

        @property
        def text(self):
            raise ValueError("blocked")

    monkeypatch.setattr(g, "_google_client", lambda: Gemini(Blocked()))
    with pytest.raises(ValueError, match="blocked"):
        g._llm_generate_text(P.GOOGLE, "gemini-x", "in")
    assert [(r["output_text"], r["input_tokens"]) for r in records] == [("", 4)]


def test_ollama_counts_come_from_the_reply(monkeypatch, records):
    reply = {"response": "out", "prompt_eval_count": 12, "eval_count": 3}
    monkeypatch.setitem(sys.modules, "ollama", types.ModuleType("ollama"))
    sys.modules["ollama"].generate = lambda **kw: reply
    assert g._llm_generate_text(P.OLLAMA, "llama3", "p") == "out"
    # a replaced _ollama_generate_text reports no counts (and none left over from before)
    monkeypatch.setattr(g, "_ollama_generate_text", lambda **kw: "other")
    g._llm_generate_text(P.OLLAMA, "llama3", "q")
    assert [(r["provider"], r["output_text"], r["input_tokens"], r["output_tokens"]) for r in records] == [
        ("ollama", "out", 12, 3), ("ollama", "other", None, None)]


@pytest.mark.parametrize("sink", [lambda rec: 1 / 0, "not callable"])
def test_bad_sink_never_breaks_the_call(monkeypatch, sink):
    monkeypatch.setattr(g, "_ollama_generate_text", lambda **kw: "fine")
    token = g._usage_sink.set(sink)
    try:
        assert g._llm_generate_text(P.OLLAMA, "llama3", "p") == "fine"
    finally:
        g._usage_sink.reset(token)


def test_sink_is_looked_up_in_the_module_namespace(monkeypatch):
    got = []
    monkeypatch.setattr(g, "_ollama_generate_text", lambda **kw: "x")
    monkeypatch.setattr(g, "_usage_sink", contextvars.ContextVar("other", default=got.append))
    g._llm_generate_text(P.OLLAMA, "llama3", "p")
    assert len(got) == 1
    monkeypatch.setattr(g, "_usage_sink", None)  # no variable at all: nothing happens
    assert g._llm_generate_text(P.OLLAMA, "llama3", "p") == "x"


def test_threads_each_see_their_own_sink(monkeypatch):
    monkeypatch.setattr(g, "_ollama_generate_text", lambda **kw: "r:" + kw["prompt"])
    barrier = threading.Barrier(4)
    got = {}

    def work(n):
        mine = []
        g._usage_sink.set(mine.append)
        barrier.wait()
        for i in range(20):
            g._llm_generate_text(P.OLLAMA, "llama3", f"{n}-{i}")
        got[n] = [r["input_text"] for r in mine]

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == {n: [f"{n}-{i}" for i in range(20)] for n in range(4)}
    assert g._usage_sink.get() is None
