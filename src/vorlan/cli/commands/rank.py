"""``vorlan rank``: stored problem descriptions closest to a query."""
from __future__ import annotations

import json
import sys

from vorlan.cli.errors import PROG


def register(sub) -> None:
    r = sub.add_parser("rank", help="stored problem descriptions closest to a query")
    r.add_argument("query")
    r.add_argument("--dir", default=None, help="example tree (default: the bundled one)")
    r.add_argument("-k", type=int, default=3, help="number of results (default: 3)")
    r.add_argument("--json", action="store_true")
    r.set_defaults(func=cmd_rank)


def cmd_rank(args) -> int:
    from vorlan import nearscan

    results = nearscan.rank_problem_descriptions(args.query, models_dir=args.dir, top_k=args.k)
    if args.json:
        print(json.dumps(results, indent=2, ensure_ascii=False))
        return 0
    if not results:
        print(f"{PROG}: no matching descriptions (is the embedding model installed? "
              "pip install 'vorlan[rag]')", file=sys.stderr)
    for r in results:
        preview = " ".join(str(r.get("preview", "")).split())
        print(f"{r['score']:.3f}  {r['path']}\n       {preview[:100]}")
    return 0
