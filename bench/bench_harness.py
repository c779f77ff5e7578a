#!/usr/bin/env python3
"""Speed of `vorlan bench` itself, with a scripted OpenAI-compatible service on 127.0.0.1 in
place of the LLM (it answers every problem with the same small model, so only the harness's
own work and the waiting are measured):

- overhead per problem: everything but the LLM requests (few-shot retrieval with the embedding
  model already loaded, prompt building, parsing, compiling, solving, writing), from
  `seconds - llm_seconds` of each result line, with instant replies;
- throughput at -j 1, 4 and 16 with instant replies, and with every reply delayed (2 s by
  default), next to the loop a user would write by hand (generative_solve, then a solve, one
  problem after the other). Target: -j 16 at least 8x the -j 1 throughput with delayed replies.

The problems are read at run time from the benchmark file given (e.g. the 245-problem NL4OPT
copy); nothing of it is stored. Usage:
    .venv/bin/python bench/bench_harness.py PATH/NL4OPT.jsonl [--delay 2] [--quick]
    .venv/bin/python bench/bench_harness.py --serve [--delay 0]   # only run the scripted service
"""
from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))

from scripted_llm_server import ALIGNED, ScriptedOpenAI, is_alignment_prompt, pair  # noqa: E402

MODEL = """{string} Items = ...;
float value[Items] = ...;
float weight[Items] = ...;
float limit = ...;
dvar float+ take[Items] in 0..10;
maximize total: sum(i in Items) value[i] * take[i];
subject to {
  capacity: sum(i in Items) weight[i] * take[i] <= limit;
}
"""
DATA = 'Items = { "a", "b", "c" };\nvalue = [ 5, 4, 3 ];\nweight = [ 2, 3, 1 ];\nlimit = 20;\n'


def reply(prompt: str) -> str:
    return ALIGNED if is_alignment_prompt(prompt) else pair(MODEL, DATA)


def use_service(service: ScriptedOpenAI) -> None:
    for k in ("HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "http_proxy", "https_proxy", "all_proxy"):
        os.environ.pop(k, None)
    os.environ.update(service.env())


def timed_run(problems, config, jobs: int) -> tuple[float, list[dict]]:
    from vorlan.bench import run_benchmark

    with tempfile.TemporaryDirectory(prefix="bench-harness-") as out:
        t0 = time.perf_counter()
        report = run_benchmark([], config, out, jobs=jobs, problems=problems)
        return time.perf_counter() - t0, report.rows


def naive_loop(problems, config) -> float:
    """What a user writes without the harness: one problem after the other."""
    from vorlan import genloom, solve

    with tempfile.TemporaryDirectory(prefix="bench-naive-") as out:
        t0 = time.perf_counter()
        for n, p in enumerate(problems):
            mod, dat = os.path.join(out, f"{n}.mod"), os.path.join(out, f"{n}.dat")
            stats = genloom.generative_solve(p.question, mod, dat, model_name=config.model, return_statistics=True,
                                             llm_provider=config.provider, few_shot=config.few_shot)
            if not stats["syntax_errors"]:
                solve.solve(Path(mod).read_text(), Path(dat).read_text())
        return time.perf_counter() - t0


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("dataset", nargs="?", help="benchmark file, e.g. the NL4OPT copy")
    ap.add_argument("--delay", type=float, default=2.0, help="seconds each delayed reply waits (default 2)")
    ap.add_argument("--quick", action="store_true", help="fewer problems per measurement")
    ap.add_argument("--no-few-shot", action="store_true", help="measure without few-shot retrieval")
    ap.add_argument("--serve", action="store_true", help="only run the scripted service until Ctrl-C")
    args = ap.parse_args()

    if args.serve:
        service = ScriptedOpenAI(default=reply, delay=args.delay)
        print("scripted service running; use it with:")
        for k, v in service.env().items():
            print(f"  export {k}={v}")
        try:
            while True:
                time.sleep(3600)
        except KeyboardInterrupt:
            service.close()
        return 0
    if not args.dataset:
        ap.error("give the benchmark file to read the problems from")

    from vorlan.bench import BenchConfig, load_dataset
    from vorlan.bench.harness import warm_up
    from vorlan.bench.progress import RunProgress

    problems = load_dataset(args.dataset)
    config = BenchConfig(provider="openai", model="scripted", few_shot=not args.no_few_shot)
    instant = ScriptedOpenAI(default=reply)
    delayed = ScriptedOpenAI(default=reply, delay=args.delay)
    print(f"{len(problems)} problems from {Path(args.dataset).name}; few-shot "
          f"{'on' if config.few_shot else 'off'}; {os.cpu_count()} cores")
    t0 = time.perf_counter()
    warm_up(config, RunProgress(0, quiet=True))
    print(f"embedding model and example tree loaded in {time.perf_counter() - t0:.1f} s (not counted below)")

    use_service(instant)
    n_instant = 40 if args.quick else len(problems)
    print(f"\ninstant replies, {n_instant} problems:")
    for jobs in (1, 4, 16):
        wall, rows = timed_run(problems[:n_instant], config, jobs)
        over = [r["seconds"] - (r["llm_seconds"] or 0.0) for r in rows if r["seconds"] is not None]
        print(f"  -j {jobs:2d}: {len(rows) / wall:6.2f} problems/s   overhead per problem "
              f"mean {statistics.fmean(over):.3f} s, median {statistics.median(over):.3f} s, "
              f"max {max(over):.3f} s (target < 0.5 s)")

    use_service(delayed)
    calls = "2 requests (generation, alignment)"
    print(f"\nreplies delayed {args.delay:g} s, {calls} per problem:")
    sizes = {1: 4 if args.quick else 8, 4: 16 if args.quick else 24, 16: 32 if args.quick else 64}
    wall = naive_loop(problems[:sizes[1]], config)
    naive = sizes[1] / wall
    print(f"  hand-written loop (generative_solve + solve): {naive:6.3f} problems/s ({sizes[1]} problems)")
    rates = {}
    for jobs, n in sizes.items():
        wall, rows = timed_run(problems[:n], config, jobs)
        rates[jobs] = len(rows) / wall
        print(f"  vorlan bench -j {jobs:2d}: {rates[jobs]:6.3f} problems/s ({n} problems, "
              f"{rates[jobs] / naive:.1f}x the hand-written loop)")
    ratio = rates[16] / rates[1]
    print(f"  -j 16 / -j 1 throughput: {ratio:.1f}x (target >= 8x) {'PASS' if ratio >= 8 else 'MISS'}")
    instant.close()
    delayed.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
