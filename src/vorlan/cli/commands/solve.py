"""``vorlan solve``: write a model and data pair for a problem description."""
from __future__ import annotations

import json
from pathlib import Path

from vorlan.cli.errors import CliError, UsageError
from vorlan.cli.files import check_output_file, read_input, same_file
from vorlan.cli.options import add_llm_options, add_reply_options
from vorlan.cli.progress import Progress
from vorlan.cli.providers import resolve_provider, use_examples
from vorlan.cli.terminal import shown


def register(sub) -> None:
    s = sub.add_parser("solve", help="write a model and data pair for a problem description")
    s.add_argument("description", nargs="?", help='the description, or "-" for standard input')
    s.add_argument("-f", "--file", help="read the description from FILE")
    s.add_argument("-o", "--output", metavar="DIR", help="write DIR/model.mod and DIR/model.dat")
    s.add_argument("--model-file")
    s.add_argument("--data-file")
    s.add_argument("--overwrite", action="store_true", help="allow replacing an existing model or data file")
    s.add_argument("--iterations", type=int, default=None, help="repair rounds (default: 5)")
    s.add_argument("--no-alignment", action="store_true", help="skip the check against the description")
    s.add_argument("--no-few-shot", action="store_true", help="no similar solved examples in the prompts")
    s.add_argument("--examples", metavar="DIR", help="example tree for few-shot prompts")
    s.add_argument("--verify", action="store_true",
                   help="solve every pair that compiles inside the repair loop: an infeasible or unbounded one "
                        "goes back to the LLM with the conflicting constraints or unbounded variables")
    add_repair_option(s)
    add_llm_options(s)
    add_reply_options(s)
    s.set_defaults(func=cmd_solve)


def add_repair_option(sp) -> None:
    sp.add_argument("--no-repair-replies", action="store_true",
                    help="end the run at a reply that cannot be used instead of asking again")


def _read_description(args) -> str:
    if args.file is not None:
        if args.description is not None:
            raise CliError("give the description either as an argument or with -f, not both")
        text = read_input(args.file)
    elif args.description is None:
        raise CliError("no description given", 'pass it as an argument, with -f FILE, or "-" to read standard input')
    elif args.description == "-":
        text = read_input("-")
    else:
        text = args.description
    if not text.strip():
        raise CliError("the problem description is empty")
    return text


def _output_paths(args) -> tuple[str, str]:
    if args.output:
        if args.model_file or args.data_file:
            raise CliError("use either -o DIR or --model-file/--data-file")
        return str(Path(args.output) / "model.mod"), str(Path(args.output) / "model.dat")
    if not (args.model_file and args.data_file):
        raise CliError("no output given", "pass -o DIR, or both --model-file and --data-file")
    return args.model_file, args.data_file


def check_outputs(model_file: str, data_file: str, overwrite: bool, overwrite_option: str = "--overwrite") -> None:
    """Both outputs writable, distinct, and no existing file replaced unless asked. The library
    rewrites both files in every round, so a failed run would leave a worse pair in place."""
    if same_file(model_file, data_file):
        raise CliError(f"the model and data files are the same file: {model_file}", "give two different files")
    for path in (model_file, data_file):
        check_output_file(path, overwrite, f"choose another output or pass {overwrite_option}")


def cmd_solve(args) -> int:
    from vorlan import genloom

    if args.iterations is not None and args.iterations < 1:
        raise UsageError("--iterations must be at least 1")
    description = _read_description(args)
    model_file, data_file = _output_paths(args)
    check_outputs(model_file, data_file, args.overwrite)
    if args.verify:
        require_solver("--verify")
    provider, model = resolve_provider(args.provider, args.model)
    if not args.no_few_shot:
        use_examples(args.examples)
    with Progress(quiet=args.quiet) as progress:
        stats = genloom.generative_solve(
            description, model_file, data_file, model_name=model,
            mode=getattr(genloom.Grammar, args.grammar.upper()), iterations=args.iterations,
            return_statistics=True, alignment_check=False if args.no_alignment else None,
            temperature=args.temperature, llm_provider=provider, progress=progress,
            few_shot=not args.no_few_shot, verify=True if args.verify else None,
            repair_replies=not args.no_repair_replies)
    solved = stats.get("solve")
    if args.json:
        print(json.dumps(stats, indent=2, ensure_ascii=False))
    else:
        print(f"model: {model_file}\ndata:  {data_file}\niterations: {stats['iterations']}")
        if stats["syntax_errors"]:
            print("the last pair does not compile:")
            for e in stats["syntax_errors"]:
                print("  " + shown(e, multiline=False))
        if solved:
            objective = "" if solved["objective"] is None else f", objective {solved['objective']!r}"
            if solved.get("objectives"):  # a lexicographic objective: every goal in priority order
                objective += f", goals {', '.join(repr(v) for v in solved['objectives'])}"
            print(f"solver: {solved['status']}{objective}")
        print_verdict(stats)
        if stats["assessment"]:
            print("\n" + shown(stats["assessment"]))
    if stats["syntax_errors"]:
        return 1
    if stats.get("verdict"):
        return 2  # as `vorlan run` exits for a model without optimum
    if args.verify and solved:
        from vorlan.runner import exit_status

        return exit_status(solved["status"])
    return 0


VERDICT_LEADS = {"infeasible as described": "The problem as described has no feasible solution",
                 "unbounded as described": "The problem as described has no finite optimum (it is unbounded)"}


def print_verdict(stats: dict) -> None:
    """The no-optimum verdict with its explanation and the conflicting constraints, and the
    stated values the final model no longer uses as stated. The texts come from the LLM and the
    model: control characters are shown escaped."""
    from vorlan.cli.commands.rank import printable

    verdict = stats.get("verdict")
    if verdict:
        print(f"status: {verdict}")
        print(f"{VERDICT_LEADS.get(verdict, verdict)}: {printable(stats.get('explanation') or '')}".rstrip())
        if stats.get("conflicts"):
            print("conflicting constraints and bounds:")
            for c in stats["conflicts"]:
                print("  " + printable(c))
    if stats.get("deviations"):
        print("the model no longer uses these stated values as stated:")
        for d in stats["deviations"]:
            print("  " + printable(d))


def require_solver(who: str) -> None:
    """Commands that solve the pairs they generate need the solver; say so before any paid LLM call."""
    import importlib.util

    if importlib.util.find_spec("highspy") is None or importlib.util.find_spec("numpy") is None:
        raise CliError(f"{who} needs the solver, which is not installed", "pip install 'vorlan[solve]'")
