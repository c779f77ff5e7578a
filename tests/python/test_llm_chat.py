"""Chat completions on the OpenAI path (OPENAI_API = "chat") and the hint for servers
without a Responses endpoint."""
import json
import time
import types

import pytest

import vorlan.genloom as g
from fake_llm_server import start_fake_openai, token_count

P = g.LLMProvider
NS = types.SimpleNamespace


@pytest.fixture
def chat_only(monkeypatch):
    monkeypatch.setattr(g, "OPENAI_API", "chat")
    server = start_fake_openai(monkeypatch, responses=False)
    yield server
    server.close()


@pytest.mark.parametrize(
    "kwargs, extra",
    [
        ({}, {}),
        ({"max_tokens": 50, "temperature": 0.2, "stop": ["x"]}, {"max_tokens": 50, "temperature": 0.2, "stop": ["x"]}),
    ],
)
def test_chat_request_carries_the_same_entries(chat_only, kwargs, extra):
    chat_only.texts = ["reply text"]
    records = []
    token = g._usage_sink.set(records.append)
    try:
        assert g._llm_generate_text(P.OPENAI, "local-model", "one user prompt", **kwargs) == "reply text"
    finally:
        g._usage_sink.reset(token)
    ((method, path, body),) = chat_only.requests
    assert (method, path) == ("POST", "/v1/chat/completions")
    assert body == {"model": "local-model", "messages": [{"role": "user", "content": "one user prompt"}], **extra}
    assert (records[0]["input_tokens"], records[0]["output_tokens"]) == (3, token_count("reply text"))


def test_feedback_and_listing_honour_chat(chat_only, tmp_path):
    (tmp_path / "m.mod").write_text("dvar float+ x;\nminimize x;\n")
    (tmp_path / "m.dat").write_text("")
    chat_only.texts = [json.dumps({"feedback": "looks fine"})]
    chat_only.models = ["qwen2.5-7b", "gpt-x"]
    out = g.generative_feedback("is it right?", str(tmp_path / "m.mod"), str(tmp_path / "m.dat"),
                                model_name="qwen2.5-7b", llm_provider="openai")
    assert out["feedback"] == "looks fine"
    # a compatible server's models are listed whole, not only those named gpt*
    assert g.list_models(llm_provider="openai") == ["gpt-x", "qwen2.5-7b"]
    assert [p for _, p, _ in chat_only.requests] == ["/v1/chat/completions", "/v1/models"]


def test_responses_404_at_a_local_server_names_the_option(monkeypatch):
    server = start_fake_openai(monkeypatch, texts=["unused"], responses=False)
    try:
        with pytest.raises(RuntimeError) as ei:
            g._llm_generate_text(P.OPENAI, "local-model", "p")
    finally:
        server.close()
    msg = str(ei.value)
    assert msg.startswith("OpenAI request failed after 3 attempts: Error code: 404")
    assert f"the server at {server.url}/ has no Responses endpoint" in msg and "--openai-api chat" in msg
    assert len(server.requests) == 3


class Http404(Exception):
    status_code = 404


@pytest.mark.parametrize(
    "base_url, api, hinted",
    [
        ("http://localhost:8080/v1/", "responses", True),
        ("https://api.openai.com/v1/", "responses", False),
        ("http://localhost:8080/v1/", "chat", False),
    ],
)
def test_404_hint_only_for_other_servers_on_responses(base_url, api, hinted, monkeypatch):
    monkeypatch.setattr(time, "sleep", lambda s: None)

    def create(**kw):
        raise Http404("Error code: 404")

    client = NS(base_url=base_url, responses=NS(create=create), chat=NS(completions=NS(create=create)))
    with pytest.raises(RuntimeError) as ei:
        g._call_openai_with_retry(client, {"model": "m"}, api=api)
    assert ("has no Responses endpoint" in str(ei.value)) == hinted


@pytest.mark.parametrize(
    "reply",
    [
        NS(choices=[NS(message=NS(content=None))]),
        NS(choices=[]),
        {"choices": [{"message": {"content": ""}}]},
    ],
)
def test_chat_reply_without_text_is_an_empty_reply(monkeypatch, reply):
    monkeypatch.setattr(g, "OPENAI_API", "chat")
    monkeypatch.setattr(g, "_openai_client", lambda: None)
    monkeypatch.setattr(g, "_call_openai_with_retry", lambda c, r, **kw: reply)
    with pytest.raises(RuntimeError, match=r"^Empty OpenAI response: .*\.$"):
        g._llm_generate_text(P.OPENAI, "m", "x")


def test_chat_reply_text_is_the_first_choice(monkeypatch):
    monkeypatch.setattr(g, "OPENAI_API", " Chat ")
    monkeypatch.setattr(g, "_openai_client", lambda: None)
    seen = {}

    def call(client, record, **kw):
        seen.update(kw)
        return {"choices": [{"message": {"content": "first"}}, {"message": {"content": "second"}}]}

    monkeypatch.setattr(g, "_call_openai_with_retry", call)
    assert g._llm_generate_text(P.OPENAI, "m", "x") == "first" and seen["api"] == "chat"


def test_empty_reply_message_is_capped(monkeypatch):
    class Huge:
        output_text = ""
        output = []

        def __str__(self):
            return "Reply(" + "line\n" * 200_000 + ")"

    monkeypatch.setattr(g, "_openai_client", lambda: None)
    monkeypatch.setattr(g, "_call_openai_with_retry", lambda c, r, **kw: Huge())
    with pytest.raises(RuntimeError) as ei:
        g._llm_generate_text(P.OPENAI, "m", "x")
    msg = str(ei.value)
    assert msg.startswith("Empty OpenAI response: Reply(line\\nline\\n") and msg.endswith(" characters in all).")
    assert len(msg) < 500 and "\n" not in msg


@pytest.mark.parametrize("setting", ["completions", None])
def test_unknown_api_is_refused(monkeypatch, setting):
    monkeypatch.setattr(g, "OPENAI_API", setting)
    monkeypatch.setattr(g, "_openai_client", lambda: pytest.fail("no client for a bad setting"))
    with pytest.raises(ValueError, match='^OPENAI_API must be "responses" or "chat", got '):
        g._llm_generate_text(P.OPENAI, "m", "x")
    with pytest.raises(ValueError, match='^api must be "responses" or "chat"'):
        g._call_openai_with_retry(None, {}, api="chatty")
