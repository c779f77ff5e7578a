"""`vorlan solve --constrain grammar` against a grammar-taking stand-in of a local server: the
model and the data are written in two chat completions constrained by the shipped GBNF
grammars, which the stand-in loads in xgrammar and answers with text they accept."""
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import vorlan
from fake_llm_server import PROXY_VARS, FakeOpenAI

xgr = pytest.importorskip("xgrammar")

REPO = Path(__file__).resolve().parents[2]
GRAMMARS = {name: (REPO / "docs" / "grammars" / name).read_text(encoding="utf-8")
            for name in ("Vorlan_GBNF", "Vorlan_data_GBNF")}
SAMPLE = REPO / "examples" / "sample"
MODEL, DATA = (SAMPLE / "sample.mod").read_text(), (SAMPLE / "sample.dat").read_text()
STAGE = str(Path(vorlan.__file__).resolve().parents[1])


def accepts(grammar_text, text):
    grammar = xgr.Grammar.from_ebnf(grammar_text, root_rule_name="root")
    compiled = xgr.GrammarCompiler(xgr.TokenizerInfo([]), cache_enabled=False).compile_grammar(grammar)
    matcher = xgr.GrammarMatcher(compiled, terminate_without_stop_token=True)
    return matcher.accept_string(text) and matcher.is_terminated()


class GrammarServer(FakeOpenAI):
    """Chat completions that carry a grammar (at any of `paths`) are answered with the first of
    the sample model and data texts the grammar accepts in xgrammar; the others get an
    "aligned" verdict. `served` records (grammar path, grammar file, answer) per grammar call."""

    paths = (("grammar",), ("structured_outputs", "grammar"), ("guided_grammar",))

    def __init__(self, owned_by):
        super().__init__(models=["local"], owned_by=owned_by)
        self.served = []

    def reply_to(self, body):
        for path in self.paths:
            node = body
            for key in path:
                node = node.get(key) if isinstance(node, dict) else None
            if isinstance(node, str):
                name = next((n for n, text in GRAMMARS.items() if text == node), "unknown grammar")
                answer = next((t for t in (MODEL, DATA) if accepts(node, t)), None)
                self.served.append((".".join(path), name, answer))
                return answer
        return json.dumps({"aligned": True, "assessment": "Matches the description."})


@pytest.mark.parametrize("owned_by, option, path", [
    ("llamacpp", [], "grammar"),
    ("vllm", [], "structured_outputs.grammar"),
    ("vllm", ["--grammar-field", "guided_grammar"], "guided_grammar"),
])
def test_solve_writes_a_compiling_pair_in_two_constrained_calls(owned_by, option, path, tmp_path):
    server = GrammarServer(owned_by)
    env = {k: v for k, v in os.environ.items() if k not in PROXY_VARS}
    env.update(server.env(), PYTHONPATH=STAGE)
    try:
        r = subprocess.run([sys.executable, "-m", "vorlan", "solve", "A workshop builds tables and chairs.",
                            "-o", str(tmp_path / "out"), "--constrain", "grammar", "--model", "local",
                            "--no-few-shot", *option], env=env, capture_output=True, text=True, timeout=300)
    finally:
        server.close()
    assert r.returncode == 0, r.stderr
    assert server.served == [(path, "Vorlan_GBNF", MODEL), (path, "Vorlan_data_GBNF", DATA)]
    assert (tmp_path / "out" / "model.mod").read_text() == MODEL
    assert (tmp_path / "out" / "model.dat").read_text() == DATA
    posts = [b for m, p, b in server.requests if m == "POST"]
    assert {p for m, p, _ in server.requests if m == "POST"} == {"/v1/chat/completions"}
    # The data call shows the model just written; the alignment call asks for its JSON schema.
    assert MODEL in posts[1]["messages"][0]["content"]
    assert posts[2]["response_format"]["json_schema"]["name"] == "alignment"
    assert "Aligned" in r.stderr and "Model and data written under the grammars" in r.stderr
