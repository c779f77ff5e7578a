#!/usr/bin/env python3
"""Provider requests against misbehaving local servers: the bounded transport every client
layer is given (vorlan.http_bounds, as genloom builds it) next to a plain httpx client with
the same timeout, which is what a client layer does on its own. Prints, per server: seconds
until the call ends, bytes read of the reply, and the per-request cost on a well-behaved one.

    .venv/bin/python bench/bench_transport.py
"""
import resource
import sys
import time
from pathlib import Path

import httpx

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
from fake_llm_server import FakeOpenAI, FaultServer  # noqa: E402

from vorlan.http_bounds import client_options  # noqa: E402

TIMEOUT = 2.0  # seconds, as --timeout 2
CAP = 8 << 20  # genloom.MAX_REPLY_BYTES
GIVE_UP = 10.0  # the plain client is stopped here (it would go on)


def call(client, url):
    """(seconds, outcome, bytes read) of one GET read to its end, or stopped at GIVE_UP."""
    started, held = time.monotonic(), 0
    try:
        with client.stream("GET", url) as r:
            for chunk in r.iter_raw():
                held += len(chunk)
                if time.monotonic() - started > GIVE_UP:
                    return GIVE_UP, "still reading (stopped by the benchmark)", held
        return time.monotonic() - started, "complete", held
    except Exception as e:
        return time.monotonic() - started, type(e).__name__, held


def main():
    bounded = httpx.Client(timeout=TIMEOUT, **client_options(httpx, TIMEOUT, CAP))
    plain = httpx.Client(timeout=TIMEOUT)
    print(f"timeout {TIMEOUT:g} s, reply cap {CAP >> 20} MiB; peak RSS before: "
          f"{resource.getrusage(resource.RUSAGE_SELF).ru_maxrss >> 10} MiB")
    print(f"{'server':<10} {'client':<8} {'seconds':>8} {'MiB read':>9}  outcome")
    for mode in ("drip", "endless"):
        server = FaultServer(mode, interval=0.2)
        for name, client in (("bounded", bounded), ("plain", plain)):
            seconds, outcome, held = call(client, server.url + "/v1/x")
            print(f"{mode:<10} {name:<8} {seconds:8.2f} {held / 2**20:9.1f}  {outcome}")
        server.close()
    ok = FakeOpenAI(models=["m"])
    for name, client in (("bounded", bounded), ("plain", plain)):
        client.get(ok.url + "/models")
        n, started = 300, time.perf_counter()
        for _ in range(n):
            client.get(ok.url + "/models").read()
        print(f"{'normal':<10} {name:<8} {1000 * (time.perf_counter() - started) / n:8.3f} ms/request")
    ok.close()


if __name__ == "__main__":
    main()
