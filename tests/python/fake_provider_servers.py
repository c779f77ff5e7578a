"""Stand-ins on 127.0.0.1 for the Anthropic Messages API and the Gemini REST API, for tests that
drive the real `anthropic` and `google-genai` client layers. Each serves a script: a text is a
reply (cut at the request's first stop sequence and to its token cap, counted in words), a
number is an error reply with that HTTP status (a pair: status and message), None holds the connection without answering
until the client gives up."""
import json
import threading
from http.server import ThreadingHTTPServer

from fake_llm_server import JsonHandler, token_count

KEY = "test-key"


def _cut(text, stop, cap):
    """The reply a service would give: up to the first stop sequence, at most `cap` words.
    Returns the text and why it ended."""
    ended = "end"
    for s in stop or ():
        if s in text:
            text, ended = text[:text.index(s)], "stop"
    words = text.split(" ")
    if cap is not None and len(words) > cap:
        text, ended = " ".join(words[:cap]), "cap"
    return text, ended


class _FakeService:
    """The script, the requests seen (method, path, parsed body) and a threaded server."""

    def __init__(self, script=(), models=()):
        self.script = list(script)
        self.models = list(models)
        self.requests = []
        self.release = threading.Event()
        service = self

        class Handler(JsonHandler):
            def do_POST(self):
                length = int(self.headers.get("content-length") or 0)
                body = json.loads(self.rfile.read(length)) if length else None
                service.requests.append(("POST", self.path, body))
                if not service.authorized(self.headers):
                    return self._send(401, service.error(401, "invalid API key"))
                step = service.script.pop(0) if service.script else 500
                if step is None:
                    service.release.wait(30)
                    return None
                if isinstance(step, int):
                    step = (step, f"scripted failure {step}")
                if isinstance(step, tuple):
                    return self._send(step[0], service.error(*step))
                self._send(200, service.reply(step, body or {}))

            def do_GET(self):
                service.requests.append(("GET", self.path, None))
                if not service.authorized(self.headers):
                    return self._send(401, service.error(401, "invalid API key"))
                self._send(200, service.model_list())

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def posts(self):
        return [b for m, _, b in self.requests if m == "POST"]

    def close(self):
        self.release.set()
        self.server.shutdown()
        self.server.server_close()


class FakeAnthropic(_FakeService):
    """POST /v1/messages and GET /v1/models of the Messages API; the key in x-api-key or as a
    bearer token."""

    def authorized(self, headers):
        return headers.get("x-api-key") == KEY or headers.get("authorization") == f"Bearer {KEY}"

    def error(self, status, message):
        kind = {401: "authentication_error", 404: "not_found_error", 429: "rate_limit_error",
                529: "overloaded_error"}.get(status, "api_error")
        return {"type": "error", "error": {"type": kind, "message": message}}

    @staticmethod
    def reply(text, body):
        prompt = "".join(m["content"] for m in body.get("messages", []))
        text, ended = _cut(text, body.get("stop_sequences"), body.get("max_tokens"))
        stop_reason = {"end": "end_turn", "stop": "stop_sequence", "cap": "max_tokens"}[ended]
        content = [{"type": "text", "text": text}] if text else []
        if body.get("tool_choice"):  # the reply as the input of the tool the model must call
            content, stop_reason = [{"type": "tool_use", "id": "toolu_1", "name": body["tool_choice"]["name"],
                                     "input": json.loads(text)}], "tool_use"
        return {"id": "msg_1", "type": "message", "role": "assistant", "model": body.get("model"),
                "content": content, "stop_reason": stop_reason, "stop_sequence": None,
                "usage": {"input_tokens": token_count(prompt), "output_tokens": token_count(text)}}

    def model_list(self):
        data = [{"type": "model", "id": m, "display_name": m, "created_at": "2025-01-01T00:00:00Z"}
                for m in self.models]
        return {"data": data, "has_more": False, "first_id": None, "last_id": None}

    def env(self):
        return {"ANTHROPIC_API_KEY": KEY, "ANTHROPIC_BASE_URL": self.url, "NO_PROXY": "127.0.0.1,localhost"}


class FakeGemini(_FakeService):
    """POST /v1beta/models/M:generateContent and GET /v1beta/models of the Gemini REST API;
    the key in x-goog-api-key. A script entry "BLOCK" answers with a blocked prompt."""

    def authorized(self, headers):
        return headers.get("x-goog-api-key") == KEY

    def error(self, status, message):
        kind = {401: "UNAUTHENTICATED", 404: "NOT_FOUND", 429: "RESOURCE_EXHAUSTED"}.get(status, "INTERNAL")
        return {"error": {"code": status, "message": message, "status": kind}}

    @staticmethod
    def reply(text, body):
        if text == "BLOCK":
            return {"promptFeedback": {"blockReason": "SAFETY"}}
        prompt = "".join(p.get("text", "") for c in body.get("contents", []) for p in c.get("parts", []))
        config = body.get("generationConfig") or {}
        text, ended = _cut(text, config.get("stopSequences"), config.get("maxOutputTokens"))
        return {"candidates": [{"content": {"role": "model", "parts": [{"text": text}]},
                                "finishReason": "MAX_TOKENS" if ended == "cap" else "STOP", "index": 0}],
                "usageMetadata": {"promptTokenCount": token_count(prompt), "candidatesTokenCount": token_count(text),
                                  "totalTokenCount": token_count(prompt) + token_count(text)}}

    def model_list(self):
        return {"models": [{"name": f"models/{m}", "supportedGenerationMethods": methods}
                           for m, methods in self.models]}

    def env(self):
        return {"GEMINI_API_KEY": KEY, "GOOGLE_GEMINI_BASE_URL": self.url, "NO_PROXY": "127.0.0.1,localhost"}


class FakeOllama(_FakeService):
    """POST /api/generate and GET /api/tags of an Ollama server; with counts=False its replies
    carry no token counts."""

    def __init__(self, script=(), models=(), counts=True):
        self.counts = counts
        super().__init__(script, models)

    def authorized(self, headers):
        return True

    def error(self, status, message):
        return {"error": message}

    def reply(self, text, body):
        out = {"model": body.get("model"), "created_at": "2025-01-01T00:00:00Z", "response": text, "done": True}
        if self.counts:
            out.update(prompt_eval_count=token_count(body.get("prompt", "")), eval_count=token_count(text))
        return out

    def model_list(self):
        return {"models": [{"name": m, "model": m} for m in self.models]}

    def env(self):
        return {"OLLAMA_HOST": self.url, "NO_PROXY": "127.0.0.1,localhost"}
