"""Parser assembly and the entry point: parse, run one command, turn failures into one line."""
from __future__ import annotations

import argparse
import logging
import os
import sys
import traceback

from vorlan import __version__
from vorlan.cli.commands import COMMANDS
from vorlan.cli.errors import PROG, describe_error
from vorlan.cli.options import apply_connection_options, apply_reply_options


def build_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog=PROG, description="Natural-language optimization problems to Vorlan models.")
    p.add_argument("--debug", action="store_true", help="show tracebacks and debug logs")
    p.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in COMMANDS:
        command.register(sub)
    # --debug is also accepted after the command; SUPPRESS keeps an earlier --debug in force.
    for parser in set(sub.choices.values()):
        parser.add_argument("--debug", action="store_true", default=argparse.SUPPRESS,
                            help="show tracebacks and debug logs")
    return p


def _configure_logging(debug: bool) -> None:
    if debug:
        logging.basicConfig(level=logging.DEBUG, stream=sys.stderr, format="%(name)s: %(message)s")
        return
    # Keep the embedding libraries' download notes and progress bars off the progress output.
    from vorlan import nearscan

    nearscan._quiet_embedding_library()


def _reader_went_away() -> int:
    """The reader of standard output closed it (`vorlan run ... | head`): stop quietly, as a
    command killed by SIGPIPE does. Standard output is pointed at the null device so the
    final flush at exit cannot fail again."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass
    return 128 + 13


def main(argv: list[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    _configure_logging(args.debug)
    try:
        apply_reply_options(args)  # before the connection options: --constrain grammar picks the chat API
        apply_connection_options(args)
        status = args.func(args)
        sys.stdout.flush()  # a closed pipe shows up here, while it can still be handled
        return status
    except BrokenPipeError:
        return _reader_went_away()
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
