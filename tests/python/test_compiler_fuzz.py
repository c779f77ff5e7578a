"""Bounded mutation fuzzing of the model and data parsers at the host boundary: mutated
corpus pairs must compile or raise one of the compiler's two error kinds, never crash or hang."""
import random
import time
from pathlib import Path

import pytest

from vorlan import semantic_error, vorlan_core

ROOT = Path(__file__).resolve().parents[2]
SEEDS = sorted((ROOT / "tests" / "corpus").glob("**/*.mod"))
TOKENS = ["(", ")", "[", "]", "{", "}", "<", ">", "..", "...", ";", ":", ",", "=", "#[", "]#", "forall",
          "sum", "in", "dvar", "float+", "subject to", "\"", "/*", "*/", "//", "\n", "<=", "1e308", "-",
          "execute {", "tuple", "x", "0", "maxint", "infinity", "?", "|", "not in"]
BUDGET_SECONDS = 6.0


def mutate(rng, text):
    for _ in range(rng.randint(1, 4)):
        if not text:
            text = rng.choice(TOKENS)
        pos = rng.randrange(len(text) + 1)
        op = rng.randrange(5)
        if op == 0:
            text = text[:pos] + rng.choice(TOKENS) + text[pos:]
        elif op == 1:
            text = text[:pos] + text[pos + rng.randint(1, 8):]
        elif op == 2:
            end = min(len(text), pos + rng.randint(1, 40))
            text = text[:pos] + text[pos:end] * rng.randint(2, 4) + text[end:]
        elif op == 3:
            text = text[:pos] + chr(rng.randrange(0, 0x250)) + text[pos:]
        else:
            text = text[:pos]
    return text


def test_mutated_corpus_never_crashes():
    rng = random.Random(20261207)
    pairs = [(p.read_text(), p.with_suffix(".dat").read_text()) for p in SEEDS]
    deadline = time.monotonic() + BUDGET_SECONDS
    runs = 0
    while time.monotonic() < deadline:
        mod, dat = rng.choice(pairs)
        if rng.random() < 0.6:
            mod = mutate(rng, mod)
        else:
            dat = mutate(rng, dat)
        try:
            vorlan_core.QelCompiler().compile_model(mod, dat)
        except (vorlan_core.VorlanSyntaxError, semantic_error.SemanticError) as e:
            msg = str(e)
            assert msg and len(msg.splitlines()) <= 20
            assert msg.startswith(("model:", "data:")), msg
        runs += 1
    assert runs > 100


@pytest.mark.parametrize("mod,dat", [
    ("forall", ""),
    ("int n = ...;", "n = #[ ]#;"),
    ("dvar float x[" + ",".join(["1..1"] * 40) + "];", ""),
    ("float v = sum(" + ", ".join(f"i{k} in 1..2" for k in range(100)) + ") 1;", ""),
    ("execute", ""),
    ("subject to { forall(i in 1..3) }", ""),
    ("{int} S = {1, 2};\nint k = item(S, -1);", ""),
    ("tuple T { T a; }", ""),
    ("int x = \"a\" ? 2 : 3;", ""),
])
def test_corner_inputs_give_compiler_errors(mod, dat):
    with pytest.raises((vorlan_core.VorlanSyntaxError, semantic_error.SemanticError)):
        vorlan_core.QelCompiler().compile_model(mod, dat)
