"""A benchmark run: load the sets, skip what a resumed run already has, run the rest on the
chosen pool, and write each finished problem (its folder, then its result line) as it comes."""
from __future__ import annotations

import contextlib
import signal
import threading
from dataclasses import dataclass, field
from pathlib import Path

from vorlan.bench.datasets import Problem, load_dataset, safe_component, select
from vorlan.bench.executor import Interrupted, LocalPool, RayPool
from vorlan.bench.progress import RunProgress
from vorlan.bench.results import RESULTS, ResultsWriter, latest, prepare_run, write_text_atomic
from vorlan.bench.runner import BenchConfig, Outcome
from vorlan.bench.scoring import ERROR


@dataclass
class RunReport:
    rows: list[dict]                      # one line per problem of the chosen sets, this run's and earlier ones
    sets: list[str]                       # set names in the order given
    ran: int = 0                          # problems run now
    skipped: int = 0                      # problems a resumed run already had
    interrupted: bool = False
    missing: list[str] = field(default_factory=list)  # --ids that no set holds


def load_problems(datasets: list[str], ids: list[str] | None = None, limit: int | None = None
                  ) -> tuple[list[Problem], list[str], list[str]]:
    """The chosen problems of every set, the set names, and the asked-for ids found nowhere."""
    problems, names = [], []
    wanted = set(ids) if ids else None
    found: set[str] = set()
    for path in datasets:
        items = load_dataset(path)
        name = items[0].set if items else Path(path).stem
        if name in names:
            raise ValueError(f"two benchmark files are named {name!r}; rename one of them")
        names.append(name)
        chosen = select(items, wanted, limit)
        found.update(p.id for p in chosen)
        problems.extend(chosen)
    missing = sorted(wanted - found) if wanted else []
    return problems, names, missing


def problem_dir(out: Path, set_name: str, pid: str) -> Path:
    return out / safe_component(set_name) / safe_component(pid)


def _store(out: Path, outcome: Outcome, writer: ResultsWriter) -> None:
    """Problem folder first, then the result line: a line on disk means its files are there."""
    folder = problem_dir(out, outcome.record["set"], outcome.record["id"])
    for name, text in outcome.files.items():
        write_text_atomic(folder / name, text)
    writer.append(outcome.record)


def warm_up(config: BenchConfig, progress: RunProgress) -> None:
    """Load the embedding model once before the pool starts, so that the problems do not all
    wait for (or each start) the first load."""
    if not config.few_shot:
        return
    from vorlan import genloom
    from vorlan.bench.runner import prepare_process

    progress.note("loading the embedding model for few-shot examples")
    try:
        prepare_process(config)
        genloom._gather_few_shots("linear program", k=1)
    except Exception:  # noqa: BLE001 - gathering copes without it, with fewer examples
        pass


@contextlib.contextmanager
def _stop_on_ctrl_c(pool):
    """While the pool runs, the first Ctrl-C asks it to stop after the running problems (their
    results are still written); the second interrupts at once. Only the main thread can
    catch signals; elsewhere Ctrl-C keeps its usual effect."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def handler(signum, frame):
        if pool.stopping.is_set():
            raise KeyboardInterrupt
        pool.stopping.set()

    previous = signal.signal(signal.SIGINT, handler)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


def run_benchmark(datasets: list[str], config: BenchConfig, out: str | Path, *, jobs: int = 1,
                  limit: int | None = None, ids: list[str] | None = None, resume: bool = False,
                  ray: str | None = None, progress: RunProgress | None = None, problems: list[Problem] | None = None
                  ) -> RunReport:
    """Run the chosen problems and append their results to OUT/results.jsonl."""
    out = Path(out)
    if problems is None:
        problems, names, missing = load_problems(datasets, ids, limit)
    else:
        names, missing = list(dict.fromkeys(p.set for p in problems)), []
    settings = dict(config.run_settings(), datasets=[str(d) for d in datasets])
    earlier = latest(prepare_run(out, settings, resume))
    # A resumed run keeps every result except provider failures, which it runs again.
    done_keys = {(r["set"], r["id"]) for r in earlier if r.get("status") != ERROR}
    todo = [p for p in problems if p.key not in done_keys]
    report = RunReport(rows=[], sets=names, skipped=len(problems) - len(todo), missing=missing)
    progress = progress or RunProgress(len(todo), quiet=True)
    progress.total = len(todo)
    if report.skipped:
        progress.note(f"resuming: {report.skipped} problem(s) already done, {len(todo)} to run")
    pool = RayPool(jobs, ray) if ray else LocalPool(jobs)
    if todo and not ray:
        warm_up(config, progress)

    def on_interrupt(running: int) -> None:
        progress.note(f"interrupted: finishing {running} running problem(s); press Ctrl-C again to stop now")

    fresh: list[dict] = []
    with ResultsWriter(out / RESULTS) as writer, _stop_on_ctrl_c(pool):
        try:
            for outcome in pool.results(todo, config, on_tick=progress.tick, on_interrupt=on_interrupt):
                _store(out, outcome, writer)
                fresh.append(outcome.record)
                progress.finished(outcome.record)
        except (Interrupted, KeyboardInterrupt):
            report.interrupted = True
        finally:
            progress.close()
    report.ran = len(fresh)
    by_key = {(r["set"], r["id"]): r for r in latest(earlier + fresh)}
    report.rows = [by_key[p.key] for p in problems if p.key in by_key]  # in the sets' order
    return report
