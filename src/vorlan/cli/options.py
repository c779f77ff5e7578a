"""Argument groups and value checks shared by several commands."""
from __future__ import annotations

import argparse
import math

# Provider names the library recognises (case and surrounding blanks do not matter). The
# library falls back to the model-name rules for any other name; the command refuses it, so
# a typo never silently means another provider.
PROVIDER_NAMES = ("openai", "oai", "google", "gemini", "genai", "google.generativeai", "ollama")

# Sampling temperatures every provider accepts.
TEMPERATURE_RANGE = (0.0, 2.0)


def provider_name(text: str) -> str:
    if text.strip().lower() not in PROVIDER_NAMES:
        raise argparse.ArgumentTypeError(f"unknown provider {text!r} (choose openai, google or ollama)")
    return text


def temperature(text: str) -> float:
    low, high = TEMPERATURE_RANGE
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not low <= value <= high:  # also false for NaN
        raise argparse.ArgumentTypeError(f"must be a number from {low:g} to {high:g}, not {text!r}")
    return value


def add_llm_options(sp: argparse.ArgumentParser) -> None:
    """Options of every command that calls an LLM."""
    sp.add_argument("--provider", type=provider_name,
                    help="openai, google or ollama (default: from the environment)")
    sp.add_argument("--model", help="LLM model name (default depends on the provider)")
    sp.add_argument("--temperature", type=temperature, help="sampling temperature, 0 to 2")
    sp.add_argument("--grammar", choices=["none", "bnf", "code"], default="bnf",
                    help="grammar reference put into the prompts (default: bnf)")
    sp.add_argument("--json", action="store_true", help="print the result record as JSON")
    sp.add_argument("-q", "--quiet", action="store_true", help="no progress messages")
