"""``vorlan bench``: run benchmark sets through the pipeline and report the accuracy, or
compare two earlier runs (``--compare DIR1 DIR2``)."""
from __future__ import annotations

import argparse
import json
import math
import sys
from dataclasses import asdict
from pathlib import Path

from vorlan.cli.errors import CliError
from vorlan.cli import terminal
from vorlan.cli.commands.solve import add_repair_option
from vorlan.cli.options import add_llm_options, add_reply_options, reply_settings

# genloom settings that connection options set; a Ray worker gets them through the config.
_FORWARDED = (("timeout", "REQUEST_TIMEOUT"), ("openai_api", "OPENAI_API"))


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {text!r}")
    return value


def _non_negative(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (math.isfinite(value) and value >= 0):
        raise argparse.ArgumentTypeError(f"must be a finite number of at least 0, got {text!r}")
    return value


def register(sub) -> None:
    b = sub.add_parser("bench", help="measure the accuracy on benchmark sets, or compare two runs",
                       description="Run each problem of the benchmark sets through the pipeline, solve the "
                                   "final pair and compare its optimum with the published answer.")
    b.add_argument("datasets", nargs="*", metavar="DATASET",
                   help="JSON Lines or JSON array of records with en_question/en_answer or question/answer")
    b.add_argument("--compare", nargs=2, metavar=("DIR1", "DIR2"), help="compare the results of two runs")
    b.add_argument("-j", "--jobs", type=_positive_int, default=1, metavar="N", help="problems run at once (default: 1)")
    b.add_argument("--out", metavar="DIR", help="results folder (default: vorlan-bench/<model>)")
    b.add_argument("--limit", type=_positive_int, metavar="N", help="first N problems of each set")
    b.add_argument("--ids", metavar="ID,...", help="only these problem ids")
    b.add_argument("--resume", action="store_true",
                   help="continue the run in --out: skip finished problems, run failed requests again")
    b.add_argument("--tolerance", type=_non_negative, default=1e-6, metavar="REL",
                   help="relative error |got-want|/max(1,|want|) counted as correct (default: 1e-6)")
    b.add_argument("--iterations", type=_positive_int, metavar="K", help="repair rounds per problem (default: 5)")
    b.add_argument("--no-alignment", action="store_true", help="skip the check against the description")
    b.add_argument("--no-few-shot", action="store_true", help="no similar solved examples in the prompts")
    b.add_argument("--examples", metavar="DIR", help="example tree for few-shot prompts")
    b.add_argument("--verify", action="store_true", help="solve each compiling pair inside the repair loop")
    add_repair_option(b)
    b.add_argument("--time-limit", type=_non_negative, default=60.0, metavar="SECONDS",
                   help="solver time limit per problem (default: 60)")
    b.add_argument("--price-in", type=_non_negative, metavar="USD_PER_MTOK", help="price of a million input tokens")
    b.add_argument("--price-out", type=_non_negative, metavar="USD_PER_MTOK", help="price of a million output tokens")
    b.add_argument("--ray", metavar="ADDRESS", help="run on a Ray cluster: its address, auto, or local")
    add_llm_options(b)
    add_reply_options(b)
    b.set_defaults(func=cmd_bench)


def _ids(text: str | None) -> list[str] | None:
    if text is None:
        return None
    ids = [x.strip() for x in text.split(",") if x.strip()]
    if not ids:
        raise CliError("--ids names no problem", "give ids separated by commas, e.g. --ids 1,2,17")
    return ids


def _compare(args) -> int:
    from vorlan import bench

    if args.datasets:
        raise CliError("--compare takes two result folders and no datasets")
    a, b = args.compare
    comparisons = bench.compare_runs(a, b)
    if args.json:
        print(json.dumps([asdict(c) for c in comparisons], indent=2, ensure_ascii=False))
    else:
        print(bench.format_comparison(comparisons, a, b))
    return 0


def _config(args, provider, model):
    from vorlan.bench import BenchConfig

    settings = {}
    for option, name in _FORWARDED:
        value = getattr(args, option, None)
        if value is not None:
            settings[name] = value
    settings.update(reply_settings(args))
    from vorlan import genloom

    if genloom._infer_provider(provider, model) is genloom.LLMProvider.GOOGLE:
        settings["GEMINI_CLIENT"] = genloom.GEMINI_CLIENT  # the client this process chose, for Ray workers
    examples = args.examples
    if examples is None and Path("qel_models").is_dir():
        examples = "qel_models"
    if examples is not None:
        examples = str(Path(examples).resolve())
        if not Path(examples).is_dir():
            raise CliError(f"no such example folder: {args.examples}")
    return BenchConfig(provider=provider, model=model, tolerance=args.tolerance, iterations=args.iterations,
                       alignment=not args.no_alignment, few_shot=not args.no_few_shot, verify=args.verify,
                       repair_replies=not args.no_repair_replies,
                       grammar=args.grammar, temperature=args.temperature, time_limit=args.time_limit or None,
                       examples=examples, settings=settings)


def cmd_bench(args) -> int:
    if args.compare:
        return _compare(args)
    from vorlan import bench
    from vorlan.bench.datasets import safe_component
    from vorlan.bench.progress import RunProgress
    from vorlan.cli.commands.solve import require_solver
    from vorlan.cli.providers import resolve_provider

    if not args.datasets:
        raise CliError("no benchmark set given", "pass one or more DATASET files, or --compare DIR1 DIR2")
    if (args.price_in is None) != (args.price_out is None):
        raise CliError("give both --price-in and --price-out, or neither")
    problems, names, missing = bench.load_problems(args.datasets, _ids(args.ids), args.limit)
    if missing:
        raise CliError(f"no set holds the id(s) {', '.join(missing)}")
    if not problems:
        raise CliError("the benchmark sets hold no problems")
    require_solver("vorlan bench")  # every final pair is solved to score it
    provider, model = resolve_provider(args.provider, args.model)
    config = _config(args, provider, model)
    out = Path(args.out) if args.out else Path("vorlan-bench") / safe_component(model)
    progress = RunProgress(len(problems), quiet=args.quiet)
    report = bench.run_benchmark(args.datasets, config, out, jobs=args.jobs, resume=args.resume, ray=args.ray,
                                 progress=progress, problems=problems)
    summaries = bench.summarize_sets(report.rows, args.price_in, args.price_out, order=names)
    title = f"vorlan bench: {model}" + (f" ({provider})" if provider else "")
    shown = dict(config.run_settings(), jobs=args.jobs)
    bench.write_html(out / "report.html", summaries, report.rows, title, shown)
    if args.json:
        print(json.dumps({"out": str(out), "interrupted": report.interrupted, "ran": report.ran,
                          "skipped": report.skipped, "sets": [dict(asdict(s), accuracy=s.accuracy,
                                                                   execution_rate=s.execution_rate)
                                                              for s in summaries]},
                         indent=2, ensure_ascii=False))
    else:
        print(terminal.shown(bench.format_table(summaries)))
        print(f"\nresults: {out / 'results.jsonl'}\nreport:  {out / 'report.html'}")
    if report.interrupted:
        print(f"interrupted: {report.ran} problem(s) finished in this run; continue with --resume",
              file=sys.stderr)
        return 130
    return 1 if any(s.errors for s in summaries) else 0
