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
    add_connection_options(sp)


def _seconds(text: str) -> float:
    """argparse type: a positive, finite number of seconds."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number of seconds: {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f"must be a positive number of seconds, got {text!r}")
    return value


def add_connection_options(sp: argparse.ArgumentParser) -> None:
    """How provider requests are made; applied by apply_connection_options."""
    sp.add_argument("--timeout", type=_seconds, metavar="SECONDS",
                    help="seconds one provider request may take before it fails (default: 300)")
    sp.add_argument("--openai-api", choices=["responses", "chat"],
                    help="OpenAI API to call: responses (default) or chat, for OpenAI-compatible "
                         "servers that serve chat completions only; implies --provider openai")


def apply_connection_options(args: argparse.Namespace) -> None:
    """Hand --timeout and --openai-api to the library settings read at every call. An OpenAI
    API choice without --provider means the OpenAI path, whatever the model is called (local
    servers' model names such as qwen or llama would otherwise select Ollama)."""
    timeout, api = getattr(args, "timeout", None), getattr(args, "openai_api", None)
    if timeout is None and api is None:
        return
    if api is not None and hasattr(args, "provider") and not args.provider:
        args.provider = "openai"
    from vorlan import genloom

    if timeout is not None:
        genloom.REQUEST_TIMEOUT = timeout
    if api is not None:
        genloom.OPENAI_API = api


def add_reply_options(sp: argparse.ArgumentParser) -> None:
    """How replies are held to their shape (commands that run the repair loop); applied by
    apply_reply_options."""
    sp.add_argument("--no-structured-output", action="store_true",
                    help="do not ask the provider for the JSON shape of each reply (for servers that refuse it)")
    sp.add_argument("--constrain", choices=["none", "grammar"],
                    help="grammar: write the model and the data in two calls constrained by the Vorlan GBNF "
                         "grammars, on a local OpenAI-compatible server that takes grammars (implies --openai-api "
                         "chat)")
    sp.add_argument("--grammar-field", metavar="FIELD",
                    help="request field that carries the grammar: grammar (llama.cpp server), "
                         "structured_outputs.grammar (vLLM), ... (default: from the server's model listing)")


def reply_settings(args: argparse.Namespace) -> dict:
    """The genloom settings the reply options ask for (structured output is on unless refused)."""
    if not hasattr(args, "no_structured_output"):
        return {}
    settings = {"STRUCTURED_OUTPUT": not args.no_structured_output}
    if args.constrain is not None:
        settings["CONSTRAIN"] = args.constrain
    if args.grammar_field is not None:
        settings["GRAMMAR_FIELD"] = args.grammar_field
    return settings


def apply_reply_options(args: argparse.Namespace) -> None:
    """Hand the reply options to the library settings. Constrained decoding runs on an OpenAI-
    compatible local server's chat completions, so it means --openai-api chat unless given
    (which in turn means the OpenAI provider)."""
    settings = reply_settings(args)
    if not settings:
        return
    if settings.get("CONSTRAIN") == "grammar" and getattr(args, "openai_api", None) is None:
        args.openai_api = "chat"
    from vorlan import genloom

    for name, value in settings.items():
        setattr(genloom, name, value)
