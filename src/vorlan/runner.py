"""``vorlan run``: compile a model and data pair once, write the requested exports, solve it
in-process and report the outcome as text or as one JSON object.

Exit status: 0 optimal (or feasible, for a model without objective), 2 infeasible or
unbounded, 130 stopped with Ctrl-C, 1 for everything else (compile errors, a time limit or
other solver limit, failures).
"""
from __future__ import annotations

import json
import os
import sys
from pathlib import Path

from vorlan.textfile import InputRefused, read_text, termination_raises

__all__ = ["run_pair", "exit_status"]

NO_OPTIMUM = ("infeasible", "unbounded", "infeasible or unbounded")


def exit_status(status: str) -> int:
    if status in ("optimal", "feasible"):
        return 0
    if status in NO_OPTIMUM:
        return 2
    if status == "interrupted":
        return 130
    return 1


def _printable(text: str) -> str:
    # A data value holding a newline or control character must not start a line of its own.
    return text if text.isprintable() else repr(text)


def _number(x) -> str:
    return repr(float(x))


def _print_text(r: dict, out) -> None:
    print(f"status: {r['status']}", file=out)
    if r["status"] != "feasible":
        print(f"objective: {'none' if r['objective'] is None else _number(r['objective'])}", file=out)
        if r.get("objectives") is not None:  # a lexicographic objective: every goal in priority order
            print(f"objectives: {', '.join(_number(v) for v in r['objectives'])}", file=out)
    if r.get("bound") is not None and r["status"] != "optimal":
        print(f"bound: {_number(r['bound'])}", file=out)
    if r["objective"] is None and r.get("message") and r["status"] not in ("feasible",):
        print(f"message: {r['message']}", file=out)
    rows = [(_printable(name), value) for name, (_, _, value) in zip(r.get("names", []), r["values"])]
    if rows:
        if r["status"] not in ("optimal", "feasible"):
            print("best solution found:", file=out)
        width = max(len("variable"), *(len(s) for s, _ in rows))
        print(f"{'variable':<{width}}  value", file=out)
        for s, value in rows:
            print(f"{s:<{width}}  {value:.10g}", file=out)
    named = [(_printable(name), value) for name, value in r.get("expressions") or []]
    if named:  # the model's dexprs at the solution (the first cells of each, up to the compiler's cap)
        width = max(len("expression"), *(len(s) for s, _ in named))
        print(f"{'expression':<{width}}  value", file=out)
        for s, value in named:
            print(f"{s:<{width}}  {value:.10g}", file=out)


def _json_record(r: dict, model_path, data_path, files: dict) -> dict:
    record = {
        "model": str(model_path), "data": None if data_path is None else str(data_path),
        "status": r["status"], "objective": r["objective"], "bound": r.get("bound"), "message": r.get("message", ""),
        "values": [{"name": name, "value": value} for name, (_, _, value) in zip(r.get("names", []), r["values"])],
        "timings": r.get("timings", {}), "files": files,
    }
    if r.get("expressions"):
        record["expressions"] = [{"name": name, "value": value} for name, value in r["expressions"]]
    if "objectives" in r:  # a lexicographic objective: every goal's value, and the goal a failure arose at
        record["objectives"] = r["objectives"]
        if "goal" in r:
            record["goal"] = r["goal"]
    return record


def run_pair(model_path, data_path=None, emit_script=None, mps=None, lp=None, time_limit=None,
             json_output=False, out=None, err=None, script_writer=None) -> int:
    """Compile once, write the script / MPS / LP files that were asked for, solve within
    ``time_limit`` seconds (Ctrl-C stops the solve and keeps what it found) and report.
    ``script_writer(compiler, path, model_name)`` writes the ``emit_script`` file (the milp
    generator's ``write_script``, handed in so that this module does not depend on it)."""
    if emit_script and script_writer is None:
        raise ValueError("emit_script needs a script_writer")
    out = out or sys.stdout
    err = err or sys.stderr

    def fail(status, lines, code=1):
        if json_output:
            print(json.dumps({"model": str(model_path), "status": status, "errors": lines}, ensure_ascii=False),
                  file=out)
        for line in lines:
            print(line, file=err)
        return code

    import vorlan.vorlan_core as core
    try:
        model = read_text(model_path)
        data = read_text(data_path) if data_path else ""
    except (OSError, InputRefused) as e:
        return fail("error", [f"error: {e}"])
    compiler = core.QelCompiler()
    try:
        compiler.compile_model(model, data)
    except Exception as e:  # the compiler's syntax and semantic errors, one problem per line
        return fail("compile error", [f"compile errors in {model_path}:", *str(e).splitlines()])

    import vorlan.solve as vs
    files = {}
    try:
        with termination_raises():  # SIGTERM: no export is left half-written
            if emit_script:
                script_writer(compiler, emit_script, Path(model_path).stem)
                files["script"] = str(emit_script)
                print(f"script written to {emit_script}", file=err)
            for kind, path, writer in (("mps", mps, vs.write_mps), ("lp", lp, vs.write_lp)):
                if path:
                    left_out = writer(compiler, os.fspath(path))
                    files[kind] = str(path)
                    print(f"{kind.upper()} written to {path}", file=err)
                    if left_out:
                        print(f"note: {left_out}", file=err)
    except (OSError, RuntimeError) as e:
        return fail("error", [f"error: {e}"])
    try:
        r = vs.solve(compiler, time_limit=time_limit)
    except ModuleNotFoundError as e:
        return fail("error", [f"error: {e}"])
    if json_output:
        print(json.dumps(_json_record(r, model_path, data_path, files), ensure_ascii=False), file=out)
    else:
        _print_text(r, out)
    if r["status"] == "interrupted":
        print("vorlan: solve interrupted; the best solution and bound found so far are shown", file=err)
    return exit_status(r["status"])
