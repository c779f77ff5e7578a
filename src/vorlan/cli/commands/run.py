"""``vorlan run``: compile a model and data pair once and solve it (within a time limit; Ctrl-C
stops a long solve and reports the best solution and bound found so far)."""
from __future__ import annotations

import argparse

from vorlan.cli.errors import UsageError
from vorlan.cli.files import same_file


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not value > 0:  # also false for NaN
        raise argparse.ArgumentTypeError(f"must be a positive number of seconds, not {text!r}")
    return value


def register(sub) -> None:
    u = sub.add_parser("run", help="compile a model and data pair and solve it")
    u.add_argument("model")
    u.add_argument("data", nargs="?")
    u.add_argument("--emit-script", metavar="FILE", help="also write a standalone SciPy milp script")
    u.add_argument("--mps", metavar="FILE", help="also write the instance as a free-format MPS file")
    u.add_argument("--lp", metavar="FILE", help="also write the instance as an LP file")
    u.add_argument("--time-limit", metavar="SECONDS", type=_seconds,
                   help="stop the solver after SECONDS and report the best solution found")
    u.add_argument("--json", action="store_true", help="print the outcome as one JSON object")
    u.set_defaults(func=cmd_run)


def check_exports(inputs: dict[str, str | None], exports: dict[str, str | None]) -> None:
    """Refuse an export that would replace an input or another export (by any spelling of the
    path: symbolic and hard links, ``..``)."""
    named = [(option, path) for option, path in inputs.items() if path]
    for option, path in exports.items():
        if not path:
            continue
        for other, taken in named:
            if same_file(path, taken):
                raise UsageError(f"{option} {path} is the same file as {other} {taken}",
                                 "give every export its own path, apart from the model and data files")
        named.append((option, path))


def cmd_run(args) -> int:
    from vorlan.milpgen import run_file

    check_exports({"the model": args.model, "the data": args.data},
                  {"--emit-script": args.emit_script, "--mps": args.mps, "--lp": args.lp})
    return run_file(args.model, args.data, emit_script=args.emit_script, mps=args.mps, lp=args.lp,
                    time_limit=args.time_limit, json_output=args.json)
