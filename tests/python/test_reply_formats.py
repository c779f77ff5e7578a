"""Structured replies (STRUCTURED_OUTPUT): the schema each provider receives for each reply
contract, the same requests as before with the setting off, and the fallback on a server that
refuses the schema. OpenAI and Ollama through their real client layers against local stand-ins;
Gemini through a stand-in of its client layer that also checks the real layer takes the settings."""
import importlib
import json
import sys
from pathlib import Path

import pytest

import vorlan.genloom as g
from fake_llm_server import FakeOllama, start_fake_openai

SAMPLE = Path(__file__).resolve().parents[2] / "examples" / "sample"
MODEL, DATA = (SAMPLE / "sample.mod").read_text(), (SAMPLE / "sample.dat").read_text()
# A pair whose data does not compile, the repaired pair, then an "aligned" verdict.
REPLIES = [json.dumps({"model": MODEL, "data": "capacity = ;"}), json.dumps({"model": MODEL, "data": DATA}),
           json.dumps({"aligned": True, "assessment": "Matches."})]
CONTRACTS = ["pair", "pair", "alignment"]
DIALECT = {"responses": "openai_strict", "chat": "openai_strict", "ollama": "json_schema", "gemini": "gemini"}
KINDS = list(DIALECT)


class GeminiLayer:
    """Stand-in of the Gemini client layer: records each generation_config, answers from a list,
    and (refuse=True) fails a request with a response schema as a model without support does."""

    def __init__(self, texts, refuse=False):
        self.texts, self.refuse, self.configs = list(texts), refuse, []

    def GenerativeModel(self, name):
        layer = self

        class Model:
            def generate_content(self, text, generation_config=None, request_options=None):
                layer.configs.append(dict(generation_config))
                if layer.refuse and "response_schema" in generation_config:
                    raise ValueError("400 response_schema is not supported for this model")
                generation_types = pytest.importorskip("google.generativeai.types.generation_types")
                generation_types.to_generation_config_dict(generation_config)  # the real layer takes it
                return type("Reply", (), {"text": layer.texts.pop(0)})()

        return Model()


def schema_sent(kind, body):
    if kind == "responses":
        fmt = (body.get("text") or {}).get("format")
        return fmt and dict(fmt["schema"], _name=fmt["name"], _strict=fmt["strict"])
    if kind == "chat":
        fmt = (body.get("response_format") or {}).get("json_schema")
        return fmt and dict(fmt["schema"], _name=fmt["name"], _strict=fmt["strict"])
    if kind == "gemini":
        return body.get("response_schema") and dict(body["response_schema"], _mime=body["response_mime_type"])
    return body.get("format")


def expected_schema(kind, contract):
    schema = json.loads(g._reply_schema(contract, DIALECT[kind]))
    if kind in ("responses", "chat"):
        schema.update(_name=contract, _strict=True)
    if kind == "gemini":
        schema["_mime"] = "application/json"
    return schema


def without_schema(body):
    return {k: v for k, v in body.items() if k not in ("text", "response_format", "format", "response_schema",
                                                        "response_mime_type")}


def solve(kind, monkeypatch, tmp_path, structured, refuse=False):
    """One generative_solve through provider `kind`: (request bodies, progress notes, statistics)."""
    monkeypatch.setattr(g, "STRUCTURED_OUTPUT", structured)
    monkeypatch.setattr(g, "_REPLY_FORMAT_REFUSED", set())
    if kind in ("responses", "chat"):
        monkeypatch.setattr(g, "OPENAI_API", kind)
        server = start_fake_openai(monkeypatch, texts=REPLIES, refuse_schema=refuse)
        provider, bodies = "openai", lambda: [b for m, _, b in server.requests if m == "POST"]
    elif kind == "ollama":
        server = FakeOllama(texts=REPLIES, refuse_schema=refuse)
        monkeypatch.setenv("OLLAMA_HOST", server.url)
        monkeypatch.setenv("NO_PROXY", "127.0.0.1,localhost")
        for name in [n for n in sys.modules if n == "ollama" or n.startswith("ollama.")]:
            monkeypatch.delitem(sys.modules, name)  # the layer reads OLLAMA_HOST at import
        importlib.import_module("ollama")
        provider, bodies = "ollama", lambda: [b for _, b in server.requests]
    else:
        layer = GeminiLayer(REPLIES, refuse)
        monkeypatch.setattr(g, "_google_client", lambda: layer)
        provider, bodies, server = "google", lambda: layer.configs, None
    notes = []
    try:
        stats = g.generative_solve("A workshop builds tables and chairs.", str(tmp_path / "m.mod"),
                                   str(tmp_path / "m.dat"), model_name="m1", llm_provider=provider, iterations=3,
                                   few_shot=False, return_statistics=True, progress=notes.append)
    finally:
        if server:
            server.close()
    return bodies(), notes, stats


@pytest.mark.parametrize("kind", KINDS)
def test_each_call_carries_its_contracts_schema_and_nothing_else_changes(kind, monkeypatch, tmp_path):
    off, _, off_stats = solve(kind, monkeypatch, tmp_path / "off", structured=False)
    on, _, on_stats = solve(kind, monkeypatch, tmp_path / "on", structured=True)
    assert [schema_sent(kind, b) for b in off] == [None] * 3
    assert [schema_sent(kind, b) for b in on] == [expected_schema(kind, c) for c in CONTRACTS]
    assert [without_schema(b) for b in on] == off
    assert off_stats == on_stats and on_stats["iterations"] == 2 and not on_stats["syntax_errors"]


@pytest.mark.parametrize("kind", KINDS)
def test_a_server_that_refuses_the_schema_is_noted_once_and_the_run_goes_on_without_it(kind, monkeypatch, tmp_path):
    bodies, notes, stats = solve(kind, monkeypatch, tmp_path, structured=True, refuse=True)
    assert stats["iterations"] == 2 and not stats["syntax_errors"]
    # The refused request is repeated at once without the schema; later calls never send it.
    assert [schema_sent(kind, b) is not None for b in bodies] == [True, False, False, False]
    assert [without_schema(b) for b in bodies[:2]] == [without_schema(bodies[0])] * 2
    refusals = [n for n in notes if "did not accept the reply schema" in n]
    assert len(refusals) == 1 and refusals[0].startswith("[LLM] ")
    assert not [n for n in notes if "retry 1/3" in n]


def test_strict_replies_come_back_in_the_contracts_shape(monkeypatch):
    """Strict mode makes every key required, so optional ones arrive as null; the loop and the
    feedback command see them left out, as the contract says."""
    monkeypatch.setattr(g, "_REPLY_FORMAT_REFUSED", set())
    reply = {"feedback": "Fine as it is.", "revised_model": None, "revised_data": None}
    server = start_fake_openai(monkeypatch, texts=[json.dumps(reply)])
    try:
        text = g._llm_generate_text(g.LLMProvider.OPENAI, "gpt-5", "q", reply_contract="feedback")
    finally:
        server.close()
    assert json.loads(text) == {"feedback": "Fine as it is."}
    with pytest.raises(ValueError, match="Unknown reply contract"):
        g._llm_generate_text(g.LLMProvider.OPENAI, "gpt-5", "q", reply_contract="final")
