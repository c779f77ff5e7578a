"""The ``vorlan`` command: solve, feedback, models, rank, check and run from a shell.

Exit status: 0 success, 1 failure (an error, an invalid pair, or a solve whose last pair
still does not compile), 2 wrong usage.

Each command lives in its own module under ``vorlan.cli.commands``; the shared pieces
(provider detection, progress display, error formatting) live beside this file.
"""
from __future__ import annotations

from vorlan.cli.app import build_parser, main
from vorlan.cli.errors import PROG, CliError, describe_error
from vorlan.cli.progress import Progress
from vorlan.cli.providers import CONFIGURE_HINT, DEFAULT_GEMINI_MODEL, detect_provider, resolve_provider

__all__ = ["CONFIGURE_HINT", "DEFAULT_GEMINI_MODEL", "PROG", "CliError", "Progress", "build_parser",
           "describe_error", "detect_provider", "main", "resolve_provider"]
