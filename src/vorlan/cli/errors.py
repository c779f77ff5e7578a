"""User-facing errors: CliError for failures the command itself detects, and describe_error,
which turns any error into one line plus the fix where one is known."""
from __future__ import annotations

PROG = "vorlan"


class CliError(Exception):
    """A failure with a message meant for the user, optionally with the fix."""

    status = 1  # the command's exit status

    def __init__(self, message: str, fix: str | None = None):
        super().__init__(message)
        self.fix = fix


class UsageError(CliError):
    """Arguments that cannot work together, found before any work starts (exit status 2)."""

    status = 2


_INSTALL_HINTS = {
    "openai is not installed.": "pip install 'vorlan[openai]'",
    "google.generativeai is not installed.": "pip install 'vorlan[generativeai]'",
    "google-genai is not installed.": "pip install 'vorlan[gemini]'",
    "anthropic is not installed.": "pip install 'vorlan[anthropic]'",
    "ollama package is not installed.": "pip install 'vorlan[ollama]'",
}


def _chain(e: BaseException):
    seen = set()
    while e is not None and id(e) not in seen:
        seen.add(id(e))
        yield e
        e = e.__cause__ or e.__context__


def describe_error(e: BaseException) -> tuple[str, str | None]:
    """One-line message for an error, and the fix where one is known."""
    if isinstance(e, CliError):
        return str(e), e.fix
    text = str(e)
    first = text.splitlines()[0] if text else type(e).__name__
    if len(text.splitlines()) > 1:
        first += " [\u2026; --debug shows all]"
    if isinstance(e, FileNotFoundError):
        return f"no such file: {e.filename or text}", None
    if "OPENAI_API_KEY environment variable not set." in text:
        return first, "export OPENAI_API_KEY=<your key>, or choose another provider with --provider"
    for var in ("GEMINI_API_KEY", "ANTHROPIC_API_KEY"):
        if f"{var} environment variable not set." in text:
            return first, f"export {var}=<your key>, or choose another provider with --provider"
    for prefix, hint in _INSTALL_HINTS.items():
        if text.startswith(prefix):
            return prefix.rstrip("."), hint
    if "connect to ollama" in text.lower():
        return first, "start the Ollama server with `ollama serve`"
    for c in _chain(e):
        name = type(c).__name__
        if isinstance(c, ConnectionError) or name in ("ConnectError", "APIConnectionError"):
            if "ollama" in " ".join(str(x).lower() for x in _chain(e)) or "11434" in text:
                return first, "start the Ollama server with `ollama serve`"
            return first, "check the network connection and the provider's address"
    return first, None
