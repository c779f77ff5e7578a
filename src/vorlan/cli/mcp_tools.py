"""What the tools of ``vorlan mcp`` do, as plain functions (no MCP import here).

Each tool takes a model and data pair either as texts or as file paths (read like every
input of the command line: UTF-8, a byte-order mark allowed, else Latin-1), follows the
same file-safety rules as the commands (nothing existing is replaced without ``overwrite``;
outputs are checked before any LLM call) and returns a JSON-ready record. Failures are
raised; the server turns them into one-line tool errors.

Every path argument is resolved (symbolic links and ``..`` included) and must lie in the
server's root folder; paths read (inputs, example trees) may also lie in the folders given
with ``confine(..., allowed)``. Until ``confine`` is called the tools take any path.
"""
from __future__ import annotations

import contextlib
import io
import os
import tempfile
from pathlib import Path
from typing import Any, Callable, Optional

from vorlan.cli.commands.feedback import check_targets, revised_pair
from vorlan.cli.commands.solve import check_outputs
from vorlan.cli.errors import CliError
from vorlan.cli.files import read_text, write_text_atomic
from vorlan.cli.options import provider_name, temperature
from vorlan.cli.providers import resolve_provider

Progress = Optional[Callable[[str], None]]
GRAMMARS = ("none", "bnf", "code")

# The server's root folder and the further folders it may read from; None: no confinement.
_root: Optional[Path] = None
_allowed: tuple[Path, ...] = ()


def confine(root: str, allowed: tuple[str, ...] = ()) -> None:
    """Keep every path argument of the tools inside ``root`` (reads also inside ``allowed``)."""
    global _root, _allowed
    _root = Path(os.path.realpath(root))
    _allowed = tuple(Path(os.path.realpath(a)) for a in allowed)


def _within(path: str | None, what: str, write: bool = False) -> str | None:
    """``path`` resolved, when it lies inside the folders this kind of access may use."""
    if path is None or _root is None:
        return path
    resolved = Path(os.path.realpath(os.path.join(_root, os.path.expanduser(path))))
    folders = (_root,) if write else (_root, *_allowed)
    if not any(resolved == f or f in resolved.parents for f in folders):
        extra = f" or the folders allowed for reading ({', '.join(map(str, _allowed))})" if _allowed and not write else ""
        raise CliError(f"{what}: {path} is outside the server's root {_root}{extra}",
                       "use a path inside the root, or start the server with --root DIR (--allow DIR for reading)")
    return str(resolved)


def _checked(value, check, option: str):
    """Run a command-line value check on a tool argument; its message names the option."""
    if value is None:
        return None
    try:
        return check(str(value))
    except Exception as e:  # argparse's ArgumentTypeError carries the message
        raise CliError(f"{option}: {e}") from None


def _llm_arguments(provider, model, temp, grammar):
    from vorlan import genloom

    provider = _checked(provider, provider_name, "provider")
    temp = _checked(temp, temperature, "temperature")
    if grammar not in GRAMMARS:
        raise CliError(f"grammar: choose one of {', '.join(GRAMMARS)}, not {grammar!r}")
    return provider, model, temp, getattr(genloom.Grammar, grammar.upper())


def _one_text(text: str | None, path: str | None, what: str) -> str:
    if (text is None) == (path is None):
        raise CliError(f"give the {what} either as text ({what}) or as a path ({what}_file)")
    return read_text(path) if path is not None else text


def _pair(model, data, model_file, data_file) -> tuple[str, str]:
    model_file, data_file = _within(model_file, "model_file"), _within(data_file, "data_file")
    return _one_text(model, model_file, "model"), _one_text(data, data_file, "data")


# ------------------------------------------------------------------------------ tools

def solve(description: str, model_file: str | None = None, data_file: str | None = None,
          overwrite: bool = False, provider: str | None = None, model_name: str | None = None,
          iterations: int | None = None, alignment: bool = True, few_shot: bool = True,
          temperature: float | None = None, grammar: str = "bnf", repair_replies: bool = True,
          progress: Progress = None) -> dict[str, Any]:
    """Write a Vorlan model and data pair for an optimization problem described in natural
    language, repairing it with the compiler's errors until it compiles (and, with alignment,
    until the LLM judges it faithful to the description). Returns the model and data texts,
    whether they compile, the assessment and the statistics. With model_file and data_file
    the pair is also written there; existing files are replaced only with overwrite=true.
    provider: openai, google, ollama or anthropic (default: from the server's environment);
    temperature: 0 to 2; grammar: none, bnf or code; repair_replies: ask again when a reply
    cannot be used (within the iterations)."""
    from vorlan import genloom

    if not description or not description.strip():
        raise CliError("the problem description is empty")
    if iterations is not None and iterations < 1:
        raise CliError("iterations must be at least 1")
    provider, model_name, temperature, mode = _llm_arguments(provider, model_name, temperature, grammar)
    if (model_file is None) != (data_file is None):
        raise CliError("give both model_file and data_file, or neither (the texts are returned either way)")
    model_file = _within(model_file, "model_file", write=True)
    data_file = _within(data_file, "data_file", write=True)
    with contextlib.ExitStack() as stack:
        if model_file is None:
            folder = stack.enter_context(tempfile.TemporaryDirectory(prefix="vorlan-mcp-"))
            paths = (str(Path(folder) / "model.mod"), str(Path(folder) / "model.dat"))
        else:
            paths = (model_file, data_file)
            check_outputs(*paths, overwrite, "overwrite=true")
        provider, model_name = resolve_provider(provider, model_name)
        stats = genloom.generative_solve(
            description, *paths, model_name=model_name, mode=mode, iterations=iterations,
            return_statistics=True, alignment_check=None if alignment else False, temperature=temperature,
            llm_provider=provider, progress=progress, few_shot=few_shot, repair_replies=bool(repair_replies))
        texts = [read_text(p) for p in paths]
    return {"model": texts[0], "data": texts[1], "compiles": not stats["syntax_errors"],
            "assessment": stats["assessment"], "iterations": stats["iterations"],
            "syntax_errors": list(stats["syntax_errors"]), "rounds": stats.get("rounds", []),
            "model_file": model_file, "data_file": data_file}


def check(model: str | None = None, data: str | None = None, model_file: str | None = None,
          data_file: str | None = None) -> dict[str, Any]:
    """Compile a Vorlan model and data pair, given as texts (model, data) or as paths
    (model_file, data_file). Returns valid and the compiler's diagnostics."""
    from vorlan import vorlan_core

    model, data = _pair(model, data, model_file, data_file)
    try:
        vorlan_core.QelCompiler().compile_model(model, data)
    except Exception as e:  # every compile failure is a diagnostic for the caller
        return {"valid": False, "diagnostics": f"{type(e).__name__}: {e}"}
    return {"valid": True, "diagnostics": ""}


def run(model: str | None = None, data: str | None = None, model_file: str | None = None,
        data_file: str | None = None, time_limit: float | None = None) -> dict[str, Any]:
    """Compile a Vorlan model and data pair (texts or paths; the data may be left out when the
    model holds it) and solve it. Returns the status (optimal, feasible, infeasible, unbounded,
    infeasible or unbounded, time limit, limit, error or compile_error), the objective value,
    the best bound of an unfinished MIP and the non-zero variables; for a lexicographic
    objective also the objectives, every goal's value in priority order."""
    from vorlan import vorlan_core

    if (data, data_file) == (None, None):
        data = ""  # a model may carry all its data
    model, data = _pair(model, data, model_file, data_file)
    compiler = vorlan_core.QelCompiler()
    try:
        compiler.compile_model(model, data)
    except Exception as e:  # the compiler's syntax and semantic errors
        return {"status": "compile_error", "diagnostics": f"{type(e).__name__}: {e}", "objective": None,
                "values": []}
    import vorlan.solve as vs

    try:
        r = vs.solve(compiler, time_limit)
    except ModuleNotFoundError:
        raise CliError("solving needs HiGHS and NumPy", "pip install 'vorlan[solve]'") from None
    values = [{"variable": name, "value": value} for name, (_, _, value) in zip(r["names"], r["values"])]
    out = {"status": r["status"], "message": r.get("message") or "", "objective": r["objective"],
           "bound": r.get("bound"), "values": values}
    if "objectives" in r:  # a lexicographic objective: every goal's value in priority order
        out["objectives"] = r["objectives"]
    return out


def rank(query: str, k: int = 3, examples_dir: str | None = None) -> list[dict[str, Any]]:
    """The k stored problem descriptions closest to the query (path, score, preview), from
    examples_dir or the bundled example tree."""
    from vorlan import nearscan

    if k < 1:
        raise CliError("k must be at least 1")
    examples_dir = _within(examples_dir, "examples_dir")
    return list(nearscan.rank_problem_descriptions(query, models_dir=examples_dir, top_k=k))


def feedback(question: str, model: str | None = None, data: str | None = None, model_file: str | None = None,
             data_file: str | None = None, write_model: str | None = None, write_data: str | None = None,
             overwrite: bool = False, provider: str | None = None, model_name: str | None = None,
             temperature: float | None = None, grammar: str = "bnf", force: bool = False,
             progress: Progress = None) -> dict[str, Any]:
    """Ask the LLM a question about a Vorlan model and data pair (texts or paths). Returns its
    reply (feedback and, when it proposes changes, revised_model and revised_data) and whether
    the revised pair compiles. Revisions are written only to write_model / write_data, never
    over the given files unless overwrite=true, and never over an existing file when the
    revised pair does not compile unless force=true."""
    from vorlan import genloom

    provider, model_name, temperature, mode = _llm_arguments(provider, model_name, temperature, grammar)
    model_file, data_file = _within(model_file, "model_file"), _within(data_file, "data_file")
    write_model = _within(write_model, "write_model", write=True)
    write_data = _within(write_data, "write_data", write=True)
    originals = tuple(p for p in (model_file, data_file) if p is not None)
    targets = [(write_model, "revised_model"), (write_data, "revised_data")]
    check_targets(originals, targets, overwrite, "overwrite=true")
    model, data = _pair(model, data, model_file, data_file)
    provider, model_name = resolve_provider(provider, model_name)
    with tempfile.TemporaryDirectory(prefix="vorlan-mcp-") as folder:
        paths = []
        for name, text in (("model.mod", model), ("model.dat", data)):
            path = Path(folder) / name
            with io.open(path, "w") as f:  # the library reads in the platform's encoding
                f.write(text)
            paths.append(str(path))
        reply = genloom.generative_feedback(question, *paths, model_name=model_name, mode=mode,
                                            temperature=temperature, llm_provider=provider, progress=progress)
    revised = revised_pair(reply, lambda: (model, data))
    compiles = None if revised is None else revised[0]
    if revised is not None and not revised[0] and not force and any(path and os.path.exists(path)
                                                                    for path, _ in targets):
        raise CliError(f"the revised pair does not compile ({revised[1]}); nothing written",
                       "pass force=true to write it anyway")
    written = {}
    for path, key in targets:
        text = reply.get(key) if isinstance(reply, dict) else None
        if path and isinstance(text, str) and text:
            write_text_atomic(path, text)
            written[key] = path
    return {"reply": reply, "written": written, "compiles": compiles}
