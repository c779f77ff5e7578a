import sys
import types

import pytest

import vorlan.genloom as g

NS = types.SimpleNamespace


def fake_module(name, **attrs):
    mod = types.ModuleType(name)
    for k, v in attrs.items():
        setattr(mod, k, v)
    return mod


class FakeOpenAI:
    def __init__(self, reply):
        self.models = NS(list=reply if callable(reply) else (lambda: reply))


@pytest.mark.parametrize(
    "reply, prefix, expected",
    [
        (NS(data=[NS(id="gpt-5"), NS(id="gpt-4o"), NS(id="gpt-5"), NS(id="o3"), NS(id=None)]), "gpt", ["gpt-4o", "gpt-5"]),
        (NS(data=[NS(id="b"), {"id": "a"}, {"id": 3}, NS(id="")]), None, ["", "a", "b"]),  # "" is text
        (NS(data=[NS(id="z"), NS(id="y")]), "", ["y", "z"]),
        ([NS(id="gpt-b"), {"id": "gpt-a"}], "gpt", ["gpt-a", "gpt-b"]),  # no data list: the reply is iterated
        (None, "gpt", []),
        (NS(data=[NS(id="gpt-é"), NS(id="gpt-z")]), "gpt", ["gpt-z", "gpt-é"]),
    ],
)
def test_list_openai_models(monkeypatch, reply, prefix, expected):
    monkeypatch.setattr(g, "_openai_client", lambda: FakeOpenAI(reply))
    assert g.list_openai_models(prefix) == expected


def test_list_openai_wraps_service_errors_only(monkeypatch):
    def boom():
        raise ConnectionError("no route")

    monkeypatch.setattr(g, "_openai_client", lambda: FakeOpenAI(boom))
    with pytest.raises(RuntimeError, match="^Failed to list OpenAI models: no route$"):
        g.list_openai_models()

    def no_client():
        raise RuntimeError("OPENAI_API_KEY environment variable not set.")

    monkeypatch.setattr(g, "_openai_client", no_client)
    with pytest.raises(RuntimeError, match="^OPENAI_API_KEY environment variable not set.$"):
        g.list_openai_models()


GEMINI_RECORDS = [
    NS(name="models/gemini-1.5-flash", supported_generation_methods=["generateContent", "countTokens"]),
    NS(name="models/embedding-001", supported_generation_methods=["embedContent"]),
    NS(name="gemini-no-prefix", supported_generation_methods=["generateContent"]),
    NS(name="models/gemini-1.5-flash", supported_generation_methods=["generateContent"]),
    NS(name="models/gemini-1.0-pro", supported_generation_methods=["generateContent"]),
    NS(name="models/text-bison", supported_generation_methods=["generateContent"]),
    NS(name=None, supported_generation_methods=["generateContent"]),
]


@pytest.mark.parametrize(
    "prefix, expected",
    [
        ("gemini", ["gemini-1.0-pro", "gemini-1.5-flash"]),
        ("text", ["text-bison"]),
        (None, ["gemini-1.0-pro", "gemini-1.5-flash", "text-bison"]),
        ("", ["gemini-1.0-pro", "gemini-1.5-flash", "text-bison"]),
    ],
)
def test_list_gemini_models(monkeypatch, prefix, expected):
    monkeypatch.setattr(g, "_google_client", lambda: NS(list_models=lambda: iter(GEMINI_RECORDS)))
    assert g.list_gemini_models(prefix) == expected


def test_list_gemini_errors(monkeypatch):
    def pager():
        yield GEMINI_RECORDS[0]
        raise PermissionError("API key not valid")

    monkeypatch.setattr(g, "_google_client", lambda: NS(list_models=pager))
    with pytest.raises(RuntimeError, match="^Failed to list Gemini models: API key not valid$"):
        g.list_gemini_models()
    monkeypatch.setattr(g, "_google_client", lambda: NS(list_models=lambda: [NS(name="models/x")]))
    with pytest.raises(AttributeError):  # a record without its methods list is not skipped
        g.list_gemini_models()
    monkeypatch.setattr(g, "_google_client", lambda: NS(list_models=lambda: None))
    assert g.list_gemini_models() == []


@pytest.mark.parametrize(
    "reply, prefix, expected",
    [
        ({"models": [{"model": "qwen2.5"}, NS(model="llama3"), {"model": "llama3"}]}, None, ["llama3", "qwen2.5"]),
        ({"models": [{"model": "qwen2.5"}, {"model": "llama3:8b"}]}, "llama", ["llama3:8b"]),
        ({"models": []}, "", []),
    ],
)
def test_list_ollama_models(monkeypatch, reply, prefix, expected):
    monkeypatch.setitem(sys.modules, "ollama", fake_module("ollama", list=lambda: reply))
    assert g.list_ollama_models(prefix) == expected


@pytest.mark.parametrize("reply", [{}, {"models": [{"name": "x"}]}, None])
def test_list_ollama_bad_replies(monkeypatch, reply):
    monkeypatch.setitem(sys.modules, "ollama", fake_module("ollama", list=lambda: reply))
    with pytest.raises(RuntimeError, match="^Failed to list Ollama models: "):
        g.list_ollama_models()


@pytest.mark.parametrize(
    "kwargs, which",
    [
        ({}, "openai"),
        ({"llm_provider": "ollama"}, "ollama"),
        ({"model_name": "llama3"}, "ollama"),
        ({"model_name": "gemini-pro"}, "gemini"),
        ({"llm_provider": " Gemini ", "model_name": "gpt-5"}, "gemini"),
    ],
)
def test_list_models_dispatch(monkeypatch, kwargs, which):
    calls = []
    monkeypatch.setattr(g, "list_openai_models", lambda *a: calls.append(("openai", a)) or ["o"])
    monkeypatch.setattr(g, "list_gemini_models", lambda *a: calls.append(("gemini", a)) or ["g"])
    monkeypatch.setattr(g, "list_ollama_models", lambda *a: calls.append(("ollama", a)) or ["l"])
    g.list_models(**kwargs)
    assert calls == [(which, ())]


def test_list_models_default_model_name_was_copied_at_load(monkeypatch):
    calls = []
    monkeypatch.setattr(g, "MODEL_NAME", "llama3")
    monkeypatch.setattr(g, "list_openai_models", lambda *a: calls.append("openai") or [])
    monkeypatch.setattr(g, "list_ollama_models", lambda *a: calls.append("ollama") or [])
    g.list_models()
    assert calls == ["openai"]
