"""Parser assembly and the entry point: parse, run one command, turn failures into one line."""
from __future__ import annotations

import argparse
import logging
import os
import sys
import traceback

from vorlan.cli.commands import COMMANDS
from vorlan.cli.errors import PROG, describe_error


def build_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog=PROG, description="Natural-language optimization problems to Vorlan models.")
    p.add_argument("--debug", action="store_true", help="show tracebacks and debug logs")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in COMMANDS:
        command.register(sub)
    return p


def _configure_logging(debug: bool) -> None:
    if debug:
        logging.basicConfig(level=logging.DEBUG, stream=sys.stderr, format="%(name)s: %(message)s")
        return
    # Keep the embedding libraries' download notes and progress bars off the progress output.
    os.environ.setdefault("HF_HUB_DISABLE_PROGRESS_BARS", "1")
    os.environ.setdefault("TRANSFORMERS_VERBOSITY", "error")
    os.environ.setdefault("HF_HUB_VERBOSITY", "error")
    for name in ("huggingface_hub", "sentence_transformers", "transformers"):
        logging.getLogger(name).setLevel(logging.ERROR)


def main(argv: list[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    _configure_logging(args.debug)
    try:
        return args.func(args)
    except KeyboardInterrupt:
        print(f"\n{PROG}: interrupted", file=sys.stderr)
        return 130
    except Exception as e:
        if args.debug:
            traceback.print_exc()
        message, fix = describe_error(e)
        line = f"{PROG}: error: {message}"
        if fix:
            line += f" (fix: {fix})"
        print(line, file=sys.stderr)
        return 1
