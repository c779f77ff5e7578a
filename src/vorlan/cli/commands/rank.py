"""``vorlan rank``: stored problem descriptions closest to a query."""
from __future__ import annotations

import argparse
import json
from pathlib import Path

from vorlan.cli.errors import CliError

_MODEL_MISSING = "embedding model could not be loaded: "


def result_count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be a whole number of at least 1, not {text!r}")
    return value


def register(sub) -> None:
    r = sub.add_parser("rank", help="stored problem descriptions closest to a query")
    r.add_argument("query")
    r.add_argument("--dir", default=None, help="example tree (default: the bundled one)")
    r.add_argument("-k", type=result_count, default=3, help="number of results, at least 1 (default: 3)")
    r.add_argument("--json", action="store_true")
    r.set_defaults(func=cmd_rank)


def printable(text: str) -> str:
    """Text safe to print on a terminal: each non-printable character written as an escape."""
    from vorlan import nearscan

    return nearscan._printable(text)


def check_examples_dir(folder: str) -> None:
    """Refuse a --dir that cannot hold examples, saying what is wrong with it."""
    from vorlan import nearscan

    path = Path(folder)
    if not path.exists():
        raise CliError(f"no such folder: {printable(folder)}")
    if not path.is_dir():
        raise CliError(f"{printable(folder)} is a file, not a folder",
                       "pass the folder that holds the example descriptions (*.txt)")
    if not nearscan._iter_description_files(path):
        raise CliError(f"no problem descriptions (*.txt files) under {printable(folder)}")


def cmd_rank(args) -> int:
    from vorlan import nearscan

    if args.dir is not None:
        check_examples_dir(args.dir)
    try:
        results = nearscan.rank_problem_descriptions(args.query, models_dir=args.dir, top_k=args.k)
    except RuntimeError as e:
        if str(e).startswith(_MODEL_MISSING):
            raise CliError(str(e), "pip install 'vorlan[rag]'") from e
        raise
    if not results:
        raise CliError(f"every problem description under {printable(args.dir or 'the bundled examples')} is empty")
    if args.json:
        print(json.dumps(results, indent=2, ensure_ascii=False))
        return 0
    for r in results:
        preview = printable(" ".join(str(r.get("preview", "")).split())[:100])
        print(f"{r['score']:.3f}  {printable(r['path'])}\n       {preview}")
    return 0
