"""Scripted stand-ins for LLM services on 127.0.0.1, for end-to-end tests."""
import json
import socket
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def token_count(text):
    """The fake services' token count of a text: its white-space separated words."""
    return len(str(text).split())


def response_body(text, input_text=None):
    """A Responses API reply; with input_text, also its `usage` (token_count of each side)."""
    body = {
        "id": "resp_1", "object": "response", "created_at": 0, "model": "gpt-5", "status": "completed",
        "output": [{"type": "message", "id": "msg_1", "status": "completed", "role": "assistant",
                    "content": [{"type": "output_text", "text": text, "annotations": []}]}],
    }
    if input_text is not None:
        i, o = token_count(input_text), token_count(text)
        body["usage"] = {"input_tokens": i, "output_tokens": o, "total_tokens": i + o,
                         "input_tokens_details": {"cached_tokens": 0},
                         "output_tokens_details": {"reasoning_tokens": 0}}
    return body


def chat_body(text, input_text=None):
    """A chat completion whose first choice carries `text`; with input_text, its `usage`."""
    body = {
        "id": "chatcmpl_1", "object": "chat.completion", "created": 0, "model": "local-model",
        "choices": [{"index": 0, "finish_reason": "stop",
                     "message": {"role": "assistant", "content": text}}],
    }
    if input_text is not None:
        i, o = token_count(input_text), token_count(text)
        body["usage"] = {"prompt_tokens": i, "completion_tokens": o, "total_tokens": i + o}
    return body


class JsonHandler(BaseHTTPRequestHandler):
    """Request handler that stays quiet and answers JSON; `x-should-retry: false` keeps the
    client library's own retries out of the tests' request counts."""

    def log_message(self, *args):
        pass

    def _send(self, status, payload):
        data = json.dumps(payload).encode()
        self.send_response(status)
        self.send_header("content-type", "application/json")
        self.send_header("content-length", str(len(data)))
        self.send_header("x-should-retry", "false")
        self.end_headers()
        self.wfile.write(data)


class FakeOpenAI:
    """POST /v1/responses answers with the next scripted text (with `usage` counted by
    token_count); GET /v1/models lists `models`."""

    def __init__(self, texts=(), models=(), responses=True, refuse_schema=False, owned_by="x"):
        # responses=False plays a server that serves chat completions only: POST
        # /v1/responses answers 404, POST /v1/chat/completions answers as usual.
        # refuse_schema=True plays an older server: a request with a reply schema answers 400.
        self.texts = list(texts)
        self.models = list(models)
        self.requests = []  # (method, path, parsed body)
        self.raw = []  # the body bytes of every POST
        service = self

        class Handler(JsonHandler):
            def do_POST(self):
                length = int(self.headers.get("content-length") or 0)
                data = self.rfile.read(length) if length else b""
                body = json.loads(data) if data else None
                service.requests.append(("POST", self.path, body))
                service.raw.append(data)
                reply = service.reply_to(body or {})
                if refuse_schema and has_reply_schema(body or {}):
                    self._send(400, {"error": {"type": "invalid_request_error", "message": REFUSAL}})
                elif reply is not None:
                    self._send(200, chat_body(reply))
                elif self.path.startswith("/v1/responses") and not responses:
                    self._send(404, {"error": {"message": "Not Found"}})
                elif self.path.startswith("/v1/responses") and service.texts:
                    self._send(200, response_body(service.texts.pop(0), (body or {}).get("input", "")))
                elif self.path.startswith("/v1/chat/completions") and service.texts:
                    user = "".join(m.get("content") or "" for m in (body or {}).get("messages", []))
                    self._send(200, chat_body(service.texts.pop(0), user))
                else:
                    self._send(500, {"error": {"message": "no scripted reply left"}})

            def do_GET(self):
                service.requests.append(("GET", self.path, None))
                if self.path.startswith("/v1/models"):
                    data = [{"id": m, "object": "model", "created": 0, "owned_by": owned_by} for m in service.models]
                    self._send(200, {"object": "list", "data": data})
                else:
                    self._send(404, {"error": {"message": "no such path"}})

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/v1"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def reply_to(self, body):
        """A reply chosen from the request itself, or None for the next scripted text."""
        return None

    def prompts(self):
        """The prompt of every POST: the Responses input, or the chat messages' content."""
        return [b["input"] if "input" in b else "".join(m["content"] for m in b["messages"])
                for m, p, b in self.requests if m == "POST"]

    def env(self):
        """Environment that sends the real client layer here, away from any proxy."""
        return {"OPENAI_BASE_URL": self.url, "OPENAI_API_KEY": "sk-local-test", "NO_PROXY": "127.0.0.1,localhost",
                "GEMINI_API_KEY": "", "OLLAMA_HOST": "127.0.0.1:9"}

    def close(self):
        self.server.shutdown()
        self.server.server_close()


REFUSAL = "Invalid parameter: 'response_format' of type 'json_schema' is not supported with this model."


def has_reply_schema(body):
    """True for a request that asks for a reply schema (Responses text.format, chat response_format)."""
    return "text" in body or (body.get("response_format") or {}).get("type") == "json_schema"


class FakeOllama:
    """POST /api/generate answers with the next scripted text; GET /api/tags lists `models`.
    refuse_schema=True plays an older server that answers a `format` schema with 400."""

    def __init__(self, texts=(), models=("llama3",), refuse_schema=False):
        self.texts = list(texts)
        self.requests = []  # (path, parsed body)
        self.raw = []
        service = self

        class Handler(JsonHandler):
            def do_POST(self):
                length = int(self.headers.get("content-length") or 0)
                data = self.rfile.read(length) if length else b""
                body = json.loads(data) if data else {}
                service.requests.append((self.path, body))
                service.raw.append(data)
                if refuse_schema and isinstance(body.get("format"), dict):
                    self._send(400, {"error": "invalid format: expected \"json\" or a JSON schema"})
                elif service.texts:
                    self._send(200, {"model": body.get("model"), "response": service.texts.pop(0), "done": True})
                else:
                    self._send(500, {"error": "no scripted reply left"})

            def do_GET(self):
                self._send(200, {"models": [{"model": m, "name": m} for m in models]})

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


PROXY_VARS = ("HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "http_proxy", "https_proxy", "all_proxy")


def start_fake_openai(monkeypatch, **kwargs):
    """A FakeOpenAI(**kwargs) that this process's real client layer talks to: proxies off,
    its environment set, back-off sleeps skipped. The caller closes it."""
    import time

    for var in PROXY_VARS:
        monkeypatch.delenv(var, raising=False)
    server = FakeOpenAI(**kwargs)
    for k, v in server.env().items():
        monkeypatch.setenv(k, v)
    monkeypatch.setattr(time, "sleep", lambda s: None)
    return server


class StallingServer:
    """Accepts connections on 127.0.0.1 and reads requests but never answers: a provider
    that hangs. `connections` counts accepted connections."""

    def __init__(self):
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.url = f"http://127.0.0.1:{self.port}"
        self.connections = 0
        self.held = []
        self.closed = threading.Event()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.closed.is_set():
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.connections += 1
            self.held.append(conn)

    def close(self):
        self.closed.set()
        try:
            self.sock.shutdown(socket.SHUT_RDWR)  # wakes the blocked accept()
        except OSError:
            pass
        self.sock.close()
        for conn in self.held:
            conn.close()
