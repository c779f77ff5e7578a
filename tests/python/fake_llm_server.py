"""A scripted stand-in for the OpenAI HTTP service on 127.0.0.1, for end-to-end tests."""
import json
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


class FakeOpenAI:
    """POST /v1/responses answers with the next scripted text (with `usage` counted by
    token_count); GET /v1/models lists `models`."""

    def __init__(self, texts=(), models=()):
        self.texts = list(texts)
        self.models = list(models)
        self.requests = []  # (method, path, parsed body)
        service = self

        class Handler(BaseHTTPRequestHandler):
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

            def do_POST(self):
                length = int(self.headers.get("content-length") or 0)
                body = json.loads(self.rfile.read(length)) if length else None
                service.requests.append(("POST", self.path, body))
                if self.path.startswith("/v1/responses") and service.texts:
                    self._send(200, response_body(service.texts.pop(0), (body or {}).get("input", "")))
                else:
                    self._send(500, {"error": {"message": "no scripted reply left"}})

            def do_GET(self):
                service.requests.append(("GET", self.path, None))
                if self.path.startswith("/v1/models"):
                    data = [{"id": m, "object": "model", "created": 0, "owned_by": "x"} for m in service.models]
                    self._send(200, {"object": "list", "data": data})
                else:
                    self._send(404, {"error": {"message": "no such path"}})

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/v1"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def prompts(self):
        return [b["input"] for m, p, b in self.requests if m == "POST"]

    def env(self):
        """Environment that sends the real client layer here, away from any proxy."""
        return {"OPENAI_BASE_URL": self.url, "OPENAI_API_KEY": "sk-local-test", "NO_PROXY": "127.0.0.1,localhost",
                "GEMINI_API_KEY": "", "OLLAMA_HOST": "127.0.0.1:9"}

    def close(self):
        self.server.shutdown()
        self.server.server_close()


PROXY_VARS = ("HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "http_proxy", "https_proxy", "all_proxy")
