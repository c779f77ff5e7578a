"""``vorlan check``: compile a model and data pair and print the diagnostics."""
from __future__ import annotations

from vorlan.cli.terminal import shown
from vorlan.textfile import read_text


def register(sub) -> None:
    c = sub.add_parser("check", help="compile a model and data pair and print the diagnostics")
    c.add_argument("model")
    c.add_argument("data")
    c.set_defaults(func=cmd_check)


def cmd_check(args) -> int:
    from vorlan import vorlan_core

    model, data = read_text(args.model), read_text(args.data)
    try:
        vorlan_core.QelCompiler().compile_model(model, data)
    except Exception as e:  # every compile failure is a diagnostic for the user
        name = type(e).__name__
        print(shown(f"{args.model}, {args.data}: {name}: {e}"))
        return 1
    print(f"{args.model}, {args.data}: valid")
    return 0
