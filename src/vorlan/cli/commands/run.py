"""``vorlan run``: compile a model and data pair and solve it."""
from __future__ import annotations


def register(sub) -> None:
    u = sub.add_parser("run", help="compile a model and data pair and solve it")
    u.add_argument("model")
    u.add_argument("data", nargs="?")
    u.add_argument("--emit-script", metavar="FILE", help="also write a standalone SciPy milp script")
    u.add_argument("--mps", metavar="FILE", help="also write the instance as a free-format MPS file")
    u.add_argument("--lp", metavar="FILE", help="also write the instance as an LP file")
    u.set_defaults(func=cmd_run)


def cmd_run(args) -> int:
    from vorlan import milpgen

    return milpgen.run_file(args.model, args.data, emit_script=args.emit_script, mps=args.mps, lp=args.lp)
