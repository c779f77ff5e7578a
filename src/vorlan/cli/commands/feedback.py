"""``vorlan feedback``: ask the LLM about an existing model and data pair."""
from __future__ import annotations

import json
import os
import sys

from vorlan.cli.errors import PROG, CliError
from vorlan.cli.files import check_output_file, library_readable, read_text, same_file, write_text_atomic
from vorlan.cli.options import add_llm_options
from vorlan.cli.progress import Progress
from vorlan.cli.providers import resolve_provider
from vorlan.cli.terminal import shown


def register(sub) -> None:
    f = sub.add_parser("feedback", help="ask the LLM about an existing model and data pair")
    f.add_argument("question")
    f.add_argument("model_path", metavar="MODEL", help="model file")
    f.add_argument("data_path", metavar="DATA", help="data file")
    f.add_argument("--write-model", metavar="FILE", help="write the revised model text to FILE")
    f.add_argument("--write-data", metavar="FILE", help="write the revised data text to FILE")
    f.add_argument("--overwrite", action="store_true", help="allow writing over the original files")
    f.add_argument("--force", action="store_true",
                   help="replace existing files with a revised pair even when it does not compile")
    add_llm_options(f)
    f.set_defaults(func=cmd_feedback)


def check_targets(originals, targets, overwrite: bool, overwrite_option: str = "--overwrite") -> None:
    """Revision targets: distinct, writable, and never an original unless ``overwrite``."""
    paths = [path for path, _ in targets if path]
    if len(paths) == 2 and same_file(*paths):
        raise CliError(f"the revised model and data would go to the same file: {paths[0]}", "give two different files")
    for path in paths:
        if not overwrite and any(same_file(path, o) for o in originals):
            raise CliError(f"refusing to overwrite {path}", f"choose another file or pass {overwrite_option}")
        check_output_file(path, overwrite=True)


def cmd_feedback(args) -> int:
    from vorlan import genloom

    originals = (args.model_path, args.data_path)
    targets = [(args.write_model, "revised_model"), (args.write_data, "revised_data")]
    check_targets(originals, targets, args.overwrite)
    provider, model = resolve_provider(args.provider, args.model)
    with library_readable(*originals) as (model_path, data_path), Progress(quiet=args.quiet) as progress:
        reply = genloom.generative_feedback(
            args.question, model_path, data_path, model_name=model,
            mode=getattr(genloom.Grammar, args.grammar.upper()), temperature=args.temperature,
            llm_provider=provider, progress=progress)
    if args.json:
        print(json.dumps(reply, indent=2, ensure_ascii=False))
    elif isinstance(reply, dict):
        print(shown(reply.get("feedback") if isinstance(reply.get("feedback"), str) else json.dumps(reply, indent=2)))
    else:
        print("(the model gave no feedback)")
    revised = revised_pair(reply, lambda: (read_text(originals[0]), read_text(originals[1])))
    if revised is not None and any(path for path, _ in targets):
        ok, first_error = revised
        if not ok and not args.force and any(path and os.path.exists(path) for path, _ in targets):
            print(f"{PROG}: the revised pair does not compile ({shown(first_error, multiline=False)}); "
                  f"nothing written (pass --force to write it anyway)", file=sys.stderr)
            return 1
        state = "compiles" if ok else f"does not compile: {shown(first_error, multiline=False)}"
        print(f"{PROG}: the revised pair {state}", file=sys.stderr)
    for path, key in targets:
        if not path:
            continue
        text = reply.get(key) if isinstance(reply, dict) else None
        if isinstance(text, str) and text:
            write_text_atomic(path, text)
            print(f"{PROG}: wrote {key.replace('_', ' ')} to {path}", file=sys.stderr)
        else:
            print(f"{PROG}: no {key.replace('_', ' ')} proposed; {path} not written", file=sys.stderr)
    return 0


def revised_pair(reply, original) -> tuple[bool, str] | None:
    """Whether the pair the reply proposes (its revisions, the original texts where it has
    none; ``original()`` gives them) compiles, with the first compiler message when not;
    None when it proposes nothing."""
    from vorlan import vorlan_core

    if not isinstance(reply, dict):
        return None
    texts = [reply.get(key) for key in ("revised_model", "revised_data")]
    if not any(isinstance(t, str) and t for t in texts):
        return None
    model, data = (t if isinstance(t, str) and t else o for t, o in zip(texts, original()))
    try:
        vorlan_core.QelCompiler().compile_model(model, data)
    except Exception as e:  # any compile failure is the answer
        return False, (str(e).splitlines() or [type(e).__name__])[0]
    return True, ""
