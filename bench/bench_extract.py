#!/usr/bin/env python3
"""Times extract_json_from_markdown and _json_loads_relaxed on large LLM replies
against the same steps written with the host's re and json modules.

    PYTHONPATH=build/dev-NAME/stage .venv/bin/python bench/bench_extract.py
"""
import json
import re
import time

import vorlan.genloom as g

FENCE_RE = re.compile(r"```(?:json)?\s*(\{.*\})\s*```", re.DOTALL)


def host_extract(text):
    m = FENCE_RE.search(text)
    if m:
        return m.group(1)
    start = text.find("{")
    if start == -1:
        return text
    depth = 0
    for i in range(start, len(text)):
        c = text[i]
        if c == "{":
            depth += 1
        elif c == "}":
            depth -= 1
            if depth == 0:
                return text[start : i + 1]
    return text


def host_loads(text):
    try:
        v = json.loads(text)
        if v is None or isinstance(v, dict):
            return v
    except Exception:
        pass
    v = json.loads(host_extract(text))
    if v is None or isinstance(v, dict):
        return v
    raise TypeError("Expected %s, got %.200s" % ("dict", type(v).__name__))


def payload(size):
    body = {"model": "var x >= 0;\n" * (size // 40), "data": "param n := 3;\n" * (size // 60),
            "nums": list(range(size // 200)), "nested": [{"k": i, "v": i * 0.5} for i in range(size // 400)]}
    return json.dumps(body)


def cases(size):
    obj = payload(size // 2)
    prose = ("The model below minimises cost subject to the constraints. " * (size // 60 + 1))[: size // 2]
    return {
        "fenced": prose + "\n```json\n" + obj + "\n```\nHope this helps.",
        "prose-wrapped": prose + " " + obj + " That is all.",
        "unbalanced": prose + " {" * (size // 4),
        "plain-object": payload(size),
    }


def best(fn, arg, reps):
    t = float("inf")
    for _ in range(reps):
        t0 = time.perf_counter()
        try:
            fn(arg)
        except Exception:
            pass
        t = min(t, time.perf_counter() - t0)
    return t


def main():
    print(f"{'size':>6} {'case':<14} {'step':<20} {'vorlan ms':>10} {'host ms':>10} {'ratio':>7}")
    for size in (1_000_000, 10_000_000):
        reps = 5 if size <= 1_000_000 else 2
        for name, text in cases(size).items():
            assert g.extract_json_from_markdown(text) == host_extract(text)
            steps = [("extract", g.extract_json_from_markdown, host_extract)]
            if name != "unbalanced":
                steps.append(("json_loads_relaxed", g._json_loads_relaxed, host_loads))
            for step, ours, theirs in steps:
                a = best(ours, text, reps)
                b = best(theirs, text, reps)
                print(f"{size // 1_000_000:>4}MB {name:<14} {step:<20} {a * 1e3:>10.2f} {b * 1e3:>10.2f} {b / a:>6.1f}x")


if __name__ == "__main__":
    main()
