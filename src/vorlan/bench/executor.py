"""Running many problems at once: a pool of local threads (the default) or tasks on a Ray
cluster. Either way finished problems come back to the calling thread, which alone writes
the problem folders and the results file.

The LLM calls are I/O-bound and the compiler and solver release the interpreter lock while
they work, so threads scale with -j until the provider's own limits.
"""
from __future__ import annotations

import math
import queue
import threading
from collections.abc import Callable, Iterator

from vorlan.bench.datasets import Problem
from vorlan.bench.runner import BenchConfig, Outcome, failed_outcome, run_problem

POLL_SECONDS = 0.25
THREADS_PER_ACTOR = 8


class Interrupted(Exception):
    """Raised by a results iterator that was stopped before it ran every problem."""


class _Pool:
    """Common part of the pools: `stopping` asks them to start no new problem, let the
    running ones finish and report them, then raise Interrupted."""

    def __init__(self, jobs: int):
        self.jobs = max(1, int(jobs))
        self.stopping = threading.Event()


class LocalPool(_Pool):
    """N daemon threads taking problems from one queue. Daemon threads, so that a second
    Ctrl-C can end the process without waiting for running problems."""

    def results(self, problems: list[Problem], config: BenchConfig, on_tick: Callable[[], None] = lambda: None,
                on_interrupt: Callable[[int], None] = lambda n: None) -> Iterator[Outcome]:
        todo: queue.Queue = queue.Queue()
        for p in problems:
            todo.put(p)
        done: queue.Queue = queue.Queue()
        running = [0]
        lock = threading.Lock()

        def worker():
            while not self.stopping.is_set():
                try:
                    p = todo.get_nowait()
                except queue.Empty:
                    return
                with lock:
                    running[0] += 1
                try:
                    out = run_problem(p, config)
                except BaseException as e:  # noqa: BLE001 - a worker never dies silently
                    out = failed_outcome(p, f"worker failed: {type(e).__name__}: {e}")
                with lock:
                    running[0] -= 1
                done.put(out)

        threads = [threading.Thread(target=worker, name=f"vorlan-bench-{i}", daemon=True)
                   for i in range(min(self.jobs, len(problems)))]
        for t in threads:
            t.start()
        expected = len(problems)
        received = 0
        announced = False
        while received < expected:
            if self.stopping.is_set() and not announced:
                announced = True
                with lock:
                    on_interrupt(running[0])
            try:
                out = done.get(timeout=POLL_SECONDS)
            except queue.Empty:
                on_tick()
                if self.stopping.is_set() and not any(t.is_alive() for t in threads) and done.empty():
                    raise Interrupted()
                continue
            received += 1
            yield out
        if self.stopping.is_set() and received < expected:
            raise Interrupted()


def connect_ray(address: str):
    """Import Ray and join the cluster at address ("auto" finds a running one; "local" starts
    one on this machine); an already connected process stays connected."""
    try:
        import ray
    except ImportError as e:
        raise RuntimeError("the --ray option needs Ray; install it with: pip install 'vorlan[ray]'") from e
    if not ray.is_initialized():
        kwargs = {"include_dashboard": False, "log_to_driver": False}
        if address == "local":
            ray.init(**kwargs)
        else:
            ray.init(address=address, **kwargs)
    return ray


class _Worker:
    """A Ray actor that runs problems in its own threads (max_concurrency), so I/O-bound
    problems share one process and its loaded modules."""

    def run(self, problem: Problem, config: BenchConfig) -> Outcome:
        return run_problem(problem, config)


class RayPool(_Pool):
    """Problems as tasks of a few threaded Ray actors, at most `jobs` in flight."""

    def __init__(self, jobs: int, address: str):
        super().__init__(jobs)
        self.address = address

    def results(self, problems: list[Problem], config: BenchConfig, on_tick: Callable[[], None] = lambda: None,
                on_interrupt: Callable[[int], None] = lambda n: None) -> Iterator[Outcome]:
        ray = connect_ray(self.address)
        n_actors = max(1, math.ceil(min(self.jobs, len(problems) or 1) / THREADS_PER_ACTOR))
        per_actor = math.ceil(self.jobs / n_actors)
        # The actors mostly wait on the network: they claim no CPU (so a small cluster cannot
        # leave one unscheduled) and are spread over the nodes.
        actor_cls = ray.remote(num_cpus=0, max_restarts=3, max_concurrency=per_actor,
                               scheduling_strategy="SPREAD")(_Worker)
        actors = [actor_cls.remote() for _ in range(n_actors)]
        pending: dict = {}  # object ref -> problem
        todo = list(reversed(problems))
        turn = 0
        announced = False
        try:
            while todo or pending:
                while todo and not self.stopping.is_set() and len(pending) < self.jobs:
                    p = todo.pop()
                    pending[actors[turn % n_actors].run.remote(p, config)] = p
                    turn += 1
                if not pending:
                    break
                if self.stopping.is_set() and not announced:
                    announced = True
                    on_interrupt(len(pending))
                ready, _ = ray.wait(list(pending), num_returns=1, timeout=POLL_SECONDS)
                if not ready:
                    on_tick()
                    continue
                for ref in ready:
                    p = pending.pop(ref)
                    try:
                        out = ray.get(ref)
                    except Exception as e:  # a crashed worker or a lost node: this problem only
                        first = str(e).splitlines()[0] if str(e) else ""
                        out = failed_outcome(p, f"Ray task failed: {type(e).__name__}: {first}")
                    yield out
        except KeyboardInterrupt:
            for ref in pending:
                ray.cancel(ref, force=True)
            raise
        finally:
            for a in actors:
                try:
                    ray.kill(a)
                except Exception:  # noqa: BLE001 - best effort on the way out
                    pass
        if self.stopping.is_set() and todo:
            raise Interrupted()
