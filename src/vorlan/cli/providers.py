"""Which LLM provider and model a command uses, and the checks that fail fast before any
slow work when that provider cannot be reached."""
from __future__ import annotations

import importlib.util
import os
import socket

from vorlan.cli.errors import CliError
from vorlan.example_tree import use_examples as _use_examples

DEFAULT_GEMINI_MODEL = "gemini-2.5-flash"
DEFAULT_ANTHROPIC_MODEL = "claude-sonnet-4-5"
CONFIGURE_HINT = ("set OPENAI_API_KEY (OpenAI), GEMINI_API_KEY (Gemini) or ANTHROPIC_API_KEY (Anthropic), or "
                  "start a local Ollama server with `ollama serve` and pull a model (`ollama pull llama3.1`)")


def use_maintained_gemini_client() -> None:
    """Commands talk to Gemini through google-genai when it is installed; the library's own
    default stays the older client."""
    from vorlan import genloom

    try:
        installed = importlib.util.find_spec("google.genai") is not None
    except (ImportError, ValueError):
        installed = False
    if installed:
        genloom.GEMINI_CLIENT = "genai"


def _ollama_reachable(timeout: float = 0.3) -> bool:
    host = os.environ.get("OLLAMA_HOST", "127.0.0.1:11434")
    host = host.split("://", 1)[-1].rstrip("/")
    name, _, port = host.rpartition(":")
    if not name:
        name, port = host, "11434"
    try:
        with socket.create_connection((name or "127.0.0.1", int(port)), timeout=timeout):
            return True
    except (OSError, ValueError):
        return False


def detect_provider() -> str:
    """The provider the environment configures: OPENAI_API_KEY, then GEMINI_API_KEY, then
    ANTHROPIC_API_KEY, then a reachable local Ollama server."""
    if os.environ.get("OPENAI_API_KEY"):
        return "openai"
    if os.environ.get("GEMINI_API_KEY"):
        return "google"
    if os.environ.get("ANTHROPIC_API_KEY"):
        return "anthropic"
    if _ollama_reachable():
        return "ollama"
    raise CliError("no LLM provider is configured", CONFIGURE_HINT)


def resolve_provider(provider: str | None, model: str | None) -> tuple[str | None, str]:
    """Provider name and model name for a command. An explicit --provider wins; a --model
    alone lets the library infer the provider from its name; otherwise the environment
    decides: OPENAI_API_KEY, then GEMINI_API_KEY, then ANTHROPIC_API_KEY, then a reachable
    local Ollama server."""
    from vorlan import genloom

    use_maintained_gemini_client()
    if not (provider or model):
        provider = detect_provider()
    kind = genloom._infer_provider(provider, model or "")
    _preflight(kind)
    if model:
        return provider, model
    if kind is genloom.LLMProvider.GOOGLE:
        return provider, DEFAULT_GEMINI_MODEL
    if kind is genloom.LLMProvider.ANTHROPIC:
        return provider, DEFAULT_ANTHROPIC_MODEL
    if kind is genloom.LLMProvider.OLLAMA:
        names = genloom.list_ollama_models()
        if not names:
            raise CliError("the Ollama server has no models", "pull one with `ollama pull llama3.1`")
        return provider, names[0]
    return provider, genloom.MODEL_NAME


def _preflight(kind) -> None:
    """Fail before any slow work when the chosen provider cannot be reached at all."""
    from vorlan import genloom

    for member, var in ((genloom.LLMProvider.OPENAI, "OPENAI_API_KEY"), (genloom.LLMProvider.GOOGLE, "GEMINI_API_KEY"),
                        (genloom.LLMProvider.ANTHROPIC, "ANTHROPIC_API_KEY")):
        if kind is member and not os.environ.get(var):
            raise CliError(f"{var} environment variable not set",
                           f"export {var}=<your key>, or choose another provider with --provider")
    if kind is genloom.LLMProvider.OLLAMA and not _ollama_reachable():
        raise CliError("the local Ollama server is not reachable", "start it with `ollama serve`")


def use_examples(examples: str | None) -> None:
    """Points few-shot gathering at the chosen example tree (see vorlan.example_tree); a
    folder that does not exist is refused before any paid call."""
    if examples is not None and not Path(examples).is_dir():
        raise CliError(f"no such example folder: {examples}", "give an existing folder to --examples")
    _use_examples(examples)
