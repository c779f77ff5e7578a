"""Scoring of one result and the per-set summary: accuracy with a Wilson score interval,
execution rate, iterations, time, tokens and cost."""
from __future__ import annotations

import math
import statistics
from dataclasses import dataclass, field

Z95 = 1.959963984540054  # two-sided 95% quantile of the standard normal distribution

# Outcome statuses of a result line.
#   optimal, feasible (a model without objective), infeasible, unbounded,
#   infeasible_or_unbounded: the final pair compiled and the solver reached a verdict
#   infeasible_as_described, unbounded_as_described: the same, and the LLM judged that the
#          problem as described has no optimum (it kept the faithful pair)
#   limit, solver_error: the final pair compiled but the solver gave no verdict
#   no_compile: the last pair still did not compile
#   invalid_reply: the model's reply could not be used (not JSON, no model/data, empty)
#   error: the provider or the harness failed (rate limit after retries, timeout, outage);
#          counted apart from wrong answers and run again by --resume
NO_OPTIMUM = ("infeasible", "unbounded", "infeasible_or_unbounded", "infeasible_as_described",
              "unbounded_as_described")
EXECUTED = ("optimal", "feasible") + NO_OPTIMUM
# Kinds of rounds of the repair loop after the first, as the report names them.
ROUND_KINDS = ("syntax revision", "solve revision", "alignment revision", "reply repair")
ERROR = "error"


def relative_error(got: float, want: float) -> float:
    return abs(got - want) / max(1.0, abs(want))


def is_correct(status: str, objective: float | None, expected: float | None, no_optimum: bool,
               tolerance: float) -> bool:
    """Whether an outcome matches the published answer: an optimum within the tolerance of a
    numeric answer, or no optimum where the answer says there is none."""
    if no_optimum:
        return status in NO_OPTIMUM
    if expected is None or status != "optimal" or objective is None:
        return False
    if not math.isfinite(objective):
        return False
    return relative_error(objective, expected) <= tolerance


def is_unscored(problem) -> bool:
    """A published answer that is neither a number nor says there is no optimum: nothing to
    compare with, so the problem counts apart from accuracy."""
    return problem.answer is None and not problem.no_optimum


def wilson_interval(successes: int, n: int, z: float = Z95) -> tuple[float, float]:
    """Wilson score interval for a binomial proportion; (0, 1) when n is 0."""
    if n <= 0:
        return 0.0, 1.0
    p = successes / n
    denom = 1 + z * z / n
    centre = (p + z * z / (2 * n)) / denom
    half = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / denom
    return max(0.0, centre - half), min(1.0, centre + half)


@dataclass
class Summary:
    name: str
    n: int = 0
    correct: int = 0
    executed: int = 0
    errors: int = 0
    unscored: int = 0                   # answers that are not a number nor a no-optimum phrase
    ci_low: float = 0.0
    ci_high: float = 1.0
    mean_iterations: float | None = None
    median_iterations: float | None = None
    mean_seconds: float | None = None
    input_tokens: int | None = None
    output_tokens: int | None = None
    cost: float | None = None
    rounds: dict = field(default_factory=dict)  # round kind -> problems that needed one

    @property
    def scored(self) -> int:
        return self.n - self.unscored

    @property
    def accuracy(self) -> float:
        return self.correct / self.scored if self.scored else 0.0

    @property
    def execution_rate(self) -> float:
        return self.executed / self.n if self.n else 0.0

    @property
    def wrong(self) -> int:
        return max(0, self.scored - self.correct - self.errors)


def _token_sum(rows: list[dict], key: str) -> int | None:
    counts = [r[key] for r in rows if isinstance(r.get(key), int)]
    return sum(counts) if counts else None


def summarize(name: str, rows: list[dict], price_in: float | None = None,
              price_out: float | None = None) -> Summary:
    """Summary of the result lines of one set (or of several, for a total row). Prices are
    US dollars per million input and output tokens; the cost needs both."""
    s = Summary(name, n=len(rows))
    scored = [r for r in rows if not r.get("unscored")]
    s.unscored = len(rows) - len(scored)
    s.correct = sum(1 for r in scored if r.get("correct"))
    s.executed = sum(1 for r in rows if r.get("status") in EXECUTED)
    s.errors = sum(1 for r in rows if r.get("status") == ERROR)
    s.ci_low, s.ci_high = wilson_interval(s.correct, len(scored))
    for kind in ROUND_KINDS:
        needed = sum(1 for r in rows if any(isinstance(x, dict) and x.get("kind") == kind
                                            for x in r.get("rounds") or []))
        if needed:
            s.rounds[kind] = needed
    its = [r["iterations"] for r in rows if isinstance(r.get("iterations"), int)]
    if its:
        s.mean_iterations = statistics.fmean(its)
        s.median_iterations = float(statistics.median(its))
    secs = [r["seconds"] for r in rows if isinstance(r.get("seconds"), (int, float))]
    if secs:
        s.mean_seconds = statistics.fmean(secs)
    s.input_tokens = _token_sum(rows, "input_tokens")
    s.output_tokens = _token_sum(rows, "output_tokens")
    if price_in is not None and price_out is not None and (s.input_tokens or s.output_tokens):
        s.cost = ((s.input_tokens or 0) * price_in + (s.output_tokens or 0) * price_out) / 1e6
    return s


def summarize_sets(rows: list[dict], price_in: float | None = None, price_out: float | None = None,
                   order: list[str] | None = None) -> list[Summary]:
    """One summary per set (in the given order, then first appearance), plus an "all" row when
    there is more than one set."""
    by_set: dict[str, list[dict]] = {}
    for name in order or []:
        by_set.setdefault(name, [])
    for r in rows:
        by_set.setdefault(r["set"], []).append(r)
    out = [summarize(name, rs, price_in, price_out) for name, rs in by_set.items()]
    if len(out) > 1:
        out.append(summarize("all", rows, price_in, price_out))
    return out
