#!/usr/bin/env python3
"""Share of example-library descriptions whose FIRST pair compiles, written by a small local
model once under the Vorlan GBNF grammars (two constrained calls, as `vorlan solve --constrain
grammar` makes them) and once as today's single JSON reply, with the seconds per pair.

Needs the llama-cpp-python engine (built from source, not part of the tests) and a GGUF model:

    PYTHONPATH=build/dev-NAME/stage .venv/bin/python bench/bench_constrained.py MODEL.gguf [--limit N]

Without the engine or a model it says so and exits 2. The prompts, the constrained two-call
strategy, reply parsing and the compiler are the package's own; only the LLM call is replaced by
the in-process engine.
"""
import argparse
import sys
import time
from pathlib import Path

import vorlan.genloom as g


def engine_call(llm, cap):
    """A stand-in of genloom._llm_generate_text that runs the prompt on the local engine, under
    the GBNF grammar when one is given."""
    from llama_cpp import LlamaGrammar

    def generate(provider, model_name, input_text, max_tokens=None, temperature=None, stop=None, progress=None,
                 reply_contract=None, grammar=None):
        kwargs = {"max_tokens": max_tokens or cap, "temperature": 0.0}
        if grammar is not None:
            kwargs["grammar"] = LlamaGrammar.from_string(grammar, verbose=False)
        reply = llm.create_chat_completion(messages=[{"role": "user", "content": input_text}], **kwargs)
        return reply["choices"][0]["message"]["content"] or ""

    return generate


def first_pair(description, constrained):
    prompt = g._build_generation_prompt(description, g._get_grammar_implementation(g.Grammar.BNF), few_shots=[])
    if constrained:
        return g._generate_constrained_pair(g.LLMProvider.OPENAI, "local", prompt)
    reply = g._llm_generate_text(g.LLMProvider.OPENAI, "local", prompt)
    parsed = g._json_loads_relaxed(reply)
    return parsed["model"], parsed["data"]


def compiles(model, data):
    try:
        return bool(g.QelCompiler().compile_model(model, data))
    except Exception:
        return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("gguf", nargs="?", help="GGUF model file")
    ap.add_argument("--limit", type=int, default=20, help="descriptions to try (default: 20)")
    ap.add_argument("--max-tokens", type=int, default=1200)
    args = ap.parse_args()
    try:
        from llama_cpp import Llama
    except ImportError:
        print("no engine: llama-cpp-python is not installed (pip install llama-cpp-python builds it from source)")
        return 2
    if not args.gguf or not Path(args.gguf).is_file():
        print("no model: give the path of a GGUF model file")
        return 2
    llm = Llama(model_path=args.gguf, n_ctx=8192, verbose=False)
    g._llm_generate_text = engine_call(llm, args.max_tokens)
    tree = Path(g.__file__).resolve().parent / "qel_models"
    descriptions = sorted(tree.glob("*/*.txt"))[: args.limit]
    print(f"{len(descriptions)} descriptions, model {Path(args.gguf).name}")
    for label, constrained in (("constrained (GBNF, two calls)", True), ("unconstrained (one JSON reply)", False)):
        ok, seconds = 0, 0.0
        for path in descriptions:
            started = time.perf_counter()
            try:
                pair = first_pair(path.read_text(encoding="utf-8"), constrained)
            except Exception:
                pair = None
            seconds += time.perf_counter() - started
            ok += bool(pair) and compiles(*pair)
        print(f"{label:32s} first pair compiles: {ok}/{len(descriptions)} ({100 * ok / len(descriptions):.0f}%)"
              f"   {seconds / len(descriptions):.1f} s/pair")
    return 0


if __name__ == "__main__":
    sys.exit(main())
