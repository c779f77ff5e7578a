"""One benchmark problem: the generate-and-repair pipeline, then a compile and solve of the
final pair, scored against the published answer.

``run_problem`` works in a temporary folder and returns the result line together with the
files of the problem folder (description, model, data, statistics, transcript), so the one
writer of the run can place them, whether the problem ran in a local thread or on a Ray
worker of another machine.
"""
from __future__ import annotations

import contextvars
import json
import os
import tempfile
import threading
import time
from dataclasses import asdict, dataclass, field

from vorlan.bench.datasets import Problem
from vorlan.bench.results import json_safe
from vorlan.bench.scoring import ERROR, NO_OPTIMUM, is_correct, is_unscored

# Texts of the pipeline's errors that blame the model's reply rather than the provider.
_REPLY_FAULTS = ("Empty model response.", "Failed to parse model response as JSON: ", "Empty alignment response.",
                 "Invalid alignment response JSON: ", "Empty OpenAI response: ", "Empty Anthropic response ",
                 "No usable reply in ")
ALIGNED_MESSAGE = "Aligned \u2713 Stopping."
# The solver's statuses as result statuses (its words joined by "_"); a limit with or without a
# solution found is "limit", an interrupted solve is the harness's failure; anything else is
# "solver_error".
_SOLVER_STATUSES = {"optimal": "optimal", "feasible": "feasible", "infeasible": "infeasible",
                    "unbounded": "unbounded", "infeasible_or_unbounded": "infeasible_or_unbounded",
                    "limit": "limit", "time_limit": "limit", "interrupted": ERROR}


@dataclass(frozen=True)
class BenchConfig:
    """Everything a worker needs to run a problem; plain values, so it crosses to Ray workers."""
    provider: str | None
    model: str
    tolerance: float = 1e-6
    iterations: int | None = None
    alignment: bool = True
    few_shot: bool = True
    verify: bool = False
    repair_replies: bool = True         # an unusable reply is asked for again (within the iterations)
    grammar: str = "bnf"
    temperature: float | None = None
    time_limit: float | None = 60.0
    examples: str | None = None         # few-shot example tree; None: the default one
    settings: dict = field(default_factory=dict)  # genloom module settings to apply in each process

    def run_settings(self) -> dict:
        """The settings recorded in run.json (those that shape the results)."""
        d = asdict(self)
        for k in ("examples", "settings", "time_limit"):
            d.pop(k)
        return d


@dataclass
class Outcome:
    record: dict                          # the result line
    files: dict[str, str] = field(default_factory=dict)  # problem folder: file name -> text


_prepared: set = set()
_prepare_lock = threading.Lock()


def prepare_process(config: BenchConfig) -> None:
    """Once per process: point few-shot gathering at the example tree and apply the module
    settings the run asks for."""
    from vorlan import genloom

    key = (config.few_shot, config.examples, tuple(sorted(config.settings.items())))
    with _prepare_lock:
        if key in _prepared:
            return
        for name, value in config.settings.items():
            setattr(genloom, name, value)
        if config.few_shot:
            from vorlan.example_tree import use_examples

            use_examples(config.examples)
        _prepared.add(key)


def classify_failure(e: BaseException) -> str:
    """invalid_reply when the model's reply could not be used, error otherwise (provider,
    network, time-out or harness failure)."""
    text = str(e)
    if isinstance(e, (RuntimeError, TypeError)) and text.startswith(_REPLY_FAULTS):
        return "invalid_reply"
    if isinstance(e, json.JSONDecodeError) or (isinstance(e, TypeError) and text.startswith("Expected dict, got ")):
        return "invalid_reply"
    return ERROR


def _first_line(e: BaseException) -> str:
    from vorlan.genloom import redact_urls

    text = redact_urls(str(e).strip())
    return f"{type(e).__name__}: {text}" if text else type(e).__name__


class _Log:
    """The chronological record of one problem: progress messages and LLM calls."""

    def __init__(self):
        self.t0 = time.monotonic()
        self.events: list[tuple[float, str, object]] = []
        self.calls: list[dict] = []

    def progress(self, msg) -> None:
        from vorlan.genloom import redact_urls

        self.events.append((time.monotonic() - self.t0, "progress", redact_urls(str(msg))))

    def usage(self, rec) -> None:
        rec = dict(rec)
        self.calls.append(rec)
        self.events.append((time.monotonic() - self.t0, "call", rec))

    def messages(self) -> list[str]:
        return [m for _, kind, m in self.events if kind == "progress"]


def _tokens(calls: list[dict], key: str) -> int | None:
    counts = [c.get(key) for c in calls if isinstance(c.get(key), int)]
    return sum(counts) if counts else None


def render_transcript(problem: Problem, config: BenchConfig, log: _Log, error: str | None) -> str:
    out = [f"# {problem.set} / {problem.id}", f"provider: {config.provider or '(from model name)'}",
           f"model: {config.model}", "", "## Problem", problem.question.rstrip(), "",
           f"Published answer: {problem.answer_text}", ""]
    n = 0
    for at, kind, item in log.events:
        if kind == "progress":
            out.append(f"[{at:7.2f}s] {item}")
            continue
        n += 1
        tin, tout = item.get("input_tokens"), item.get("output_tokens")
        seconds = item.get("seconds")
        head = f"## LLM call {n} ({item.get('provider')} {item.get('model')}"
        if isinstance(seconds, (int, float)):
            head += f", {seconds:.2f} s"
        if tin is not None or tout is not None:
            head += f", tokens in {tin if tin is not None else '?'} / out {tout if tout is not None else '?'}"
        out += ["", head + ")", "", "### Prompt", str(item.get("input_text", "")).rstrip(), "",
                "### Reply", str(item.get("output_text", "")).rstrip(), ""]
    if error:
        out += ["", "## Failure", error]
    return "\n".join(out) + "\n"


def _read(path: str) -> str | None:
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            return f.read()
    except OSError:
        return None


def _solve(model_code: str, data_code: str, time_limit) -> dict:
    from vorlan import solve

    res = solve.solve(model_code, data_code, time_limit=time_limit)
    status = "_".join(str(res.get("status")).split())
    out = {"status": _SOLVER_STATUSES.get(status, "solver_error"), "solver_status": res.get("status"),
           "objective": res.get("objective"), "message": str(res.get("message") or ""),
           "timings": dict(res.get("timings") or {}),
           "values": [[name, list(index), value] for name, index, value in res.get("values") or []][:1000]}
    return out


def run_problem(problem: Problem, config: BenchConfig) -> Outcome:
    """Run one problem end to end; never raises for the problem's own failures."""
    from vorlan import genloom

    t0 = time.monotonic()
    log = _Log()
    record = blank_record(problem)
    files = {"problem.txt": problem.question}
    stats, solved = None, None
    try:
        prepare_process(config)
        with tempfile.TemporaryDirectory(prefix="vorlan-bench-") as tmp:
            model_file, data_file = os.path.join(tmp, "model.mod"), os.path.join(tmp, "model.dat")
            kwargs = dict(model_name=config.model, mode=getattr(genloom.Grammar, config.grammar.upper()),
                          iterations=config.iterations, return_statistics=True,
                          alignment_check=config.alignment, temperature=config.temperature,
                          llm_provider=config.provider, progress=log.progress, few_shot=config.few_shot,
                          repair_replies=config.repair_replies)
            if config.verify:
                kwargs["verify"] = True

            def pipeline():
                # The usage sink is a context variable: set here, it sees only this problem's calls.
                genloom._usage_sink.set(log.usage)
                return genloom.generative_solve(problem.question, model_file, data_file, **kwargs)

            try:
                stats = contextvars.copy_context().run(pipeline)
            except Exception as e:  # the problem's failure, recorded below
                record["status"] = classify_failure(e)
                record["error"] = _first_line(e)
            for name, path in (("model.mod", model_file), ("model.dat", data_file)):
                text = _read(path)
                if text is not None:
                    files[name] = text
        if stats is not None:
            record["iterations"] = stats.get("iterations")
            record["syntax_errors"] = list(stats.get("syntax_errors") or [])
            record["rounds"] = list(stats.get("rounds") or [])
            record["deviations"] = list(stats.get("deviations") or [])
            if record["syntax_errors"]:
                record["status"] = "no_compile"
            else:
                solved = _solve(files.get("model.mod", ""), files.get("model.dat", ""), config.time_limit)
                record["status"] = solved["status"]
                record["objective"] = solved["objective"]
                verdict = stats.get("verdict")
                if verdict and solved["status"] in NO_OPTIMUM:
                    # The LLM said the problem as described has no optimum and kept its pair.
                    record["status"] = "_".join(verdict.split())
                if solved["status"] in ("solver_error", ERROR):
                    record["error"] = f"solver: {solved['solver_status']}: {solved['message']}".rstrip(": ")
    except Exception as e:  # a fault of the harness or the solve step: still one result line
        record["status"] = ERROR
        record["error"] = _first_line(e)
    if config.alignment:
        record["aligned"] = ALIGNED_MESSAGE in log.messages()
    record["correct"] = is_correct(record["status"], record["objective"], problem.answer, problem.no_optimum,
                                   config.tolerance)
    record["unscored"] = is_unscored(problem)
    record["llm_calls"] = len(log.calls)
    record["input_tokens"] = _tokens(log.calls, "input_tokens")
    record["output_tokens"] = _tokens(log.calls, "output_tokens")
    llm = [c.get("seconds") for c in log.calls if isinstance(c.get("seconds"), (int, float))]
    record["llm_seconds"] = round(sum(llm), 4) if llm else None
    record["seconds"] = round(time.monotonic() - t0, 4)
    statistics = {"result": record, "pipeline": stats, "solve": solved}
    files["statistics.json"] = json.dumps(json_safe(statistics), indent=2, ensure_ascii=False, default=str) + "\n"
    files["transcript.txt"] = render_transcript(problem, config, log, record["error"])
    return Outcome(record, files)


def blank_record(problem: Problem, error: str | None = None) -> dict:
    """A result line with every field, before anything ran."""
    return {"set": problem.set, "id": problem.id, "status": ERROR, "objective": None,
            "expected": problem.answer if problem.answer is not None else problem.answer_text,
            "correct": False, "unscored": is_unscored(problem), "iterations": None, "syntax_errors": [],
            "rounds": [], "deviations": [], "aligned": None, "llm_calls": 0, "input_tokens": None,
            "output_tokens": None, "seconds": None, "llm_seconds": None, "error": error}


def failed_outcome(problem: Problem, message: str) -> Outcome:
    """The result of a problem whose worker died before it could report."""
    return Outcome(blank_record(problem, message), {})
