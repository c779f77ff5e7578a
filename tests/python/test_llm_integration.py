"""The real openai and ollama client layers against fake services on 127.0.0.1."""
import importlib
import json
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

import vorlan.genloom as g


class FakeService:
    """Replies from a queue of (status, body) per path; records every request."""

    def __init__(self):
        self.replies = {}
        self.requests = []
        service = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def _reply(self):
                length = int(self.headers.get("content-length") or 0)
                body = self.rfile.read(length) if length else b""
                path = self.path.split("?")[0]
                service.requests.append((self.command, path, json.loads(body) if body else None))
                queue = service.replies.get(path) or [(404, {"error": {"message": "no such path"}})]
                status, payload = queue.pop(0) if len(queue) > 1 else queue[0]
                data = json.dumps(payload).encode()
                self.send_response(status)
                self.send_header("content-type", "application/json")
                self.send_header("content-length", str(len(data)))
                self.send_header("x-should-retry", "false")  # the client's own retries stay out
                self.end_headers()
                self.wfile.write(data)

            do_GET = do_POST = _reply

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


@pytest.fixture
def service(monkeypatch):
    monkeypatch.setenv("NO_PROXY", "127.0.0.1,localhost")
    for var in ("HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "http_proxy", "https_proxy", "all_proxy"):
        monkeypatch.delenv(var, raising=False)
    s = FakeService()
    yield s
    s.close()


@pytest.fixture
def openai_env(service, monkeypatch):
    monkeypatch.setenv("OPENAI_BASE_URL", service.url + "/v1")
    monkeypatch.setenv("OPENAI_API_KEY", "sk-local-test")
    monkeypatch.setattr(time, "sleep", lambda s: None)
    return service


def response_body(text):
    return {
        "id": "resp_1", "object": "response", "created_at": 0, "model": "gpt-5", "status": "completed",
        "output": [{"type": "message", "id": "msg_1", "status": "completed", "role": "assistant",
                    "content": [{"type": "output_text", "text": text, "annotations": []}]}],
    }


def test_openai_success(openai_env):
    openai_env.replies["/v1/responses"] = [(200, response_body('{"model": "m", "data": "d"}'))]
    seen = []
    out = g._llm_generate_text(g.LLMProvider.OPENAI, "gpt-5", "prompt", max_tokens=50, stop=["x"], progress=seen.append)
    assert out == '{"model": "m", "data": "d"}'
    ((method, path, body),) = openai_env.requests
    assert (method, path) == ("POST", "/v1/responses")
    # the installed client takes neither response_format nor stop: both are dropped up front
    assert body == {"model": "gpt-5", "input": "prompt", "max_output_tokens": 50}
    assert seen == ["[LLM] OpenAI \u2022 gpt-5: sending request", "[LLM] OpenAI: response received"]


def test_openai_400_strips_named_parameter(openai_env):
    err = {"error": {"message": "Unsupported parameter: 'temperature' is not supported with this model.",
                     "type": "invalid_request_error", "param": "temperature", "code": "unsupported_parameter"}}
    openai_env.replies["/v1/responses"] = [(400, err), (200, response_body("ok"))]
    seen = []
    assert g._llm_generate_text(g.LLMProvider.OPENAI, "gpt-5", "p", temperature=0.3, progress=seen.append) == "ok"
    bodies = [b for _, _, b in openai_env.requests]
    assert bodies[0]["temperature"] == 0.3 and "temperature" not in bodies[1]
    assert "[LLM] OpenAI: retrying without unsupported parameters" in seen


def test_openai_500_exhausts_retries(openai_env):
    openai_env.replies["/v1/responses"] = [(500, {"error": {"message": "server exploded"}})]
    with pytest.raises(RuntimeError) as ei:
        g._llm_generate_text(g.LLMProvider.OPENAI, "gpt-5", "p")
    assert str(ei.value).startswith("OpenAI request failed after 3 attempts: ") and "server exploded" in str(ei.value)
    assert len(openai_env.requests) == 3


def test_openai_models_list(openai_env):
    models = [{"id": i, "object": "model", "created": 0, "owned_by": "o"}
              for i in ["gpt-5", "o3", "gpt-4o", "gpt-5", "dall-e"]]
    openai_env.replies["/v1/models"] = [(200, {"object": "list", "data": models})]
    assert g.list_models() == ["gpt-4o", "gpt-5"]
    assert g.list_openai_models(None) == ["dall-e", "gpt-4o", "gpt-5", "o3"]


def test_openai_models_list_failure(openai_env):
    openai_env.replies["/v1/models"] = [(401, {"error": {"message": "bad key"}})]
    with pytest.raises(RuntimeError, match="^Failed to list OpenAI models: .*bad key"):
        g.list_openai_models()


@pytest.fixture
def fresh_ollama(monkeypatch):
    """Imports the real ollama client layer anew once OLLAMA_HOST is set (it reads it at import)."""

    def load(host):
        monkeypatch.setenv("OLLAMA_HOST", host)
        for name in [n for n in sys.modules if n == "ollama" or n.startswith("ollama.")]:
            monkeypatch.delitem(sys.modules, name)
        mod = importlib.import_module("ollama")
        return mod

    yield load
    for name in [n for n in sys.modules if n == "ollama" or n.startswith("ollama.")]:
        sys.modules.pop(name, None)


@pytest.mark.parametrize("num_predict, options", [(None, {}), (64, {"num_predict": 64})])
def test_ollama_generate(service, fresh_ollama, num_predict, options):
    fresh_ollama(service.url)
    service.replies["/api/generate"] = [(200, {"model": "llama3", "response": "hi there", "done": True})]
    assert g._ollama_generate_text("llama3", "say hi", num_predict) == "hi there"
    ((method, path, body),) = service.requests
    assert (method, path, body["model"], body["prompt"]) == ("POST", "/api/generate", "llama3", "say hi")
    assert (body.get("options") or {}) == options


def test_ollama_list(service, fresh_ollama):
    fresh_ollama(service.url)
    tags = {"models": [{"model": m, "name": m} for m in ["qwen2.5:7b", "llama3:latest", "qwen2.5:7b"]]}
    service.replies["/api/tags"] = [(200, tags)]
    assert g.list_models(llm_provider="ollama") == ["llama3:latest", "qwen2.5:7b"]
    assert g.list_ollama_models("qwen") == ["qwen2.5:7b"]


def test_ollama_unreachable(fresh_ollama):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]  # closed again before use: nothing listens there
    fresh_ollama(f"http://127.0.0.1:{port}")
    with pytest.raises(ConnectionError):
        g._ollama_generate_text("llama3", "p")
    with pytest.raises(RuntimeError, match="^Failed to list Ollama models: "):
        g.list_ollama_models()
