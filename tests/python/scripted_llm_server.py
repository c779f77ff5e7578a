"""A scripted OpenAI-compatible service on 127.0.0.1 that answers by problem: each request goes
to the first script whose key occurs in the prompt and gets that script's next reply, so
problems running at once each see their own sequence. Used by the benchmark tests and by
bench/bench_harness.py."""
import json
import threading
import time
from http.server import ThreadingHTTPServer

from fake_llm_server import FakeOpenAI, JsonHandler, response_body, token_count


class Fail:
    """A scripted HTTP failure instead of a reply."""

    def __init__(self, status=500, message="scripted failure"):
        self.status, self.message = status, message


class ScriptedOpenAI:
    """POST /v1/responses. `scripts` maps a key to a list of replies (text or Fail); a prompt
    that matches no key, or whose script is used up, goes to `default(prompt)` (text, Fail or
    None for a 500). Every reply waits `delay` seconds first. `served[key]` records
    (input tokens, output tokens) of each reply."""

    def __init__(self, scripts=None, default=None, delay=0.0):
        self.scripts = {k: list(v) for k, v in (scripts or {}).items()}
        self.default = default
        self.delay = delay
        self.lock = threading.Lock()
        self.served = {}
        self.requests = 0
        service = self

        class Handler(JsonHandler):
            protocol_version = "HTTP/1.1"

            def do_POST(self):
                length = int(self.headers.get("content-length") or 0)
                body = json.loads(self.rfile.read(length)) if length else {}
                prompt = body.get("input", "") if isinstance(body, dict) else ""
                key, reply = service._next(prompt)
                if service.delay:
                    time.sleep(service.delay)
                if reply is None or isinstance(reply, Fail):
                    fail = reply or Fail(500, "no scripted reply")
                    self._send(fail.status, {"error": {"message": fail.message, "type": "server_error"}})
                    return
                with service.lock:
                    service.served.setdefault(key, []).append((token_count(prompt), token_count(reply)))
                self._send(200, response_body(reply, prompt))

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/v1"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def _next(self, prompt):
        with self.lock:
            self.requests += 1
            for key, replies in self.scripts.items():
                if key in prompt:
                    if replies:
                        return key, replies.pop(0)
                    break
            else:
                key = None
        return key, (self.default(prompt) if self.default else None)

    env = FakeOpenAI.env  # the environment that sends the real client layer here

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def is_alignment_prompt(prompt):
    return '"aligned" (boolean)' in prompt


def pair(model, data):
    return json.dumps({"model": model, "data": data})


ALIGNED = json.dumps({"aligned": True, "assessment": "The model matches the description."})
