"""Argument groups shared by several commands."""
from __future__ import annotations

import argparse


def add_llm_options(sp: argparse.ArgumentParser) -> None:
    """Options of every command that calls an LLM."""
    sp.add_argument("--provider", help="openai, google or ollama (default: from the environment)")
    sp.add_argument("--model", help="LLM model name (default depends on the provider)")
    sp.add_argument("--temperature", type=float)
    sp.add_argument("--grammar", choices=["none", "bnf", "code"], default="bnf",
                    help="grammar reference put into the prompts (default: bnf)")
    sp.add_argument("--json", action="store_true", help="print the result record as JSON")
    sp.add_argument("-q", "--quiet", action="store_true", help="no progress messages")
