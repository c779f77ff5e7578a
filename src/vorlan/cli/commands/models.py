"""``vorlan models``: list the model names a provider offers."""
from __future__ import annotations

from vorlan.cli.options import add_connection_options, provider_name
from vorlan.cli.providers import detect_provider, use_maintained_gemini_client
from vorlan.cli.terminal import shown


def register(sub) -> None:
    m = sub.add_parser("models", help="list the model names a provider offers")
    m.add_argument("--provider", type=provider_name)
    add_connection_options(m)
    m.set_defaults(func=cmd_models)


def cmd_models(args) -> int:
    from vorlan import genloom

    use_maintained_gemini_client()
    for name in genloom.list_models(llm_provider=args.provider or detect_provider()):
        print(shown(name, multiline=False))
    return 0
